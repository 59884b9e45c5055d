// Weighted max-min division with borrowing, as water-filling over sorted breakpoints.
#include "engine/borrowing.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

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

}  // namespace movra
