#include "engine/traffic_ratings.h"

#include <gtest/gtest.h>

#include "division_fixture.h"

namespace movra {
namespace {

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

}  // namespace
}  // namespace movra
