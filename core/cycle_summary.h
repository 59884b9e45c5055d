#pragma once
// What one control cycle hands the window for the channel chart: only values the cycle already
// has, so the chart costs the server nothing.
#include <cstdint>
#include <vector>

#include "core/clock.h"
#include "core/text.h"

namespace movra {

// One group's figures for one cycle, all in kbit/s.
struct GroupCycleFigures {
    uint64_t key = 0;    // the group's Group::Key: stable while the program runs, never saved
    Text name;           // the group's name at this cycle
    double rxSpeed = 0;  // summed measured incoming speed of its users (negatives count as 0)
    double txSpeed = 0;
    double limitIn = 0;  // summed limits of its users after this cycle's writes
    double limitOut = 0;
};

struct CycleSummary {
    // When the cycle ended: the steady second places it in the history, so that a clock set or the
    // end of summer time loses nothing; the local time is what the chart prints for it.
    ClockStamp at;
    std::vector<GroupCycleFigures> groups;  // every group, group 0 first
    double widthIn = 0;                     // RXMAXkbit
    double widthOut = 0;                    // TXMAXkbit
    bool measuredArmed = false;             // the incoming-width measurement is armed
    double measuredIn = 0;                  // the measured incoming width, when armed
    int32_t online = 0, active = 0, weak = 0, sleeping = 0;
    // The control run (one connection) the cycle belongs to: a new run draws a gap in the
    // chart, as a reconnect should, even when nobody marked one. 0: unknown.
    uint64_t run = 0;
};

}  // namespace movra
