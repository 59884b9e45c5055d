#include "engine/demand.h"

#include <gtest/gtest.h>

#include <cmath>

namespace movra {
namespace {

TEST(EstimateDemandTest, SteadyUseBelowTheLimitAsksForItsSpeedPlusHeadroom) {
    int32_t probes = 3;
    for (int cycle = 0; cycle < 3; ++cycle) {
        const DemandGuess d = EstimateDemand(50, 100, 1000, probes);
        EXPECT_DOUBLE_EQ(d.demand, 54.5);  // 50 x 1.05 + 2
        EXPECT_FALSE(d.wantsMore);
        EXPECT_EQ(probes, 0);
    }
    // Without a limit the speed is all there is to go by; a broken speed counts as idle.
    EXPECT_DOUBLE_EQ(EstimateDemand(500, 0, 1000, probes).demand, 527);
    EXPECT_DOUBLE_EQ(EstimateDemand(std::nan(""), 100, 1000, probes).demand, 2);
}

TEST(EstimateDemandTest, RampUpProbesGeometricallyWithinABoundAndADropFollowsAtOnce) {
    int32_t probes = 0;
    // Running at its limit each cycle, granted what it asked for: steps of 1/2, 1 and then 2
    // times the limit, at least half the width and at most all of it.
    const double asked[] = {504, 1008, 2008, 3008};
    double limit = 4;
    for (double want : asked) {
        const DemandGuess d =
            EstimateDemand(limit * 0.97, static_cast<int32_t>(limit), 1000, probes);
        EXPECT_TRUE(d.wantsMore);
        EXPECT_DOUBLE_EQ(d.demand, want) << "from " << limit;
        limit = want;
    }
    // The download stops: the next cycle asks for what is used, and probing starts over small.
    EXPECT_DOUBLE_EQ(EstimateDemand(10, 3008, 1000, probes).demand, 12.5);
    EXPECT_DOUBLE_EQ(EstimateDemand(13, 13, 1000, probes).demand, 513);
}

}  // namespace
}  // namespace movra
