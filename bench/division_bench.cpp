// Channel division for many users: the division alone under the lock, and a whole control
// cycle (polling, division, limit writes) against TiSim's core in process.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "core/window_link.h"
#include "engine/activity.h"
#include "engine/control_run.h"
#include "engine/division.h"
#include "engine/measurement.h"
#include "tisim/sim.h"

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
    const int64_t now = m.clock().Now();
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        CTiUserData& u = m.Users[i];
        AddMeasuredSpeed(cycle, u.RxSpeed);
        const ActivityClassValue c = ClassifyActivity({u.Online, now, u.RxSpeed}, m.settings, now);
        CountActivity(m, cycle, u, c);
        u.ActivityClass = c;
    }
}

void DivideChannelBench(benchmark::State& state, int borrowing) {
    Model m;
    Model::Guard g(m);
    FillModel(m, static_cast<int>(state.range(0)));
    m.settings.ChanalBorrowing = borrowing;
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
void BM_DivideChannel(benchmark::State& state) {
    DivideChannelBench(state, 0);
}
BENCHMARK(BM_DivideChannel)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
// The borrowing option: demand estimates, two weighted max-min divisions and the dead band.
void BM_DivideChannelBorrowing(benchmark::State& state) {
    DivideChannelBench(state, 1);
}
BENCHMARK(BM_DivideChannelBorrowing)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

class NullLink : public WindowLink {
  public:
    void LogLine(uint32_t, const Text&) override {}
    void RefreshTable() override {}
    void UsersChanged() override {}
    void ShowMessage(const Text&) override {}
};

// A cheap clock (the thread CPU clock costs a system call of over a microsecond, which would
// drown the 40,000 server calls of a cycle for 10,000 users).
double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Forwards to the simulator and adds up the time spent inside it, so that Movra's own share of
// a cycle can be told apart from the simulator's (whose name lookup is linear and which
// recomputes every user's rate after each limit write).
class TimedServer : public TiServer {
  public:
    TimedServer(std::unique_ptr<TiServer> inner, double& seconds)
        : inner_(std::move(inner)), seconds_(seconds) {}
    Variant ListUsers() override {
        return Timed([&] { return inner_->ListUsers(); });
    }
    void Login(const Text& p) override {
        Timed([&] { return (inner_->Login(p), 0); });
    }
    Variant GetUserInfo(const Text& name) override {
        return Timed([&] { return inner_->GetUserInfo(name); });
    }
    Variant GetProperty(int32_t kind, const Text& object, const Variant& property) override {
        return Timed([&] { return inner_->GetProperty(kind, object, property); });
    }
    void SetProperty(int32_t kind, const Text& object, const Variant& property,
                     const Variant& value) override {
        Timed([&] { return (inner_->SetProperty(kind, object, property, value), 0); });
    }

  private:
    template <class F>
    auto Timed(F&& f) -> decltype(f()) {
        struct Add {
            double& s;
            double t0 = Seconds();
            ~Add() { s += Seconds() - t0; }
        } add{seconds_};
        return f();
    }
    std::unique_ptr<TiServer> inner_;
    double& seconds_;
};

class TimedConnector : public TiConnector {
  public:
    TimedConnector(TiConnector& inner, double& seconds) : inner_(inner), seconds_(seconds) {}
    std::unique_ptr<TiServer> Connect(const Text& host) override {
        return std::make_unique<TimedServer>(inner_.Connect(host), seconds_);
    }

  private:
    TiConnector& inner_;
    double& seconds_;
};

// The whole control cycle against the simulator: one GetUserInfo and three GetProperty calls
// per user, the division and the writes. Ratings follow the growing traffic counters, so
// limits keep moving a little and some pairs are written in every cycle.
void BM_FullCycle(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    ManualClock clock;
    tisim::Scenario sc;
    sc.channelIn = 200000;
    sc.channelOut = 40000;
    for (int g = 1; g < 8; ++g) sc.groups.push_back({Fmt(u"group%d", g), 0});
    for (int i = 0; i < n; ++i) {
        tisim::UserSetup u;
        u.name = Fmt(u"user%05d", i);
        u.group = i % 8 ? Fmt(u"group%d", i % 8) : Text();
        u.rxBytes = (2 + i % 900) * 1048576.0;
        u.limitIn = 64;
        u.limitOut = 16;
        u.online = i % 20 != 0;
        if (i % 3) u.demand = {80, 20};
        sc.users.push_back(std::move(u));
    }
    auto sim = std::make_shared<tisim::Simulator>(sc, clock);
    tisim::SimConnector simConnector(sim);
    double simSeconds = 0;
    TimedConnector connector(simConnector, simSeconds);

    Model m(clock);
    {
        Model::Guard g(m);
        Settings& s = m.settings;
        s.AutoLoginPass = sc.password;
        s.TrafficSpeedAutoControll = 3;
        s.RXMAXkbit = 100000;
        s.TXMAXkbit = 20000;
        s.ReUseFreeChanal = 1;
        s.UserMAXSpeedLimits = 1;
        s.SpeedLimTraff_Mode = 1;
        s.SpeedLimTraff_SefeTraff = 1;
        s.SpeedLimTraff_MaxTraff = 1000;
        s.AutoMeasure = 1;
        s.UserSleepTraffic = 2;
        s.Use_Sleepers_Traffic = 0;
        s.RefreshTimer_msec = 1000;
        for (int g = 1; g < 8; ++g) m.SetGroupShare(m.FindOrAddGroup(Fmt(u"group%d", g)), 0.1f);
        for (int i = 0; i < n; ++i) {
            CTiUserData& u = m.User(m.AddUserByName(Fmt(u"user%05d", i)));
            u.UserGrID = i % 8;
            if (i % 7 == 0) u.UserLimitMaxIn = u.UserLimitMaxOut = 20 + i % 50;
        }
    }
    NullLink link;
    WorkerEvents events;
    events.idle.Set();
    ControlRun run(m, link, connector, events);
    run.ClaimSlot();
    if (!run.Start()) {
        state.SkipWithError("the simulator refused the login");
        return;
    }
    // Two cycles to get past the first poll and the first large round of writes.
    for (int k = 0; k < 2; ++k) {
        sim->Advance(1.0);
        clock.Advance(1);
        run.RunCycle();
    }
    // The reported time is Movra's own: the cycle less the time spent inside the simulator.
    double simTotal = 0;
    for (auto _ : state) {
        sim->Advance(1.0);
        clock.Advance(1);
        sim->ClearJournal();
        simSeconds = 0;
        const double t0 = Seconds();
        if (!run.RunCycle()) state.SkipWithError("the run ended");
        const double total = Seconds() - t0;
        state.SetIterationTime(total - simSeconds);
        simTotal += simSeconds;
    }
    state.counters["sim_ms"] =
        benchmark::Counter(simTotal * 1000, benchmark::Counter::kAvgIterations);
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_FullCycle)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace movra

BENCHMARK_MAIN();
