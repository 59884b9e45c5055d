// The algorithm is water-filling over sorted breakpoints; the driver around it estimates what
// the active users want, divides both directions by it and keeps the writes few.
#include "engine/borrowing.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <unordered_map>

#include "engine/demand.h"
#include "engine/division_steps.h"

namespace movra {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Negative and NaN inputs count as nothing: a broken reading must not turn into a huge limit.
double NonNegative(double v) {
    return v > 0.0 ? v : 0.0;
}
// A weight or share must also be finite: an endless one would make the water level meaningless.
double Weight(double v) {
    return std::isfinite(v) ? NonNegative(v) : 0.0;
}

// One party to a fill: it is given `low` first, never more than `high`, and grows with the water
// level in proportion to `weight`.
struct Party {
    double low = 0.0;
    double high = 0.0;  // >= low, may be +infinity
    double weight = 0.0;
};

// Sets out[i] = min(max(low, level * weight), high) with the level at which the sum reaches
// `budget`, or everybody's high when the budget covers all of them. Only parties with a positive
// weight take part; the others keep their low. O(n log n) over the parties' breakpoints.
void FillWeighted(const std::vector<Party>& parties, double budget, std::vector<double>& out) {
    struct Event {
        double level;
        int kind;  // 0: starts growing, 1: stops growing; start first on a tie
        std::size_t i;
    };
    std::vector<Event> events;
    double fixed = 0.0;  // sum of the parties not growing at the current level
    for (std::size_t i = 0; i < parties.size(); ++i) {
        const Party& p = parties[i];
        out[i] = p.low;
        fixed += p.low;
        if (p.weight > 0.0 && p.high > p.low) {
            events.push_back({p.low / p.weight, 0, i});
            events.push_back({p.high / p.weight, 1, i});  // +inf for an endless want
        }
    }
    if (fixed >= budget) return;
    std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.level != b.level ? a.level < b.level : a.kind < b.kind;
    });
    double slope = 0.0;  // summed weight of the growing parties
    double level = kInf;
    for (const Event& e : events) {
        if (slope > 0.0 && e.level != kInf && fixed + e.level * slope >= budget) {
            level = (budget - fixed) / slope;
            break;
        }
        if (e.level == kInf) {  // only endless wants remain: they take the rest
            level = slope > 0.0 ? (budget - fixed) / slope : kInf;
            break;
        }
        const Party& p = parties[e.i];
        if (e.kind == 0) {
            slope += p.weight;
            fixed -= p.low;
        } else {
            slope -= p.weight;
            fixed += p.high;
        }
    }
    for (std::size_t i = 0; i < parties.size(); ++i) {
        const Party& p = parties[i];
        if (p.weight <= 0.0 || p.high <= p.low) continue;
        out[i] = level == kInf ? p.high : std::min(std::max(p.low, level * p.weight), p.high);
    }
}

// Two tiers: parties with a weight share the budget by weight; a party of weight zero takes
// only what the weighted ones leave, and those leftovers are split evenly among them (max-min
// with equal weights). So when every weight is zero, the budget is split evenly by need.
void Fill(const std::vector<Party>& parties, double budget, std::vector<double>& out) {
    FillWeighted(parties, budget, out);
    double used = 0.0;
    bool weightedFull = true;
    bool anyZero = false;
    for (std::size_t i = 0; i < parties.size(); ++i) {
        used += out[i];
        if (parties[i].weight > 0.0) {
            if (out[i] < parties[i].high) weightedFull = false;
        } else if (parties[i].high > parties[i].low) {
            anyZero = true;
        }
    }
    if (!weightedFull || !anyZero || used >= budget) return;
    std::vector<Party> rest;
    std::vector<std::size_t> index;
    double left = budget;
    for (std::size_t i = 0; i < parties.size(); ++i) {
        if (parties[i].weight > 0.0) {
            left -= out[i];
        } else {
            rest.push_back({parties[i].low, parties[i].high, 1.0});
            index.push_back(i);
        }
    }
    std::vector<double> got(rest.size());
    FillWeighted(rest, left, got);
    for (std::size_t k = 0; k < rest.size(); ++k) out[index[k]] = got[k];
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

}  // namespace

std::vector<double> DivideWithBorrowing(double width, const std::vector<double>& shares,
                                        const std::vector<BorrowClaim>& claims) {
    const std::size_t n = claims.size();
    std::vector<double> result(n, 0.0);
    if (n == 0) return result;
    width = NonNegative(width);

    // Per claim: what it is given first and the most it may get. A floor is given even beyond
    // the demand, but never beyond the hard maximum.
    std::vector<Party> users(n);
    std::size_t groups = shares.size();
    for (const BorrowClaim& c : claims)
        if (c.group >= 0) groups = std::max(groups, static_cast<std::size_t>(c.group) + 1);
    // Claims with a group outside the shares (or a negative one) are kept in one extra group of
    // share zero: they take only what the others leave.
    const std::size_t stray = groups;
    std::vector<Party> groupParty(groups + 1);
    for (std::size_t g = 0; g < shares.size(); ++g) groupParty[g].weight = Weight(shares[g]);
    std::vector<std::size_t> groupOf(n);
    for (std::size_t i = 0; i < n; ++i) {
        const BorrowClaim& c = claims[i];
        const double cap = c.cap > 0.0 ? c.cap : kInf;  // NaN and <= 0 both mean "none"
        const double demand = std::isnan(c.demand) ? 0.0 : NonNegative(c.demand);
        Party& u = users[i];
        u.low = std::min(NonNegative(c.floor), cap);
        u.high = std::max(u.low, std::min(demand, cap));
        u.weight = Weight(c.weight);
        const std::size_t g = c.group >= 0 ? static_cast<std::size_t>(c.group) : stray;
        groupOf[i] = g;
        groupParty[g].low += u.low;
        groupParty[g].high += u.high;
    }

    // Groups first: each gets its share if its users want it, what one leaves goes to the
    // others by their shares. Shares are relative, so they need not add up to one.
    std::vector<double> groupGot(groupParty.size());
    Fill(groupParty, width, groupGot);

    // Then inside each group by the users' weights.
    std::vector<std::vector<std::size_t>> members(groupParty.size());
    for (std::size_t i = 0; i < n; ++i) members[groupOf[i]].push_back(i);
    std::vector<Party> part;
    std::vector<double> got;
    for (std::size_t g = 0; g < members.size(); ++g) {
        if (members[g].empty()) continue;
        part.clear();
        for (std::size_t i : members[g]) part.push_back(users[i]);
        got.assign(part.size(), 0.0);
        Fill(part, groupGot[g], got);
        for (std::size_t k = 0; k < part.size(); ++k) result[members[g][k]] = got[k];
    }
    return result;
}

bool DivideByBorrowing(Model& m, CycleState& cycle, RunState& run, int32_t& widthIn,
                       std::vector<CycleAction>& actions) {
    const Settings& s = m.settings;
    WeakReservation reserve;
    const GroupCounts counts = StartDivision(m, cycle, run, widthIn, reserve, actions);
    if (counts.active == 0) {
        run.borrowing.clear();
        return false;
    }

    const IdIndex ids(m);
    PrepareWalk(m, ids);

    const double widthOut = static_cast<double>(s.TXMAXkbit);
    const bool hardMaxima = s.UserMAXSpeedLimits != 0;
    std::vector<double> shares(m.NumGroups), groupWeight(m.NumGroups, 0.0);
    for (int32_t g = 0; g < m.NumGroups; ++g) shares[g] = std::max(0.0f, m.Groups[g].GroupMaxIn);
    auto weight = [](const CTiUserData& u) { return std::max(0.0, double{u.UserKTraff}); };
    std::vector<int32_t> groupOf(m.NumUsers, -1);
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        const CTiUserData& u = m.Users[i];
        groupOf[i] = DivisionGroupOf(m, u);
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
        LimitPair p = ClampToWidths({TruncateToInt32(wantIn, 1), TruncateToInt32(wantOut, 1)},
                                    widthIn, s.TXMAXkbit);
        if (WithinDeadBand(u.LimitIn, p.in, capIn, static_cast<double>(widthIn))) p.in = u.LimitIn;
        if (WithinDeadBand(u.LimitOut, p.out, capOut, widthOut)) p.out = u.LimitOut;
        nextIn[i] = p.in;
        nextOut[i] = p.out;
    }
    // A limit is a cap, not a reservation: only the claimed users' limits are held back here,
    // the weakly-active ones follow the division as in the walk.
    LazyLimits(m, groupOf, claimOf, needIn, static_cast<double>(widthIn), hardMaxima, true, nextIn);
    LazyLimits(m, groupOf, claimOf, needOut, widthOut, hardMaxima, false, nextOut);

    for (uint64_t id : m.DivisionOrder) {
        const int32_t i = ids.Find(id);
        if (i < 0 || groupOf[i] < 0) continue;
        WriteDivided(actions, s, run, m.Users[i], i, {nextIn[i], nextOut[i]}, reserve.each);
    }
    return true;
}

}  // namespace movra
