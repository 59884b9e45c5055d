// Demand estimation for the borrowing division. A limit hides what a user wants beyond it, so a
// user at its limit is offered more each cycle (a probe) and one clearly below it is given what
// it uses plus room to grow.
#include "engine/demand.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace movra {
namespace {

// Room to grow for a user below its limit: relative, plus an absolute amount so that a nearly
// idle user is not pinned to a few bit/s. Small, because what is granted and not used is lost to
// those who would use it.
constexpr double kHeadroom = 0.05;
constexpr double kHeadroomMin = 2.0;
// A speed from this fraction of the limit up counts as running at the limit. It must stay above
// 1 / (1 + kHeadroom), or a user granted its speed plus headroom would look limited next cycle
// and probe for ever.
constexpr double kAtLimit = 0.96;
// The probe step. At least half the width: a download that starts wants far more than its
// limit shows, and each cycle spent climbing leaves part of the channel unused; a user that
// wanted only a little more drops back the next cycle. Beyond that it grows with the limit over
// the cycles in a row at the limit (1/2, 1, then 2 times it), and it is never more than the
// width.
constexpr double kProbeGrowth[] = {0.5, 1.0, 2.0};
constexpr double kProbeMin = 8.0;  // kbit/s, for a width of almost nothing
constexpr double kProbeLeastShare = 0.5;
constexpr double kProbeMaxShare = 1.0;

}  // namespace

DemandGuess EstimateDemand(double speed, int32_t limit, double width, int32_t& probes) {
    if (!(speed > 0.0)) speed = 0.0;  // also a NaN
    if (limit <= 0 || speed < kAtLimit * limit) {
        probes = 0;
        return {speed * (1.0 + kHeadroom) + kHeadroomMin, false};
    }
    const int32_t n = std::min<int32_t>(probes, static_cast<int32_t>(std::size(kProbeGrowth)) - 1);
    width = std::max(width, 0.0);
    const double least = std::max(kProbeMin, kProbeLeastShare * width);
    const double bound = std::max(least, kProbeMaxShare * width);
    const double step = std::min(std::max(limit * kProbeGrowth[n], least), bound);
    if (probes < 1000) ++probes;
    return {static_cast<double>(limit) + step, true};
}

}  // namespace movra
