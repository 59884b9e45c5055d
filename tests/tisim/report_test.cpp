// The regulation report's figures on runs small enough to work out by hand.
#include <gtest/gtest.h>

#include "tools/report/metrics.h"
#include "tools/report/play.h"

namespace movra::report {
namespace {

// Mode 0 writes nothing, so the server's own limit (64 for A) and the channel decide what is
// delivered. Both wishes end in the middle of cycle 21's interval (30..31.5 s).
constexpr const char* kTwoUsers = R"(
channel 1024 256
user A ip=10.0.0.1 default=0 in=64 demand=100/20
user B ip=10.0.0.2 default=0 demand=300/0
at 30.75 A demand 0 0
at 30.75 B demand 0 0
)";

TEST(Report, FiguresOfAHandWorkedRun) {
    PlaySetup setup;
    setup.cycles = 40;
    setup.adjust = [](Model& m) { m.settings.TrafficSpeedAutoControll = 0; };
    PlayFigures f;
    ASSERT_EQ(Play(tisim::ParseScenario(kTwoUsers), setup, f, nullptr), 0);

    // Cycles 2..21 want 400 in and carry 64 + 300 (the half-wanted cycle 21 in the same ratio);
    // from cycle 22 nobody wants anything and those cycles are skipped.
    EXPECT_EQ(f.conservationCyclesIn, 20);
    EXPECT_EQ(f.conservationCyclesOut, 20);
    EXPECT_NEAR(f.conservationIn, 91.0, 1e-6);
    EXPECT_NEAR(f.conservationOut, 100.0, 1e-6);

    // Fair shares 100 and 300: A is 36% short in cycles 2..20 and 68% in cycle 21, where it
    // carries 32; B is exact, then 50% short. 40 user-cycles.
    EXPECT_EQ(f.borrowCount, 40u);
    EXPECT_NEAR(f.borrowMean, (19 * 36.0 + 68 + 50) / 40, 1e-6);
    EXPECT_NEAR(f.borrowP95, 36.0, 1e-6);
    EXPECT_NEAR(f.borrowMax, 68.0, 1e-6);
    EXPECT_EQ(f.writesPerCycle, 0.0);
}

TEST(Report, BorrowingReferenceFollowsSharesRatingsAndHardMaxima) {
    ManualClock clock;
    Model m(clock);
    Model::Guard g(m);
    m.settings.RXMAXkbit = 1000;
    const int32_t a = m.AddUserByName(u"A"), b = m.AddUserByName(u"B");
    const int32_t c = m.AddUserByName(u"C");
    m.User(b).UserKTraff = 3;
    const int32_t grp = m.FindOrAddGroup(u"G");
    m.SetGroupShare(grp, 0.25f);
    m.User(c).UserGrID = grp;
    (void)a;

    auto shares = [&](std::map<Text, double> want) {
        std::map<Text, double> r;
        for (const ReferenceShare& s : BorrowingReference(m, want)) r[s.name] = s.share;
        return r;
    };
    // G keeps its quarter; group 0 splits the rest 1:3.
    auto r = shares({{u"A", 1000}, {u"B", 1000}, {u"C", 1000}});
    EXPECT_NEAR(r[u"A"], 187.5, 1e-6);
    EXPECT_NEAR(r[u"B"], 562.5, 1e-6);
    EXPECT_NEAR(r[u"C"], 250, 1e-6);
    // G wants nothing: its quarter goes to group 0. A user wanting nothing has no share.
    r = shares({{u"A", 1000}, {u"B", 1000}, {u"C", 0}});
    EXPECT_EQ(r.count(u"C"), 0u);
    EXPECT_NEAR(r[u"A"], 250, 1e-6);
    EXPECT_NEAR(r[u"B"], 750, 1e-6);
    // B's hard maximum leaves the rest to A; with hard maxima off it does not count.
    m.User(b).UserLimitMaxIn = 300;
    r = shares({{u"A", 1000}, {u"B", 1000}});
    EXPECT_NEAR(r[u"A"], 700, 1e-6);
    EXPECT_NEAR(r[u"B"], 300, 1e-6);
    m.settings.UserMAXSpeedLimits = 0;
    r = shares({{u"A", 1000}, {u"B", 1000}});
    EXPECT_NEAR(r[u"B"], 750, 1e-6);
}

}  // namespace
}  // namespace movra::report
