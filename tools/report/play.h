#pragma once
// One report run: Movra's control cycle against TiSim's core in simulated time, with the
// figures the report prints gathered on the way.
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/model.h"
#include "core/text.h"
#include "tisim/sim.h"

namespace movra::report {

struct PlaySetup {
    std::string cfg;  // empty: every scenario user monitored in mode 3 (ModelFromScenario)
    int cycles = 200;
    bool log = false;                    // the run's log lines on `progress`
    std::function<void(Model&)> adjust;  // applied under the lock after the model is loaded
};

struct PlayFigures {
    std::string setup;  // one line: the channel and what Movra divides how
    int cycles = 0;
    double dt = 0;  // seconds between cycles
    // Delivered / configured width, mean over cycles 2.. (the first has no speeds yet).
    double utilIn = 0, utilOut = 0;
    double conservationIn = 0, conservationOut = 0;  // percent
    int conservationCyclesIn = 0, conservationCyclesOut = 0;
    // Distance from the share the ratings and group shares ask for among Movra's active users.
    double ratingMean = 0, ratingMax = 0;
    size_t ratingCount = 0;
    std::map<Text, std::pair<double, int>> ratingPerUser;  // summed distance, cycles
    // Distance from the weighted max-min fair share with borrowing of the true demands.
    double borrowMean = 0, borrowP95 = 0, borrowMax = 0;
    size_t borrowCount = 0;
    double writesPerCycle = 0;  // limit writes, mean over cycles 2..
    std::vector<int> settle;    // cycles each change took until a cycle wrote nothing
    int unsettled = 0;
};

// Monitors every scenario user; groups get the share their summed limit is of the channel.
void ModelFromScenario(Model& m, const tisim::Scenario& sc);

// Plays `sc` (its time made manual, its journal file dropped). Per-cycle lines go to `progress`
// when it is not null. Returns 0, 2 when the configuration cannot be read, 3 when the control
// run ends early.
int Play(tisim::Scenario sc, const PlaySetup& setup, PlayFigures& figures, std::FILE* progress);

}  // namespace movra::report
