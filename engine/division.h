#pragma once
// Channel division (modes 1 and 3) and the incoming-channel measurement.
#include <cstdint>
#include <vector>

#include "engine/cycle.h"
#include "engine/model.h"

namespace movra {

// Mode 1, called by polling for every polled user right after its class is refreshed
// (lock held): lowers the free channel by the limits of the other online users and finds the
// download user.
void AccumulateFreeChannel(Model& m, int32_t userIndex, CycleState& cycle, RunState& run);

// Polling adds every polled user's measured incoming speed (kbit/s) to the cycle's sum.
void AddMeasuredSpeed(CycleState& cycle, double kbits);

// Once per cycle after polling (lock held): the overload check, the division of the current
// mode and the summary row's channel values. Returns, in order, the log lines and the limit
// writes to carry out once the lock is let go.
std::vector<CycleAction> DivideChannel(Model& m, CycleState& cycle, RunState& run);

}  // namespace movra
