// movra_report: runs Movra's control cycle against TiSim's core for a number of cycles in
// simulated time and reports how well the channel division works for a scenario: how much of
// what the users want the channel carries, each user's distance from a fair share, how many
// limits are written and how many cycles the limits take to settle after a user starts or stops
// a download. An administrator uses it to try settings before touching a live server.
//
//   movra_report SCENARIO.tisim [--cfg Movra.cfg] [--cycles N] [--quiet] [--log]
//                [--borrowing 0|1 | --compare] [--save-cfg OUT.cfg]
//
// Without --cfg every user of the scenario is monitored in mode 3 with the scenario's channel
// as the configured width and each group's share taken from its summed limit, as the import
// sets it. --compare plays the scenario twice, the borrowing option off and on, and prints the
// figures side by side. --save-cfg writes the configuration the run would use with Movra's own
// writer and plays nothing.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "tools/report/play.h"

namespace movra {
namespace {

struct Options {
    std::string scenario;
    std::string cfg;
    std::string saveCfg;
    int cycles = 200;
    int borrowing = -1;  // -1: as the configuration says
    bool compare = false;
    bool quiet = false;
    bool log = false;
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--cfg" && i + 1 < argc)
            o.cfg = argv[++i];
        else if (a == "--save-cfg" && i + 1 < argc)
            o.saveCfg = argv[++i];
        else if (a == "--cycles" && i + 1 < argc)
            o.cycles = std::atoi(argv[++i]);
        else if (a == "--borrowing" && i + 1 < argc)
            o.borrowing = std::atoi(argv[++i]) != 0;
        else if (a == "--compare")
            o.compare = true;
        else if (a == "--quiet")
            o.quiet = true;
        else if (a == "--log")
            o.log = true;
        else if (!a.empty() && a[0] != '-' && o.scenario.empty())
            o.scenario = a;
        else
            return false;
    }
    return !o.scenario.empty() && o.cycles > 0 && !(o.compare && o.borrowing >= 0);
}

class StderrMessages : public MessagePort {
  public:
    void ShowMessage(const Text& text) override {
        std::fprintf(stderr, "message: %s\n", ToUtf8(text).c_str());
    }
};

struct Settle {
    double mean = 0;
    int max = 0;
};

Settle SettleOf(const std::vector<int>& settle) {
    Settle r;
    if (settle.empty()) return r;
    for (int v : settle) r.mean += v;
    r.mean /= static_cast<double>(settle.size());
    r.max = *std::max_element(settle.begin(), settle.end());
    return r;
}

void PrintFigures(const report::PlayFigures& f) {
    std::printf("\ntotal over %d cycles (%.0f s simulated):\n", f.cycles, f.cycles * f.dt);
    std::printf("  channel utilisation (delivered / width): in %.1f%%, out %.1f%%\n", f.utilIn,
                f.utilOut);
    // One line in exactly this form: scripts read it.
    std::printf("work conservation: in %.1f%%, out %.1f%%\n", f.conservationIn, f.conservationOut);
    std::printf(
        "  (delivered / min(width, summed demand of online users), mean over %d/%d cycles; "
        "cycles where that minimum is under 1 kbit/s skipped)\n",
        f.conservationCyclesIn, f.conservationCyclesOut);
    std::printf(
        "  distance of active users from the weighted fair share: mean %.1f%%, max %.1f%% "
        "(%zu user-cycles)\n",
        f.ratingMean, f.ratingMax, f.ratingCount);
    for (auto& [name, pu] : f.ratingPerUser) {
        // Padded by characters, not by UTF-8 bytes, so Cyrillic names line up.
        const std::string pad(name.size() < 12 ? 12 - name.size() : 0, ' ');
        std::printf("    %s%s mean %.1f%% over %d cycles\n", ToUtf8(name).c_str(), pad.c_str(),
                    pu.first / pu.second, pu.second);
    }
    std::printf(
        "  distance from the weighted max-min fair share with borrowing: mean %.1f%%, 95th "
        "percentile %.1f%%, max %.1f%% (%zu user-cycles)\n",
        f.borrowMean, f.borrowP95, f.borrowMax, f.borrowCount);
    std::printf("  limit writes per cycle: %.2f\n", f.writesPerCycle);
    if (!f.settle.empty()) {
        std::vector<int> s = f.settle;
        std::sort(s.begin(), s.end());
        std::printf(
            "  cycles until the limits settle after a change: mean %.2f, median %d, max %d "
            "(%zu changes",
            SettleOf(s).mean, s[s.size() / 2], s.back(), s.size());
        std::map<int, int> hist;
        for (int v : s) ++hist[v];
        std::printf("; by cycles:");
        for (auto& [k, n] : hist) std::printf(" %d:%d", k, n);
        std::printf(")\n");
    }
    if (f.unsettled) std::printf("  %d changes not settled when the run ended\n", f.unsettled);
}

void PrintComparison(const report::PlayFigures& off, const report::PlayFigures& on) {
    const Settle so = SettleOf(off.settle), sn = SettleOf(on.settle);
    std::printf("\n%-40s %10s %10s\n", "borrowing", "off", "on");
    auto row = [](const char* what, double a, double b, const char* format) {
        char x[32], y[32];
        std::snprintf(x, sizeof x, format, a);
        std::snprintf(y, sizeof y, format, b);
        std::printf("%-40s %10s %10s\n", what, x, y);
    };
    row("work conservation in, %", off.conservationIn, on.conservationIn, "%.1f");
    row("work conservation out, %", off.conservationOut, on.conservationOut, "%.1f");
    row("fair-share distance mean, %", off.borrowMean, on.borrowMean, "%.1f");
    row("fair-share distance 95th percentile, %", off.borrowP95, on.borrowP95, "%.1f");
    row("limit writes per cycle", off.writesPerCycle, on.writesPerCycle, "%.2f");
    // A run without changes has nothing to settle: a dash, not a perfect 0.
    auto settleRow = [](const char* what, const report::PlayFigures& a, double x,
                        const report::PlayFigures& b, double y, const char* format) {
        char tx[32] = "-", ty[32] = "-";
        if (!a.settle.empty()) std::snprintf(tx, sizeof tx, format, x);
        if (!b.settle.empty()) std::snprintf(ty, sizeof ty, format, y);
        std::printf("%-40s %10s %10s\n", what, tx, ty);
    };
    settleRow("cycles to settle, mean", off, so.mean, on, sn.mean, "%.2f");
    settleRow("cycles to settle, max", off, so.max, on, sn.max, "%.0f");
}

int SaveModel(const Options& o, const tisim::Scenario& sc) {
    ManualClock clock;
    Model m(clock);
    StderrMessages messages;
    if (!o.cfg.empty()) {
        {
            Model::Guard g(m);
            m.settings.ConfigFileName = FromUtf8(o.cfg);
        }
        if (!LoadConfig(m, messages)) return 2;
    } else {
        Model::Guard g(m);
        report::ModelFromScenario(m, sc);
    }
    {
        Model::Guard g(m);
        if (o.borrowing >= 0) m.settings.ChanalBorrowing = o.borrowing;
        m.settings.ConfigFileName = FromUtf8(o.saveCfg);
    }
    SaveConfig(m, messages);
    return 0;
}

int Run(const Options& o) {
    tisim::Scenario sc;
    try {
        sc = tisim::LoadScenarioFile(FromUtf8(o.scenario));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", o.scenario.c_str(), e.what());
        return 2;
    }
    if (!o.saveCfg.empty()) return SaveModel(o, sc);

    report::PlaySetup setup;
    setup.cfg = o.cfg;
    setup.cycles = o.cycles;
    setup.log = o.log;
    auto play = [&](int borrowing, report::PlayFigures& f) {
        setup.adjust = [borrowing](Model& m) {
            if (borrowing >= 0) m.settings.ChanalBorrowing = borrowing;
        };
        const int rc = report::Play(sc, setup, f, o.quiet || o.compare ? nullptr : stdout);
        if (rc == 0) {
            std::printf("\nscenario %s: %s\n", o.scenario.c_str(), f.setup.c_str());
            PrintFigures(f);
        }
        return rc;
    };
    if (!o.compare) {
        report::PlayFigures f;
        return play(o.borrowing, f);
    }
    report::PlayFigures off, on;
    if (const int rc = play(0, off)) return rc;
    if (const int rc = play(1, on)) return rc;
    PrintComparison(off, on);
    return 0;
}

}  // namespace
}  // namespace movra

int main(int argc, char** argv) {
    movra::Options o;
    if (!movra::ParseOptions(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: movra_report SCENARIO.tisim [--cfg Movra.cfg] [--cycles N] "
                     "[--quiet] [--log] [--borrowing 0|1 | --compare] [--save-cfg OUT.cfg]\n");
        return 2;
    }
    return movra::Run(o);
}
