#pragma once
// The regulation report's figures, kept apart from the run that feeds them so that a test can
// check the arithmetic on numbers worked out by hand. Speeds are kbit/s.
#include <cstddef>
#include <map>
#include <vector>

#include "core/model.h"
#include "core/text.h"

namespace movra::report {

// How much of what could be carried was carried: the mean over cycles of
// delivered / min(width, demand), in percent. A cycle whose minimum is under 1 kbit/s (nobody
// wants anything) is skipped, so idle stretches neither help nor hurt.
class ConservationMeter {
  public:
    void Add(double delivered, double width, double demand);
    double Percent() const { return cycles_ ? sum_ / cycles_ * 100 : 0.0; }
    int Cycles() const { return cycles_; }

  private:
    double sum_ = 0;
    int cycles_ = 0;
};

// How far users are from a reference share: |delivered - share| / share per user and cycle, in
// percent. A share under 1 kbit/s is skipped: relative to almost nothing every distance is huge.
class DistanceMeter {
  public:
    // The distance added, or a negative value when the share was skipped.
    double Add(double delivered, double share);
    double Mean() const;
    // Nearest rank: the smallest distance that `p` (0..1) of the user-cycles do not exceed.
    double Percentile(double p) const;
    double Max() const;
    size_t Count() const { return values_.size(); }

  private:
    std::vector<double> values_;
};

// One user's claim on the reference division below. Negative or non-number values count as 0;
// a cap of 0 means none; a group outside the shares has share 0.
struct FairClaim {
    int group = 0;
    double weight = 1.0;
    double demand = 0.0;  // may be +infinity
    double cap = 0.0;
    double floor = 0.0;  // given first, within the cap, whatever the division says
};

// Weighted max-min with borrowing, written for plainness rather than speed, independently of
// the product's division so that a fault in one cannot hide in the other: the groups divide
// `width` by their `shares` among what their users want, then each group's part goes to its
// users by weight; at each level the water level is found by bisection. Parties of weight 0 take
// only what the weighted ones leave, evenly. When the floors alone exceed what is divided,
// everybody keeps its floor.
std::vector<double> FairShares(double width, const std::vector<double>& shares,
                               const std::vector<FairClaim>& claims);

struct ReferenceShare {
    Text name;
    double share = 0;  // kbit/s
};

// The incoming weighted max-min fair share with borrowing among the monitored users that want
// something now (`wantIn`: their true incoming demand; online users only): the configured width,
// the ratings as weights, the hard maxima as caps when they are on, the groups' shares with
// group 0 taking what the groups with a claimant leave. The caller holds the model's lock.
std::vector<ReferenceShare> BorrowingReference(const Model& m,
                                               const std::map<Text, double>& wantIn);

}  // namespace movra::report
