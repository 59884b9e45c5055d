#include "tools/report/metrics.h"

#include <algorithm>
#include <cmath>

#include "engine/borrowing.h"

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

std::vector<ReferenceShare> BorrowingReference(const Model& m,
                                               const std::map<Text, double>& wantIn) {
    const Settings& s = m.settings;
    std::vector<ReferenceShare> out;
    std::vector<BorrowClaim> claims;
    std::vector<bool> claimed(static_cast<size_t>(std::max(m.NumGroups, 1)), false);
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        const CTiUserData& u = m.Users[i];
        const auto it = wantIn.find(u.UserName);
        if (it == wantIn.end() || !(it->second > 0)) continue;
        const int32_t g = FindGroupIndex(m.Groups, m.NumGroups, u.UserGrID);
        if (g < 0) continue;
        BorrowClaim c;
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
    const std::vector<double> got =
        DivideWithBorrowing(static_cast<double>(s.RXMAXkbit), shares, claims);
    for (size_t k = 0; k < out.size() && k < got.size(); ++k) out[k].share = got[k];
    return out;
}

}  // namespace movra::report
