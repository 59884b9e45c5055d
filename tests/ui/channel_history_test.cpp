#include "app/channel_history.h"
#include "ui/chart_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <string>

#include "comma_locale.h"
#include "core/textfile.h"
#include "log/temp_dir.h"

namespace movra::chart {
namespace {

constexpr int64_t kT0 = 1796126400;  // 2026-12-01 12:00:00, the start of a minute
const DisplayUnit kKbit{1.0, u"кбит/с"};

// A stamp whose wall clock reads as the steady line.
ClockStamp S(int64_t t) {
    return {t, t};
}

struct G {
    uint64_t key;
    double in, out;
    const char16_t* name = nullptr;
};

CycleSummary Cycle(int64_t t, std::vector<G> groups, double widthIn = 2048, double widthOut = 512) {
    CycleSummary s;
    s.at = S(t);
    s.widthIn = widthIn;
    s.widthOut = widthOut;
    for (const G& g : groups) {
        GroupCycleFigures f;
        f.key = g.key;
        f.name = g.name ? Text(g.name) : Fmt(u"g%u", static_cast<unsigned>(g.key));
        f.rxSpeed = g.in;
        f.txSpeed = g.out;
        s.groups.push_back(f);
    }
    return s;
}

// The wall-clock date and minute that point `i` of `v` is named by.
std::string ClockText(const View& v, size_t i) {
    const SystemTime t = CivilTime(v.points.at(i).local);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d", t.wDay, t.wMonth, t.wYear, t.wHour,
                  t.wMinute);
    return buf;
}

const Point& At(const View& v, int64_t t) {
    size_t i = static_cast<size_t>((t - v.points.front().time) / v.step);
    EXPECT_LT(i, v.points.size());
    return v.points.at(i);
}

TEST(ChannelHistory, OneSamplePerSecondHeldBetweenCloseCyclesAndBrokenByGapsAndReconnects) {
    ChannelHistory h;
    h.Add(Cycle(kT0, {{1, 100, 10}}));
    // Two cycles in one second: the later one stands for it, widths included.
    h.Add(Cycle(kT0 + 2, {{1, 50, 5}}));
    h.Add(Cycle(kT0 + 2, {{1, 70, 7}}, 1000, 300));
    // More than kHoldSeconds without a cycle: a gap.
    h.Add(Cycle(kT0 + 2 + kHoldSeconds + 1, {{1, 30, 3}}));
    // A reconnect: the seconds before the next cycle are a gap even though it comes soon.
    h.MarkGap();
    const int64_t after = kT0 + 2 + kHoldSeconds + 3;
    h.Add(Cycle(after, {{1, 40, 4}}));

    View v = h.Shown(Range::k10Min, S(after + 2));
    ASSERT_EQ(v.points.size(), 600u);
    EXPECT_EQ(v.step, 1);
    EXPECT_EQ(v.points.back().time, after + 2);
    ASSERT_EQ(v.series.size(), 1u);
    EXPECT_TRUE(At(v, kT0 - 1).gap);
    EXPECT_FALSE(At(v, kT0).held);
    EXPECT_EQ(At(v, kT0).in[0], 100);
    EXPECT_TRUE(At(v, kT0 + 1).held);
    EXPECT_FALSE(At(v, kT0 + 1).gap);
    EXPECT_EQ(At(v, kT0 + 1).in[0], 100);  // the cycle before, not the one after
    EXPECT_EQ(At(v, kT0 + 2).in[0], 70);
    EXPECT_EQ(At(v, kT0 + 2).out[0], 7);
    EXPECT_EQ(At(v, kT0 + 2).widthIn, 1000);
    EXPECT_EQ(At(v, kT0 + 2).widthOut, 300);
    for (int64_t t = kT0 + 3; t <= kT0 + 2 + kHoldSeconds; ++t) EXPECT_TRUE(At(v, t).gap) << t;
    EXPECT_TRUE(At(v, after - 1).gap);
    EXPECT_FALSE(At(v, after).gap);
    // After the last cycle the chart holds it, for less than kHoldSeconds.
    EXPECT_TRUE(At(v, after + 2).held);
    View later = h.Shown(Range::k10Min, S(after + kHoldSeconds));
    EXPECT_TRUE(later.points.back().gap);
    // A reconnect after the last cycle ends its hold at once.
    h.MarkGap();
    EXPECT_TRUE(h.Shown(Range::k10Min, S(after + 1)).points.back().gap);
    // A cycle of a new control run breaks the line by itself.
    ChannelHistory runs;
    CycleSummary a = Cycle(kT0, {{1, 1, 1}}), b = Cycle(kT0 + 2, {{1, 2, 2}});
    a.run = 1;
    b.run = 2;
    runs.Add(a);
    runs.Add(b);
    EXPECT_TRUE(At(runs.Shown(Range::k10Min, S(kT0 + 2)), kT0 + 1).gap);
    // The hour view is the same seconds, further back.
    View hour = h.Shown(Range::k1Hour, S(after));
    ASSERT_EQ(hour.points.size(), 3600u);
    EXPECT_EQ(At(hour, kT0 + 2).in[0], 70);
}

TEST(ChannelHistory, MinuteBucketsKeepMinMeanMaxOverTheMinutesSeconds) {
    ChannelHistory h;
    // Group 1 every second of the first ten; group 2 only in three of them.
    for (int i = 0; i < 10; ++i) {
        std::vector<G> g = {{1, 10.0 * (i + 1), 1}};
        if (i < 3) g.push_back({2, 6, 60});
        CycleSummary s = Cycle(kT0 + i, g);
        s.measuredArmed = i >= 8;
        s.measuredIn = 1000 + i;
        h.Add(s);
    }
    // A repeat within the last second replaces it in the bucket instead of counting twice.
    h.Add(Cycle(kT0 + 9, {{1, 190, 1}}));
    h.Add(Cycle(kT0 + 65, {{1, 7, 7}}));

    MinuteFigures f;
    ASSERT_TRUE(h.Minute(kT0, 1, f));
    EXPECT_DOUBLE_EQ(f.minIn, 10);
    EXPECT_DOUBLE_EQ(f.maxIn, 190);
    EXPECT_DOUBLE_EQ(f.meanIn, 64);  // 10..90 and 190 over ten seconds
    EXPECT_DOUBLE_EQ(f.meanOut, 1);
    ASSERT_TRUE(h.Minute(kT0, 2, f));
    EXPECT_DOUBLE_EQ(f.minIn, 0);  // absent in seven seconds
    EXPECT_DOUBLE_EQ(f.maxOut, 60);
    EXPECT_DOUBLE_EQ(f.meanOut, 18);
    EXPECT_FALSE(h.Minute(kT0 + 60, 2, f));
    EXPECT_FALSE(h.Minute(kT0 - 60, 1, f));

    View day = h.Shown(Range::k24Hours, S(kT0 + 70));
    ASSERT_EQ(day.points.size(), 1440u);
    EXPECT_EQ(day.step, 60);
    EXPECT_EQ(day.points.back().time, kT0 + 60);
    const Point& p = At(day, kT0);
    ASSERT_FALSE(p.gap);
    EXPECT_DOUBLE_EQ(p.in[0], 64);
    EXPECT_DOUBLE_EQ(p.in[1], 1.8);
    EXPECT_TRUE(p.measured);
    EXPECT_DOUBLE_EQ(p.measuredIn, 1008);  // only the seconds with the measurement armed
    EXPECT_TRUE(At(day, kT0 - 60).gap);
    EXPECT_DOUBLE_EQ(day.points.back().in[0], 7);
}

TEST(ChannelHistory, AStampBeforeTheLastIsDroppedAndStartsNothingAfresh) {
    ChannelHistory h;
    h.Add(Cycle(kT0 + 100, {{1, 100, 1}}));
    h.Add(Cycle(kT0 + 90, {{1, 5, 5}}));
    View v = h.Shown(Range::k10Min, S(kT0 + 100));
    EXPECT_TRUE(At(v, kT0 + 90).gap);
    EXPECT_EQ(At(v, kT0 + 100).in[0], 100);

    // However far back, the history keeps what it holds.
    h.Add(Cycle(kT0 - 3600, {{2, 9, 9}}));
    View day = h.Shown(Range::k24Hours, S(kT0 + 100));
    ASSERT_EQ(day.series.size(), 1u);
    EXPECT_EQ(day.series[0].key, 1u);
    EXPECT_TRUE(At(day, kT0 - 3600).gap);
}

// The cycles of a control run one a second, stamped by `clock`, which moves on a second after
// each; `change` runs before cycle i.
void Cycles(ChannelHistory& h, ManualClock& clock, int n,
            const std::function<void(int)>& change = nullptr) {
    for (int i = 0; i < n; ++i) {
        if (change) change(i);
        CycleSummary s = Cycle(0, {{1, 100.0 + i, 1}});
        s.at = StampNow(clock);
        h.Add(s);
        clock.Advance(1);
    }
}

// The CSV rows' times, in order.
std::vector<std::string> CsvTimes(const View& v) {
    std::vector<std::string> times;
    const std::string csv = CsvBytes(v, kKbit);
    size_t at = csv.find("\r\n");  // after the header
    while (at != std::string::npos && at + 2 < csv.size()) {
        at += 2;
        times.push_back(csv.substr(at, csv.find(';', at) - at));
        at = csv.find("\r\n", at);
    }
    return times;
}

TEST(ChannelHistory, TheEndOfSummerTimeKeepsTheRepeatedHourAndNamesItTwice) {
    // 25.10.2026: the wall clock reads 02:30 summer time at 00:30 UTC and goes back from 03:00 to
    // 02:00 at 01:00 UTC.
    ManualClock clock(ManualClock::UtcToUnix({2026, 10, 0, 25, 0, 30, 0, 0}));
    clock.SetUtcOffset(7200);
    ChannelHistory h;
    Cycles(h, clock, 3600, [&](int i) {
        if (i == 1800) clock.SetUtcOffset(3600);
    });
    const ClockStamp now = StampNow(clock);
    const ClockStamp last = {now.steady - 1, now.local - 1};

    // Both halves stay, the repeated half-hour twice under the same names.
    View day = h.Full(Range::k24Hours, last);
    std::vector<std::string> minutes = CsvTimes(day);
    ASSERT_EQ(minutes.size(), 60u);
    EXPECT_EQ(minutes[0], "25.10.2026 02:30:00");
    EXPECT_EQ(minutes[29], "25.10.2026 02:59:00");
    EXPECT_EQ(minutes[30], "25.10.2026 02:00:00");
    EXPECT_EQ(minutes[59], "25.10.2026 02:29:00");
    EXPECT_DOUBLE_EQ(day.points.back().in[0], 100 + 3569.5);
    View hour = h.Full(Range::k1Hour, last);
    std::vector<std::string> seconds = CsvTimes(hour);
    ASSERT_EQ(seconds.size(), 3600u);
    EXPECT_EQ(seconds[0], "25.10.2026 02:30:00");
    EXPECT_EQ(seconds[1799], "25.10.2026 02:59:59");
    EXPECT_EQ(seconds[1800], "25.10.2026 02:00:00");
    EXPECT_EQ(seconds[3599], "25.10.2026 02:29:59");
    EXPECT_TRUE(
        std::none_of(hour.points.begin(), hour.points.end(), [](const Point& p) { return p.gap; }));

    // The time scale steps back where the clock did, once.
    std::vector<TimeMark> marks = TimeMarks(day, 600);
    ASSERT_EQ(std::count_if(marks.begin(), marks.end(), [](const TimeMark& m) { return m.jump; }),
              1);
    const auto jump =
        std::find_if(marks.begin(), marks.end(), [](const TimeMark& m) { return m.jump; });
    EXPECT_EQ(ClockText(day, jump->index), "25.10.2026 02:00");
    EXPECT_EQ(ClockText(day, jump->index - 1), "25.10.2026 02:59");
    EXPECT_EQ(jump->local, day.points[jump->index].local);
}

TEST(ChannelHistory, AClockSetBackTenMinutesLosesNothingAndTheLabelsJumpBack) {
    ManualClock clock(kT0);
    ChannelHistory h;
    Cycles(h, clock, 60, [&](int i) {
        if (i == 30) clock.Set(clock.Now() - 600);
    });
    View v = h.Full(Range::k10Min, StampNow(clock));
    std::vector<std::string> times = CsvTimes(v);
    ASSERT_EQ(times.size(), 60u);
    EXPECT_EQ(times[0], "01.12.2026 12:00:00");
    EXPECT_EQ(times[29], "01.12.2026 12:00:29");
    EXPECT_EQ(times[30], "01.12.2026 11:50:30");
    EXPECT_EQ(times[59], "01.12.2026 11:50:59");
    EXPECT_EQ(v.points.back().in[0], 159);
    EXPECT_EQ(TooltipText(v, v.points.size() - 2, kKbit).substr(0, 8), u"11:50:59");
    std::vector<TimeMark> marks = TimeMarks(v, 60);
    ASSERT_EQ(std::count_if(marks.begin(), marks.end(), [](const TimeMark& m) { return m.jump; }),
              1);
    const auto jump =
        std::find_if(marks.begin(), marks.end(), [](const TimeMark& m) { return m.jump; });
    EXPECT_EQ(v.points[jump->index].time, kT0 + 30);
    EXPECT_EQ(jump->local, kT0 + 30 - 600);

    // Set back once more with no cycle since: the seconds after the last cycle name the clock
    // as it reads now; those before keep their names.
    clock.Set(clock.Now() - 600);
    clock.Advance(2);
    const ClockStamp now = StampNow(clock);
    View later = h.Shown(Range::k10Min, now);
    EXPECT_EQ(later.points.back().local, now.local);
    EXPECT_EQ(At(later, kT0 + 59).local, kT0 + 59 - 600);
    EXPECT_EQ(CsvTimes(h.Full(Range::k10Min, now)), times);
}

TEST(ChannelHistory, GroupsComeGoAndTakeTheirLatestName) {
    ChannelHistory h;
    h.Add(Cycle(kT0, {{1, 1, 1, u"Отдел"}, {2, 2, 2, u"Склад"}}));
    h.Add(Cycle(kT0 + 1, {{1, 1, 1, u"Бухгалтерия"}, {3, 3, 3, u"Новая"}}));  // 2 deleted
    View v = h.Full(Range::k10Min, S(kT0 + 1));
    ASSERT_EQ(v.series.size(), 3u);
    EXPECT_EQ(v.series[0].name, u"Бухгалтерия");  // its earlier seconds too
    EXPECT_EQ(v.series[1].name, u"Склад");
    EXPECT_EQ(At(v, kT0).in[1], 2);
    EXPECT_EQ(At(v, kT0 + 1).in[1], 0);
    EXPECT_EQ(At(v, kT0).in[2], 0);
    EXPECT_EQ(At(v, kT0 + 1).in[2], 3);
    // A deleted group leaves the range with its seconds.
    EXPECT_EQ(h.Full(Range::k10Min, S(kT0 + 600)).series.size(), 2u);
    EXPECT_EQ(h.Full(Range::k24Hours, S(kT0 + 600)).series.size(), 3u);
}

TEST(ChannelHistory, LegendShowsTheElevenLargestAndMergesTheRestKeepingTheSums) {
    ChannelHistory h;
    std::vector<G> groups;
    for (uint64_t k = 1; k <= 14; ++k) groups.push_back({k, k == 3 ? 1.0 : 10.0 * k, 1});
    for (int i = 0; i < 5; ++i) h.Add(Cycle(kT0 + i, groups));
    View full = h.Full(Range::k10Min, S(kT0 + 4));
    View shown = h.Shown(Range::k10Min, S(kT0 + 4));
    ASSERT_EQ(full.series.size(), 14u);
    ASSERT_EQ(shown.series.size(), 12u);
    EXPECT_EQ(shown.series.back().key, kOthersKey);
    EXPECT_EQ(shown.series.back().name, u"Прочие");
    // The three smallest (3, 1, 2) are merged; the rest keep the order the groups were made in.
    std::vector<uint64_t> keys;
    for (const Series& s : shown.series) keys.push_back(s.key);
    EXPECT_EQ(keys, (std::vector<uint64_t>{4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0}));
    const Point& p = shown.points.back();
    EXPECT_EQ(p.in.back(), 1 + 10 + 20);
    EXPECT_EQ(std::accumulate(p.in.begin(), p.in.end(), 0.0),
              std::accumulate(full.points.back().in.begin(), full.points.back().in.end(), 0.0));
    // Colors follow the key, whichever view, and "Прочие" is apart from every group's.
    for (const Series& s : shown.series) EXPECT_EQ(s.rgb, SeriesColor(s.key));
    for (uint64_t a = 1; a <= 20; ++a) {
        EXPECT_NE(SeriesColor(a), SeriesColor(kOthersKey));
        for (uint64_t b = a + 1; b <= 20; ++b) EXPECT_NE(SeriesColor(a), SeriesColor(b));
    }
    // With room for every group there is no "Прочие".
    EXPECT_EQ(h.Shown(Range::k10Min, S(kT0 + 4), 14).series.size(), 14u);
}

TEST(ChannelHistory, MemoryStaysBoundedThroughADayOfGroupsAndAChurnOfKeys) {
    ChannelHistory h;
    std::vector<G> groups;
    for (uint64_t k = 1; k <= 100; ++k) groups.push_back({k, 10, 5});
    const int64_t day = 25 * 3600;
    for (int64_t t = 0; t < day; ++t) h.Add(Cycle(kT0 + t, groups));
    EXPECT_LE(h.MemoryBytes(), ChannelHistory::MaxBytes(100));
    EXPECT_LE(ChannelHistory::MaxBytes(100), 20u * 1024 * 1024);

    // Every minute the groups shift by one new key: over three days more keys than the
    // history may remember at once.
    uint64_t next = 101;
    int64_t t = kT0 + day;
    for (; t < kT0 + 4 * day; t += 60) {
        groups.erase(groups.begin());
        groups.push_back({next++, 10, 5});
        h.Add(Cycle(t, groups));
    }
    EXPECT_LE(h.MemoryBytes(), ChannelHistory::MaxBytes(100));
    // The newest key still gets its own series: the old ones aged out and made room.
    View v = h.Full(Range::k10Min, S(t - 60));
    EXPECT_EQ(v.series.back().key, next - 1);
    EXPECT_EQ(v.series.size(), 100u + 9);

    // A cycle with more groups than a sample keeps sums them into "Прочие".
    std::vector<G> many;
    for (uint64_t k = 0; k < 3000; ++k) many.push_back({next + k, 1, 0});
    h.Add(Cycle(t, many));
    View m = h.Shown(Range::k10Min, S(t), 3000);
    EXPECT_EQ(m.series.back().key, kOthersKey);
    const Point& p = m.points.back();
    EXPECT_EQ(std::accumulate(p.in.begin(), p.in.end(), 0.0), 3000);
    EXPECT_LE(h.MemoryBytes(), ChannelHistory::MaxBytes(3000));
}

TEST(ChannelHistory, TooltipNamesTheTimeEachSeriesAndTheTotalInTheTablesUnit) {
    ChannelHistory h;
    CycleSummary s = Cycle(kT0 + 5, {{1, 80, 16, u"Отдел"}, {2, 8, 0, u"Склад"}});
    s.measuredArmed = true;
    s.measuredIn = 1600;
    h.Add(s);
    View v = h.Shown(Range::k10Min, S(kT0 + 10));
    EXPECT_EQ(TooltipText(v, 599 - 5, DisplayUnit{8.0, u"кБайт/с"}),
              u"12:00:05\r\nВход / выход, кБайт/с\r\nОтдел: 10.0 / 2.0\r\nСклад: 1.0 / 0.0\r\n"
              u"Итого: 11.0 / 2.0\r\nШирина канала: 256.0 / 64.0\r\nЗамер входа: 200.0");
    EXPECT_EQ(TooltipText(v, 0, kKbit), u"11:50:11\r\nНет данных");
    EXPECT_EQ(TooltipText(v, 600, kKbit), u"");
    View day = h.Shown(Range::k24Hours, S(kT0 + 10));
    EXPECT_EQ(TooltipText(day, 1439, kKbit).rfind(u"01.12.2026 12:00, среднее за минуту\r\n", 0),
              0u);
}

TEST(ChannelHistory, CsvHasABomSemicolonsDecimalCommasAndQuotedNamesWhateverTheLocale) {
    testing::CommaLocale comma;
    ASSERT_TRUE(comma.ok());
    ChannelHistory h;
    h.Add(Cycle(kT0 + 1, {{1, 12.26, 3, u"A;B"}, {2, 1000, 0.5, u"Дом \"7\""}}));
    CycleSummary s = Cycle(kT0 + 3, {{1, 1.5, 2, u"A;B"}, {2, 0, 0, u"Дом \"7\""}});
    s.measuredArmed = true;
    s.measuredIn = 1999.96;
    h.Add(s);
    h.MarkGap();
    h.Add(Cycle(kT0 + 4, {{1, 0, 0, u"A;B"}}));
    View v = h.Full(Range::k10Min, S(kT0 + 5));
    const std::string expected =
        "\xEF\xBB\xBF"
        "Время;\"A;B (вход, кбит/с)\";\"A;B (выход, кбит/с)\";"
        "\"Дом \"\"7\"\" (вход, кбит/с)\";\"Дом \"\"7\"\" (выход, кбит/с)\";"
        "Ширина канала (вход, кбит/с);Ширина канала (выход, кбит/с);Замер входа (кбит/с)\r\n"
        "01.12.2026 12:00:01;12,3;3,0;1000,0;0,5;2048,0;512,0;\r\n"
        "01.12.2026 12:00:03;1,5;2,0;0,0;0,0;2048,0;512,0;2000,0\r\n"
        "01.12.2026 12:00:04;0,0;0,0;0,0;0,0;2048,0;512,0;\r\n";
    EXPECT_EQ(CsvBytes(v, kKbit), expected);
}

// Every figure of two views, so that a difference names its point.
void ExpectSameView(const View& a, const View& b) {
    ASSERT_EQ(a.series.size(), b.series.size());
    for (size_t i = 0; i < a.series.size(); ++i) {
        EXPECT_EQ(a.series[i].key, b.series[i].key);
        EXPECT_EQ(a.series[i].name, b.series[i].name);
        EXPECT_EQ(a.series[i].rgb, b.series[i].rgb);
    }
    ASSERT_EQ(a.points.size(), b.points.size());
    for (size_t i = 0; i < a.points.size(); ++i) {
        const Point &p = a.points[i], &q = b.points[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(p.time, q.time);
        EXPECT_EQ(p.local, q.local);
        EXPECT_EQ(p.gap, q.gap);
        EXPECT_EQ(p.held, q.held);
        EXPECT_EQ(p.in, q.in);
        EXPECT_EQ(p.out, q.out);
        EXPECT_EQ(p.widthIn, q.widthIn);
        EXPECT_EQ(p.widthOut, q.widthOut);
        EXPECT_EQ(p.measured, q.measured);
        EXPECT_EQ(p.measuredIn, q.measuredIn);
        if (::testing::Test::HasFailure()) return;
    }
}

void ExpectSameViews(const ChannelHistory& a, const ChannelHistory& b, int64_t now) {
    for (Range r : {Range::k10Min, Range::k1Hour, Range::k24Hours}) {
        SCOPED_TRACE(static_cast<int>(r));
        ExpectSameView(a.Shown(r, S(now), 4), b.Shown(r, S(now), 4));
        ExpectSameView(a.Full(r, S(now)), b.Full(r, S(now)));
    }
}

TEST(ChannelHistory, ExportedAndImportedItShowsTheSameAndGoesOnAlike) {
    ChannelHistory h;
    // 70 minutes of cycles every 2 s with six groups, a group that comes late, a reconnect, a
    // new run, a measurement armed for a while, the wall clock set back, two cycles in one second.
    int64_t t = kT0 - 70 * 60;
    for (int i = 0; t < kT0; ++i, t += 2) {
        std::vector<G> groups;
        for (uint64_t k = 1; k <= 6; ++k) groups.push_back({k, double(i % 50) * k, double(k)});
        if (i > 1000) groups.push_back({9, 5, 5, u"поздняя"});
        CycleSummary s = Cycle(t, groups);
        s.run = i < 1500 ? 1 : 2;
        s.measuredArmed = i % 300 < 100;
        s.measuredIn = 1500 + i;
        if (i > 1800) s.at.local = t - 3600;
        if (i == 600) h.MarkGap();
        h.Add(s);
    }
    h.Add(Cycle(t, {{1, 1, 1}, {2, 2, 2}}));
    h.Add(Cycle(t, {{1, 3, 3}}));

    ChannelHistory copy;
    copy.Add(Cycle(kT0 - 50000, {{77, 1, 1}}));  // whatever it held goes
    copy.Import(h.Export());
    ExpectSameViews(h, copy, t + 1);
    ExpectSameViews(h, copy, t + 3);  // the last cycle held

    // The same cycles after it: the minute in progress and the runs go on in both alike.
    for (int i = 0; i < 40; ++i) {
        CycleSummary s = Cycle(t + 1 + i, {{1, 4, 4}, {3, double(i), 1}, {12, 1, 1}});
        s.run = 2;
        h.Add(s);
        copy.Add(s);
    }
    ExpectSameViews(h, copy, t + 41);
    MinuteFigures a, b;
    ASSERT_TRUE(h.Minute(kT0, 1, a));
    ASSERT_TRUE(copy.Minute(kT0, 1, b));
    EXPECT_EQ(a.meanIn, b.meanIn);
    EXPECT_EQ(a.minIn, b.minIn);
    EXPECT_EQ(a.maxOut, b.maxOut);
}

TEST(ChannelHistory, ImportTrustsNothingItCannotPlace) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    HistoryData d;
    d.keys.push_back({1, Text(5000, u'я')});
    d.keys.push_back({1, u"дважды"});
    d.keys.push_back({kOthersKey, u"не Прочие"});
    for (uint64_t k = 100; k < 10100; ++k) d.keys.push_back({k, u"g"});
    HistorySecond s;
    s.time = kT0;
    s.widthIn = nan;
    s.widthOut = -inf;
    s.measured = true;
    s.measuredIn = inf;
    s.figures = {{1, float(nan), -5}, {1, 7, 7}, {424242, 9, 9}, {kOthersKey, float(inf), 2}};
    for (uint64_t k = 100; k < 5100; ++k) s.figures.push_back({k, 1, 1});
    d.seconds.push_back(s);
    s.figures = {{1, 3, 3}};
    for (int64_t bad :
         {kT0 - 5, kT0, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()}) {
        s.time = bad;
        d.seconds.push_back(s);
    }
    s.time = kT0 + 1;
    s.offset = std::numeric_limits<int64_t>::max();
    d.seconds.push_back(s);
    HistoryMinute m;
    m.minute = kT0;
    m.seconds = 2;
    m.measuredSeconds = 1000;
    m.measuredSum = nan;
    m.figures = {{1, 4000000000u, float(nan), float(inf), -1, 0, 0, 0}, {1, 1, 1, 1, 1, 1, 1, 1}};
    for (uint64_t k = 100; k < 5100; ++k) m.figures.push_back({k, 1, 1, 1, 1, 1, 1, 1});
    d.minutes.push_back(m);
    for (int64_t bad : {kT0 + 7, kT0 - 60, kT0 + 60}) {  // not a minute, out of order, empty
        m.minute = bad;
        m.seconds = bad == kT0 + 60 ? 0 : 1;
        d.minutes.push_back(m);
    }

    ChannelHistory h;
    h.Import(d);
    h.Add(Cycle(kT0 + 2, {{1, 10, 10}, {2, 20, 20}}));
    for (Range r : {Range::k10Min, Range::k1Hour, Range::k24Hours}) {
        View v = h.Full(r, S(kT0 + 3));
        for (const Series& x : v.series) EXPECT_LE(x.name.size(), 128u);
        for (const Point& p : v.points) {
            for (double x : p.in) EXPECT_TRUE(std::isfinite(x) && x >= 0);
            for (double x : p.out) EXPECT_TRUE(std::isfinite(x) && x >= 0);
            EXPECT_TRUE(std::isfinite(p.widthIn) && std::isfinite(p.measuredIn));
        }
    }
    View v = h.Full(Range::k10Min, S(kT0 + 3));
    const Point& first = At(v, kT0);
    ASSERT_FALSE(first.gap);
    EXPECT_EQ(first.widthIn, 0);
    EXPECT_EQ(first.measuredIn, 0);
    // The key's first figure stands; the unknown key is not shown.
    for (size_t i = 0; i < v.series.size(); ++i) {
        EXPECT_NE(v.series[i].key, 424242u);
        if (v.series[i].key == 1) {
            EXPECT_EQ(first.in[i], 0);
            EXPECT_EQ(At(v, kT0 + 2).in[i], 10);
        }
    }
    EXPECT_LE(h.MemoryBytes(), ChannelHistory::MaxBytes(5100));
    MinuteFigures f;
    ASSERT_TRUE(h.Minute(kT0, 1, f));
    EXPECT_TRUE(std::isfinite(f.meanIn) && std::isfinite(f.maxIn));
}

class FailingFileSystem : public PlatformFileSystem {
  public:
    bool failFlush = false;
    bool FlushAndClose(std::FILE* f) override {
        bool ok = PlatformFileSystem::FlushAndClose(f);
        return ok && !failFlush;
    }
};

TEST(ChannelHistory, SaveCsvWritesTheBytesOrReportsTheFailure) {
    testing::TempDir dir;
    const Text path = dir.File("канал.csv");
    FailingFileSystem fs;
    Text error;
    ASSERT_TRUE(SaveCsv("\xEF\xBB\xBFx;1,5\r\n", path, fs, error));
    EXPECT_EQ(ReadFileBytes(path), std::optional<std::string>("\xEF\xBB\xBFx;1,5\r\n"));
    fs.failFlush = true;
    EXPECT_FALSE(SaveCsv("other", path, fs, error));
    EXPECT_EQ(error, u"Ошибка записи в " + path);
    EXPECT_EQ(ReadFileBytes(path), std::optional<std::string>("\xEF\xBB\xBFx;1,5\r\n"));
    EXPECT_FALSE(SaveCsv("x", dir.File("нет/такой.csv"), fs, error));
    EXPECT_EQ(error, u"Ошибка создания файла " + dir.File("нет/такой.csv"));
}

}  // namespace
}  // namespace movra::chart
