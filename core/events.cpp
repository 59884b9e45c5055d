#include "core/events.h"

#include <chrono>

namespace movra {

void AutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> l(m_);
        signalled_ = true;
    }
    cv_.notify_one();
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

}  // namespace movra
