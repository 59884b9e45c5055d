// The log window's first rows of a 100,000-line log file, reading it whole, and one event line
// handled with its file append.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "core/clock.h"
#include "core/model.h"
#include "core/textfile.h"
#include "log/event_log.h"
#include "log/log_reader.h"

namespace {

using namespace movra;

std::filesystem::path ScratchDir() {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() /
                 ("movra-log-bench-" +
                  std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

Text FileName(const char* leaf) {
    auto p = (ScratchDir() / leaf).u16string();
    return Text(p.begin(), p.end());
}

// A log file of 100,000 typical lines, written once.
const Text& LongLog() {
    static const Text name = [] {
        Text n = FileName("long.log");
        Text body;
        for (int i = 0; i < 100000; ++i)
            body += Fmt(u"07.12.2026 9:05:03 Изменение ограничения для user%d на %d/%d кбит/с.\n",
                        i % 500, 64 + i % 900, 32 + i % 100);
        std::string bytes = "\xFF\xFE" + EncodeUtf16Lines(body);
        FILE* f = OpenFile(n, "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return n;
    }();
    return name;
}

void BM_FirstRowsOf100kLines(benchmark::State& state) {
    const Text& name = LongLog();
    for (auto _ : state) {
        LogFileReader r;
        r.Open(name);
        benchmark::DoNotOptimize(r.NextLines(static_cast<size_t>(state.range(0))));
    }
}
BENCHMARK(BM_FirstRowsOf100kLines)->Arg(2)->Arg(50)->Unit(benchmark::kMicrosecond);

void BM_AllRowsOf100kLines(benchmark::State& state) {
    const Text& name = LongLog();
    for (auto _ : state) {
        LogFileReader r;
        r.Open(name);
        size_t n = 0;
        while (!r.AtEnd()) n += r.NextLines(500).size();
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_AllRowsOf100kLines)->Unit(benchmark::kMillisecond);

void BM_OnLogLineWithFileAppend(benchmark::State& state) {
    ManualClock clock;
    Model model(clock);
    Text name = FileName("append.log");
    {
        Model::Guard g(model);
        model.settings.LogFileName = name;
    }
    EventLog log(model, clock);
    for (auto _ : state)
        benchmark::DoNotOptimize(log.OnLogLine(LOG_LIMIT, u"Изменение ограничения для u на 1/1"));
    RemoveFile(name);
}
BENCHMARK(BM_OnLogLineWithFileAppend)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
