#pragma once
// Writing users' limits to the server: channel division's pairs, the limits entered by hand,
// and the exit action.
#include <cstdint>

#include "core/text.h"
#include "engine/cycle.h"
#include "engine/run_context.h"

namespace movra {

// The message shown and logged when a regulating write is refused.
Text RegulationFailureText(TextView user, TextView server);

// Writes one pair decided by channel division (mode 1: VT_I4, mode 3: VT_INT). A refused write
// shows the failure message, logs it and switches to monitoring mode. False when refused.
// Takes and lets go of the lock itself; call it without the lock.
bool ApplyLimits(RunContext& ctx, const LimitWrite& w);

// Writes a limit pair entered by hand for the user `id` (found again from `indexHint`), if one
// is pending, and clears it. Call it without the lock.
void ApplyManualChange(RunContext& ctx, uint64_t id, int32_t indexHint);

// The exit action chosen by BeforeQuit. Call it without the lock.
void RunExitAction(RunContext& ctx);

}  // namespace movra
