#pragma once
// A polled user's activity class and the counts it feeds: polling decides it from what the
// server said, and channel division works on the result.
#include <cstdint>

#include "core/model.h"
#include "core/settings.h"
#include "engine/cycle.h"

namespace movra {

// What a user's class is decided from.
struct ActivityReading {
    int32_t online = 0;        // the server's online state; 0 is offline
    int64_t lastActivity = 0;  // seconds since 1970 of the last activity; 0 is idle for ever
    double rxSpeed = 0.0;      // measured incoming speed, kbit/s
};

// Offline when not online. Sleeping when idle for longer than UserSleep_TimeOut_sec at `now`
// and sleepers' traffic is on. Otherwise weakly active below UserSleepTraffic and active from
// it on (a speed that is not a number counts as active).
ActivityClassValue ClassifyActivity(const ActivityReading& r, const Settings& s, int64_t now);

// Counts a user of class `c` in the cycle's counts and in its group's (lock held): an active
// user's rating goes into its group's rating sums.
void CountActivity(Model& m, CycleState& cycle, const CTiUserData& u, ActivityClassValue c);

}  // namespace movra
