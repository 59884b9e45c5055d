#include "engine/division.h"

// Placeholder until channel division lands: nothing is divided.
namespace movra {

void AccumulateFreeChannel(Model&, int32_t, CycleState&, RunState&) {}

void AddMeasuredSpeed(CycleState& cycle, double kbits) { cycle.SpeedSum += kbits; }

std::vector<CycleAction> DivideChannel(Model&, CycleState&, RunState&) { return {}; }

}  // namespace movra
