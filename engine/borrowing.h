#pragma once
// Mode 3 with borrowing. The algorithm is a weighted max-min division: each group gets its share
// of the width if its users want it, what a group leaves unused goes to the other groups by their
// shares, inside a group the width goes by the users' weights, and nobody gets more than it wants
// or its hard maximum. It is pure arithmetic, so the control cycle and movra_report's fairness
// reference use one definition. The driver feeds it the users of one control cycle.
#include <cstdint>
#include <vector>

#include "core/model.h"
#include "engine/cycle.h"

namespace movra {

struct BorrowClaim {
    int32_t group = 0;    // index into the shares given with it
    double weight = 1.0;  // the user's rating; 0 takes only what others leave
    double demand = 0.0;  // kbit/s the user wants (may be +infinity)
    double cap = 0.0;     // hard maximum in kbit/s, 0 = none
    double floor = 0.0;   // given first whatever the division says (still within cap)
};

// The kbit/s each claim gets, in the claims' order. `shares` are the groups' fractions of
// `width`.
std::vector<double> DivideWithBorrowing(double width, const std::vector<double>& shares,
                                        const std::vector<BorrowClaim>& claims);

// The same width, shares, ratings and hard maxima as the rating walk, but divided by weighted
// max-min among what the active users are estimated to want, so that what one user or group
// leaves unused goes to those who want more. Weakly-active users are held to the reservation as
// in the walk: their reservation is taken off the width, and they are given their share without
// borrowing only under the walk's guard (never lowered, raised only from at most the
// reservation). Keeps what it remembers of the active users in `run`. Returns whether a division
// ran; `widthIn` is the incoming width. Requires the lock.
bool DivideByBorrowing(Model& m, CycleState& cycle, RunState& run, int32_t& widthIn,
                       std::vector<CycleAction>& actions);

}  // namespace movra
