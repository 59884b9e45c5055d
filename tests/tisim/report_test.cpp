// The regulation report's figures on runs small enough to work out by hand.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "engine/borrowing.h"

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

// The reference must be right on its own before it can judge the product.
TEST(Report, FairSharesOnHandWorkedDivisions) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    auto expect = [](const std::vector<double>& got, const std::vector<double>& want) {
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-9) << i;
    };
    // Group 1 wants 10 of its 50; within group 0 ratings 1:3 and a cap of 20.
    expect(FairShares(100, {0.5, 0.5}, {{0, 1, inf}, {0, 3, inf}, {1, 1, 10}}), {22.5, 67.5, 10});
    // The cap stops A at 20; B (wanting 30) and C (weight 2) share the other 80 as 1:2.
    expect(FairShares(100, {1}, {{0, 1, inf, 20}, {0, 1, 30}, {0, 2, inf}}),
           {20, 80.0 / 3, 160.0 / 3});
    // Weight 0 takes only what the others leave, evenly; floors come first.
    expect(FairShares(100, {1}, {{0, 0, inf}, {0, 0, 10}, {0, 1, 50}}), {40, 10, 50});
    expect(FairShares(100, {1}, {{0, 1, inf, 0, 30}, {0, 3, inf}}), {30, 70});
    // Floors beyond the width: everybody keeps its floor; a share of 0 only borrows.
    expect(FairShares(10, {1}, {{0, 1, inf, 0, 8}, {0, 1, inf, 0, 8}}), {8, 8});
    expect(FairShares(100, {1, 0}, {{0, 1, 30}, {1, 1, inf}}), {30, 70});
}

// The product's division against the plain reference on random inputs. Both compute the same
// real-valued division, the product over sorted breakpoints and the reference by bisection, so
// they may differ only by rounding (about 1e-12 of the width); the tolerance, a millionth of the
// width, is far above that and far below the 1 kbit/s that a written limit resolves, while a
// wrong rule moves shares by whole kbit/s.
TEST(Report, ProductDivisionMatchesTheReferenceOnRandomInputs) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    std::mt19937 rng(20261209);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int run = 0; run < 2000; ++run) {
        const int groups = 1 + static_cast<int>(rng() % 5);
        std::vector<double> shares(groups);
        for (double& s : shares) s = unit(rng) < 0.2 ? 0.0 : unit(rng);
        std::vector<FairClaim> mine(1 + rng() % 30);
        std::vector<BorrowClaim> theirs;
        for (FairClaim& c : mine) {
            // Now and then a group beyond the shares or none at all.
            c.group = unit(rng) < 0.05 ? -1 : static_cast<int>(rng() % (groups + 1));
            c.weight = unit(rng) < 0.15 ? 0.0 : 0.1 + 9 * unit(rng);
            c.demand = unit(rng) < 0.25 ? inf : 800 * unit(rng);
            c.cap = unit(rng) < 0.3 ? 400 * unit(rng) : 0.0;
            c.floor = unit(rng) < 0.2 ? 60 * unit(rng) : 0.0;
            theirs.push_back({c.group, c.weight, c.demand, c.cap, c.floor});
        }
        const double width = unit(rng) < 0.05 ? 0.0 : 4000 * unit(rng);
        const std::vector<double> want = FairShares(width, shares, mine);
        const std::vector<double> got = DivideWithBorrowing(width, shares, theirs);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i)
            ASSERT_NEAR(got[i], want[i], 1e-6 * std::max(width, 1.0))
                << "run " << run << " claim " << i;
    }
}

}  // namespace
}  // namespace movra::report
