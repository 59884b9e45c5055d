#include "app/exit_deadline.h"

#include <algorithm>
#include <chrono>

namespace movra {

MonotonicMs SteadyMs() {
    return [] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
    };
}

ExitDeadline::ExitDeadline(MonotonicMs now) : now_(std::move(now)) {}

void ExitDeadline::Begin(int64_t boundMs) {
    const int64_t end = now_() + boundMs;
    deadline_ = begun_ ? std::min(deadline_, end) : end;
    begun_ = true;
}

ExitDeadline::Step ExitDeadline::Request() {
    if (begun_) return Step::kEndProcess;
    Begin(kExitBoundMs);
    return Step::kWait;
}

void ExitDeadline::SessionEnds() {
    sessionEnding_ = true;
    Begin(kSessionEndBoundMs);
}

ExitDeadline::Step ExitDeadline::Check() const {
    return begun_ && now_() >= deadline_ ? Step::kEndProcess : Step::kWait;
}

int64_t ExitDeadline::RemainingMs() const {
    if (!begun_) return kExitBoundMs;
    return std::max<int64_t>(0, deadline_ - now_());
}

}  // namespace movra
