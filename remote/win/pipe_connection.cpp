#include "remote/win/pipe_connection.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <utility>

#include "remote/codec.h"

namespace movra::remote {

namespace {

// Reads are cut to this size, writes too, so that a slow peer's progress is seen per chunk.
constexpr DWORD kChunk = 64 * 1024;

enum class Io { kDone, kHungUp, kAborted, kStalled, kFailed };

// The service sends one State to every window: it is encoded once, and each window's queue
// gets a copy of the bytes, which costs a small part of the encoding.
std::vector<uint8_t> FrameOf(const std::shared_ptr<const Message>& message) {
    static std::mutex lock;
    static std::weak_ptr<const Message> last;
    static std::shared_ptr<const std::vector<uint8_t>> lastFrame;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (lastFrame && last.lock() == message) return *lastFrame;
    }
    auto frame = std::make_shared<const std::vector<uint8_t>>(EncodeFrame(*message));
    std::lock_guard<std::mutex> hold(lock);
    last = message;
    lastFrame = frame;
    return *frame;
}

// One overlapped read or write, waited for until it completes, `abort` is set, or `timeout`.
Io Transfer(bool write, HANDLE pipe, void* data, DWORD size, DWORD& moved, HANDLE abort,
            DWORD timeout) {
    moved = 0;
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ov.hEvent) return Io::kFailed;
    const BOOL ok = write ? WriteFile(pipe, data, size, nullptr, &ov)
                          : ReadFile(pipe, data, size, nullptr, &ov);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    Io result = Io::kDone;
    if (!ok && error != ERROR_IO_PENDING) {
        result = (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ||
                  error == ERROR_NO_DATA)
                     ? Io::kHungUp
                     : Io::kFailed;
    } else {
        HANDLE waits[2] = {ov.hEvent, abort};
        const DWORD w = WaitForMultipleObjects(2, waits, FALSE, timeout);
        if (w != WAIT_OBJECT_0) {
            CancelIoEx(pipe, &ov);
            GetOverlappedResult(pipe, &ov, &moved, TRUE);
            result = w == WAIT_TIMEOUT ? Io::kStalled : Io::kAborted;
        } else if (!GetOverlappedResult(pipe, &ov, &moved, FALSE)) {
            const DWORD e = GetLastError();
            // A message larger than the read (not in byte mode) is no failure.
            if (e == ERROR_MORE_DATA) {
                result = Io::kDone;
            } else {
                result = (e == ERROR_BROKEN_PIPE || e == ERROR_PIPE_NOT_CONNECTED ||
                          e == ERROR_OPERATION_ABORTED)
                             ? Io::kHungUp
                             : Io::kFailed;
            }
        }
    }
    CloseHandle(ov.hEvent);
    return result;
}

}  // namespace

PipeConnection::PipeConnection(HANDLE pipe, PipeLimits limits)
    : pipe_(pipe), limits_(limits), dead_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

PipeConnection::~PipeConnection() {
    Shut(u"");
    if (reader_.joinable()) reader_.detach();  // destroyed on its own thread: nothing left to do
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
    CloseHandle(dead_);
}

void PipeConnection::Start(std::function<void(Message)> receive,
                           std::function<void(const Text&)> ended) {
    receive_ = std::move(receive);
    ended_ = std::move(ended);
    writer_ = std::thread([this] { WriteLoop(); });
    reader_ = std::thread([this] {
        readerId_ = GetCurrentThreadId();
        ReadLoop();
    });
}

void PipeConnection::Send(std::shared_ptr<const Message> message) {
    if (!message) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (dropped_ || closing_) return;
    }
    std::vector<uint8_t> frame = FrameOf(message);
    bool over = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (dropped_ || closing_) return;
        if (queued_ + frame.size() > limits_.maxQueuedBytes) {
            over = true;
        } else {
            queued_ += frame.size();
            queue_.push_back(std::move(frame));
        }
    }
    if (over) {
        Drop(u"не читает: для него накопилось больше " +
             FromUtf8(std::to_string(limits_.maxQueuedBytes)) + u" байт");
        return;
    }
    wake_.notify_one();
}

void PipeConnection::Close() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        closing_ = true;
    }
    wake_.notify_one();
}

void PipeConnection::Drop(const Text& why) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!dropped_) {
            dropped_ = true;
            why_ = why;
        }
    }
    SetEvent(dead_);
    wake_.notify_all();
}

void PipeConnection::Shut(const Text& why) {
    Drop(why);
    if (GetCurrentThreadId() == readerId_) return;
    if (reader_.joinable()) reader_.join();
    if (writer_.joinable()) writer_.join();
}

bool PipeConnection::Ended() const {
    std::lock_guard<std::mutex> hold(lock_);
    return ended_called_;
}

void PipeConnection::ReadLoop() {
    FrameReader frames(limits_.maxFrameBytes);
    std::vector<uint8_t> buffer(kChunk);
    for (;;) {
        Message message;
        DecodeError error;
        FrameReader::Status status;
        while ((status = frames.Next(message, error)) == FrameReader::Status::kMessage) {
            if (receive_) receive_(std::move(message));
        }
        if (status == FrameReader::Status::kError) {
            Drop(u"испорченный кадр (" + FromUtf8(error.what) + u")");
            break;
        }
        const DWORD want = static_cast<DWORD>(std::clamp<size_t>(frames.Wanted(), 1, kChunk));
        DWORD got = 0;
        const Io io = Transfer(false, pipe_, buffer.data(), want, got, dead_, INFINITE);
        if (io == Io::kDone) {
            frames.Feed({buffer.data(), got});
            continue;
        }
        if (io == Io::kHungUp) Drop(u"");
        if (io == Io::kFailed) Drop(u"ошибка канала");
        break;
    }
    Drop(u"");  // keeps the first reason
    if (writer_.joinable()) writer_.join();
    // Closed, not disconnected: the peer still reads what was written, then sees the end.
    CloseHandle(pipe_);
    pipe_ = INVALID_HANDLE_VALUE;
    Text why;
    std::function<void(const Text&)> ended;
    {
        std::lock_guard<std::mutex> hold(lock_);
        why = why_;
        ended_called_ = true;
        ended = std::move(ended_);
    }
    endedCv_.notify_all();
    if (ended) ended(why);
}

void PipeConnection::WriteLoop() {
    for (;;) {
        std::vector<uint8_t> frame;
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [&] { return dropped_ || !queue_.empty() || closing_; });
            if (dropped_) return;
            if (queue_.empty()) break;  // closing, everything written
            frame = std::move(queue_.front());
            queue_.pop_front();
        }
        size_t done = 0;
        while (done < frame.size()) {
            const DWORD size = static_cast<DWORD>(std::min<size_t>(frame.size() - done, kChunk));
            DWORD moved = 0;
            const Io io =
                Transfer(true, pipe_, frame.data() + done, size, moved, dead_, limits_.stallMs);
            if (io == Io::kStalled) {
                Drop(u"не читает: запись не продвигается " +
                     FromUtf8(std::to_string(limits_.stallMs / 1000)) + u" с");
                return;
            }
            if (io == Io::kHungUp) return Drop(u"");
            if (io != Io::kDone) return Drop(io == Io::kAborted ? u"" : u"ошибка канала");
            done += moved;
        }
        std::lock_guard<std::mutex> hold(lock_);
        queued_ -= frame.size();
    }
    // Closing: the peer reads what was written and hangs up; one that does not is cut off.
    if (WaitForSingleObject(dead_, limits_.closeGraceMs) == WAIT_TIMEOUT) Drop(u"");
}

bool PipeConnection::WaitEnded(DWORD ms) {
    std::unique_lock<std::mutex> hold(lock_);
    return endedCv_.wait_for(hold, std::chrono::milliseconds(ms), [&] { return ended_called_; });
}

}  // namespace movra::remote
