#include "engine/rating_division.h"

#include "engine/division_steps.h"

namespace movra {

bool DivideByRatings(Model& m, CycleState& cycle, const RunState& run, int32_t& widthIn,
                     std::vector<CycleAction>& actions) {
    const Settings& s = m.settings;
    WeakReservation reserve;
    const GroupCounts counts = StartDivision(m, cycle, run, widthIn, reserve, actions);

    if (counts.active == 0) return false;

    const IdIndex ids(m);
    PrepareWalk(m, ids);

    // The outgoing copy of a group's rating sum is only refreshed when an active user joins
    // the group; a group without active users this cycle must divide by 0, not by an earlier
    // cycle's sum.
    for (int32_t g = 0; g < m.NumGroups; ++g)
        if (m.Groups[g].ActiveCount == 0) m.Groups[g].KTraffLeft = 0.0f;

    const bool hardMaxima = s.UserMAXSpeedLimits != 0;
    double widthOut = static_cast<double>(s.TXMAXkbit);
    for (uint64_t id : m.DivisionOrder) {
        const int32_t i = ids.Find(id);
        if (i < 0) continue;
        const CTiUserData& u = m.Users[i];
        const int32_t gi = DivisionGroupOf(m, u);
        if (gi < 0) continue;
        Group& g = m.Groups[gi];
        const float share = g.GroupMaxIn;

        // A rating sum worn down to a tiny remainder by reuse, or 0, must not turn into an
        // undefined conversion: non-numbers give 1 and huge values are clamped.
        const float rateIn = u.UserKTraff / g.KTraffSum;
        const float partIn = static_cast<float>(widthIn) * share;
        int32_t in = TruncateToInt32(rateIn * partIn, 1);
        const float rateOut = u.UserKTraff / g.KTraffLeft;
        int32_t out = TruncateToInt32(rateOut * (share * widthOut), 1);

        // Only an active user's rating is in its group's sums and only its share is in the
        // width: a weakly-active user handing back what it never held would drive the sum
        // negative and strangle the users after it.
        const bool reuse = s.ReUseFreeChanal != 0 && u.ActivityClass == kActive;
        if (hardMaxima) {
            // The incoming subtraction comes before the clamp to the width below, so a user
            // whose maximum exceeds what is left gets only the remainder.
            if (u.UserLimitMaxIn > 0 && in > u.UserLimitMaxIn) {
                if (reuse) {
                    widthIn = SaturatingAdd(widthIn, -static_cast<int64_t>(u.UserLimitMaxIn));
                    g.KTraffSum -= u.UserKTraff;
                }
                in = u.UserLimitMaxIn;
            }
            if (u.UserLimitMaxOut > 0 && out > u.UserLimitMaxOut) {
                out = u.UserLimitMaxOut;
                if (reuse) {
                    widthOut -= out;
                    g.KTraffLeft -= u.UserKTraff;
                }
            }
        }
        WriteDivided(actions, s, run, u, i, ClampToWidths({in, out}, widthIn, s.TXMAXkbit),
                     reserve.each);
    }
    return true;
}

}  // namespace movra
