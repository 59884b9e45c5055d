#pragma once
// The channel chart's figures of one control cycle, taken from what the cycle already holds: no
// server call of its own.
#include "core/cycle_summary.h"
#include "core/model.h"
#include "engine/cycle.h"

namespace movra {

// The name the chart gives group 0 while it has none.
inline constexpr char16_t kNoGroupName[] = u"Без группы";

// Per group (group 0 first) the summed speeds and limits of its users, the widths, the measured
// width when this cycle measured one, and the counts. Requires the lock; call it after the
// cycle's limit writes, so that the limits are those written.
CycleSummary SummarizeCycle(const Model& m, const CycleState& cycle, const RunState& run);

}  // namespace movra
