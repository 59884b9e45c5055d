#include "tools/report/metrics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace movra::report {

void ConservationMeter::Add(double delivered, double width, double demand) {
    const double possible = std::min(width, demand);
    if (!(possible >= 1)) return;
    sum_ += delivered / possible;
    ++cycles_;
}

double DistanceMeter::Add(double delivered, double share) {
    if (!(share >= 1)) return -1;
    const double d = std::fabs(delivered - share) / share * 100;
    values_.push_back(d);
    return d;
}

double DistanceMeter::Mean() const {
    if (values_.empty()) return 0;
    double sum = 0;
    for (double v : values_) sum += v;
    return sum / static_cast<double>(values_.size());
}

double DistanceMeter::Percentile(double p) const {
    if (values_.empty()) return 0;
    std::vector<double> v = values_;
    const double rank = std::ceil(p * static_cast<double>(v.size()));
    const size_t k =
        std::clamp<size_t>(rank > 0 ? static_cast<size_t>(rank) - 1 : 0, 0, v.size() - 1);
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

double DistanceMeter::Max() const {
    return values_.empty() ? 0.0 : *std::max_element(values_.begin(), values_.end());
}

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

double Clean(double v) {
    return v > 0 ? v : 0.0;  // also NaN
}

// Given `low` first, grows as level x weight, never beyond `high`.
struct Tap {
    double low = 0, high = 0, weight = 0;
    double At(double level) const { return std::min(std::max(low, level * weight), high); }
};

// Pours `budget` into the taps that have a weight; the others keep their low.
void PourWeighted(const std::vector<Tap>& taps, double budget, std::vector<double>& out) {
    auto total = [&](double level) {
        double sum = 0;
        for (const Tap& t : taps) sum += t.weight > 0 ? t.At(level) : t.low;
        return sum;
    };
    double lo = 0, hi = 1;
    if (total(kInf) <= budget) {
        lo = hi = kInf;  // everybody gets all it wants
    } else if (total(0) >= budget) {
        hi = 0;
    } else {
        while (total(hi) < budget) hi *= 2;
        for (int k = 0; k < 200; ++k) {
            const double mid = lo + (hi - lo) / 2;
            (total(mid) < budget ? lo : hi) = mid;
        }
    }
    for (size_t i = 0; i < taps.size(); ++i)
        out[i] = taps[i].weight > 0 ? taps[i].At(hi) : taps[i].low;
}

void Pour(const std::vector<Tap>& taps, double budget, std::vector<double>& out) {
    PourWeighted(taps, budget, out);
    double left = budget;
    std::vector<Tap> rest;
    std::vector<size_t> index;
    for (size_t i = 0; i < taps.size(); ++i) {
        if (taps[i].weight > 0) {
            if (out[i] < taps[i].high) return;  // the weighted ones took everything
            left -= out[i];
        } else {
            rest.push_back({taps[i].low, taps[i].high, 1.0});
            index.push_back(i);
        }
    }
    std::vector<double> got(rest.size());
    PourWeighted(rest, left, got);
    for (size_t k = 0; k < rest.size(); ++k) out[index[k]] = got[k];
}

}  // namespace

std::vector<double> FairShares(double width, const std::vector<double>& shares,
                               const std::vector<FairClaim>& claims) {
    std::vector<double> result(claims.size(), 0.0);
    // Groups by index; one more for claims with a negative group.
    size_t groups = shares.size();
    for (const FairClaim& c : claims)
        if (c.group >= 0) groups = std::max(groups, static_cast<size_t>(c.group) + 1);
    std::vector<std::vector<size_t>> members(groups + 1);
    std::vector<Tap> users(claims.size());
    for (size_t i = 0; i < claims.size(); ++i) {
        const FairClaim& c = claims[i];
        const double cap = c.cap > 0 ? c.cap : kInf;
        users[i].low = std::min(Clean(c.floor), cap);
        users[i].high = std::max(users[i].low, std::min(Clean(c.demand), cap));
        users[i].weight = std::isfinite(c.weight) ? Clean(c.weight) : 0.0;
        members[c.group >= 0 ? static_cast<size_t>(c.group) : groups].push_back(i);
    }
    std::vector<Tap> groupTaps(members.size());
    for (size_t g = 0; g < members.size(); ++g) {
        if (g < shares.size() && std::isfinite(shares[g])) groupTaps[g].weight = Clean(shares[g]);
        for (size_t i : members[g]) {
            groupTaps[g].low += users[i].low;
            groupTaps[g].high += users[i].high;
        }
    }
    std::vector<double> groupGot(groupTaps.size());
    Pour(groupTaps, Clean(width), groupGot);
    for (size_t g = 0; g < members.size(); ++g) {
        std::vector<Tap> taps;
        for (size_t i : members[g]) taps.push_back(users[i]);
        std::vector<double> got(taps.size());
        Pour(taps, groupGot[g], got);
        for (size_t k = 0; k < taps.size(); ++k) result[members[g][k]] = got[k];
    }
    return result;
}

std::vector<ReferenceShare> BorrowingReference(const Model& m,
                                               const std::map<Text, double>& wantIn) {
    const Settings& s = m.settings;
    std::vector<ReferenceShare> out;
    std::vector<FairClaim> claims;
    std::vector<bool> claimed(static_cast<size_t>(std::max(m.NumGroups, 1)), false);
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        const CTiUserData& u = m.Users[i];
        const auto it = wantIn.find(u.UserName);
        if (it == wantIn.end() || !(it->second > 0)) continue;
        const int32_t g = FindGroupIndex(m.Groups, m.NumGroups, u.UserGrID);
        if (g < 0) continue;
        FairClaim c;
        c.group = g;
        c.weight = std::max(0.0, static_cast<double>(u.UserKTraff));
        c.demand = it->second;
        c.cap = s.UserMAXSpeedLimits && u.UserLimitMaxIn > 0 ? u.UserLimitMaxIn : 0.0;
        claims.push_back(c);
        claimed[static_cast<size_t>(g)] = true;
        out.push_back({u.UserName, 0});
    }
    std::vector<double> shares(claimed.size(), 0.0);
    double others = 0;
    for (size_t g = 1; g < shares.size(); ++g) {
        shares[g] =
            std::clamp(static_cast<double>(m.Groups[static_cast<int32_t>(g)].GroupMaxIn), 0.0, 1.0);
        if (claimed[g]) others += shares[g];
    }
    shares[0] = std::max(0.0, 1.0 - others);
    const std::vector<double> got = FairShares(static_cast<double>(s.RXMAXkbit), shares, claims);
    for (size_t k = 0; k < out.size() && k < got.size(); ++k) out[k].share = got[k];
    return out;
}

}  // namespace movra::report
