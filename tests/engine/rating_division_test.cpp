#include "engine/rating_division.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/log_flags.h"
#include "division_fixture.h"
#include "engine/division_steps.h"

namespace movra {
namespace {

// ---- Mode 3: ratings and group shares ----

TEST_F(DivisionTest, TwoUsersDivideByRating) {
    Add(u"a", 1.0f);
    Add(u"b", 3.0f);
    auto actions = Divide();
    EXPECT_EQ(Writes(actions), (std::vector<Pair>{{u"a", 64, 16, 3}, {u"b", 192, 48, 3}}));
    EXPECT_TRUE(Lines(actions, LOG_WARN).empty());
    EXPECT_EQ(m.ServerRow.LimitIn, 256);
    EXPECT_EQ(m.ServerRow.LimitOut, 64);

    // Unchanged pairs are neither written nor logged in the next cycle.
    Apply(actions);
    EXPECT_TRUE(Divide().empty());
}

TEST_F(DivisionTest, GroupShareAndGroupZeroTakingTheRest) {
    int32_t g1 = m.FindOrAddGroup(u"office");
    m.SetGroupShare(g1, 0.25f);
    Add(u"a", 1.0f);
    Add(u"b", 3.0f);
    Add(u"c", 1.0f, g1);
    auto actions = Divide();
    EXPECT_FLOAT_EQ(m.Groups[0].GroupMaxIn, 0.75f);
    EXPECT_EQ(Writes(actions),
              (std::vector<Pair>{{u"a", 48, 12, 3}, {u"b", 144, 36, 3}, {u"c", 64, 16, 3}}));
    Apply(actions);

    // The second group's share falls back to group 0 once it has no active user.
    U(u"c").Online = 0;
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"a", 64, 16, 3}, {u"b", 192, 48, 3}}));
    EXPECT_FLOAT_EQ(m.Groups[0].GroupMaxIn, 1.0f);
    EXPECT_FLOAT_EQ(m.Groups[g1].GroupMaxIn, 0.25f);
}

TEST_F(DivisionTest, WeaklyActiveUsersAreReservedTheirShare) {
    m.settings.UserSleepTraffic = 10;
    Add(u"a");
    Add(u"slow", 1.0f, 0, 5.0).LimitIn = 123;
    Add(u"b");
    auto actions = Divide();
    // 256 - 10 = 246 divided between the two active users; the slow user's computed pair
    // (123/32) equals its limit in, but its 0 out differs and it may not be raised from 123.
    EXPECT_EQ(Writes(actions), (std::vector<Pair>{{u"a", 123, 32, 3}, {u"b", 123, 32, 3}}));
    EXPECT_EQ(m.ServerRow.LimitIn, 256);
    EXPECT_EQ(m.ServerRow.LimitOut, 64);
}

TEST_F(DivisionTest, WeaklyActiveGuardNeverLowersAndRaisesOnlyFromTheReservation) {
    m.settings.UserSleepTraffic = 10;
    Add(u"a");
    Add(u"b");
    Add(u"slow", 1.0f, 0, 5.0);
    // The slow user's share is 246 / 2 = 123 in, 32 out.
    struct Case {
        int32_t limitIn;
        bool written;
    } cases[] = {{8, true}, {10, true}, {0, true}, {11, false}, {200, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limitIn);
        for (auto* n : {u"a", u"b"}) U(n).LimitIn = 123, U(n).LimitOut = 32;
        U(u"slow").LimitIn = c.limitIn;
        U(u"slow").LimitOut = 0;
        auto w = DivideWrites();
        if (c.written)
            EXPECT_EQ(w, (std::vector<Pair>{{u"slow", 123, 32, 3}}));
        else
            EXPECT_TRUE(w.empty());
    }
}

TEST_F(DivisionTest, ManyWeaklyActiveUsersHoldAtMostHalfOfTheChannel) {
    m.settings.RXMAXkbit = 2048;
    m.settings.UserSleepTraffic = 32;
    for (int k = 0; k < 70; ++k)
        Add((u"idle" + FromUtf8(std::to_string(k))).c_str(), 1.0f, 0, 0.0).LimitIn = 64;
    Add(u"a", 1.0f, 0, 500.0);
    Add(u"b", 1.0f, 0, 500.0);
    Add(u"c", 1.0f, 0, 500.0);
    // 70 x 32 = 2240 would leave nothing: the idle users together keep half of 2048, 1024 / 70
    // each, and the active users divide the other half.
    EXPECT_EQ(DivideWrites(),
              (std::vector<Pair>{{u"a", 341, 21, 3}, {u"b", 341, 21, 3}, {u"c", 341, 21, 3}}));
    EXPECT_EQ(m.ServerRow.LimitIn, 2048);
    // The guard raises a slow user only from at most the reservation it was given (14.6).
    for (auto* n : {u"a", u"b", u"c"}) U(n).LimitIn = 341, U(n).LimitOut = 21;
    U(u"idle0").LimitIn = 14;
    U(u"idle1").LimitIn = 15;
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"idle0", 341, 21, 3}}));
}

TEST_F(DivisionTest, OfflineSleepingAndGrouplessUsersKeepTheirLimits) {
    m.settings.Use_Sleepers_Traffic = 1;
    Add(u"a");
    Add(u"off").Online = 0;
    Asleep(Add(u"sleeper"));
    Add(u"orphan", 1.0f, 7);  // its group no longer exists
    Add(u"b");
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"a", 128, 32, 3}, {u"b", 128, 32, 3}}));
}

TEST_F(DivisionTest, NoActiveUsersWritesNothing) {
    Add(u"a").Online = 0;
    Add(u"slow", 1.0f, 0, -1.0);
    m.settings.UserSleepTraffic = 0;  // a negative speed is still weakly active
    int32_t g1 = m.FindOrAddGroup(u"office");
    m.SetGroupShare(g1, 0.25f);
    m.Groups[0].GroupMaxIn = 0.5f;
    auto actions = Divide();
    EXPECT_TRUE(actions.empty());
    EXPECT_FLOAT_EQ(m.Groups[0].GroupMaxIn, 0.5f);  // shares are left alone without a walk
    EXPECT_EQ(m.ServerRow.LimitIn, 256);
}

TEST_F(DivisionTest, ZeroRatingsAndEmptyRatingSumsGiveOne) {
    Add(u"zero", 0.0f);
    Add(u"a", 1.0f);
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"zero", 1, 1, 3}, {u"a", 256, 64, 3}}));

    // A weakly-active user alone in its group divides by a rating sum of 0, also in the
    // outgoing direction, whose copy of the sum still held the last cycle's value.
    m.settings.UserSleepTraffic = 10;
    int32_t g1 = m.FindOrAddGroup(u"office");
    m.SetGroupShare(g1, 0.5f);
    Add(u"slow", 1.0f, g1, 50.0);
    Divide();
    EXPECT_FLOAT_EQ(m.Groups[g1].KTraffLeft, 1.0f);
    U(u"slow").RxSpeed = 5.0;
    U(u"slow").LimitIn = 0;
    U(u"slow").LimitOut = 0;
    auto w = DivideWrites();
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w.back(), (Pair{u"slow", 1, 1, 3}));
}

TEST_F(DivisionTest, RatingSumWornToARemainderStaysInRange) {
    Add(u"a");
    Poll();
    // Reuse subtracting single-precision ratings can leave a group sum at a tiny remainder.
    m.Groups[0].KTraffSum = m.Groups[0].KTraffLeft = 1e-20f;
    EXPECT_EQ(Writes(DivideChannel(m, cycle, run)), (std::vector<Pair>{{u"a", 256, 64, 3}}));

    // Smaller still, the incoming quotient overflows single precision.
    Poll();
    m.Groups[0].KTraffSum = m.Groups[0].KTraffLeft = 1e-37f;
    EXPECT_EQ(Writes(DivideChannel(m, cycle, run)), (std::vector<Pair>{{u"a", 1, 64, 3}}));

    EXPECT_EQ(TruncateToInt32(std::nan(""), 1), 1);
    EXPECT_EQ(TruncateToInt32(-std::numeric_limits<double>::infinity(), 1), 1);
    EXPECT_EQ(TruncateToInt32(3e9, 1), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(TruncateToInt32(-3e9, 1), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(TruncateToInt32(-7.9, 1), -7);
}

// ---- Mode 3: hard maxima and reuse ----

TEST_F(DivisionTest, HardMaximumWithoutReuseKeepsOtherShares) {
    Add(u"b");
    Add(u"a").UserLimitMaxIn = 50;
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"b", 128, 32, 3}, {u"a", 50, 32, 3}}));
    EXPECT_EQ(m.ServerRow.LimitIn, 256);

    m.settings.UserMAXSpeedLimits = 0;
    U(u"a").LimitIn = 50;
    U(u"a").LimitOut = 32;
    U(u"b").LimitIn = 128;
    U(u"b").LimitOut = 32;
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"a", 128, 32, 3}}));
}

TEST_F(DivisionTest, HardMaximumWithReuseHandsTheRestToLaterUsers) {
    m.settings.ReUseFreeChanal = 1;
    Add(u"b");
    CTiUserData& a = Add(u"a");
    a.UserLimitMaxIn = 50;
    a.UserLimitMaxOut = 10;
    // "a" is walked first; its rating leaves both sums, the rest goes to "b".
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"a", 50, 10, 3}, {u"b", 206, 54, 3}}));
    EXPECT_EQ(m.ServerRow.LimitIn, 206);
    EXPECT_EQ(m.ServerRow.LimitOut, 64);
}

TEST_F(DivisionTest, IncomingReductionComesBeforeTheClampToTheWidth) {
    m.settings.ReUseFreeChanal = 1;
    Add(u"a").UserLimitMaxIn = 200;
    // 256 > 200: the width drops to 56 first, and then the user is clamped to it.
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"a", 56, 64, 3}}));
    EXPECT_EQ(m.ServerRow.LimitIn, 56);

    m.settings.ReUseFreeChanal = 0;
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"a", 200, 64, 3}}));
}

TEST_F(DivisionTest, IdleUserWithAHardMaximumGivesNothingBack) {
    m.settings.ReUseFreeChanal = 1;
    m.settings.UserSleepTraffic = 16;
    CTiUserData& idle = Add(u"idle", 3.0f, 0, 0.0);
    idle.UserLimitMaxIn = 100;
    idle.UserLimitMaxOut = 10;
    idle.LimitIn = 100;
    Add(u"a");
    // Walked first, the idle user's share (3/1 of 240) exceeds its maximum, but its rating was
    // never in the sum: "a" still divides the whole width.
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"a", 240, 64, 3}}));
    EXPECT_EQ(m.ServerRow.LimitIn, 256);
}

TEST_F(DivisionTest, SeveralGroupsWithHardMaximaShareTheReducedWidths) {
    m.settings.ReUseFreeChanal = 1;
    int32_t g1 = m.FindOrAddGroup(u"office");
    m.SetGroupShare(g1, 0.5f);
    Add(u"u1").UserLimitMaxIn = 20;
    Add(u"u2");
    CTiUserData& u3 = Add(u"u3", 2.0f, g1);
    u3.UserLimitMaxIn = 30;
    u3.UserLimitMaxOut = 8;
    Add(u"u4", 2.0f, g1);
    // Order by maximum per rating: u3 (15), u1 (20), then the others as listed. Both widths
    // are shared by the groups, so a reduction in one group shrinks the other's part too.
    EXPECT_EQ(
        DivideWrites(),
        (std::vector<Pair>{
            {u"u3", 30, 8, 3}, {u"u1", 20, 14, 3}, {u"u2", 103, 14, 3}, {u"u4", 103, 28, 3}}));
    EXPECT_EQ(OrderNames(), (std::vector<Text>{u"u3", u"u1", u"u2", u"u4"}));
    EXPECT_EQ(m.ServerRow.LimitIn, 206);
}

TEST_F(DivisionTest, DivisionOrderIsKeptSortedOnlyWithReuseAndRebuiltOnListChanges) {
    m.settings.ReUseFreeChanal = 1;
    Add(u"p");
    Add(u"q").UserLimitMaxIn = 100;
    CTiUserData& r = Add(u"r", 2.0f);
    r.UserLimitMaxIn = 60;
    Add(u"t").UserLimitMaxIn = 50;
    Divide();
    EXPECT_EQ(OrderNames(), (std::vector<Text>{u"r", u"t", u"q", u"p"}));

    // Without reuse the order stays as last given, whatever the maxima do.
    m.settings.ReUseFreeChanal = 0;
    U(u"p").UserLimitMaxIn = 1;
    Divide();
    EXPECT_EQ(OrderNames(), (std::vector<Text>{u"r", u"t", u"q", u"p"}));

    // Adding or removing a user rebuilds it in list order.
    Add(u"n");
    Divide();
    EXPECT_EQ(OrderNames(), (std::vector<Text>{u"p", u"q", u"r", u"t", u"n"}));
    m.settings.ReUseFreeChanal = 1;
    Divide();
    EXPECT_EQ(OrderNames(), (std::vector<Text>{u"p", u"r", u"t", u"q", u"n"}));
    m.settings.ReUseFreeChanal = 0;
    m.RemoveUser(m.FindUserByName(u"t"));
    Divide();
    EXPECT_EQ(OrderNames(), (std::vector<Text>{u"p", u"q", u"r", u"n"}));
}

}  // namespace
}  // namespace movra
