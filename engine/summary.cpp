#include "engine/summary.h"

namespace movra {

namespace {

double NonNegative(double v) {
    // A counter reset makes a speed negative; a non-number carries nothing either.
    return v > 0 ? v : 0.0;
}

}  // namespace

CycleSummary SummarizeCycle(const Model& m, const CycleState& cycle, const RunState& run) {
    CycleSummary s;
    s.at = StampNow(m.clock());
    s.groups.resize(static_cast<size_t>(m.NumGroups));
    for (int32_t g = 0; g < m.NumGroups; ++g) {
        const Group& gr = m.GroupAt(g);
        GroupCycleFigures& f = s.groups[static_cast<size_t>(g)];
        f.key = gr.Key;
        f.name = g == 0 && gr.GroupName.empty() ? Text(kNoGroupName) : gr.GroupName;
    }
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        const CTiUserData& u = m.User(i);
        // A user whose group is gone counts with group 0, so that the groups add up to the
        // channel's total.
        int32_t g = m.FindGroupIndex(u.UserGrID);
        GroupCycleFigures& f = s.groups[static_cast<size_t>(g < 0 ? 0 : g)];
        f.rxSpeed += NonNegative(u.RxSpeed);
        f.txSpeed += NonNegative(u.TxSpeed);
        f.limitIn += NonNegative(u.LimitIn);
        f.limitOut += NonNegative(u.LimitOut);
    }
    s.widthIn = m.settings.RXMAXkbit;
    s.widthOut = m.settings.TXMAXkbit;
    s.measuredArmed = run.measurementArmed && cycle.measured;
    s.measuredIn = s.measuredArmed ? cycle.measuredIn : 0;
    s.online = cycle.online;
    s.active = cycle.active;
    s.weak = cycle.weak;
    s.sleeping = cycle.sleeping;
    s.run = run.runNumber;
    return s;
}

}  // namespace movra
