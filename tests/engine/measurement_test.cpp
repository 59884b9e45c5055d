#include "engine/measurement.h"

#include <gtest/gtest.h>

#include "core/log_flags.h"
#include "division_fixture.h"

namespace movra {
namespace {

// ---- Measurement ----

TEST_F(DivisionTest, MeasuredWidthIsBoundedAndLoggedBeforeTheWrites) {
    run.measurementArmed = true;
    m.settings.UserSleepTraffic = 5;
    Add(u"a", 1.0f, 0, 40.0);
    Add(u"b", 1.0f, 0, 40.0);
    Add(u"c", 1.0f, 0, 40.6);
    for (int k = 0; k < 10; ++k) {
        CTiUserData& w = Add((Text(u"w") + char16_t(u'0' + k)).c_str(), 1.0f, 0, 0.0);
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

}  // namespace
}  // namespace movra
