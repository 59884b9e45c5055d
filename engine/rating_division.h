#pragma once
// Mode 3 by rating: a walk over the users that gives each active or weakly-active one its
// rating's part of its group's share of the width, within its hard maxima and what is left.
#include <cstdint>
#include <vector>

#include "core/model.h"
#include "engine/cycle.h"

namespace movra {

// Ratings from traffic when they are on, the width to divide, group 0's share, the walk order,
// then the walk. Returns whether the walk ran (there were active users); `widthIn` is the
// incoming width left after it. Requires the lock.
bool DivideByRatings(Model& m, CycleState& cycle, const RunState& run, int32_t& widthIn,
                     std::vector<CycleAction>& actions);

}  // namespace movra
