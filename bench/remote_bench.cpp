// The frames the service sends: a State of 2,000 users and 20 groups (each cycle, to every
// window), and a reply carrying a full channel history of 20 groups (an hour of seconds and a
// day of minutes, when a chart opens). Encoding, decoding, and the bytes of the body.
#include <benchmark/benchmark.h>

#include "remote/codec.h"
#include "sample_messages.h"

namespace {

using namespace movra;
using namespace movra::remote;

Message BigState() {
    return sample::StateOf(2000, 20);
}
Message FullHistory() {
    Reply r;
    r.id = 1;
    r.history = sample::History(3600, 1440, 20);
    return r;
}

void Encode(benchmark::State& state, const Message& m) {
    size_t bytes = 0;
    for (auto _ : state) {
        std::vector<uint8_t> body = EncodeBody(m);
        bytes = body.size();
        benchmark::DoNotOptimize(body.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void Decode(benchmark::State& state, const Message& m) {
    const std::vector<uint8_t> body = EncodeBody(m);
    for (auto _ : state) {
        DecodeError error;
        std::optional<Message> back = DecodeBody(body, error);
        if (!back) state.SkipWithError(error.what.c_str());
        benchmark::DoNotOptimize(back);
    }
    state.counters["bytes"] = static_cast<double>(body.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void EncodeState2000(benchmark::State& s) {
    Encode(s, BigState());
}
void DecodeState2000(benchmark::State& s) {
    Decode(s, BigState());
}
void EncodeHistoryDay(benchmark::State& s) {
    Encode(s, FullHistory());
}
void DecodeHistoryDay(benchmark::State& s) {
    Decode(s, FullHistory());
}
BENCHMARK(EncodeState2000)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeState2000)->Unit(benchmark::kMillisecond);
BENCHMARK(EncodeHistoryDay)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeHistoryDay)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
