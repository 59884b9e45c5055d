#include "core/textfile.h"

#include <cstdio>
#include <utility>

namespace movra {

FILE* OpenFile(const Text& name, const char* mode) {
#ifdef _WIN32
    std::wstring wname(name.begin(), name.end());
    std::wstring wmode;
    for (const char* p = mode; *p; ++p) wmode += static_cast<wchar_t>(*p);
    return _wfopen(wname.c_str(), wmode.c_str());
#else
    return std::fopen(ToUtf8(name).c_str(), mode);
#endif
}

bool RemoveFile(const Text& name) {
#ifdef _WIN32
    std::wstring wname(name.begin(), name.end());
    return _wremove(wname.c_str()) == 0;
#else
    return std::remove(ToUtf8(name).c_str()) == 0;
#endif
}

std::optional<Text> WriteFileReplacing(const Text& name, const std::string& bytes, FileSystem& fs) {
    const Text temp = name + u".tmp";
    FILE* f = OpenFile(temp, "wb");
    if (!f) return u"Ошибка создания файла " + name;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = fs.FlushAndClose(f) && ok;
    if (!ok) {
        RemoveFile(temp);
        return u"Ошибка записи в " + name;
    }
    if (!fs.ReplaceExisting(temp, name)) {
        // A failed replace leaves the old file untouched.
        RemoveFile(temp);
        return u"Ошибка создания файла " + name;
    }
    return std::nullopt;
}

Text DecodeText(const std::string& b) {
    if (b.size() >= 3 && static_cast<unsigned char>(b[0]) == 0xEF &&
        static_cast<unsigned char>(b[1]) == 0xBB && static_cast<unsigned char>(b[2]) == 0xBF)
        return FromUtf8(std::string_view(b).substr(3));
    size_t start = 0;
    if (b.size() >= 2 && static_cast<unsigned char>(b[0]) == 0xFF &&
        static_cast<unsigned char>(b[1]) == 0xFE)
        start = 2;
    Text out;
    out.reserve((b.size() - start) / 2);
    for (size_t i = start; i + 1 < b.size(); i += 2)
        out += static_cast<char16_t>(static_cast<unsigned char>(b[i]) |
                                     (static_cast<unsigned char>(b[i + 1]) << 8));
    return out;
}

std::string EncodeUtf16Lines(TextView text) {
    std::string out;
    out.reserve(text.size() * 2 + 16);
    auto put = [&out](char16_t c) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    };
    for (char16_t c : text) {
        if (c == u'\n') put(u'\r');
        put(c);
    }
    return out;
}

std::optional<std::string> ReadFileBytes(const Text& name) {
    FileRead r = SystemFileSystem().ReadWhole(name);
    if (r.status != FileRead::Status::kRead) return std::nullopt;
    return std::move(r.bytes);
}

}  // namespace movra
