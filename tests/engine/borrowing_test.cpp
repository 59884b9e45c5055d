#include "engine/borrowing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "division_fixture.h"

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

// ---- Mode 3 with borrowing ----

// The option on, with a stand-in for the server: each user receives what it wants up to its
// limit, so the next cycle measures that speed.
class BorrowingTest : public DivisionTest {
  protected:
    BorrowingTest() { m.settings.ChanalBorrowing = 1; }

    void Want(const char16_t* name, double in, double out) { wants[name] = {in, out}; }

    std::vector<Pair> Cycle() {
        for (auto& [name, w] : wants) {
            CTiUserData& u = U(name.c_str());
            u.RxSpeed = u.LimitIn > 0 ? std::min(w.first, static_cast<double>(u.LimitIn)) : w.first;
            u.TxSpeed =
                u.LimitOut > 0 ? std::min(w.second, static_cast<double>(u.LimitOut)) : w.second;
        }
        auto actions = Divide();
        Apply(actions);
        return Writes(actions);
    }

    std::map<Text, std::pair<double, double>> wants;
};

TEST_F(BorrowingTest, IdleShareIsLentAndSteadyStateWritesNothing) {
    int32_t g1 = m.FindOrAddGroup(u"office");
    m.SetGroupShare(g1, 0.5f);
    Add(u"a", 1.0f);
    Add(u"b", 3.0f).UserLimitMaxOut = 30;
    Add(u"c", 1.0f, g1);
    Want(u"a", 1000, 1000);
    Want(u"b", 1000, 1000);
    Want(u"c", 60, 4);
    for (int i = 0; i < 6; ++i) Cycle();
    // c asks for 60 x 1.05 + 2 = 65 in and 4 x 1.05 + 2 = 6.2 out; group 0 takes the rest of
    // both channels, 1:3 in (47.75/143.25); out b stops at its maximum of 30 and a takes 27.8.
    EXPECT_EQ(U(u"a").LimitIn, 47);
    EXPECT_EQ(U(u"b").LimitIn, 143);
    EXPECT_EQ(U(u"c").LimitIn, 65);
    EXPECT_EQ(U(u"a").LimitOut, 27);
    EXPECT_EQ(U(u"b").LimitOut, 30);
    EXPECT_EQ(U(u"c").LimitOut, 6);
    EXPECT_EQ(m.ServerRow.LimitIn, 256);
    // The users at their limits keep probing, but nothing is left to give them.
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(Cycle().empty());

    // A small swing of c's use stays inside the dead band; a drop is followed at once, and
    // the users at their limits take what c gave back (248.75 = 62.19 + 186.56).
    Want(u"c", 58, 4);
    EXPECT_TRUE(Cycle().empty());
    Want(u"c", 5, 4);
    EXPECT_EQ(Cycle(), (std::vector<Pair>{{u"a", 62, 27, 3}, {u"b", 186, 30, 3}, {u"c", 7, 6, 3}}));
}

TEST_F(BorrowingTest, ALimitIsACapCutOnlyWhenTheRoomIsWanted) {
    Add(u"a", 1.0f);
    Add(u"b", 1.0f);
    Want(u"a", 100, 4);
    Want(u"b", 100, 4);
    EXPECT_EQ(Cycle(), (std::vector<Pair>{{u"a", 128, 32, 3}, {u"b", 128, 32, 3}}));
    // Both use less than their limits and the limits fit the channel: nothing is rewritten,
    // not even when b's use drops.
    EXPECT_TRUE(Cycle().empty());
    Want(u"b", 10, 4);
    EXPECT_TRUE(Cycle().empty());
    // a runs into its limit: it takes what b leaves (256 - 10 x 1.05 - 2), and b is cut to make
    // the room; the outgoing limits, used far below, stay.
    Want(u"a", 1000, 4);
    EXPECT_EQ(Cycle(), (std::vector<Pair>{{u"a", 243, 32, 3}, {u"b", 12, 32, 3}}));

    // Limits adding up to more than a full channel: the server shares it evenly, so neither
    // runs at its limit, yet the limits must divide it (b's rating holds it to what it uses).
    U(u"a").LimitIn = 200;
    U(u"b").LimitIn = 200;
    U(u"b").UserKTraff = 3.0f;
    Want(u"a", 128, 4);
    Want(u"b", 128, 4);
    EXPECT_EQ(Cycle(), (std::vector<Pair>{{u"a", 119, 32, 3}, {u"b", 136, 32, 3}}));
}

TEST_F(BorrowingTest, NewcomerGetsItsShareAtOnceAndNobodyGetsLessThanOne) {
    Add(u"a", 1.0f);
    Want(u"a", 1000, 1000);
    for (int i = 0; i < 4; ++i) Cycle();
    EXPECT_EQ(U(u"a").LimitIn, 256);

    // b comes online with a tiny limit and a big download: it gets half the channel in its
    // first cycle, not a probe's few kbit/s, and a gives way.
    CTiUserData& b = Add(u"b", 1.0f);
    b.LimitIn = 2;
    b.LimitOut = 2;
    Want(u"b", 1000, 1000);
    EXPECT_EQ(Cycle(), (std::vector<Pair>{{u"a", 128, 32, 3}, {u"b", 128, 32, 3}}));

    // A rating of 0 takes only what others leave, which here is nothing: still 1, never 0.
    Add(u"z", 0.0f);
    Want(u"z", 1000, 1000);
    const auto w = Cycle();
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w.back(), (Pair{u"z", 1, 1, 3}));
}

TEST_F(BorrowingTest, ARunStartsFromTheSharesNotFromSpeedsNotYetMeasured) {
    // The first cycle of a run reads no speed (0); without a reservation both count as active.
    Add(u"a", 1.0f, 0, 0.0);
    Add(u"b", 3.0f, 0, 0.0);
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"a", 64, 16, 3}, {u"b", 192, 48, 3}}));
}

TEST_F(BorrowingTest, SharesAddingUpToMoreThanTheWholeNeverSqueezeAModestUser) {
    const int32_t ga = m.FindOrAddGroup(u"a");
    const int32_t gb = m.FindOrAddGroup(u"b");
    m.SetGroupShare(ga, 0.75f);
    m.SetGroupShare(gb, 0.75f);
    Add(u"a1", 1.0f, ga);
    Add(u"a2", 1.0f, ga);
    Add(u"b1", 1.0f, gb);
    Want(u"a1", 1000, 1000);
    Want(u"a2", 20, 4);
    Want(u"b1", 1000, 1000);
    for (int i = 0; i < 4; ++i) Cycle();
    // The downloaders' shares without borrowing (half of each group's 0.75 of 1.5) leave a2
    // what it uses, cycle after cycle, and nothing flaps.
    for (int i = 0; i < 6; ++i) {
        Cycle();
        EXPECT_GE(U(u"a2").LimitIn, 20) << "cycle " << i;
    }
    EXPECT_TRUE(Cycle().empty());
}

TEST_F(BorrowingTest, ManyWeaklyActiveUsersHoldAtMostHalfOfTheChannel) {
    m.settings.RXMAXkbit = 2048;
    m.settings.UserSleepTraffic = 32;
    for (int k = 0; k < 70; ++k)
        Add((u"idle" + FromUtf8(std::to_string(k))).c_str(), 1.0f, 0, 0.0).LimitIn = 64;
    Add(u"a", 1.0f);
    Add(u"b", 1.0f);
    Add(u"c", 1.0f);
    for (auto* n : {u"a", u"b", u"c"}) Want(n, 3000, 100);
    EXPECT_EQ(Cycle(),
              (std::vector<Pair>{{u"a", 341, 21, 3}, {u"b", 341, 21, 3}, {u"c", 341, 21, 3}}));
    EXPECT_EQ(m.ServerRow.LimitIn, 2048);
    for (int i = 0; i < 3; ++i) Cycle();
    for (auto* n : {u"a", u"b", u"c"}) EXPECT_EQ(U(n).LimitIn, 341);
}

TEST_F(BorrowingTest, ALimitAboveANarrowedWidthIsCutInTheSameCycle) {
    m.settings.RXMAXkbit = 500;
    Add(u"a", 1.0f);
    Want(u"a", 1000, 4);
    EXPECT_EQ(Cycle(), (std::vector<Pair>{{u"a", 500, 64, 3}}));
    EXPECT_TRUE(Cycle().empty());
    // Narrowed by less than the dead band: the limit still may not stand above the width.
    m.settings.RXMAXkbit = 480;
    EXPECT_EQ(Cycle(), (std::vector<Pair>{{u"a", 480, 64, 3}}));
    // Narrowed far below a limit that is not used up: cut at once to what a uses plus room.
    Want(u"a", 50, 4);
    m.settings.RXMAXkbit = 150;
    EXPECT_EQ(Cycle(), (std::vector<Pair>{{u"a", 54, 64, 3}}));
}

TEST_F(BorrowingTest, MeasuredWidthIsWhatIsDivided) {
    run.measurementArmed = true;
    Add(u"a").LimitIn = 100;
    Add(u"c").LimitIn = 100;
    Want(u"a", 1000, 0);
    Want(u"c", 20, 0);
    // Measured 100 + 20 + 1 per active user = 122; both are new, so each gets at least its
    // share of it without borrowing (of a configured 256 they would get 128 each).
    EXPECT_EQ(Cycle(), (std::vector<Pair>{{u"a", 61, 32, 3}, {u"c", 61, 32, 3}}));
    EXPECT_EQ(m.ServerRow.LimitIn, 122);
}

TEST_F(BorrowingTest, AUserWithoutAShareKeepsWhatItUsesWhileOthersComeAndGo) {
    // The group's share is the whole, so group 0 has none: m lives on what the group leaves.
    const int32_t g1 = m.FindOrAddGroup(u"office");
    m.SetGroupShare(g1, 1.0f);
    Add(u"a", 1.0f, g1);
    Add(u"b", 1.0f, g1);
    Add(u"m", 1.0f);
    Want(u"b", 60, 4);
    Want(u"m", 10, 2);
    // a's downloads start and stop; m wants the same all along. Once m has what it uses, its
    // limit is neither taken back when a starts nor handed what a leaves when it stops.
    std::vector<int32_t> seen;
    for (int i = 0; i < 24; ++i) {
        Want(u"a", i / 3 % 2 ? 50 : 1000, 4);
        Cycle();
        if (i >= 6) seen.push_back(U(u"m").LimitIn);
    }
    EXPECT_EQ(seen.front(), 12);  // 10 x 1.05 + 2: what it uses, not what a left
    EXPECT_EQ(std::set<int32_t>(seen.begin(), seen.end()).size(), 1u)
        << ::testing::PrintToString(seen);
}

}  // namespace
}  // namespace movra
