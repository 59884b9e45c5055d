#pragma once
// Polling every monitored user once per control cycle: the hand-made limits first, then the
// user's data from the server, speeds, limits, activity class and loads.
#include "engine/cycle.h"
#include "engine/run_context.h"

namespace movra {

// Polls every user once: those listed when it starts, then those added meanwhile (a walk by
// identity, so an edit of the list while the lock is let go never skips a user or polls one
// twice). Call it without the lock. Returns false
// when the server could not give a user's data: `failedKey` then names the user and the run
// must end; users after it were not polled.
bool PollUsers(RunContext& ctx, CycleState& cycle, Text& failedKey);

// The calendar time of a last-activity value and its seconds since 1970 for the sleep test.
// A value that is not a date becomes 30.12.1899 00:00:00; dates before 1970 give 0 seconds.
struct ActivityTime {
    SystemTime local;
    int64_t seconds = 0;
};
ActivityTime ConvertActivity(const Variant* value, const Clock& clock);

}  // namespace movra
