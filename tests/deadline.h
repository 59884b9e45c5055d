#pragma once
// Waiting on worker threads in tests: every wait has a deadline, and a worker that never ends
// aborts the test program instead of hanging it (its thread cannot be joined).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "engine/workers.h"

namespace movra::testing {

inline constexpr std::chrono::seconds kWorkerDeadline(60);

// Waits until `done` holds, or aborts when the deadline passes first: a test cannot end while a
// worker it waits for may still run.
template <class F>
bool WaitUntil(F done, std::chrono::seconds limit = kWorkerDeadline) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            std::fprintf(stderr, "still waiting for a worker after %lld s\n",
                         static_cast<long long>(limit.count()));
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Joins every worker of `w`, or aborts when one has not ended by the deadline.
inline void JoinWithin(Workers& w, std::chrono::seconds limit = kWorkerDeadline) {
    if (w.WaitForExit(nullptr, limit, limit)) return;
    std::fprintf(stderr, "a worker did not end within %lld s\n",
                 static_cast<long long>(limit.count()));
    std::abort();
}

}  // namespace movra::testing
