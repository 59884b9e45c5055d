#include "engine/borrowing.h"
#include "engine/demand.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace movra {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

BorrowClaim Claim(int32_t group, double weight, double demand, double cap = 0.0,
                  double floor = 0.0) {
    return {group, weight, demand, cap, floor};
}

void ExpectShares(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-9) << "claim " << i;
}

TEST(DivideWithBorrowingTest, AnIdleGroupLendsItsWholeShare) {
    // Group 1's only user wants 10 of its 50: the busy group takes the other 40.
    ExpectShares(DivideWithBorrowing(100, {0.5, 0.5}, {Claim(0, 1, kInf), Claim(1, 1, 10)}),
                 {90, 10});
    // Nobody in group 1 at all.
    ExpectShares(DivideWithBorrowing(100, {0.5, 0.5}, {Claim(0, 1, kInf)}), {100});
}

TEST(DivideWithBorrowingTest, WhatAGroupLeavesGoesToTheOthersByShareUntilStable) {
    // Group 1 uses 10 of its 25: the 15 left go 1:2 to groups 0 and 2 (30 / 60); inside
    // group 2 the 60 go 1:3.
    ExpectShares(DivideWithBorrowing(
                     100, {0.25, 0.25, 0.5},
                     {Claim(0, 1, kInf), Claim(1, 1, 10), Claim(2, 1, kInf), Claim(2, 3, kInf)}),
                 {30, 10, 15, 45});
    // Group 0 then wants only 28 of its 30: the 2 left go on to group 2 (62 = 15.5 + 46.5).
    ExpectShares(DivideWithBorrowing(
                     100, {0.25, 0.25, 0.5},
                     {Claim(0, 1, 28), Claim(1, 1, 10), Claim(2, 1, kInf), Claim(2, 3, kInf)}),
                 {28, 10, 15.5, 46.5});
    // Shares are relative: 1:3 is the same as 0.25:0.75.
    ExpectShares(DivideWithBorrowing(100, {1, 3}, {Claim(0, 1, kInf), Claim(1, 1, kInf)}),
                 {25, 75});
}

TEST(DivideWithBorrowingTest, HardMaximaAndDemandsBoundAUserAndTheRestMovesOn) {
    // A is capped at 10, B wants only 20 of its part; C takes what they leave.
    ExpectShares(
        DivideWithBorrowing(100, {1}, {Claim(0, 1, kInf, 10), Claim(0, 1, 20), Claim(0, 2, kInf)}),
        {10, 20, 70});
    // The cap wins over a larger demand; everybody satisfied leaves the rest unused.
    ExpectShares(DivideWithBorrowing(100, {1}, {Claim(0, 1, 50, 20), Claim(0, 1, 30)}), {20, 30});
}

TEST(DivideWithBorrowingTest, ZeroWeightsTakeOnlyWhatOthersLeave) {
    ExpectShares(DivideWithBorrowing(100, {1}, {Claim(0, 0, kInf), Claim(0, 1, 30)}), {70, 30});
    ExpectShares(DivideWithBorrowing(100, {1}, {Claim(0, 0, kInf), Claim(0, 1, kInf)}), {0, 100});
    // All weights zero: split evenly by need.
    ExpectShares(DivideWithBorrowing(100, {1}, {Claim(0, 0, kInf), Claim(0, 0, kInf)}), {50, 50});
    ExpectShares(DivideWithBorrowing(100, {1}, {Claim(0, 0, 10), Claim(0, 0, kInf)}), {10, 90});
    // A group of share zero likewise, and a group the shares do not name.
    ExpectShares(DivideWithBorrowing(100, {0, 1}, {Claim(0, 1, kInf), Claim(1, 1, 30)}), {70, 30});
    ExpectShares(DivideWithBorrowing(100, {1}, {Claim(5, 1, kInf), Claim(0, 1, 30)}), {70, 30});
}

TEST(DivideWithBorrowingTest, FloorsComeFirstWithinTheCap) {
    // The floor does not bind when the fair part is larger.
    ExpectShares(DivideWithBorrowing(100, {1}, {Claim(0, 1, kInf, 0, 20), Claim(0, 3, kInf)}),
                 {25, 75});
    ExpectShares(DivideWithBorrowing(100, {1}, {Claim(0, 1, kInf, 0, 40), Claim(0, 3, kInf)}),
                 {40, 60});
    // Given even beyond the demand and the width, but never beyond the hard maximum.
    ExpectShares(DivideWithBorrowing(100, {1}, {Claim(0, 1, 5, 0, 80), Claim(0, 1, kInf, 0, 80)}),
                 {80, 80});
    ExpectShares(DivideWithBorrowing(100, {1}, {Claim(0, 1, kInf, 20, 50)}), {20});
    // A group's floors count against its own share first.
    ExpectShares(
        DivideWithBorrowing(100, {0.5, 0.5}, {Claim(0, 1, kInf, 0, 70), Claim(1, 1, kInf)}),
        {70, 30});
}

TEST(DivideWithBorrowingTest, BrokenInputsGiveNothingRatherThanNonsense) {
    EXPECT_TRUE(DivideWithBorrowing(100, {1}, {}).empty());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ExpectShares(DivideWithBorrowing(nan, {1}, {Claim(0, 1, kInf, 0, 3)}), {3});
    ExpectShares(DivideWithBorrowing(-5, {1}, {Claim(0, 1, kInf)}), {0});
    // A NaN demand wants nothing; NaN or endless weights and caps count as none.
    ExpectShares(DivideWithBorrowing(100, {1}, {Claim(0, 1, nan), Claim(0, nan, kInf, nan)}),
                 {0, 100});
    ExpectShares(DivideWithBorrowing(100, {nan, kInf}, {Claim(0, kInf, kInf), Claim(1, 1, kInf)}),
                 {50, 50});
}

// For random inputs: the division uses min(width, all that is wanted) (or the floors, if more),
// and nobody gets less than its floor or more than it may.
TEST(DivideWithBorrowingTest, RandomDivisionsConserveWorkAndRespectBounds) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int run = 0; run < 300; ++run) {
        const int groups = 1 + static_cast<int>(rng() % 4);
        std::vector<double> shares(groups);
        for (double& s : shares) s = unit(rng) < 0.2 ? 0.0 : unit(rng);
        std::vector<BorrowClaim> claims(1 + rng() % 40);
        double wanted = 0.0, floors = 0.0;
        for (BorrowClaim& c : claims) {
            c.group = static_cast<int32_t>(rng() % groups);
            c.weight = unit(rng) < 0.1 ? 0.0 : 0.1 + 9 * unit(rng);
            c.demand = unit(rng) < 0.2 ? kInf : 500 * unit(rng);
            c.cap = unit(rng) < 0.3 ? 300 * unit(rng) : 0.0;
            c.floor = unit(rng) < 0.2 ? 20 * unit(rng) : 0.0;
            const double cap = c.cap > 0 ? c.cap : kInf;
            const double low = std::min(c.floor, cap);
            wanted += std::max(low, std::min(c.demand, cap));
            floors += low;
        }
        const double width = 2000 * unit(rng);
        const std::vector<double> got = DivideWithBorrowing(width, shares, claims);
        double sum = 0.0;
        for (size_t i = 0; i < claims.size(); ++i) {
            const BorrowClaim& c = claims[i];
            const double cap = c.cap > 0 ? c.cap : kInf;
            const double low = std::min(c.floor, cap);
            ASSERT_TRUE(std::isfinite(got[i])) << run;
            ASSERT_GE(got[i], low - 1e-9) << run;
            ASSERT_LE(got[i], std::max(low, std::min(c.demand, cap)) + 1e-9) << run;
            sum += got[i];
        }
        ASSERT_NEAR(sum, std::max(floors, std::min(width, wanted)), 1e-6 * (1 + width)) << run;
    }
}

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
