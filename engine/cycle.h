#pragma once
// What one control run and one control cycle carry between polling, channel division,
// measurement and the limit writer.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "core/settings.h"
#include "core/text.h"

namespace movra {

// What the borrowing division remembers of an active user from one cycle to the next.
struct BorrowMemory {
    int32_t probesIn = 0;  // cycles in a row at the limit
    int32_t probesOut = 0;
};

// Thread-local state of one control run, kept across its cycles.
struct RunState {
    uint64_t runNumber = 0;         // distinct for every run of the program
    int32_t announcedMode = -1;     // the mode last announced
    bool firstCycle = true;         // on while the first cycle polls
    bool measurementArmed = false;  // incoming-channel measurement armed for this run
    uint64_t downloadUserId = 0;    // mode 1's download user (an identity), 0 = none
    // The borrowing division's users that were active in its last cycle, by identity: the
    // others are new to it (or gone) and start afresh.
    std::unordered_map<uint64_t, BorrowMemory> borrowing;
};

// Per-cycle working values, cleared at the start of every cycle.
struct CycleState {
    int32_t FreeIn = 0;  // mode 1's free channel
    int32_t FreeOut = 0;
    double speedSum = 0;  // sum of measured incoming speeds (kbit/s)
    int32_t online = 0, active = 0, weak = 0, sleeping = 0;
    double rxSum = 0, txSum = 0;
    bool measured = false;  // the incoming width was measured: measuredIn holds it (kbit/s)
    double measuredIn = 0;
};

// One pair of limits that channel division decided to write.
struct LimitWrite {
    uint64_t userId = 0;
    int32_t indexHint = -1;
    int32_t in = 0;
    int32_t out = 0;
    int32_t mode = kModeMonitoring;  // kModeFreeChannel or kModeDivision: decides the value
                                     // kind and the log lines
};

// Division runs under the lock and hands back what must happen afterwards, in order, without
// the lock: log lines and limit writes (which make server calls).
struct CycleAction {
    enum Kind { kLog, kWrite } kind = kLog;
    uint32_t flags = 0;
    Text text;
    LimitWrite write;
};

}  // namespace movra
