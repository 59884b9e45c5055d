// Incoming-channel auto-measurement: mode 3 divides what the users really received in the last
// cycle, plus room to grow, instead of the configured width.
#include <cmath>

#include "core/log_flags.h"
#include "engine/division.h"

namespace movra {

void AddMeasuredSpeed(CycleState& cycle, double kbits) {
    cycle.SpeedSum += kbits;
}

int32_t MeasuredWidthIn(const Settings& s, CycleState& cycle, int32_t active, int32_t weak,
                        std::vector<CycleAction>& actions) {
    // The allowance is a 32-bit unsigned product, wrapping as the setting's type does.
    const uint32_t allowance = s.UseAutoChanalWithCorrection * static_cast<uint32_t>(active);
    double measured = static_cast<double>(allowance) + cycle.SpeedSum;
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

    const uint32_t reserved = s.UserSleepTraffic * static_cast<uint32_t>(weak);
    return TruncateToInt32(corrected - static_cast<double>(reserved), 1);
}

}  // namespace movra
