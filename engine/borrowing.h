#pragma once
// Weighted max-min division with borrowing: each group gets its share of the width if its
// users want it, what a group leaves unused goes to the other groups by their shares, inside a
// group the width goes by the users' weights, and nobody gets more than it wants or its hard
// maximum. Pure arithmetic, so the control cycle and movra_report's fairness reference use one
// definition.
#include <cstdint>
#include <vector>

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

}  // namespace movra
