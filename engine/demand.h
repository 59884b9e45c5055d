#pragma once
// What an active user wants in one direction, judged once per cycle from the speed it reached
// under the limit it had: the borrowing division's demands.
#include <cstdint>

namespace movra {

struct DemandGuess {
    double demand = 0.0;     // kbit/s
    bool wantsMore = false;  // it ran at its limit: it may want more than it could show
};

// `speed` is the cycle's measured speed and `limit` the limit it ran under (0 = none).
// `probes` counts the cycles in a row the user ran at its limit; it is updated here, so the
// caller keeps it per user across cycles. `width` bounds the probe step.
DemandGuess EstimateDemand(double speed, int32_t limit, double width, int32_t& probes);

}  // namespace movra
