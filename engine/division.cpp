// Channel division: the cycle's overload check, the division of the current mode and the
// summary row. Mode 1 gives one user whatever the other online users leave free; mode 3 divides
// the channel among the active users by rating inside their groups' shares, with or without
// borrowing.
#include "engine/division.h"

#include <algorithm>
#include <limits>

#include "core/log_flags.h"
#include "engine/borrowing.h"
#include "engine/division_steps.h"
#include "engine/rating_division.h"

namespace movra {

namespace {

void GiveFreeChannel(Model& m, const CycleState& cycle, const RunState& run,
                     std::vector<CycleAction>& actions) {
    if (run.downloadUserId == 0) return;
    const int32_t i = m.FindUserById(run.downloadUserId);
    if (i < 0) return;
    const CTiUserData& u = m.Users[i];
    if (!u.Online) return;
    if (u.StartLimitsRun != run.runNumber) return;  // its own limits not read yet in this run
    // A channel used up exactly leaves 0, which on the server would lift the limit altogether.
    const int32_t in = std::max(cycle.FreeIn, 1);
    const int32_t out = std::max(cycle.FreeOut, 1);
    if (u.LimitIn == in && u.LimitOut == out) return;
    PushWrite(actions, u, i, in, out, kModeFreeChannel);
}

}  // namespace

void AccumulateFreeChannel(Model& m, int32_t userIndex, CycleState& cycle, RunState& run) {
    const CTiUserData& u = m.User(userIndex);
    if (u.UserName == m.settings.DOWNLOADER_USERNAME) {
        if (u.Online) run.downloadUserId = u.Id;
        return;
    }
    if (!u.Online) return;
    if (m.settings.Use_Sleepers_Traffic && u.ActivityClass == kSleeping) return;
    cycle.FreeIn = SaturatingAdd(cycle.FreeIn, -static_cast<int64_t>(u.LimitIn));
    cycle.FreeOut = SaturatingAdd(cycle.FreeOut, -static_cast<int64_t>(u.LimitOut));
}

std::vector<CycleAction> DivideChannel(Model& m, CycleState& cycle, RunState& run) {
    std::vector<CycleAction> actions;
    const Settings& s = m.settings;

    // The download user is held by identity; once removed from the list it is gone for good.
    if (run.downloadUserId != 0 && m.FindUserById(run.downloadUserId) < 0) run.downloadUserId = 0;

    if (cycle.FreeIn < 0 || cycle.FreeOut < 0) {
        cycle.FreeIn = 1;
        cycle.FreeOut = 1;
        actions.push_back({CycleAction::kLog, LOG_WARN, u"Канал перегружен!", {}});
    }

    int32_t widthIn = 0;
    bool walked = false;
    if (s.TrafficSpeedAutoControll == kModeFreeChannel)
        GiveFreeChannel(m, cycle, run, actions);
    else if (s.TrafficSpeedAutoControll == kModeDivision && s.ChanalBorrowing)
        walked = DivideByBorrowing(m, cycle, run, widthIn, actions);
    else if (s.TrafficSpeedAutoControll == kModeDivision)
        walked = DivideByRatings(m, cycle, run, widthIn, actions);
    // What the borrowing division remembers is stale once another division has run.
    if (!(s.TrafficSpeedAutoControll == kModeDivision && s.ChanalBorrowing)) run.borrowing.clear();

    // Summary row: the width that was divided plus what the weakly-active users were given.
    const int64_t reserved = ReserveForWeak(s, m.SumGroupCounts().weak).total;
    const int64_t width = walked ? int64_t{widthIn} : int64_t{s.RXMAXkbit};
    m.ServerRow.LimitIn = static_cast<int32_t>(
        std::clamp<int64_t>(width + reserved, 0, std::numeric_limits<int32_t>::max()));
    m.ServerRow.LimitOut = static_cast<int32_t>(s.TXMAXkbit);
    return actions;
}

}  // namespace movra
