#include "engine/activity.h"

namespace movra {

ActivityClassValue ClassifyActivity(const ActivityReading& r, const Settings& s, int64_t now) {
    if (r.online == 0) return kOffline;
    const bool asleep = r.lastActivity + s.UserSleep_TimeOut_sec < now;
    if (asleep && s.Use_Sleepers_Traffic) return kSleeping;
    if (r.rxSpeed < static_cast<double>(s.UserSleepTraffic)) return kWeaklyActive;
    return kActive;
}

void CountActivity(Model& m, CycleState& cycle, const CTiUserData& u, ActivityClassValue c) {
    if (c == kOffline) return;
    ++cycle.online;
    const int32_t gi = m.FindGroupIndex(u.UserGrID);
    switch (c) {
        case kSleeping:
            if (gi >= 0) ++m.Groups[gi].SleepCount;
            ++cycle.sleeping;
            break;
        case kWeaklyActive:
            if (gi >= 0) ++m.Groups[gi].WeakCount;
            ++cycle.weak;
            break;
        case kActive:
            ++cycle.active;
            m.AddActiveToGroup(u.UserGrID, u.UserKTraff);
            break;
        case kOffline:
            break;
    }
}

}  // namespace movra
