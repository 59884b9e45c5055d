#include "engine/division_steps.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/measurement.h"
#include "engine/traffic_ratings.h"

namespace movra {

namespace {

// Group 0 takes whatever the groups with active users leave.
void RecomputeGroupZeroShare(Model& m) {
    const int32_t zero = m.FindGroupIndex(0);
    if (zero < 0) return;
    float share = 1.0f;
    for (int32_t g = 0; g < m.NumGroups; ++g)
        if (g != zero && m.Groups[g].ActiveCount > 0) share -= m.Groups[g].GroupMaxIn;
    m.Groups[zero].GroupMaxIn = share;
}

// The walk order holds identities; it is rebuilt in list order whenever users were added,
// removed or reloaded, and sorted only when reuse is on (otherwise kept as last given).
void PrepareDivisionOrder(Model& m, const IdIndex& ids) {
    if (m.DivisionOrderGeneration != m.UsersGeneration ||
        m.DivisionOrder.size() != static_cast<size_t>(m.NumUsers)) {
        m.DivisionOrder.clear();
        m.DivisionOrder.reserve(m.NumUsers);
        for (int32_t i = 0; i < m.NumUsers; ++i) m.DivisionOrder.push_back(m.Users[i].Id);
        m.DivisionOrderGeneration = m.UsersGeneration;
    }
    if (!m.settings.ReUseFreeChanal) return;

    struct Key {
        uint64_t id;
        int32_t maxIn;
        float rating;
    };
    std::vector<Key> keys;
    keys.reserve(m.DivisionOrder.size());
    for (uint64_t id : m.DivisionOrder) {
        const int32_t i = ids.Find(id);
        keys.push_back(i < 0 ? Key{id, 0, 1.0f}
                             : Key{id, m.Users[i].UserLimitMaxIn, m.Users[i].UserKTraff});
    }
    // Smallest hard incoming maximum per unit of rating first, users without one last. A stable
    // sort keeps equal entries where the last cycle left them, so limits do not flip between
    // cycles.
    std::stable_sort(keys.begin(), keys.end(), [](const Key& x, const Key& y) {
        const bool hx = x.maxIn > 0, hy = y.maxIn > 0;
        if (!hx || !hy) return hx && !hy;
        if (x.rating == 0.0f || y.rating == 0.0f) return x.maxIn < y.maxIn;
        const float d = x.maxIn / x.rating - y.maxIn / y.rating;
        return d < 0;
    });
    for (size_t k = 0; k < keys.size(); ++k) m.DivisionOrder[k] = keys[k].id;
}

}  // namespace

int32_t TruncateToInt32(double v, int32_t notFinite) {
    if (!std::isfinite(v)) return notFinite;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

int32_t SaturatingAdd(int32_t a, int64_t b) {
    const int64_t r = static_cast<int64_t>(a) + b;
    return static_cast<int32_t>(std::clamp<int64_t>(r, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

WeakReservation ReserveForWeak(const Settings& s, int32_t weak) {
    WeakReservation r;
    r.each = static_cast<double>(s.UserSleepTraffic);
    if (weak <= 0) return r;
    const int64_t wanted = static_cast<int64_t>(s.UserSleepTraffic) * weak;
    r.total = std::min(wanted, static_cast<int64_t>(s.RXMAXkbit / 2));
    r.each = static_cast<double>(r.total) / weak;
    return r;
}

void PushWrite(std::vector<CycleAction>& actions, const CTiUserData& u, int32_t index, int32_t in,
               int32_t out, int32_t mode) {
    CycleAction a;
    a.kind = CycleAction::kWrite;
    a.write = {u.Id, index, in, out, mode};
    actions.push_back(std::move(a));
}

int32_t DivisionGroupOf(const Model& m, const CTiUserData& u) {
    if (u.UserName.empty() || !u.Online) return -1;
    if (u.ActivityClass != kActive && u.ActivityClass != kWeaklyActive) return -1;
    return m.FindGroupIndex(u.UserGrID);
}

LimitPair ClampToWidths(LimitPair p, int32_t widthIn, uint32_t widthOut) {
    if (p.in > widthIn) p.in = widthIn;
    // The outgoing width is unsigned: the comparison is made as unsigned.
    if (static_cast<uint32_t>(p.out) > widthOut) p.out = static_cast<int32_t>(widthOut);
    if (p.in <= 0) p.in = 1;
    if (p.out <= 0) p.out = 1;
    return p;
}

void WriteDivided(std::vector<CycleAction>& actions, const Settings& s, const RunState& run,
                  const CTiUserData& u, int32_t index, LimitPair p, double reserved) {
    if (u.LimitIn == p.in && u.LimitOut == p.out) return;
    // Until this run has read a user's limits, they are not known to be the administrator's:
    // a write now would be read back as the start limits and restored at exit in their place.
    if (u.StartLimitsRun != run.runNumber) return;
    // A slow user's limit is never lowered, and raised only from at most the reservation.
    if (u.RxSpeed < static_cast<double>(s.UserSleepTraffic)) {
        if (!(u.LimitIn <= p.in && static_cast<double>(u.LimitIn) <= reserved)) return;
    }
    PushWrite(actions, u, index, p.in, p.out, kModeDivision);
}

IdIndex::IdIndex(const Model& m) {
    pairs_.reserve(m.NumUsers);
    bool sorted = true;
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        if (i > 0 && m.Users[i - 1].Id >= m.Users[i].Id) sorted = false;
        pairs_.emplace_back(m.Users[i].Id, i);
    }
    if (!sorted) std::sort(pairs_.begin(), pairs_.end());
}

int32_t IdIndex::Find(uint64_t id) const {
    if (id == 0) return -1;
    auto it = std::lower_bound(pairs_.begin(), pairs_.end(), std::make_pair(id, int32_t{0}));
    return it != pairs_.end() && it->first == id ? it->second : -1;
}

GroupCounts StartDivision(Model& m, CycleState& cycle, const RunState& run, int32_t& widthIn,
                          WeakReservation& reserve, std::vector<CycleAction>& actions) {
    const Settings& s = m.settings;
    if (s.SpeedLimTraff_Mode == 1) RatingsFromTraffic(m);
    const GroupCounts counts = m.SumGroupCounts();
    reserve = ReserveForWeak(s, counts.weak);
    widthIn = run.measurementArmed
                  ? MeasuredWidthIn(s, cycle, counts.active, counts.weak, actions)
                  : TruncateToInt32(
                        static_cast<double>(s.RXMAXkbit) - static_cast<double>(reserve.total), 0);
    return counts;
}

void PrepareWalk(Model& m, const IdIndex& ids) {
    RecomputeGroupZeroShare(m);
    PrepareDivisionOrder(m, ids);
}

}  // namespace movra
