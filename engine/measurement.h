#pragma once
// Incoming-channel auto-measurement: mode 3 divides what the users really received in the last
// cycle, plus room to grow, instead of the configured width.
#include <cstdint>
#include <vector>

#include "core/settings.h"
#include "engine/cycle.h"

namespace movra {

// Polling adds every polled user's measured incoming speed (kbit/s) to the cycle's sum.
void AddMeasuredSpeed(CycleState& cycle, double kbits);

// The incoming width that mode 3 divides while the measurement is armed: the cycle's speed
// sum plus the per-active-user allowance, bounded by the settings. The weakly-active users'
// reservation comes first out of the room the configured channel has above that measurement
// and only the rest off the measurement: what they received is already in it, and taking all of
// it off again would shrink the width every cycle the active users run at their limits. Appends
// its two information lines to `actions` and keeps the bounded measurement in the cycle for the
// channel chart.
int32_t MeasuredWidthIn(const Settings& s, CycleState& cycle, int32_t active, int32_t weak,
                        std::vector<CycleAction>& actions);

}  // namespace movra
