#pragma once
// The channel chart's memory: what the control cycles reported, one sample per second for the
// last hour and one-minute buckets (min, mean, max) for the last 24 hours, kept by whoever runs the
// engine, from connect to exit. Views cut out of it are what the chart draws, what its tooltip
// reads and what "Сохранить CSV..." writes. Samples are placed by steady seconds (ClockStamp),
// so that a clock set or the end of summer time loses nothing; each keeps the wall clock's
// reading, which names it in labels, the tooltip and the file, and shows a clock change as a
// jump of the named times.
#include <cstdint>
#include <string>
#include <vector>

#include "core/cycle_summary.h"
#include "core/file_system.h"
#include "core/text.h"

namespace movra::chart {

enum class Range : int32_t { k10Min = 0, k1Hour = 1, k24Hours = 2 };
// 600, 3600 or 86400.
int64_t RangeSeconds(Range r);
// "10 мин", "1 час", "24 часа".
const char16_t* RangeName(Range r);

// The merged series of the groups beyond the legend.
constexpr uint64_t kOthersKey = 0;
inline constexpr char16_t kOthersName[] = u"Прочие";

// A series' color: a fixed palette of colors told apart easily, picked by the key; grey for
// "Прочие".
uint32_t SeriesColor(uint64_t key);

// One area of the chart: a group, or "Прочие" (key kOthersKey) for the merged rest.
struct Series {
    uint64_t key = 0;
    Text name;
    uint32_t rgb = 0;  // 0xRRGGBB, stable for the key while the program runs
};

// One slot of a view: a second (10 min, 1 hour) or a minute (24 hours).
struct Point {
    int64_t time = 0;   // the slot's first steady second
    int64_t local = 0;  // the same second as the wall clock showed it (civil seconds)
    bool gap = true;    // no cycle fell in this slot (or a reconnect broke it)
    // A second without its own cycle between two cycles at most kHoldSeconds apart (or after
    // the last one, up to that age): it shows the cycle before, so that a refresh period longer
    // than a second does not cut the chart into stripes. Never a gap; the CSV file skips it.
    bool held = false;
    // Per series of the view, same order, kbit/s; the mean over a minute slot. Empty in a gap.
    std::vector<double> in, out;
    double widthIn = 0, widthOut = 0;
    bool measured = false;  // measuredIn is valid
    double measuredIn = 0;
};

// The longest distance between two cycles that the chart still draws as one line.
constexpr int64_t kHoldSeconds = 5;

// One group's figures in one minute bucket, kbit/s; the mean over the minute's seconds with a
// cycle (a second where the group was absent counts as 0, and so does the minimum then).
struct MinuteFigures {
    double minIn = 0, meanIn = 0, maxIn = 0;
    double minOut = 0, meanOut = 0, maxOut = 0;
};

struct View {
    Range range = Range::k10Min;
    int64_t step = 1;            // seconds per point
    std::vector<Series> series;  // stacking order, bottom first; legend order
    std::vector<Point> points;   // oldest first, one per slot of the range, gaps included
};

// Everything a history holds, as plain values, so that a window can show the history of an
// engine that runs in another process (the service).
struct HistoryKey {
    uint64_t key = 0;
    Text name;
};
struct HistoryFigure {
    uint64_t key = 0;
    float in = 0, out = 0;
};
struct HistorySecond {
    int64_t time = 0;    // the steady second
    int64_t offset = 0;  // what the wall clock showed then, less the steady second
    bool afterBreak = false;
    bool measured = false;
    double widthIn = 0, widthOut = 0, measuredIn = 0;
    std::vector<HistoryFigure> figures;
};
struct HistoryMinuteFigure {
    uint64_t key = 0;
    uint32_t seconds = 0;
    float minIn = 0, maxIn = 0, sumIn = 0, minOut = 0, maxOut = 0, sumOut = 0;
};
struct HistoryMinute {
    int64_t minute = 0;
    int64_t offset = 0;
    int32_t seconds = 0;
    int32_t measuredSeconds = 0;
    double measuredSum = 0, widthIn = 0, widthOut = 0;
    std::vector<HistoryMinuteFigure> figures;
};
struct HistoryData {
    std::vector<HistoryKey> keys;        // the names of the keys the samples use
    std::vector<HistorySecond> seconds;  // oldest first
    std::vector<HistoryMinute> minutes;  // oldest first
};

class ChannelHistory {
  public:
    ChannelHistory();
    ~ChannelHistory();
    ChannelHistory(const ChannelHistory&) = delete;
    ChannelHistory& operator=(const ChannelHistory&) = delete;

    // One cycle's figures. Cycles that fall in the same steady second are merged into one
    // sample: the later one stands for the second, speeds and widths alike. A steady second
    // before the last sample's (no clock of this history gives one) is dropped.
    void Add(const CycleSummary& s);
    // A reconnect: the next sample does not join the one before it. A cycle of another control
    // run (CycleSummary::run) does the same by itself.
    void MarkGap();

    // The minute bucket starting at steady second `minute` (a multiple of 60) for the group
    // `key`; false when the history holds none.
    bool Minute(int64_t minute, uint64_t key, MinuteFigures& out) const;

    // The range ending at `now`, with at most `legend` named series: the largest of the range by
    // their incoming and outgoing use, the rest merged as "Прочие".
    View Shown(Range r, const ClockStamp& now, size_t legend = 11) const;
    // The same range with every group as its own series (for the CSV file).
    View Full(Range r, const ClockStamp& now) const;

    // Everything it holds, and the same back into an empty or used history (replacing what it
    // held). Import takes untrusted values: what it cannot place is dropped, never trusted.
    HistoryData Export() const;
    void Import(const HistoryData& data);

    // The bytes the history holds now; never more than MaxBytes(groups) while no cycle brings
    // more than `groups` groups, whatever their keys.
    size_t MemoryBytes() const;
    static size_t MaxBytes(size_t groups);

  private:
    struct Impl;
    Impl* impl_;
};

// A mark of the time scale: the point it stands at and the wall-clock time it names.
struct TimeMark {
    size_t index = 0;
    int64_t local = 0;
    bool jump = false;  // the wall clock jumped here (a clock set, the end of summer time)
};
// The marks of `v` at every multiple of `every` seconds of wall-clock time, and one wherever the
// wall clock jumped by a minute or more, naming the time it jumped to.
std::vector<TimeMark> TimeMarks(const View& v, int64_t every);

}  // namespace movra::chart
