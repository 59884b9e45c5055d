#pragma once
// Channel division once per cycle, and mode 1's free channel gathered while polling.
#include <cstdint>
#include <vector>

#include "core/model.h"
#include "engine/cycle.h"

namespace movra {

// Mode 1, called by polling for every polled user right after its class is refreshed
// (lock held): lowers the free channel by the limits of the other online users and finds the
// download user.
void AccumulateFreeChannel(Model& m, int32_t userIndex, CycleState& cycle, RunState& run);

// Once per cycle after polling (lock held): the overload check, the division of the current
// mode and the summary row's channel values. Returns, in order, the log lines and the limit
// writes to carry out once the lock is let go.
std::vector<CycleAction> DivideChannel(Model& m, CycleState& cycle, RunState& run);

}  // namespace movra
