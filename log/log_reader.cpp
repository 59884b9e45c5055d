#include "log/log_reader.h"

#include <algorithm>

#include "core/textfile.h"

namespace movra {

namespace {

constexpr size_t kChunk = 64 * 1024;

bool Seek(FILE* f, int64_t pos, int whence) {
#ifdef _WIN32
    return _fseeki64(f, pos, whence) == 0;
#else
    return fseeko(f, static_cast<off_t>(pos), whence) == 0;
#endif
}

int64_t Tell(FILE* f) {
#ifdef _WIN32
    return _ftelli64(f);
#else
    return static_cast<int64_t>(ftello(f));
#endif
}

}  // namespace

Text LogViewOpenErrorText(const Text& logFileName) {
    return u"Ошибка открытия файла " + logFileName;
}

LogFileReader::~LogFileReader() {
    Close();
}

void LogFileReader::Close() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
    done_ = true;
    buf_.clear();
    end_ = 0;
}

bool LogFileReader::Open(const Text& fileName) {
    Close();
    failed_ = false;
    f_ = OpenFile(fileName, "rb");
    if (!f_) return false;
    done_ = false;

    unsigned char head[3] = {0, 0, 0};
    size_t n = std::fread(head, 1, 3, f_);
    int64_t size = Seek(f_, 0, SEEK_END) ? Tell(f_) : -1;
    if (size < 0) {
        failed_ = done_ = true;
        return true;
    }
    utf8_ = n == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
    unit_ = utf8_ ? 1 : 2;
    start_ = utf8_ ? 3 : (n >= 2 && head[0] == 0xFF && head[1] == 0xFE) ? 2 : 0;
    int64_t content = std::max<int64_t>(0, size - start_);
    // A stray odd byte at the end of UTF-16 text is not a character.
    content -= content % static_cast<int64_t>(unit_);
    bufStart_ = start_ + content;
    if (content == 0) {
        done_ = true;
        return true;
    }
    if (!LoadMore()) {
        failed_ = done_ = true;
        return true;
    }
    // The file's last line end closes its last line; it does not open an empty one after it.
    if (buf_[end_ - unit_] == '\n' && (unit_ == 1 || buf_[end_ - 1] == 0)) end_ -= unit_;
    return true;
}

bool LogFileReader::LoadMore() {
    if (bufStart_ <= start_) return false;
    // Doubling keeps a very long line linear to assemble.
    size_t want = std::max(kChunk, end_);
    want -= want % unit_;
    int64_t from = std::max<int64_t>(start_, bufStart_ - static_cast<int64_t>(want));
    size_t len = static_cast<size_t>(bufStart_ - from);
    std::string chunk(len, '\0');
    if (!Seek(f_, from, SEEK_SET) || std::fread(chunk.data(), 1, len, f_) != len) return false;
    chunk.append(buf_, 0, end_);
    buf_ = std::move(chunk);
    end_ += len;
    bufStart_ = from;
    return true;
}

Text LogFileReader::Decode(size_t from, size_t to) const {
    Text out;
    if (utf8_) {
        out = FromUtf8(std::string_view(buf_).substr(from, to - from));
    } else {
        out.reserve((to - from) / 2);
        for (size_t i = from; i + 1 < to; i += 2)
            out += static_cast<char16_t>(static_cast<unsigned char>(buf_[i]) |
                                         (static_cast<unsigned char>(buf_[i + 1]) << 8));
    }
    if (!out.empty() && out.back() == u'\r') out.pop_back();
    return out;
}

std::vector<Text> LogFileReader::NextLines(size_t maxLines) {
    std::vector<Text> out;
    size_t scanFrom = end_;  // bytes at or above it were searched already
    while (out.size() < maxLines && !done_) {
        size_t p = scanFrom;
        bool found = false;
        while (p >= unit_) {
            p -= unit_;
            if (buf_[p] == '\n' && (unit_ == 1 || buf_[p + 1] == 0)) {
                found = true;
                break;
            }
        }
        if (found) {
            out.push_back(Decode(p + unit_, end_));
            end_ = p;
            scanFrom = end_;
            continue;
        }
        if (bufStart_ <= start_) {
            out.push_back(Decode(0, end_));
            done_ = true;
            break;
        }
        size_t before = end_;
        if (!LoadMore()) {
            failed_ = done_ = true;
            break;
        }
        // Only the newly loaded bytes in front still need searching.
        scanFrom = end_ - before;
    }
    return out;
}

}  // namespace movra
