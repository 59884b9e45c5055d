#include "core/text.h"

#include <gtest/gtest.h>

#include <clocale>

#include "comma_locale.h"
#include "core/clock.h"
#include "recording_link.h"

namespace movra {
namespace {

TEST(Text, Utf8RoundTripAndInvalidInput) {
    Text t = u"Подключаюсь к сервер \U0001F600";
    EXPECT_EQ(FromUtf8(ToUtf8(t)), t);
    EXPECT_EQ(FromUtf8("\xff"
                       "a"),
              u"\uFFFDa");
    EXPECT_EQ(FromUtf8("\xe2\x82"), u"\uFFFD\uFFFD");
    EXPECT_EQ(ToUtf8(Text(1, u'\xD800')), "\xEF\xBF\xBD");
}

TEST(Text, FormatsLikePrintf) {
    EXPECT_EQ(Fmt(u"%02d.%02d.%02d %d:%02d:%02d", 7, 12, 2026, 9, 5, 3), u"07.12.2026 9:05:03");
    EXPECT_EQ(Fmt(u"Изменение ограничения для %s на %d/%d кбит/с.", Text(u"вася"), 64, 192),
              u"Изменение ограничения для вася на 64/192 кбит/с.");
    EXPECT_EQ(Fmt(u"%.1f/%.1f", 32.0, 8.0), u"32.0/8.0");
    EXPECT_EQ(Fmt(u"%5.3f", 1.0), u"1.000");
    EXPECT_EQ(Fmt(u"%.0f", 122.5), u"122");
    EXPECT_EQ(Fmt(u"%.0f", 123.6), u"124");
    EXPECT_EQ(Fmt(u"%.*g", 15, 0.1f), u"0.100000001490116");
    EXPECT_EQ(Fmt(u"%u", 4294967295u), u"4294967295");
    EXPECT_EQ(Fmt(u"%d", -2147483647 - 1), u"-2147483648");
    EXPECT_EQ(Fmt(u"100%% %s", Text(u"%d")), u"100% %d");  // texts are never formats
    EXPECT_EQ(Fmt(u"%d %s"), u" ");                        // missing arguments give nothing
}

TEST(Text, NumbersIgnoreTheLocale) {
    testing::CommaLocale comma;
    if (!comma.ok()) GTEST_SKIP() << "no locale with a decimal comma on this machine";
    EXPECT_EQ(Fmt(u"%f", 0.25), u"0.250000");
    EXPECT_EQ(FixedText(2.5, 1), u"2.5");
    EXPECT_EQ(FixedText(1234.5, 1, u',', u' '), u"1 234,5");
}

TEST(Text, FixedTextRoundsLikePrintfAndWritesTheChosenMarks) {
    EXPECT_EQ(FixedText(122.5, 0), u"122");
    EXPECT_EQ(FixedText(0.05, 1), u"0.1");
    EXPECT_EQ(FixedText(-0.04, 1), u"-0.0");
    EXPECT_EQ(FixedText(2.5, 1, u','), u"2,5");
    // Grouping parts the whole digits only, after the sign and never inside the fraction.
    EXPECT_EQ(FixedText(1234567.891, 2, u',', u' '), u"1 234 567,89");
    EXPECT_EQ(FixedText(-12500, 0, u',', u' '), u"-12 500");
    EXPECT_EQ(FixedText(999, 0, u',', u' '), u"999");
    EXPECT_EQ(FixedText(100000, 0, u',', u' '), u"100 000");
}

TEST(Text, ClockTextWritesEachStyleInUse) {
    SystemTime t;
    t.wYear = 2026, t.wMonth = 12, t.wDay = 7, t.wHour = 9, t.wMinute = 5, t.wSecond = 3;
    EXPECT_EQ(ClockText(t), u"07.12.2026 09:05:03");
    EXPECT_EQ(ClockText(t, kLogClock), u"07.12.2026 9:05:03");
    EXPECT_EQ(ClockText(t, {.date = false}), u"09:05:03");
    EXPECT_EQ(ClockText(t, {.date = false, .seconds = false}), u"09:05");
    EXPECT_EQ(
        ClockText(t, {.padDay = false, .padHour = false, .padYear = false, .afterDate = u'/'}),
        u"7.12.2026/9:05:03");
    t.wYear = 999, t.wHour = 23;
    EXPECT_EQ(ClockText(t), u"07.12.0999 23:05:03");
    EXPECT_EQ(ClockText(t, kLogClock), u"07.12.999 23:05:03");
}

TEST(Text, TrimBlanks) {
    EXPECT_EQ(TrimBlanks(u" \t a b \r\n"), u"a b");
    EXPECT_EQ(TrimBlanks(u" \r\n"), u"");
}

TEST(ManualClockTest, ConvertsCalendarTimes) {
    SystemTime t = ManualClock::UnixToUtc(0);
    EXPECT_EQ(t.wYear, 1970);
    EXPECT_EQ(t.wDayOfWeek, 4);
    t = ManualClock::UnixToUtc(1796126400);
    EXPECT_EQ(t.wYear, 2026);
    EXPECT_EQ(t.wMonth, 12);
    EXPECT_EQ(t.wDay, 1);
    EXPECT_EQ(t.wHour, 12);
    EXPECT_EQ(t.wDayOfWeek, 2);
    EXPECT_EQ(ManualClock::UtcToUnix(t), 1796126400);
    EXPECT_EQ(ManualClock::UtcToUnix(ManualClock::UnixToUtc(-86400 * 365)), -86400 * 365);
}

// A wall clock whose milliseconds stand apart from the steady line's.
class SkewedClock : public ManualClock {
  public:
    int64_t skewMs = 0;
    int64_t SteadyMs() const override { return ManualClock::SteadyMs() - skewMs; }
};

TEST(ManualClockTest, StampsKeepTheWallClocksOffsetThroughSkewSetsAndZoneChanges) {
    SkewedClock c;
    c.SetUtcOffset(3 * 3600);
    const int64_t t = c.Now();
    // Less than half a second apart the lines read as one; the local second follows the steady.
    for (int64_t skew : {0, 300, 499, -499}) {
        c.skewMs = skew;
        for (int ms = 0; ms < 1000; ms += 250) {
            const ClockStamp s = StampNow(c);
            EXPECT_EQ(s.Offset(), 3 * 3600) << skew << " " << ms;
            c.AdvanceMs(250);
        }
    }
    c.skewMs = 0;
    const ClockStamp before = StampNow(c);
    EXPECT_EQ(before.steady, t + 4);
    c.Set(c.Now() - 600);  // a clock set moves the wall clock only
    c.SetUtcOffset(2 * 3600);
    const ClockStamp after = StampNow(c);
    EXPECT_EQ(after.steady, before.steady);
    EXPECT_EQ(after.local, before.local - 600 - 3600);
}

}  // namespace
}  // namespace movra
