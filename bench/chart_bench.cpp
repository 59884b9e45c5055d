// The channel chart's history: one control cycle's summary added with 100 groups, and the views
// the chart draws from a full day of 20 groups, and the hour's view cut to the columns of a plot
// 940 pixels wide (the window's default size). MemoryAfterADay reports the bytes a day of 100
// groups holds against the stated bound.
#include <benchmark/benchmark.h>

#include "app/channel_history.h"
#include "ui/chart_columns.h"

namespace {

using namespace movra;
using namespace movra::chart;

constexpr int64_t kStart = 1796126400;

CycleSummary Summary(int groups) {
    CycleSummary s;
    s.widthIn = 20000;
    s.widthOut = 5000;
    for (int g = 0; g < groups; ++g) {
        GroupCycleFigures f;
        f.key = static_cast<uint64_t>(g + 1);
        f.name = Fmt(u"Отдел %d", g);
        f.rxSpeed = 10.0 * g + 1;
        f.txSpeed = 2.0 * g;
        f.limitIn = 100;
        f.limitOut = 50;
        s.groups.push_back(f);
    }
    return s;
}

// A day of cycles, one a second; returns the time of the last.
int64_t FillDay(ChannelHistory& h, CycleSummary& s) {
    for (int64_t t = 0; t < 86400; ++t) {
        s.at = {kStart + t, kStart + t};
        s.groups[t % s.groups.size()].rxSpeed = static_cast<double>(t % 997);
        h.Add(s);
    }
    return s.at.steady;
}

void AddCycle100Groups(benchmark::State& state) {
    ChannelHistory h;
    CycleSummary s = Summary(100);
    // Past the first hour every slot is reused, as in a long run.
    for (int64_t t = 0; t < 4000; ++t) {
        s.at = {kStart + t, kStart + t};
        h.Add(s);
    }
    int64_t t = s.at.steady;
    for (auto _ : state) {
        ++t;
        s.at = {t, t};
        s.groups[t % 100].rxSpeed = static_cast<double>(t % 997);
        h.Add(s);
    }
}
BENCHMARK(AddCycle100Groups)->Unit(benchmark::kMicrosecond);

void ShownView(benchmark::State& state, Range r) {
    ChannelHistory h;
    CycleSummary s = Summary(20);
    const int64_t now = FillDay(h, s);
    for (auto _ : state) {
        View v = h.Shown(r, {now, now});
        benchmark::DoNotOptimize(v.points.data());
    }
}
void Shown24Hours20Groups(benchmark::State& state) {
    ShownView(state, Range::k24Hours);
}
void Shown1Hour20Groups(benchmark::State& state) {
    ShownView(state, Range::k1Hour);
}
BENCHMARK(Shown24Hours20Groups)->Unit(benchmark::kMillisecond);
BENCHMARK(Shown1Hour20Groups)->Unit(benchmark::kMillisecond);

void PerColumn1Hour20Groups(benchmark::State& state) {
    ChannelHistory h;
    CycleSummary s = Summary(20);
    const int64_t now = FillDay(h, s);
    const View v = h.Shown(Range::k1Hour, {now, now});
    for (auto _ : state) {
        View r;
        benchmark::DoNotOptimize(PerColumn(v, 940, r));
        benchmark::DoNotOptimize(r.points.data());
    }
}
BENCHMARK(PerColumn1Hour20Groups)->Unit(benchmark::kMicrosecond);

void MemoryAfterADay100Groups(benchmark::State& state) {
    ChannelHistory h;
    CycleSummary s = Summary(100);
    FillDay(h, s);
    for (auto _ : state) benchmark::DoNotOptimize(h.MemoryBytes());
    state.counters["memory_MB"] = static_cast<double>(h.MemoryBytes()) / (1 << 20);
    state.counters["bound_MB"] = static_cast<double>(ChannelHistory::MaxBytes(100)) / (1 << 20);
}
BENCHMARK(MemoryAfterADay100Groups)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
