#include "engine/activity.h"

#include <gtest/gtest.h>

#include <cmath>

namespace movra {
namespace {

TEST(ActivityTest, ClassifiesAtTheBoundaries) {
    constexpr int64_t kNow = 1796126400;
    Settings s;
    s.UserSleep_TimeOut_sec = 20;
    s.UserSleepTraffic = 10;
    struct Case {
        const char* what;
        int32_t online;
        int64_t last;
        double speed;
        int32_t sleepers;
        ActivityClassValue expected;
    };
    const Case cases[] = {
        {"offline whatever else", 0, 0, 100.0, 1, kOffline},
        {"any non-zero state is online", 2, kNow, 100.0, 1, kActive},
        {"speed equal to the threshold", 1, kNow, 10.0, 1, kActive},
        {"speed just below the threshold", 1, kNow, 9.99, 1, kWeaklyActive},
        {"speed that is not a number", 1, kNow, std::nan(""), 1, kActive},
        {"idle exactly the time-out", 1, kNow - 20, 100.0, 1, kActive},
        {"idle one second longer", 1, kNow - 21, 100.0, 1, kSleeping},
        {"idle for ever", 1, 0, 0.0, 1, kSleeping},
        {"sleepers off: the speed decides", 1, 0, 100.0, 0, kActive},
        {"sleepers off, slow", 1, 0, 5.0, 0, kWeaklyActive},
    };
    for (const Case& c : cases) {
        s.Use_Sleepers_Traffic = c.sleepers;
        EXPECT_EQ(ClassifyActivity({c.online, c.last, c.speed}, s, kNow), c.expected) << c.what;
    }
}

TEST(ActivityTest, CountsGoToTheCycleAndTheUsersGroup) {
    ManualClock clock;
    Model m{clock};
    const int32_t office = m.FindOrAddGroup(u"office");
    const int32_t gi = m.FindGroupIndex(office);
    CycleState cycle;
    CTiUserData u;
    u.UserGrID = office;
    u.UserKTraff = 2.5f;
    for (ActivityClassValue c : {kOffline, kSleeping, kWeaklyActive, kActive, kActive})
        CountActivity(m, cycle, u, c);
    u.UserGrID = 99;  // a vanished group: counted in the cycle only
    CountActivity(m, cycle, u, kActive);

    EXPECT_EQ(cycle.online, 5);
    EXPECT_EQ(cycle.sleeping, 1);
    EXPECT_EQ(cycle.weak, 1);
    EXPECT_EQ(cycle.active, 3);
    const Group& g = m.Groups[gi];
    EXPECT_EQ(g.SleepCount, 1);
    EXPECT_EQ(g.WeakCount, 1);
    EXPECT_EQ(g.ActiveCount, 2);
    EXPECT_FLOAT_EQ(g.KTraffSum, 5.0f);
}

}  // namespace
}  // namespace movra
