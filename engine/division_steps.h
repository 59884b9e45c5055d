#pragma once
// The steps both mode-3 divisions (by rating and with borrowing) take alike: who takes part, the
// width to divide, group 0's share, the walk order, the clamping of a limit pair and the guards on
// writing it. The arithmetic keeps the widths and precisions of the values it works on (ratings
// and shares are single precision, the incoming width a 32-bit integer, the outgoing width a
// double), because limits that differ by one kbit/s are written to the server and logged as
// changes.
#include <cstdint>
#include <utility>
#include <vector>

#include "core/model.h"
#include "engine/cycle.h"

namespace movra {

// A real truncated toward zero into int32: finite values outside the range are clamped, and a
// NaN or infinity gives `notFinite`.
int32_t TruncateToInt32(double v, int32_t notFinite);

// Adds without wrapping: a sum beyond the int32 range stays at its end, so an absurd limit
// read from the server still shows up as an overloaded (negative) free channel.
int32_t SaturatingAdd(int32_t a, int64_t b);

// What the weakly-active users are held back of the incoming channel in one cycle: each
// UserSleepTraffic, but together never more than half of the configured channel (each then an
// even part of that half), so that a crowd of idle users cannot leave the active ones nothing.
struct WeakReservation {
    int64_t total = 0;  // kbit/s, all of them together
    double each = 0;    // kbit/s, what one of them is given
};
WeakReservation ReserveForWeak(const Settings& s, int32_t weak);

// Appends a limit write of `mode` for user `index` to the cycle's actions.
void PushWrite(std::vector<CycleAction>& actions, const CTiUserData& u, int32_t index, int32_t in,
               int32_t out, int32_t mode);

// The index of the group whose share user `u` is divided from, or -1 when the division leaves
// the user alone: unnamed, offline, neither active nor weakly active, or in a group that has
// vanished (such a user is in no group's sums).
int32_t DivisionGroupOf(const Model& m, const CTiUserData& u);

// A divided limit pair bounded by the widths: never above the incoming width left nor above the
// configured outgoing width, and never 0 or less, which on the server means no limit at all.
struct LimitPair {
    int32_t in = 0;
    int32_t out = 0;
};
LimitPair ClampToWidths(LimitPair p, int32_t widthIn, uint32_t widthOut);

// A mode-3 limit pair, unless it is already in force or a rule holds it back. `reserved` is
// what each weakly-active user was given this cycle.
void WriteDivided(std::vector<CycleAction>& actions, const Settings& s, const RunState& run,
                  const CTiUserData& u, int32_t index, LimitPair p, double reserved);

// Finds users by identity for the whole walk. Records are appended with growing identities and
// removal keeps the order, so the list is normally sorted by Id; a compact sorted copy of
// (Id, index) keeps the binary search within a few cache lines either way.
class IdIndex {
  public:
    explicit IdIndex(const Model& m);
    int32_t Find(uint64_t id) const;  // -1 when absent

  private:
    std::vector<std::pair<uint64_t, int32_t>> pairs_;
};

// What both mode-3 divisions start from: ratings from traffic when that mode is on, the
// cycle's class counts, the weakly-active reservation and the incoming width to divide
// (measured while the measurement is armed, otherwise the configured width less the
// reservation; never negative).
GroupCounts StartDivision(Model& m, CycleState& cycle, const RunState& run, int32_t& widthIn,
                          WeakReservation& reserve, std::vector<CycleAction>& actions);

// Once there are active users: group 0's share (whatever the groups with active users leave)
// and the walk order (identities, in list order, sorted only when reuse is on).
void PrepareWalk(Model& m, const IdIndex& ids);

}  // namespace movra
