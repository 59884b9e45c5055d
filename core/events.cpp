#include "core/events.h"

#include <chrono>

namespace movra {

void AutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> l(m_);
        signalled_ = true;
    }
    // Every waiter looks: the first one whose wait is still wanted takes the signal, a
    // cancelled one leaves it.
    cv_.notify_all();
}

void AutoResetEvent::Reset() {
    std::lock_guard<std::mutex> l(m_);
    signalled_ = false;
}

bool AutoResetEvent::Wait(uint32_t timeout_ms) {
    std::unique_lock<std::mutex> l(m_);
    if (timeout_ms == kInfinite) {
        cv_.wait(l, [this] { return signalled_; });
    } else if (!cv_.wait_for(l, std::chrono::milliseconds(timeout_ms),
                             [this] { return signalled_; })) {
        return false;
    }
    signalled_ = false;
    return true;
}

bool AutoResetEvent::WaitUnless(const std::function<bool()>& cancelled) {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [&] { return cancelled() || signalled_; });
    if (cancelled()) return false;
    signalled_ = false;
    return true;
}

void AutoResetEvent::Wake() {
    // Taking the lock orders the change of the cancel condition before a waiter's test of it,
    // so a waiter that tested it before the change is already asleep and gets the notice.
    { std::lock_guard<std::mutex> l(m_); }
    cv_.notify_all();
}

uint64_t WorkerEvents::TakeTicket() {
    uint64_t t = 0;
    {
        std::lock_guard<std::mutex> l(order_);
        t = ++latest_;
    }
    idle.Wake();
    return t;
}

void WorkerEvents::CancelPending() {
    {
        std::lock_guard<std::mutex> l(order_);
        ++latest_;
    }
    idle.Wake();
}

WorkerEvents::Claim WorkerEvents::TryClaim(uint64_t ticket) {
    std::lock_guard<std::mutex> l(order_);
    if (Superseded(ticket)) return Claim::kSuperseded;
    if (idle.Wait(0)) return Claim::kTaken;
    stop.Set();
    return Claim::kBusy;
}

}  // namespace movra
