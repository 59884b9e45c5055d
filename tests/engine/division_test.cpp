#include "engine/division.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "core/log_flags.h"
#include "engine/activity.h"

namespace movra {
namespace {

struct Pair {
    Text name;
    int32_t in, out, mode;
    bool operator==(const Pair&) const = default;
};

void PrintTo(const Pair& p, std::ostream* os) {
    *os << ToUtf8(p.name) << " " << p.in << "/" << p.out << " mode " << p.mode;
}

class DivisionTest : public ::testing::Test {
  protected:
    DivisionTest() {
        Settings& s = m.settings;
        s.TrafficSpeedAutoControll = 3;
        s.RXMAXkbit = 256;
        s.TXMAXkbit = 64;
        s.UserSleepTraffic = 0;
        s.UserMAXSpeedLimits = 1;
        s.ReUseFreeChanal = 0;
        s.SpeedLimTraff_Mode = 0;
    }

    // An online user that is receiving; `speed` decides active or weakly active at Poll().
    CTiUserData& Add(const char16_t* name, float rating = 1.0f, int32_t group = 0,
                     double speed = 100.0) {
        int32_t i = m.AddUserByName(name);
        CTiUserData& u = m.Users[i];
        u.UserKTraff = rating;
        u.UserGrID = group;
        u.Online = 1;
        u.RxSpeed = speed;
        return u;
    }
    CTiUserData& U(const char16_t* name) { return m.Users[m.FindUserByName(name)]; }

    // Marks a user as idle for ever: asleep once the sleep time-out is counted.
    void Asleep(const CTiUserData& u) { asleep.insert(u.Id); }

    // What polling does to the classes and group sums before the division runs.
    void Poll() {
        m.ResetGroupCycle();
        cycle = CycleState{};
        cycle.FreeIn = static_cast<int32_t>(m.settings.RXMAXkbit);
        cycle.FreeOut = static_cast<int32_t>(m.settings.TXMAXkbit);
        for (int32_t i = 0; i < m.NumUsers; ++i) {
            CTiUserData& u = m.Users[i];
            const int64_t last = asleep.count(u.Id) ? 0 : clock.Now();
            const ActivityClassValue c =
                ClassifyActivity({u.Online, last, u.RxSpeed}, m.settings, clock.Now());
            CountActivity(m, cycle, u, c);
            u.ActivityClass = c;
            AddMeasuredSpeed(cycle, u.RxSpeed);
            if (m.settings.TrafficSpeedAutoControll == kModeFreeChannel)
                AccumulateFreeChannel(m, i, cycle, run);
        }
    }

    std::vector<CycleAction> Divide() {
        Poll();
        return DivideChannel(m, cycle, run);
    }

    std::vector<Pair> Writes(const std::vector<CycleAction>& actions) {
        std::vector<Pair> out;
        for (const auto& a : actions)
            if (a.kind == CycleAction::kWrite) {
                int32_t i = m.FindUserById(a.write.userId, a.write.indexHint);
                EXPECT_EQ(i, a.write.indexHint);
                out.push_back(
                    {i < 0 ? u"?" : m.Users[i].UserName, a.write.in, a.write.out, a.write.mode});
            }
        return out;
    }
    std::vector<Pair> DivideWrites() { return Writes(Divide()); }

    // Stores the written limits as a successful mode-3 write does.
    void Apply(const std::vector<CycleAction>& actions) {
        for (const auto& a : actions)
            if (a.kind == CycleAction::kWrite) {
                CTiUserData& u = m.Users[m.FindUserById(a.write.userId)];
                u.LimitIn = a.write.in;
                u.LimitOut = a.write.out;
            }
    }

    static std::vector<Text> Lines(const std::vector<CycleAction>& actions, uint32_t flags) {
        std::vector<Text> out;
        for (const auto& a : actions)
            if (a.kind == CycleAction::kLog && a.flags == flags) out.push_back(a.text);
        return out;
    }

    std::vector<Text> OrderNames() {
        std::vector<Text> out;
        for (uint64_t id : m.DivisionOrder) out.push_back(m.Users[m.FindUserById(id)].UserName);
        return out;
    }

    ManualClock clock;
    Model m{clock};
    CycleState cycle;
    RunState run;
    std::set<uint64_t> asleep;
};

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

// ---- Mode 3: ratings from traffic ----

constexpr double kMB = 1048576.0;

TEST_F(DivisionTest, RatingsFallWithTrafficAndTakeEffectNextCycle) {
    Settings& s = m.settings;
    s.SpeedLimTraff_Mode = 1;
    s.SpeedLimTraff_StartKoeff = 100;
    s.SpeedLimTraff_EndKoeff = 25;
    s.SpeedLimTraff_SefeTraff = 100;
    s.SpeedLimTraff_MaxTraff = 500;
    Add(u"mid").RxTotal = 300 * kMB;
    Add(u"low").RxTotal = 50 * kMB;
    CTiUserData& off = Add(u"heavy");
    off.RxTotal = 500 * kMB;
    off.Online = 0;
    // This cycle's sums still hold the old ratings (1 + 1): both quotients exceed the width.
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"mid", 256, 64, 3}, {u"low", 256, 64, 3}}));
    EXPECT_FLOAT_EQ(U(u"mid").UserKTraff, 62.5f);
    EXPECT_FLOAT_EQ(U(u"low").UserKTraff, 100.0f);
    EXPECT_FLOAT_EQ(U(u"heavy").UserKTraff, 25.0f);
    EXPECT_EQ(U(u"heavy").UserLimitMaxIn, 0);
    // Next cycle the sum is 162.5.
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"mid", 98, 24, 3}, {u"low", 157, 39, 3}}));

    s.SpeedLimTraff_DnoLimitKbits = 40;
    Divide();
    EXPECT_EQ(U(u"heavy").UserLimitMaxIn, 40);
    EXPECT_EQ(U(u"heavy").UserLimitMaxOut, 40);
    EXPECT_EQ(U(u"mid").UserLimitMaxIn, 0);
}

TEST_F(DivisionTest, TrafficThresholdsOf2048MegabytesAndMoreWork) {
    Settings& s = m.settings;
    s.SpeedLimTraff_Mode = 1;
    s.SpeedLimTraff_StartKoeff = 100;
    s.SpeedLimTraff_EndKoeff = 25;
    s.SpeedLimTraff_SefeTraff = 3000;
    s.SpeedLimTraff_MaxTraff = 5000;
    Add(u"below").RxTotal = 1000 * kMB;
    Add(u"mid").RxTotal = 4000 * kMB;
    Add(u"above").RxTotal = 6000 * kMB;
    Divide();
    EXPECT_FLOAT_EQ(U(u"below").UserKTraff, 100.0f);
    EXPECT_FLOAT_EQ(U(u"mid").UserKTraff, 62.5f);
    EXPECT_FLOAT_EQ(U(u"above").UserKTraff, 25.0f);
}

// ---- Measurement ----

TEST_F(DivisionTest, MeasuredWidthIsBoundedAndLoggedBeforeTheWrites) {
    run.measurementArmed = true;
    m.settings.UserSleepTraffic = 5;
    Add(u"a", 1.0f, 0, 40.0);
    Add(u"b", 1.0f, 0, 40.0);
    Add(u"c", 1.0f, 0, 40.6);
    for (int k = 0; k < 10; ++k) {
        CTiUserData& w = Add((u"w" + Text(1, char16_t(u'0' + k))).c_str(), 1.0f, 0, 0.0);
        w.LimitIn = 100;  // the guard keeps the slow users' limits
    }
    auto actions = Divide();
    ASSERT_GE(actions.size(), 2u);
    // 3 + 120.6 shows as 124, but the width is truncated to 123, 41 each. The measurement
    // already holds what the slow users received: their 10 x 5 come out of the room the
    // channel has above it (256 - 123.6), not out of the active users' part, which would shrink
    // every cycle the limits hold.
    EXPECT_EQ(actions[0].text, u"Результат замера: 124 кбит/с.");
    EXPECT_EQ(actions[0].flags, LOG_INFO);
    EXPECT_EQ(actions[1].text, u"После коррекции: 124 кбит/с.");
    EXPECT_EQ(actions[1].flags, LOG_INFO);
    EXPECT_EQ(Writes(actions),
              (std::vector<Pair>{{u"a", 41, 21, 3}, {u"b", 41, 21, 3}, {u"c", 41, 21, 3}}));
    EXPECT_EQ(m.ServerRow.LimitIn, 123 + 50);
}

TEST_F(DivisionTest, MeasuredWidthLeavesTheActiveUsersAtLeastHalfOfTheChannel) {
    struct Case {
        double speeds;
        int32_t weak;
        uint32_t perUser;
        int32_t width;
    } cases[] = {
        // An office morning: a full channel, 70 x 32 reserved but at most half of 2048.
        {2045, 70, 32, 1024},
        // The next cycle measures the 1023 handed out plus 3: still 1024, not 513.
        {1023, 70, 32, 1024},
        // Room enough above the measurement: the whole measurement is divided.
        {500, 10, 32, 503},
        // Part of the reservation fits above it, the rest comes off the measurement.
        {1900, 10, 32, 1728},
        // Nobody reserved anything: the corrected measurement (here the minimum) is divided.
        {0, 0, 32, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.speeds);
        Settings s;
        s.RXMAXkbit = 2048;
        s.UserSleepTraffic = c.perUser;
        s.UseAutoChanalWithCorrection = 1;
        CycleState cs;
        AddMeasuredSpeed(cs, c.speeds);
        std::vector<CycleAction> lines;
        EXPECT_EQ(MeasuredWidthIn(s, cs, 3, c.weak, lines), c.width);
    }
}

TEST_F(DivisionTest, MeasurementCorrectionBounds) {
    struct Case {
        double speeds;
        int32_t active;
        uint32_t rxMax;
        int32_t minimum;
        const char16_t* measured;
        const char16_t* corrected;
        int32_t width;
    } cases[] = {
        {120, 3, 256, 64, u"123", u"123", 123},
        {400, 3, 256, 64, u"403", u"256", 256},
        {10, 2, 256, 64, u"12", u"64", 64},
        // A minimum above the maximum wins only for measurements up to the maximum.
        {50, 1, 100, 300, u"51", u"300", 300},
        {150, 1, 100, 300, u"151", u"100", 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.measured));
        Settings s;
        s.RXMAXkbit = c.rxMax;
        s.AutoZamer_minRXchanal = c.minimum;
        s.UseAutoChanalWithCorrection = 1;
        CycleState cs;
        AddMeasuredSpeed(cs, c.speeds / 2);
        AddMeasuredSpeed(cs, c.speeds / 2);
        std::vector<CycleAction> lines;
        EXPECT_EQ(MeasuredWidthIn(s, cs, c.active, 0, lines), c.width);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].text, u"Результат замера: " + Text(c.measured) + u" кбит/с.");
        EXPECT_EQ(lines[1].text, u"После коррекции: " + Text(c.corrected) + u" кбит/с.");
    }
}

TEST_F(DivisionTest, MeasurementLogsWithoutActiveUsersAndOnlyWhenArmed) {
    Add(u"a").Online = 0;
    run.measurementArmed = true;
    auto actions = Divide();
    EXPECT_EQ(Lines(actions, LOG_INFO).size(), 2u);
    EXPECT_TRUE(Writes(actions).empty());
    EXPECT_EQ(m.ServerRow.LimitIn, 256);

    // The switch, not the setting, decides; and only mode 3 measures.
    run.measurementArmed = false;
    m.settings.AutoMeasure = 1;
    EXPECT_TRUE(Divide().empty());
    run.measurementArmed = true;
    m.settings.TrafficSpeedAutoControll = 0;
    EXPECT_TRUE(Divide().empty());
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

// ---- Mode 1 ----

class FreeChannelTest : public DivisionTest {
  protected:
    FreeChannelTest() {
        m.settings.TrafficSpeedAutoControll = 1;
        m.settings.DOWNLOADER_USERNAME = u"dl";
        m.settings.Use_Sleepers_Traffic = 1;
    }
    void Limits(const char16_t* name, int32_t in, int32_t out) {
        U(name).LimitIn = in;
        U(name).LimitOut = out;
    }
};

TEST_F(FreeChannelTest, DownloadUserGetsWhatOtherOnlineUsersLeave) {
    Add(u"x");
    Add(u"dl");
    Add(u"off").Online = 0;
    Asleep(Add(u"sleeper"));
    Add(u"free");  // no limit: subtracts nothing
    Limits(u"x", 100, 20);
    Limits(u"dl", 10, 5);
    Limits(u"off", 50, 10);
    Limits(u"sleeper", 40, 8);
    auto actions = Divide();
    EXPECT_EQ(Writes(actions), (std::vector<Pair>{{u"dl", 156, 44, 1}}));
    EXPECT_TRUE(Lines(actions, LOG_WARN).empty());
    EXPECT_EQ(m.ServerRow.LimitIn, 256);
    EXPECT_EQ(m.ServerRow.LimitOut, 64);

    // Already at the free values: nothing.
    Limits(u"dl", 156, 44);
    EXPECT_TRUE(Divide().empty());

    // With sleepers' traffic off everyone online counts.
    m.settings.Use_Sleepers_Traffic = 0;
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"dl", 116, 36, 1}}));
}

TEST_F(FreeChannelTest, OverloadGivesOneOne) {
    Add(u"dl");
    Add(u"x");
    Limits(u"x", 300, 20);
    auto actions = Divide();
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(actions[0].kind, CycleAction::kLog);
    EXPECT_EQ(actions[0].flags, LOG_WARN);
    EXPECT_EQ(actions[0].text, u"Канал перегружен!");
    EXPECT_EQ(Writes(actions), (std::vector<Pair>{{u"dl", 1, 1, 1}}));

    // Exactly used up is not overloaded, but a limit of 0 would lift the download user's
    // limit altogether.
    Limits(u"x", 256, 20);
    actions = Divide();
    EXPECT_TRUE(Lines(actions, LOG_WARN).empty());
    EXPECT_EQ(Writes(actions), (std::vector<Pair>{{u"dl", 1, 44, 1}}));
}

TEST_F(FreeChannelTest, DownloadUserIsFoundOnceAndForgottenWhenRemoved) {
    Add(u"x");
    Add(u"dl").Online = 0;
    Limits(u"x", 100, 20);
    EXPECT_TRUE(Divide().empty());
    EXPECT_EQ(run.downloadUserId, 0u);

    U(u"dl").Online = 1;
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"dl", 156, 44, 1}}));
    uint64_t id = U(u"dl").Id;
    EXPECT_EQ(run.downloadUserId, id);

    // Offline again: held, but nothing is written.
    U(u"dl").Online = 0;
    EXPECT_TRUE(Divide().empty());
    EXPECT_EQ(run.downloadUserId, id);

    // Another name in the settings: the user found earlier still gets the channel.
    U(u"dl").Online = 1;
    m.settings.DOWNLOADER_USERNAME = u"nobody";
    Limits(u"dl", 0, 0);
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"dl", 156, 44, 1}}));

    // Removing the record forgets it, and a position never points at another user.
    m.RemoveUser(m.FindUserByName(u"x"));
    m.settings.DOWNLOADER_USERNAME = u"dl";
    U(u"dl").Online = 0;
    EXPECT_TRUE(Divide().empty());
    m.RemoveUser(m.FindUserByName(u"dl"));
    Add(u"y");
    EXPECT_TRUE(Divide().empty());
    EXPECT_EQ(run.downloadUserId, 0u);
}

TEST_F(DivisionTest, SummaryRowInOtherModes) {
    m.settings.TrafficSpeedAutoControll = 0;
    m.settings.UserSleepTraffic = 10;
    Add(u"slow", 1.0f, 0, 1.0);
    EXPECT_TRUE(Divide().empty());
    EXPECT_EQ(m.ServerRow.LimitIn, 266);
    EXPECT_EQ(m.ServerRow.LimitOut, 64);
}

}  // namespace
}  // namespace movra
