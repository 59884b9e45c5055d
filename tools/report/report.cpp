// movra_report: runs Movra's control cycle against TiSim's core for a number of cycles in
// simulated time and reports how well the channel division works for a scenario: the channel's
// utilisation, each active user's distance from the weighted fair share, and how many cycles
// the limits take to settle after a user starts or stops a download. An administrator uses it
// to try settings before touching a live server.
//
//   movra_report SCENARIO.tisim [--cfg Movra.cfg] [--cycles N] [--quiet]
//
// Without --cfg every user of the scenario is monitored in mode 3 with the scenario's channel
// as the configured width and each group's share taken from its summed limit, as the import
// sets it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "engine/control_thread.h"
#include "tisim/sim.h"

namespace movra {
namespace {

class ConsoleLink : public WindowLink {
  public:
    explicit ConsoleLink(bool verbose) : verbose_(verbose) {}
    void LogLine(uint32_t, const Text& text) override {
        if (verbose_) std::printf("    | %s\n", ToUtf8(text).c_str());
    }
    void RefreshTable() override {}
    void UsersChanged() override {}
    void ShowMessage(const Text& text) override {
        std::fprintf(stderr, "message: %s\n", ToUtf8(text).c_str());
    }

  private:
    bool verbose_;
};

struct Options {
    std::string scenario;
    std::string cfg;
    int cycles = 200;
    bool quiet = false;
    bool log = false;
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--cfg" && i + 1 < argc)
            o.cfg = argv[++i];
        else if (a == "--cycles" && i + 1 < argc)
            o.cycles = std::atoi(argv[++i]);
        else if (a == "--quiet")
            o.quiet = true;
        else if (a == "--log")
            o.log = true;
        else if (!a.empty() && a[0] != '-' && o.scenario.empty())
            o.scenario = a;
        else
            return false;
    }
    return !o.scenario.empty() && o.cycles > 0;
}

// Monitors every scenario user; groups get the share their summed limit is of the channel.
void ModelFromScenario(Model& m, const tisim::Scenario& sc) {
    Settings& s = m.settings;
    s.TrafficSpeedAutoControll = 3;
    s.RXMAXkbit = static_cast<uint32_t>(sc.channelIn);
    s.TXMAXkbit = static_cast<uint32_t>(sc.channelOut);
    for (const auto& g : sc.groups)
        m.SetGroupShare(m.FindOrAddGroup(g.name),
                        static_cast<float>(g.limitIn) / static_cast<float>(s.RXMAXkbit));
    for (const auto& u : sc.users) {
        const int32_t i = m.AddUserByName(u.name);
        if (i >= 0 && !u.group.empty()) m.User(i).UserGrID = m.FindOrAddGroup(u.group);
    }
}

// Weighted max-min fair shares: `width` divided by `weights`, nobody above its `caps`.
std::vector<double> WeightedFill(const std::vector<double>& weights,
                                 const std::vector<double>& caps, double width) {
    std::vector<double> got(weights.size(), 0.0);
    std::vector<bool> done(weights.size(), false);
    double left = width;
    for (;;) {
        double w = 0;
        for (size_t k = 0; k < weights.size(); ++k)
            if (!done[k]) w += weights[k];
        if (w <= 0 || left <= 0) break;
        bool capped = false;
        for (size_t k = 0; k < weights.size(); ++k)
            if (!done[k] && caps[k] <= left * weights[k] / w) {
                got[k] = caps[k];
                left -= caps[k];
                done[k] = capped = true;
            }
        if (capped) continue;
        for (size_t k = 0; k < weights.size(); ++k)
            if (!done[k]) got[k] = left * weights[k] / w;
        break;
    }
    return got;
}

struct Fair {
    Text name;
    double share = 0;  // kbit/s
};

// The incoming shares that the ratings and group shares ask for among the users Movra counts as
// active now, each capped by what the user wants; the width is the configured one less the
// weakly-active reservation. Shares outside 0..1 are taken at their nearest bound.
std::vector<Fair> FairShares(Model& m, const std::map<Text, tisim::UserState>& sim) {
    Model::Guard g(m);
    const Settings& s = m.settings;
    const GroupCounts counts = m.SumGroupCounts();
    const double width =
        static_cast<double>(s.RXMAXkbit) - static_cast<double>(s.UserSleepTraffic) * counts.weak;
    std::vector<Fair> out;
    for (int32_t gi = 0; gi < m.NumGroups; ++gi) {
        const Group& grp = m.Groups[gi];
        std::vector<double> weights, caps;
        std::vector<Text> names;
        for (int32_t i = 0; i < m.NumUsers; ++i) {
            const CTiUserData& u = m.Users[i];
            if (u.ActivityClass != kActive || u.UserGrID != grp.GroupID) continue;
            auto it = sim.find(u.UserName);
            names.push_back(u.UserName);
            weights.push_back(std::max(0.0f, u.UserKTraff));
            caps.push_back(it == sim.end() ? 0.0 : it->second.demand.in);
        }
        const double share = std::clamp(static_cast<double>(grp.GroupMaxIn), 0.0, 1.0);
        const std::vector<double> got = WeightedFill(weights, caps, width * share);
        for (size_t k = 0; k < names.size(); ++k) out.push_back({names[k], got[k]});
    }
    return out;
}

std::map<Text, tisim::UserState> SimUsers(const tisim::Simulator& sim) {
    std::map<Text, tisim::UserState> r;
    for (auto& u : sim.Users()) r.emplace(u.name, u);
    return r;
}

// Journal entries of limit writes since the journal was last cleared.
int CountLimitWrites(const tisim::Simulator& sim) {
    int n = 0;
    for (const std::string& line : sim.Journal())
        n += line.find(" SetProperty ") != std::string::npos &&
             line.find("Bandwidth") != std::string::npos;
    return n;
}

struct Change {
    Text user;
    std::string what;
    int cycle;  // first cycle that could see it
};

std::string DemandText(const tisim::UserState& u) {
    if (!u.online) return "offline";
    char b[64];
    std::snprintf(b, sizeof b, "%.0f/%.0f", u.demand.in, u.demand.out);
    return b;
}

int Run(const Options& o) {
    tisim::Scenario sc;
    try {
        sc = tisim::LoadScenarioFile(FromUtf8(o.scenario));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", o.scenario.c_str(), e.what());
        return 2;
    }
    sc.time = tisim::TimeMode::Manual;
    sc.journalPath.clear();

    ManualClock clock;
    const int64_t start = clock.Now();
    auto sim = std::make_shared<tisim::Simulator>(sc, clock);
    tisim::SimConnector connector(sim);
    Model m(clock);
    ConsoleLink link(o.log);
    if (!o.cfg.empty()) {
        {
            Model::Guard g(m);
            m.settings.ConfigFileName = FromUtf8(o.cfg);
        }
        if (!LoadConfig(m, link)) return 2;
    } else {
        Model::Guard g(m);
        ModelFromScenario(m, sc);
    }
    double dt = 1.5;
    {
        Model::Guard g(m);
        m.settings.AutoLoginPass = sc.password;
        dt = m.settings.RefreshTimer_msec / 1000.0;
        const Settings& s = m.settings;
        std::printf(
            "scenario %s: channel %.0f/%.0f kbit/s; Movra divides %u/%u kbit/s in mode %d, "
            "reuse %d, hard maxima %d, traffic ratings %d, measurement %d, reservation %u; "
            "%d users, %d groups; a cycle every %.3f s\n",
            o.scenario.c_str(), sc.channelIn, sc.channelOut, s.RXMAXkbit, s.TXMAXkbit,
            s.TrafficSpeedAutoControll, s.ReUseFreeChanal, s.UserMAXSpeedLimits,
            s.SpeedLimTraff_Mode, s.AutoMeasure, s.UserSleepTraffic, m.NumUsers, m.NumGroups - 1,
            dt);
    }
    if (dt <= 0) dt = 0.001;

    WorkerEvents events;
    events.idle.Set();
    ControlRun run(m, link, connector, events);
    run.ClaimSlot();
    if (!run.Start()) return 3;

    auto prev = SimUsers(*sim);
    std::vector<Fair> fair;
    std::vector<Change> pending;
    std::vector<int> settle;
    int unsettled = 0;
    double utilInSum = 0, utilOutSum = 0, devSum = 0;
    int utilCount = 0, devCount = 0;
    double devMax = 0;
    std::map<Text, std::pair<double, int>> perUser;

    if (!o.quiet)
        std::printf("%6s %8s %4s %4s %6s %7s %7s %8s %8s  %s\n", "cycle", "t, s", "act", "weak",
                    "writes", "in %", "out %", "dev avg", "dev max", "distance from fair share");
    for (int c = 1; c <= o.cycles; ++c) {
        sim->Advance(dt);
        clock.Set(start + static_cast<int64_t>(std::floor(sim->Now())));
        auto now = SimUsers(*sim);

        // Delivered over the interval, under the limits the previous cycle left.
        double in = 0, out = 0;
        std::map<Text, double> delivered;
        for (auto& [name, u] : now) {
            auto p = prev.find(name);
            if (p == prev.end()) continue;
            const double din = (u.rxBytes - p->second.rxBytes) * 8 / 1024 / dt;
            in += din;
            out += (u.txBytes - p->second.txBytes) * 8 / 1024 / dt;
            delivered[name] = din;
        }
        const double utilIn = in / sc.channelIn * 100, utilOut = out / sc.channelOut * 100;
        double cycleDevSum = 0, cycleDevMax = 0;
        int cycleDevCount = 0;
        std::string devText;
        for (const Fair& f : fair) {
            if (f.share < 1) continue;
            const double d = (delivered[f.name] - f.share) / f.share * 100;
            cycleDevSum += std::fabs(d);
            cycleDevMax = std::max(cycleDevMax, std::fabs(d));
            ++cycleDevCount;
            auto& pu = perUser[f.name];
            pu.first += std::fabs(d);
            ++pu.second;
            char b[96];
            std::snprintf(b, sizeof b, " %s%+.0f%%", ToUtf8(f.name).c_str(), d);
            devText += b;
        }
        if (c > 1) {
            utilInSum += utilIn;
            utilOutSum += utilOut;
            ++utilCount;
            devSum += cycleDevSum;
            devCount += cycleDevCount;
            devMax = std::max(devMax, cycleDevMax);
        }

        // Downloads that started or stopped (or users that came or went) since the last poll.
        for (auto& [name, u] : now) {
            auto p = prev.find(name);
            if (p == prev.end() || DemandText(p->second) == DemandText(u)) continue;
            std::string what = DemandText(p->second) + " -> " + DemandText(u);
            if (!o.quiet)
                std::printf("       t=%.1f %s: %s\n", sim->Now(), ToUtf8(name).c_str(),
                            what.c_str());
            pending.push_back({name, what, c});
        }

        sim->ClearJournal();
        if (!run.RunCycle()) {
            std::fprintf(stderr, "the control run ended in cycle %d\n", c);
            return 3;
        }
        const int writes = CountLimitWrites(*sim);
        if (writes == 0 && !pending.empty()) {
            for (const Change& ch : pending) settle.push_back(c - ch.cycle);
            pending.clear();
        }

        GroupCounts counts;
        {
            Model::Guard g(m);
            counts = m.SumGroupCounts();
        }
        if (!o.quiet) {
            if (c > 1)
                std::printf("%6d %8.1f %4d %4d %6d %7.1f %7.1f %8.1f %8.1f %s\n", c, sim->Now(),
                            counts.active, counts.weak, writes, utilIn, utilOut,
                            cycleDevCount ? cycleDevSum / cycleDevCount : 0.0, cycleDevMax,
                            devText.c_str());
            else
                std::printf("%6d %8.1f %4d %4d %6d  (first poll: no speeds yet)\n", c, sim->Now(),
                            counts.active, counts.weak, writes);
        }
        fair = FairShares(m, now);
        prev = std::move(now);
    }
    unsettled = static_cast<int>(pending.size());

    std::printf("\ntotal over %d cycles (%.0f s simulated):\n", o.cycles, o.cycles * dt);
    std::printf("  channel utilisation (delivered / width): in %.1f%%, out %.1f%%\n",
                utilCount ? utilInSum / utilCount : 0.0, utilOutSum / std::max(utilCount, 1));
    std::printf(
        "  distance of active users from the weighted fair share: mean %.1f%%, max %.1f%% "
        "(%d user-cycles)\n",
        devCount ? devSum / devCount : 0.0, devMax, devCount);
    for (auto& [name, pu] : perUser) {
        // Padded by characters, not by UTF-8 bytes, so Cyrillic names line up.
        const std::string pad(name.size() < 12 ? 12 - name.size() : 0, ' ');
        std::printf("    %s%s mean %.1f%% over %d cycles\n", ToUtf8(name).c_str(), pad.c_str(),
                    pu.first / pu.second, pu.second);
    }
    if (!settle.empty()) {
        std::vector<int> s = settle;
        std::sort(s.begin(), s.end());
        double mean = 0;
        for (int v : s) mean += v;
        mean /= static_cast<double>(s.size());
        std::printf(
            "  cycles until the limits settle after a change: mean %.2f, median %d, max %d "
            "(%zu changes",
            mean, s[s.size() / 2], s.back(), s.size());
        std::map<int, int> hist;
        for (int v : s) ++hist[v];
        std::printf("; by cycles:");
        for (auto& [k, n] : hist) std::printf(" %d:%d", k, n);
        std::printf(")\n");
    }
    if (unsettled) std::printf("  %d changes not settled when the run ended\n", unsettled);
    run.Stop();
    return 0;
}

}  // namespace
}  // namespace movra

int main(int argc, char** argv) {
    movra::Options o;
    if (!movra::ParseOptions(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: movra_report SCENARIO.tisim [--cfg Movra.cfg] [--cycles N] "
                     "[--quiet] [--log]\n");
        return 2;
    }
    return movra::Run(o);
}
