#include "tools/report/play.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "config/config_file.h"
#include "engine/control_run.h"
#include "tools/report/metrics.h"

namespace movra::report {
namespace {

class ConsoleLink : public WindowLink {
  public:
    explicit ConsoleLink(std::FILE* lines) : lines_(lines) {}
    void LogLine(uint32_t, const Text& text) override {
        if (lines_) std::fprintf(lines_, "    | %s\n", ToUtf8(text).c_str());
    }
    void RefreshTable() override {}
    void UsersChanged() override {}
    void ShowMessage(const Text& text) override {
        std::fprintf(stderr, "message: %s\n", ToUtf8(text).c_str());
    }

  private:
    std::FILE* lines_;
};

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

// The incoming shares that the ratings and group shares ask for among the users Movra counts as
// active now, each capped by what the user wants; the width is the configured one less the
// weakly-active reservation. Shares outside 0..1 are taken at their nearest bound.
std::vector<ReferenceShare> RatingShares(Model& m, const std::map<Text, tisim::UserState>& sim) {
    const Settings& s = m.settings;
    const GroupCounts counts = m.SumGroupCounts();
    // The weakly-active users are held together to at most half of the channel.
    const double reserved = std::min(static_cast<double>(s.UserSleepTraffic) * counts.weak,
                                     std::floor(s.RXMAXkbit / 2.0));
    const double width = static_cast<double>(s.RXMAXkbit) - reserved;
    std::vector<ReferenceShare> out;
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

std::string DemandText(const tisim::UserState& u) {
    if (!u.online) return "offline";
    char b[64];
    std::snprintf(b, sizeof b, "%.0f/%.0f", u.demand.in, u.demand.out);
    return b;
}

constexpr double kKbitPerByte = 8.0 / 1024.0;

}  // namespace

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

int Play(tisim::Scenario sc, const PlaySetup& setup, PlayFigures& f, std::FILE* progress) {
    sc.time = tisim::TimeMode::Manual;
    sc.journalPath.clear();

    ManualClock clock;
    const int64_t start = clock.Now();
    auto sim = std::make_shared<tisim::Simulator>(sc, clock);
    tisim::SimConnector connector(sim);
    Model m(clock);
    ConsoleLink link(setup.log ? progress : nullptr);
    if (!setup.cfg.empty()) {
        {
            Model::Guard g(m);
            m.settings.ConfigFileName = FromUtf8(setup.cfg);
        }
        if (!LoadConfig(m, link)) return 2;
    } else {
        Model::Guard g(m);
        ModelFromScenario(m, sc);
    }
    double dt = 1.5;
    double widthIn = 0, widthOut = 0;
    {
        Model::Guard g(m);
        if (setup.adjust) setup.adjust(m);
        m.settings.AutoLoginPass = sc.password;
        dt = m.settings.RefreshTimer_msec / 1000.0;
        const Settings& s = m.settings;
        widthIn = s.RXMAXkbit;
        widthOut = s.TXMAXkbit;
        char b[512];
        std::snprintf(b, sizeof b,
                      "channel %.0f/%.0f kbit/s; Movra divides %u/%u kbit/s in mode %d, "
                      "borrowing %d, reuse %d, hard maxima %d, traffic ratings %d, measurement "
                      "%d, reservation %u; %d users, %d groups; a cycle every %.3f s",
                      sc.channelIn, sc.channelOut, s.RXMAXkbit, s.TXMAXkbit,
                      s.TrafficSpeedAutoControll, s.ChanalBorrowing, s.ReUseFreeChanal,
                      s.UserMAXSpeedLimits, s.SpeedLimTraff_Mode, s.AutoMeasure, s.UserSleepTraffic,
                      m.NumUsers, m.NumGroups - 1, dt);
        f.setup = b;
    }
    if (dt <= 0) dt = 0.001;
    f.dt = dt;
    f.cycles = setup.cycles;

    WorkerEvents events;
    events.idle.Set();
    ControlRun run(m, link, connector, events);
    run.ClaimSlot();
    if (!run.Start()) return 3;

    struct Change {
        Text user;
        int cycle;  // first cycle that could see it
    };
    auto prev = SimUsers(*sim);
    std::vector<ReferenceShare> ratingShares, borrowShares;
    std::vector<Change> pending;
    double utilInSum = 0, utilOutSum = 0;
    int utilCount = 0, writes = 0;
    ConservationMeter consIn, consOut;
    DistanceMeter rating, borrow;

    if (progress) std::fprintf(progress, "%s\n", f.setup.c_str());
    if (progress)
        std::fprintf(progress, "%6s %8s %4s %4s %6s %7s %7s %8s %8s  %s\n", "cycle", "t, s", "act",
                     "weak", "writes", "in %", "out %", "dev avg", "dev max",
                     "distance from fair share");
    for (int c = 1; c <= setup.cycles; ++c) {
        sim->Advance(dt);
        clock.Set(start + static_cast<int64_t>(std::floor(sim->Now())));
        auto now = SimUsers(*sim);

        // Delivered and wanted over the interval, under the limits the previous cycle left.
        double in = 0, out = 0, wantIn = 0, wantOut = 0;
        std::map<Text, double> delivered;
        for (auto& [name, u] : now) {
            auto p = prev.find(name);
            if (p == prev.end()) continue;
            const double din = (u.rxBytes - p->second.rxBytes) * kKbitPerByte / dt;
            in += din;
            out += (u.txBytes - p->second.txBytes) * kKbitPerByte / dt;
            wantIn += (u.wantedRxBytes - p->second.wantedRxBytes) * kKbitPerByte / dt;
            wantOut += (u.wantedTxBytes - p->second.wantedTxBytes) * kKbitPerByte / dt;
            delivered[name] = din;
        }
        const double utilIn = in / sc.channelIn * 100, utilOut = out / sc.channelOut * 100;
        double cycleDevSum = 0, cycleDevMax = 0;
        int cycleDevCount = 0;
        std::string devText;
        for (const ReferenceShare& r : ratingShares) {
            if (r.share < 1) continue;
            const double d = (delivered[r.name] - r.share) / r.share * 100;
            cycleDevSum += std::fabs(d);
            cycleDevMax = std::max(cycleDevMax, std::fabs(d));
            ++cycleDevCount;
            if (c > 1) {
                rating.Add(delivered[r.name], r.share);
                auto& pu = f.ratingPerUser[r.name];
                pu.first += std::fabs(d);
                ++pu.second;
            }
            char b[96];
            std::snprintf(b, sizeof b, " %s%+.0f%%", ToUtf8(r.name).c_str(), d);
            devText += b;
        }
        if (c > 1) {
            utilInSum += utilIn;
            utilOutSum += utilOut;
            ++utilCount;
            consIn.Add(in, widthIn, wantIn);
            consOut.Add(out, widthOut, wantOut);
            for (const ReferenceShare& r : borrowShares) borrow.Add(delivered[r.name], r.share);
        }

        // Downloads that started or stopped (or users that came or went) since the last poll.
        for (auto& [name, u] : now) {
            auto p = prev.find(name);
            if (p == prev.end() || DemandText(p->second) == DemandText(u)) continue;
            if (progress)
                std::fprintf(progress, "       t=%.1f %s: %s -> %s\n", sim->Now(),
                             ToUtf8(name).c_str(), DemandText(p->second).c_str(),
                             DemandText(u).c_str());
            pending.push_back({name, c});
        }

        sim->ClearJournal();
        if (!run.RunCycle()) {
            std::fprintf(stderr, "the control run ended in cycle %d\n", c);
            return 3;
        }
        const int cycleWrites = CountLimitWrites(*sim);
        if (c > 1) writes += cycleWrites;
        if (cycleWrites == 0 && !pending.empty()) {
            for (const Change& ch : pending) f.settle.push_back(c - ch.cycle);
            pending.clear();
        }

        std::map<Text, double> truth;
        for (auto& [name, u] : now)
            if (u.online) truth[name] = u.demand.in;
        GroupCounts counts;
        {
            Model::Guard g(m);
            counts = m.SumGroupCounts();
            ratingShares = RatingShares(m, now);
            borrowShares = BorrowingReference(m, truth);
        }
        if (progress) {
            if (c > 1)
                std::fprintf(progress, "%6d %8.1f %4d %4d %6d %7.1f %7.1f %8.1f %8.1f %s\n", c,
                             sim->Now(), counts.active, counts.weak, cycleWrites, utilIn, utilOut,
                             cycleDevCount ? cycleDevSum / cycleDevCount : 0.0, cycleDevMax,
                             devText.c_str());
            else
                std::fprintf(progress, "%6d %8.1f %4d %4d %6d  (first poll: no speeds yet)\n", c,
                             sim->Now(), counts.active, counts.weak, cycleWrites);
        }
        prev = std::move(now);
    }
    run.Stop();

    f.unsettled = static_cast<int>(pending.size());
    f.utilIn = utilCount ? utilInSum / utilCount : 0.0;
    f.utilOut = utilCount ? utilOutSum / utilCount : 0.0;
    f.conservationIn = consIn.Percent();
    f.conservationOut = consOut.Percent();
    f.conservationCyclesIn = consIn.Cycles();
    f.conservationCyclesOut = consOut.Cycles();
    f.ratingMean = rating.Mean();
    f.ratingMax = rating.Max();
    f.ratingCount = rating.Count();
    f.borrowMean = borrow.Mean();
    f.borrowP95 = borrow.Percentile(0.95);
    f.borrowMax = borrow.Max();
    f.borrowCount = borrow.Count();
    f.writesPerCycle = utilCount ? static_cast<double>(writes) / utilCount : 0.0;
    return 0;
}

}  // namespace movra::report
