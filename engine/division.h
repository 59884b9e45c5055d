#pragma once
// Channel division (modes 1 and 3) and the incoming-channel measurement.
#include <cstdint>
#include <vector>

#include "core/model.h"
#include "engine/cycle.h"

namespace movra {

// Mode 1, called by polling for every polled user right after its class is refreshed
// (lock held): lowers the free channel by the limits of the other online users and finds the
// download user.
void AccumulateFreeChannel(Model& m, int32_t userIndex, CycleState& cycle, RunState& run);

// Polling adds every polled user's measured incoming speed (kbit/s) to the cycle's sum.
void AddMeasuredSpeed(CycleState& cycle, double kbits);

// What the weakly-active users are held back of the incoming channel in one cycle: each
// UserSleepTraffic, but together never more than half of the configured channel (each then an
// even part of that half), so that a crowd of idle users cannot leave the active ones nothing.
struct WeakReservation {
    int64_t total = 0;  // kbit/s, all of them together
    double each = 0;    // kbit/s, what one of them is given
};
WeakReservation ReserveForWeak(const Settings& s, int32_t weak);

// The incoming width that mode 3 divides while the measurement is armed: the cycle's speed
// sum plus the per-active-user allowance, bounded by the settings. The weakly-active users'
// reservation comes first out of the room the configured channel has above that measurement
// and only the rest off the measurement: what they received is already in it, and taking all of
// it off again would shrink the width every cycle the active users run at their limits. Appends
// its two information lines to `actions` and keeps the bounded measurement in the cycle for the
// channel chart.
int32_t MeasuredWidthIn(const Settings& s, CycleState& cycle, int32_t active, int32_t weak,
                        std::vector<CycleAction>& actions);

// Once per cycle after polling (lock held): the overload check, the division of the current
// mode and the summary row's channel values. Returns, in order, the log lines and the limit
// writes to carry out once the lock is let go.
std::vector<CycleAction> DivideChannel(Model& m, CycleState& cycle, RunState& run);

// A real truncated toward zero into int32: finite values outside the range are clamped, and a
// NaN or infinity gives `notFinite`.
int32_t TruncateToInt32(double v, int32_t notFinite);

}  // namespace movra
