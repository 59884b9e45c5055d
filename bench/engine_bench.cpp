// One control cycle without the pause, in monitoring mode, against TiSim's core in process;
// and the same server calls alone, so the engine's own share per user can be told apart.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "engine/control_run.h"
#include "tisim/sim.h"

namespace {

using namespace movra;

class NullLink : public WindowLink {
  public:
    void LogLine(uint32_t, const Text&) override {}
    void RefreshTable() override {}
    void UsersChanged() override {}
    void ShowMessage(const Text&) override {}
};

Text NameOf(int k) {
    return u"user" + FromUtf8(std::to_string(k));
}

std::shared_ptr<tisim::Simulator> MakeSim(int users, const Clock& clock) {
    tisim::Scenario sc;
    for (int k = 0; k < users; ++k) {
        tisim::UserSetup u;
        u.name = NameOf(k);
        u.ip = u"10.0.0.1";
        u.rxBytes = 1000;
        u.demand = {k % 3 ? 10.0 : 0.0, 1.0};
        sc.users.push_back(u);
    }
    return std::make_shared<tisim::Simulator>(sc, clock);
}

void BM_ControlCycle(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    ManualClock clock;
    auto sim = MakeSim(n, clock);
    tisim::SimConnector connector(sim);
    Model m(clock);
    NullLink link;
    WorkerEvents ev;
    ev.idle.Set();
    {
        Model::Guard g(m);
        m.settings.AutoLoginPass = u"48213";
        m.settings.TrafficSpeedAutoControll = 0;
        for (int k = 0; k < n; ++k) m.AddUserByName(NameOf(k));
    }
    ControlRun run(m, link, connector, ev);
    run.ClaimSlot();
    if (!run.Start()) {
        state.SkipWithError("no connection");
        return;
    }
    run.RunCycle();  // the first cycle's extra writes stay out of the figure
    for (auto _ : state) {
        if (!run.RunCycle()) state.SkipWithError("cycle failed");
    }
    state.counters["per_user_ns"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}
BENCHMARK(BM_ControlCycle)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The simulator's own cost of the same calls: one GetUserInfo and three GetProperty a user.
void BM_SimulatorCallsOnly(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    ManualClock clock;
    auto sim = MakeSim(n, clock);
    tisim::SimConnector connector(sim);
    auto server = connector.Connect(u"host");
    server->Login(u"48213");
    std::vector<Text> names;
    for (int k = 0; k < n; ++k) names.push_back(NameOf(k));
    for (auto _ : state) {
        for (const Text& name : names) {
            benchmark::DoNotOptimize(server->GetUserInfo(name));
            benchmark::DoNotOptimize(
                server->GetProperty(kKindUser, name, PropName(u"User_OutBandwidth")));
            benchmark::DoNotOptimize(
                server->GetProperty(kKindUser, name, PropName(u"User_InBandwidth")));
            benchmark::DoNotOptimize(server->GetProperty(kKindUser, name, PropNumber(78)));
        }
    }
    state.counters["per_user_ns"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}
BENCHMARK(BM_SimulatorCallsOnly)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
