// Calls per second through TiSim's core: the cost of the simulator behind one poll.
#include <benchmark/benchmark.h>

#include "tisim/sim.h"

namespace {

using namespace tisim;

std::shared_ptr<Simulator> MakeSim(int users) {
    Scenario sc;
    sc.seed = 5;
    for (int i = 0; i < users; ++i) {
        UserSetup u;
        u.name = movra::Fmt(u"user%d", i);
        u.group = movra::Fmt(u"g%d", i % 3);
        u.randomDemand = true;
        u.limitIn = 256;
        u.defaultLimits = false;
        sc.users.push_back(u);
    }
    static movra::ManualClock clock;
    return std::make_shared<Simulator>(sc, clock);
}

void BM_GetUserInfo(benchmark::State& state) {
    auto sim = MakeSim(static_cast<int>(state.range(0)));
    auto s = SimConnector(sim).ConnectSession(u"h");
    s->Login(u"48213");
    const Text name = u"user0";
    for (auto _ : state) benchmark::DoNotOptimize(s->GetUserInfo(name));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetUserInfo)->Arg(12)->Arg(200);

void BM_GetProperty(benchmark::State& state) {
    auto sim = MakeSim(12);
    auto s = SimConnector(sim).ConnectSession(u"h");
    s->Login(u"48213");
    const Variant prop = movra::PropName(u"User_InBandwidth");
    for (auto _ : state) benchmark::DoNotOptimize(s->GetProperty(3, u"user5", prop));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetProperty);

void BM_SetProperty(benchmark::State& state) {
    auto sim = MakeSim(static_cast<int>(state.range(0)));
    auto s = SimConnector(sim).ConnectSession(u"h");
    s->Login(u"48213");
    const Variant prop = movra::PropName(u"User_InBandwidth");
    int32_t v = 1;
    for (auto _ : state) s->SetProperty(3, u"user5", prop, Variant::Int(v++ % 500 + 1));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SetProperty)->Arg(12)->Arg(200);

// One poll of one user as the control thread makes it: info, three properties.
void BM_PollUser(benchmark::State& state) {
    auto sim = MakeSim(12);
    auto s = SimConnector(sim).ConnectSession(u"h");
    s->Login(u"48213");
    const Variant out = movra::PropName(u"User_OutBandwidth"),
                  in = movra::PropName(u"User_InBandwidth"), act = movra::PropNumber(78);
    for (auto _ : state) {
        benchmark::DoNotOptimize(s->GetUserInfo(u"user3"));
        benchmark::DoNotOptimize(s->GetProperty(3, u"user3", out));
        benchmark::DoNotOptimize(s->GetProperty(3, u"user3", in));
        benchmark::DoNotOptimize(s->GetProperty(3, u"user3", act));
        sim->Advance(0.01);
    }
    state.SetItemsProcessed(state.iterations() * 4);
}
BENCHMARK(BM_PollUser);

}  // namespace

BENCHMARK_MAIN();
