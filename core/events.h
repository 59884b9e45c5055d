#pragma once
// Auto-reset events built on a mutex and a condition variable, so the same worker
// coordination runs natively (under ThreadSanitizer) and on Windows.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
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
    // Waits without a time limit until signalled (consuming the signal, true) or until
    // `cancelled` holds (false, the signal left for another waiter). `cancelled` is tested
    // under the event's lock; whoever makes it true calls Wake afterwards.
    bool WaitUnless(const std::function<bool()>& cancelled);
    // Makes every waiter test its cancel condition again.
    void Wake();

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

// The two process-wide events the workers share, the order of the requests that start and
// stop them, and the program's exit.
struct WorkerEvents {
    AutoResetEvent stop;  // asks the running worker to end
    AutoResetEvent idle;  // signalled exactly while no worker runs

    // Tickets order the requests: every start takes a new one, and a start still waiting for
    // its slot goes on only while its ticket is the newest (a later start or a disconnect
    // supersedes it). Ticket 0 stands for a start that nothing supersedes but the exit.
    uint64_t TakeTicket();
    // Supersedes every start still waiting (a disconnect).
    void CancelPending();
    // Whether a start with this ticket must give up: the exit began or a newer request came.
    bool Superseded(uint64_t ticket) const {
        return Quitting() || (ticket != 0 && ticket != latest_.load());
    }

    enum class Claim { kTaken, kBusy, kSuperseded };
    // The first step of a start: unless superseded, takes the idle event when it is signalled
    // (kTaken), else asks the worker that runs to stop (kBusy). Ordered with TakeTicket, so a
    // start already superseded never sends its stop request to the newer run.
    Claim TryClaim(uint64_t ticket);

    // The exit has begun: the quit state, which nobody clears (a starting worker resets the
    // stop event, so the stop request alone cannot keep a worker from running after the exit),
    // then the stop request for the worker that runs; the starts still waiting give up.
    void BeginQuit() {
        quitting_.store(true);
        stop.Set();
        idle.Wake();
    }
    bool Quitting() const { return quitting_.load(); }

  private:
    std::atomic<bool> quitting_{false};
    std::mutex order_;  // orders TakeTicket and TryClaim
    std::atomic<uint64_t> latest_{0};
};

}  // namespace movra
