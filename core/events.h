#pragma once
// Auto-reset events built on a mutex and a condition variable, so the same worker
// coordination runs natively (under ThreadSanitizer) and on Windows.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace movra {

class AutoResetEvent {
  public:
    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;
    void Set();
    void Reset();
    // Waits until signalled or until the time-out; a successful wait consumes the signal.
    // A time-out of 0 tests without waiting.
    bool Wait(uint32_t timeout_ms);

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

// The two process-wide events the workers share, and the program's exit.
struct WorkerEvents {
    AutoResetEvent stop;  // asks the running worker to end
    AutoResetEvent idle;  // signalled exactly while no worker runs

    // The exit has begun: the quit state, which nobody clears (a starting worker resets the
    // stop event, so the stop request alone cannot keep a worker from running after the exit),
    // then the stop request for the worker that runs.
    void BeginQuit() {
        quitting_.store(true);
        stop.Set();
    }
    bool Quitting() const { return quitting_.load(); }

  private:
    std::atomic<bool> quitting_{false};
};

}  // namespace movra
