// Channel division for many users: the division alone under the lock, and a whole control
// cycle (polling, division, limit writes) against TiSim's core in process.
#include <benchmark/benchmark.h>

#include <memory>

#include "engine/division.h"

namespace movra {
namespace {

// A model in mode 3 with reuse, traffic ratings and the measurement on: `n` users in eight
// groups, every tenth weakly active, every seventh with hard maxima.
void FillModel(Model& m, int n) {
    Settings& s = m.settings;
    s.TrafficSpeedAutoControll = 3;
    s.RXMAXkbit = 100000;
    s.TXMAXkbit = 20000;
    s.ReUseFreeChanal = 1;
    s.UserMAXSpeedLimits = 1;
    s.SpeedLimTraff_Mode = 1;
    s.UserSleepTraffic = 2;
    for (int g = 1; g < 8; ++g) m.SetGroupShare(m.FindOrAddGroup(Fmt(u"group%d", g)), 0.1f);
    for (int i = 0; i < n; ++i) {
        CTiUserData& u = m.Users[m.AddUserByName(Fmt(u"user%05d", i))];
        u.UserGrID = i % 8;
        u.Online = 1;
        u.RxSpeed = i % 10 == 0 ? 1.0 : 50.0 + i % 13;
        u.RxTotal = (i % 600) * 1048576.0;
        if (i % 7 == 0) u.UserLimitMaxIn = u.UserLimitMaxOut = 20 + i % 50;
    }
}

void Classify(Model& m, CycleState& cycle) {
    m.ResetGroupCycle();
    cycle = CycleState{};
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        CTiUserData& u = m.Users[i];
        AddMeasuredSpeed(cycle, u.RxSpeed);
        if (u.RxSpeed < m.settings.UserSleepTraffic) {
            u.ActivityClass = kWeaklyActive;
            ++m.Groups[m.FindGroupIndex(u.UserGrID)].WeakCount;
        } else {
            u.ActivityClass = kActive;
            m.AddActiveToGroup(u.UserGrID, u.UserKTraff);
        }
    }
}

void BM_DivideChannel(benchmark::State& state) {
    Model m;
    Model::Guard g(m);
    FillModel(m, static_cast<int>(state.range(0)));
    RunState run;
    run.measurementArmed = true;
    CycleState cycle;
    for (auto _ : state) {
        state.PauseTiming();
        Classify(m, cycle);
        // Every limit differs from the computed one, so every pair is written.
        for (int32_t i = 0; i < m.NumUsers; ++i) m.Users[i].LimitIn = m.Users[i].LimitOut = 0;
        state.ResumeTiming();
        benchmark::DoNotOptimize(DivideChannel(m, cycle, run));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DivideChannel)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace movra

BENCHMARK_MAIN();
