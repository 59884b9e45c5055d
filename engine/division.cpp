// Channel division. Mode 1 gives one user whatever the other online users leave free; mode 3
// divides the channel among the active users by rating inside their groups' shares. The
// arithmetic keeps the widths and precisions of the values it works on (ratings and shares are
// single precision, the incoming width a 32-bit integer, the outgoing width a double), because
// limits that differ by one kbit/s are written to the server and logged as changes.
#include "engine/division.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/log_flags.h"
#include "engine/borrowing.h"
#include "engine/demand.h"

namespace movra {

namespace {

// Adds without wrapping: a sum beyond the int32 range stays at its end, so an absurd limit
// read from the server still shows up as an overloaded (negative) free channel.
int32_t SaturatingAdd(int32_t a, int64_t b) {
    const int64_t r = static_cast<int64_t>(a) + b;
    return static_cast<int32_t>(std::clamp<int64_t>(r, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

void Log(std::vector<CycleAction>& actions, uint32_t flags, Text text) {
    actions.push_back({CycleAction::kLog, flags, std::move(text), {}});
}

void Write(std::vector<CycleAction>& actions, const CTiUserData& u, int32_t index, int32_t in,
           int32_t out, int32_t mode) {
    CycleAction a;
    a.kind = CycleAction::kWrite;
    a.write = {u.Id, index, in, out, mode};
    actions.push_back(std::move(a));
}

// A mode-3 limit pair, unless it is already in force or a rule holds it back. `reserved` is
// what each weakly-active user was given this cycle.
void WriteDivided(std::vector<CycleAction>& actions, const Settings& s, const RunState& run,
                  const CTiUserData& u, int32_t index, int32_t in, int32_t out, double reserved) {
    if (u.LimitIn == in && u.LimitOut == out) return;
    // Until this run has read a user's limits, they are not known to be the administrator's:
    // a write now would be read back as the start limits and restored at exit in their place.
    if (u.StartLimitsRun != run.runNumber) return;
    // A slow user's limit is never lowered, and raised only from at most the reservation.
    if (u.RxSpeed < static_cast<double>(s.UserSleepTraffic)) {
        if (!(u.LimitIn <= in && static_cast<double>(u.LimitIn) <= reserved)) return;
    }
    Write(actions, u, index, in, out, kModeDivision);
}

// Finds users by identity for the whole walk. Records are appended with growing identities and
// removal keeps the order, so the list is normally sorted by Id; a compact sorted copy of
// (Id, index) keeps the binary search within a few cache lines either way.
class IdIndex {
  public:
    explicit IdIndex(const Model& m) {
        pairs_.reserve(m.NumUsers);
        bool sorted = true;
        for (int32_t i = 0; i < m.NumUsers; ++i) {
            if (i > 0 && m.Users[i - 1].Id >= m.Users[i].Id) sorted = false;
            pairs_.emplace_back(m.Users[i].Id, i);
        }
        if (!sorted) std::sort(pairs_.begin(), pairs_.end());
    }

    int32_t Find(uint64_t id) const {
        if (id == 0) return -1;
        auto it = std::lower_bound(pairs_.begin(), pairs_.end(), std::make_pair(id, int32_t{0}));
        return it != pairs_.end() && it->first == id ? it->second : -1;
    }

  private:
    std::vector<std::pair<uint64_t, int32_t>> pairs_;
};

// Ratings that fall linearly from StartKoeff to EndKoeff as the received traffic grows
// from SefeTraff to MaxTraff megabytes.
void RatingsFromTraffic(Model& m) {
    const Settings& s = m.settings;
    const double start = s.SpeedLimTraff_StartKoeff;
    const double end = s.SpeedLimTraff_EndKoeff;
    // In 64 bits, so that thresholds of 2048 MB and more do not overflow.
    const int64_t a = static_cast<int64_t>(s.SpeedLimTraff_SefeTraff) * 1048576;
    const int64_t b = static_cast<int64_t>(s.SpeedLimTraff_MaxTraff) * 1048576;
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        CTiUserData& u = m.Users[i];
        const double t = u.RxTotal;
        if (t < static_cast<double>(a)) {
            u.UserKTraff = static_cast<float>(start);
        } else if (t >= static_cast<double>(b)) {
            u.UserKTraff = static_cast<float>(end);
            if (s.SpeedLimTraff_DnoLimitKbits > 0) {
                u.UserLimitMaxIn = s.SpeedLimTraff_DnoLimitKbits;
                u.UserLimitMaxOut = s.SpeedLimTraff_DnoLimitKbits;
            }
        } else {
            // Only reached when a <= t < b, so b - a > 0.
            u.UserKTraff = static_cast<float>(start + (t - static_cast<double>(a)) * (end - start) /
                                                          static_cast<double>(b - a));
        }
    }
}

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

// What both mode-3 divisions start from: ratings from traffic when that mode is on, the
// cycle's class counts, the weakly-active reservation and the incoming width to divide
// (measured while the measurement is armed, otherwise the configured width less the
// reservation; never negative).
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

// Mode 3: ratings from traffic when they are on, the width to divide, group 0's share, the walk
// order, then the walk that gives each active or weakly-active user its part of its group's
// share, within its hard maxima and what is left. Returns whether the walk ran; `widthIn` is the
// incoming width left after it.
bool DivideByRatings(Model& m, CycleState& cycle, const RunState& run, int32_t& widthIn,
                     std::vector<CycleAction>& actions) {
    const Settings& s = m.settings;
    WeakReservation reserve;
    const GroupCounts counts = StartDivision(m, cycle, run, widthIn, reserve, actions);

    if (counts.active == 0) return false;

    RecomputeGroupZeroShare(m);
    const IdIndex ids(m);
    PrepareDivisionOrder(m, ids);

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
        if (u.UserName.empty() || !u.Online) continue;
        if (u.ActivityClass != kActive && u.ActivityClass != kWeaklyActive) continue;
        const int32_t gi = m.FindGroupIndex(u.UserGrID);
        if (gi < 0) continue;  // a user of a vanished group is in no group's sums
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
        if (in > widthIn) in = widthIn;
        // The outgoing width is unsigned: the comparison is made as unsigned.
        if (static_cast<uint32_t>(out) > s.TXMAXkbit) out = static_cast<int32_t>(s.TXMAXkbit);
        if (in <= 0) in = 1;  // 0 on the server means no limit at all
        if (out <= 0) out = 1;

        WriteDivided(actions, s, run, u, i, in, out, reserve.each);
    }
    return true;
}

// A limit is rewritten only when the new value differs from the one in force by more than this
// band, so that the small swings of measured speeds and of the others' demands do not turn into
// a write every cycle: 10 % halves the rewrites of 5 % on busy channels at the cost of a few
// percent of the width, 4 kbit/s keeps small limits from flapping by a few.
bool WithinDeadBand(int32_t current, int32_t next, int32_t cap, double width) {
    if (current <= 0) return false;              // no limit now: always set one
    if (cap > 0 && current > cap) return false;  // never keep a limit above the hard maximum
    if (current > width) return false;           // nor above the width now divided
    const double band = std::max(0.10 * current, 4.0);
    return std::fabs(static_cast<double>(next) - current) <= band;
}

// How far the limits of the users the borrowing division serves may add up beyond the width
// before the ones above their new shares are cut back: a limit is a cap, not a reservation, and
// an unused part of it costs nobody anything until someone at its limit wants that part.
// Outgoing limits may overlap more: uploads are mostly small and bursty next to their limits, and
// cutting them back for every brief rise costs writes for next to no width.
constexpr double kLazySlackIn = 0.10;
constexpr double kLazySlackOut = 0.30;
// Measured speeds adding up to this part of the width make the channel full: then the limits
// themselves must divide it, so they are cut back to the width even if nobody ran at its limit
// (when the limits add up to more than the width, the server shares it evenly, not by rating,
// and a user held back by the channel rather than by its limit does not look limited).
constexpr double kFullChannel = 0.95;

// Holds back the changes the borrowing division does not need now, in one direction. A raise is
// kept only for a user that wants more (it ran at its limit, or it is new to the division); a
// cut only when the raises would otherwise make the limits add up to more than the width plus
// its slack, or the channel is full and they add up to more than the width: the largest cuts
// first, until they fit. So a change settles with one round of writes, and a user using less
// than its limit is left alone while there is room. No limit at all, a limit above the hard
// maximum and one above the width now divided (the channel was narrowed, or the measured width
// fell) are always set.
void LazyLimits(const Model& m, const std::vector<int32_t>& groupOf,
                const std::vector<int32_t>& claimOf, const std::vector<char>& need, double width,
                bool hardMaxima, bool incoming, std::vector<int32_t>& next) {
    struct Cut {
        int64_t excess;
        int32_t user;
        int32_t target;
    };
    std::vector<Cut> cuts;
    double sum = 0.0, used = 0.0;
    bool raised = false;
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        const int32_t k = claimOf[i];
        if (groupOf[i] < 0 || k < 0) continue;
        const CTiUserData& u = m.Users[i];
        const int32_t current = incoming ? u.LimitIn : u.LimitOut;
        const int32_t cap = hardMaxima ? (incoming ? u.UserLimitMaxIn : u.UserLimitMaxOut) : 0;
        const double speed = incoming ? u.RxSpeed : u.TxSpeed;
        if (speed > 0.0) used += speed;
        if (next[i] == current || current <= 0 || (cap > 0 && current > cap) || current > width) {
            sum += next[i];
        } else if (next[i] > current) {
            if (need[k]) {
                raised = true;
            } else {
                next[i] = current;
            }
            sum += next[i];
        } else {
            cuts.push_back({static_cast<int64_t>(current) - next[i], i, next[i]});
            next[i] = current;
            sum += current;
        }
    }
    const bool full = used >= kFullChannel * width;
    if (!raised && !full) return;
    std::sort(cuts.begin(), cuts.end(), [](const Cut& a, const Cut& b) {
        return a.excess != b.excess ? a.excess > b.excess : a.user < b.user;
    });
    const double room = full ? width : width * (1.0 + (incoming ? kLazySlackIn : kLazySlackOut));
    for (const Cut& c : cuts) {
        if (sum <= room) break;
        sum -= static_cast<double>(c.excess);
        next[c.user] = c.target;
    }
}

// Mode 3 with borrowing: the same width, shares, ratings and hard maxima as the rating walk, but
// divided by weighted max-min among what the active users are estimated to want, so that what
// one user or group leaves unused goes to those who want more. Weakly-active users are held to
// the reservation as in the walk: their reservation is taken off the width, and they are given
// their share without borrowing only under the walk's guard (never lowered, raised only from at
// most the reservation). Returns whether a division ran; `widthIn` is the incoming width.
bool DivideByBorrowing(Model& m, CycleState& cycle, RunState& run, int32_t& widthIn,
                       std::vector<CycleAction>& actions) {
    const Settings& s = m.settings;
    WeakReservation reserve;
    const GroupCounts counts = StartDivision(m, cycle, run, widthIn, reserve, actions);
    if (counts.active == 0) {
        run.borrowing.clear();
        return false;
    }

    RecomputeGroupZeroShare(m);
    const IdIndex ids(m);
    PrepareDivisionOrder(m, ids);

    const double widthOut = static_cast<double>(s.TXMAXkbit);
    const bool hardMaxima = s.UserMAXSpeedLimits != 0;
    std::vector<double> shares(m.NumGroups), groupWeight(m.NumGroups, 0.0);
    for (int32_t g = 0; g < m.NumGroups; ++g) shares[g] = std::max(0.0f, m.Groups[g].GroupMaxIn);
    auto weight = [](const CTiUserData& u) { return std::max(0.0, double{u.UserKTraff}); };
    std::vector<int32_t> groupOf(m.NumUsers, -1);
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        const CTiUserData& u = m.Users[i];
        if (u.UserName.empty() || !u.Online) continue;
        if (u.ActivityClass != kActive && u.ActivityClass != kWeaklyActive) continue;
        groupOf[i] = m.FindGroupIndex(u.UserGrID);  // a vanished group's user is skipped
        if (groupOf[i] >= 0 && u.ActivityClass == kActive) groupWeight[groupOf[i]] += weight(u);
    }
    // Shares of the groups with active users that add up to more than the whole are taken
    // relative to their sum, as the division takes them, so that the shares without borrowing
    // below never promise more than the width.
    std::vector<char> hasActive(m.NumGroups, 0);
    for (int32_t i = 0; i < m.NumUsers; ++i)
        if (groupOf[i] >= 0 && m.Users[i].ActivityClass == kActive) hasActive[groupOf[i]] = 1;
    double shareSum = 0.0;
    for (int32_t g = 0; g < m.NumGroups; ++g)
        if (hasActive[g]) shareSum += shares[g];
    const double whole = std::max(shareSum, 1.0);
    // A user's share without borrowing: its rating's part of its group's share of the width.
    auto ownShare = [&](int32_t i, double width) {
        const CTiUserData& u = m.Users[i];
        const double sum = groupWeight[groupOf[i]] + (u.ActivityClass == kActive ? 0.0 : weight(u));
        return sum > 0.0 ? weight(u) / sum * shares[groupOf[i]] / whole * width : 0.0;
    };

    // A user without a share (its group's share or its rating is 0) gets only what the others
    // leave, and a probe of anyone at its limit claims all of that: such a user would be cut to
    // 1 kbit/s whenever someone probes and handed everything left whenever nobody does, a write
    // each way for a want that never changed. So while it runs below its limit it keeps what it
    // uses, up to an even part of the width; at its limit it still takes only what is left.
    const double evenPart = 1.0 / std::max(counts.active, 1);
    auto keep = [&](int32_t i, const DemandGuess& d, int32_t limit, double width) {
        return !d.wantsMore && limit > 0 && ownShare(i, width) <= 0.0
                   ? std::min(d.demand, evenPart * width)
                   : 0.0;
    };

    std::vector<BorrowClaim> claimsIn, claimsOut;
    std::vector<int32_t> claimOf(m.NumUsers, -1);
    std::vector<char> needIn, needOut;  // per claim: it may be raised
    std::unordered_map<uint64_t, BorrowMemory> memory;
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        const CTiUserData& u = m.Users[i];
        if (groupOf[i] < 0 || u.ActivityClass != kActive) continue;
        const auto it = run.borrowing.find(u.Id);
        const bool isNew = it == run.borrowing.end();
        BorrowMemory mem = isNew ? BorrowMemory{} : it->second;
        const double width = static_cast<double>(widthIn);
        const DemandGuess in = EstimateDemand(u.RxSpeed, u.LimitIn, width, mem.probesIn);
        const DemandGuess out = EstimateDemand(u.TxSpeed, u.LimitOut, widthOut, mem.probesOut);
        memory.emplace(u.Id, mem);
        // A newcomer (nothing is known yet of what it wants: at a run's start its speed is not
        // even measured) and anyone running at its limit get at least their share without
        // borrowing at once, instead of waiting for probes to climb to it.
        claimOf[i] = static_cast<int32_t>(claimsIn.size());
        claimsIn.push_back(
            {groupOf[i], weight(u), in.demand,
             hardMaxima ? std::max(u.UserLimitMaxIn, 0) * 1.0 : 0.0,
             isNew || in.wantsMore ? ownShare(i, width) : keep(i, in, u.LimitIn, width)});
        claimsOut.push_back(
            {groupOf[i], weight(u), out.demand,
             hardMaxima ? std::max(u.UserLimitMaxOut, 0) * 1.0 : 0.0,
             isNew || out.wantsMore ? ownShare(i, widthOut) : keep(i, out, u.LimitOut, widthOut)});
        needIn.push_back(isNew || in.wantsMore);
        needOut.push_back(isNew || out.wantsMore);
    }
    run.borrowing = std::move(memory);
    const std::vector<double> gotIn =
        DivideWithBorrowing(static_cast<double>(widthIn), shares, claimsIn);
    const std::vector<double> gotOut = DivideWithBorrowing(widthOut, shares, claimsOut);

    // The limits each user would get, after the caps and the dead band.
    std::vector<int32_t> nextIn(m.NumUsers), nextOut(m.NumUsers);
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        if (groupOf[i] < 0) continue;
        const CTiUserData& u = m.Users[i];
        const int32_t capIn = hardMaxima ? u.UserLimitMaxIn : 0;
        const int32_t capOut = hardMaxima ? u.UserLimitMaxOut : 0;
        const int32_t k = claimOf[i];
        double wantIn = k >= 0 ? gotIn[k] : ownShare(i, static_cast<double>(widthIn));
        double wantOut = k >= 0 ? gotOut[k] : ownShare(i, widthOut);
        if (capIn > 0) wantIn = std::min(wantIn, static_cast<double>(capIn));
        if (capOut > 0) wantOut = std::min(wantOut, static_cast<double>(capOut));
        int32_t in = TruncateToInt32(wantIn, 1);
        int32_t out = TruncateToInt32(wantOut, 1);
        if (in > widthIn) in = widthIn;
        if (static_cast<uint32_t>(out) > s.TXMAXkbit) out = static_cast<int32_t>(s.TXMAXkbit);
        if (in <= 0) in = 1;  // 0 on the server means no limit at all
        if (out <= 0) out = 1;
        if (WithinDeadBand(u.LimitIn, in, capIn, static_cast<double>(widthIn))) in = u.LimitIn;
        if (WithinDeadBand(u.LimitOut, out, capOut, widthOut)) out = u.LimitOut;
        nextIn[i] = in;
        nextOut[i] = out;
    }
    // A limit is a cap, not a reservation: only the claimed users' limits are held back here,
    // the weakly-active ones follow the division as in the walk.
    LazyLimits(m, groupOf, claimOf, needIn, static_cast<double>(widthIn), hardMaxima, true, nextIn);
    LazyLimits(m, groupOf, claimOf, needOut, widthOut, hardMaxima, false, nextOut);

    for (uint64_t id : m.DivisionOrder) {
        const int32_t i = ids.Find(id);
        if (i < 0 || groupOf[i] < 0) continue;
        const CTiUserData& u = m.Users[i];
        const int32_t in = nextIn[i];
        const int32_t out = nextOut[i];
        WriteDivided(actions, s, run, u, i, in, out, reserve.each);
    }
    return true;
}

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
    Write(actions, u, i, in, out, kModeFreeChannel);
}

}  // namespace

int32_t TruncateToInt32(double v, int32_t notFinite) {
    if (!std::isfinite(v)) return notFinite;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

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
        Log(actions, LOG_WARN, u"Канал перегружен!");
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
