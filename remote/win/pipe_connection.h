#pragma once
// One end of the pipe between the service and a window, shared by both sides: a reader thread
// that cuts the byte stream into messages, and a writer thread that writes what Send queued.
// The handle is overlapped, so that a pending read never holds a write back. A peer that sends
// a broken frame, stops reading, or lets the queue grow past its bound is dropped, and `ended`
// says why.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/text.h"
#include "remote/link.h"
#include "remote/messages.h"

namespace movra::remote {

struct PipeLimits {
    // Bytes queued for the peer and not yet written; more drops it.
    size_t maxQueuedBytes = 64u * 1024u * 1024u;
    // A write that makes no progress for this long drops the peer.
    DWORD stallMs = 30000;
    // After Close: how long the peer has to hang up once everything queued is written.
    DWORD closeGraceMs = 1000;
    uint32_t maxFrameBytes = kMaxFrameBytes;
};

class PipeConnection final : public Outbox {
  public:
    // Takes `pipe` (an overlapped pipe handle, connected); closes it when destroyed.
    PipeConnection(HANDLE pipe, PipeLimits limits = {});
    ~PipeConnection() override;
    PipeConnection(const PipeConnection&) = delete;
    PipeConnection& operator=(const PipeConnection&) = delete;

    // Starts the threads. `receive` gets each message on the reader thread; `ended` is called
    // once on the reader thread when the conversation is over (`why` empty: the peer hung up),
    // and nothing is called after it.
    void Start(std::function<void(Message)> receive, std::function<void(const Text&)> ended);

    void Send(std::shared_ptr<const Message> message) override;
    void Close() override;

    // Ends the conversation now (`why` for `ended`, unless it already ended) and waits for the
    // threads; on the reader thread itself it only asks.
    void Shut(const Text& why);
    // Whether `ended` has been called.
    bool Ended() const;
    // Waits at most `ms` for `ended` to have been called; true when it has.
    bool WaitEnded(DWORD ms);

  private:
    void ReadLoop();
    void WriteLoop();
    // Ends the conversation with `why` unless it already ends; wakes both threads.
    void Drop(const Text& why);

    HANDLE pipe_;
    PipeLimits limits_;
    HANDLE dead_;  // manual reset: the conversation is over
    std::function<void(Message)> receive_;
    std::function<void(const Text&)> ended_;

    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable endedCv_;
    std::deque<std::vector<uint8_t>> queue_;
    size_t queued_ = 0;
    bool closing_ = false;
    bool dropped_ = false;
    bool ended_called_ = false;
    Text why_;

    std::thread reader_;
    std::thread writer_;
    std::atomic<DWORD> readerId_{0};
};

}  // namespace movra::remote
