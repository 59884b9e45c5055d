#include "engine/measurement.h"

#include <algorithm>
#include <cmath>

#include "core/log_flags.h"
#include "engine/division_steps.h"

namespace movra {

void AddMeasuredSpeed(CycleState& cycle, double kbits) {
    cycle.speedSum += kbits;
}

int32_t MeasuredWidthIn(const Settings& s, CycleState& cycle, int32_t active, int32_t weak,
                        std::vector<CycleAction>& actions) {
    // The allowance is a 32-bit unsigned product, wrapping as the setting's type does.
    const uint32_t allowance = s.UseAutoChanalWithCorrection * static_cast<uint32_t>(active);
    double measured = static_cast<double>(allowance) + cycle.speedSum;
    // A NaN speed sum (counters the server reported as non-numbers) carries no information:
    // count only the allowance rather than dividing a non-number.
    if (std::isnan(measured)) measured = static_cast<double>(allowance);
    actions.push_back(
        {CycleAction::kLog, LOG_INFO, Fmt(u"Результат замера: %.0f кбит/с.", measured), {}});

    // The lower bound applies only when the upper one does not.
    double corrected = measured;
    if (measured > static_cast<double>(s.RXMAXkbit))
        corrected = static_cast<double>(s.RXMAXkbit);
    else if (static_cast<double>(s.AutoZamer_minRXchanal) > measured)
        corrected = static_cast<double>(s.AutoZamer_minRXchanal);
    actions.push_back(
        {CycleAction::kLog, LOG_INFO, Fmt(u"После коррекции: %.0f кбит/с.", corrected), {}});
    cycle.measured = true;
    cycle.measuredIn = corrected;

    const double reserved = static_cast<double>(ReserveForWeak(s, weak).total);
    const double room = std::max(0.0, static_cast<double>(s.RXMAXkbit) - corrected);
    return std::max(0, TruncateToInt32(corrected - std::max(0.0, reserved - room), 0));
}

}  // namespace movra
