#pragma once
// A model, a cycle and a run as polling leaves them for the division, with helpers that read the
// limit writes and log lines the division hands back.
#include <gtest/gtest.h>

#include <set>

#include "core/clock.h"
#include "engine/activity.h"
#include "engine/division.h"
#include "engine/measurement.h"

namespace movra {

struct Pair {
    Text name;
    int32_t in, out, mode;
    bool operator==(const Pair&) const = default;
};

inline void PrintTo(const Pair& p, std::ostream* os) {
    *os << ToUtf8(p.name) << " " << p.in << "/" << p.out << " mode " << p.mode;
}

class DivisionTest : public ::testing::Test {
  protected:
    DivisionTest() {
        Settings& s = m.settings;
        s.TrafficSpeedAutoControll = 3;
        s.RXMAXkbit = 256;
        s.TXMAXkbit = 64;
        s.UserSleepTraffic = 0;
        s.UserMAXSpeedLimits = 1;
        s.ReUseFreeChanal = 0;
        s.SpeedLimTraff_Mode = 0;
    }

    // An online user that is receiving; `speed` decides active or weakly active at Poll().
    CTiUserData& Add(const char16_t* name, float rating = 1.0f, int32_t group = 0,
                     double speed = 100.0) {
        int32_t i = m.AddUserByName(name);
        CTiUserData& u = m.Users[i];
        u.UserKTraff = rating;
        u.UserGrID = group;
        u.Online = 1;
        u.RxSpeed = speed;
        return u;
    }
    CTiUserData& U(const char16_t* name) { return m.Users[m.FindUserByName(name)]; }

    // Marks a user as idle for ever: asleep once the sleep time-out is counted.
    void Asleep(const CTiUserData& u) { asleep.insert(u.Id); }

    // What polling does to the classes and group sums before the division runs.
    void Poll() {
        m.ResetGroupCycle();
        cycle = CycleState{};
        cycle.FreeIn = static_cast<int32_t>(m.settings.RXMAXkbit);
        cycle.FreeOut = static_cast<int32_t>(m.settings.TXMAXkbit);
        for (int32_t i = 0; i < m.NumUsers; ++i) {
            CTiUserData& u = m.Users[i];
            const int64_t last = asleep.count(u.Id) ? 0 : clock.Now();
            const ActivityClassValue c =
                ClassifyActivity({u.Online, last, u.RxSpeed}, m.settings, clock.Now());
            CountActivity(m, cycle, u, c);
            u.ActivityClass = c;
            AddMeasuredSpeed(cycle, u.RxSpeed);
            if (m.settings.TrafficSpeedAutoControll == kModeFreeChannel)
                AccumulateFreeChannel(m, i, cycle, run);
        }
    }

    std::vector<CycleAction> Divide() {
        Poll();
        return DivideChannel(m, cycle, run);
    }

    std::vector<Pair> Writes(const std::vector<CycleAction>& actions) {
        std::vector<Pair> out;
        for (const auto& a : actions)
            if (a.kind == CycleAction::kWrite) {
                int32_t i = m.FindUserById(a.write.userId, a.write.indexHint);
                EXPECT_EQ(i, a.write.indexHint);
                out.push_back(
                    {i < 0 ? u"?" : m.Users[i].UserName, a.write.in, a.write.out, a.write.mode});
            }
        return out;
    }
    std::vector<Pair> DivideWrites() { return Writes(Divide()); }

    // Stores the written limits as a successful mode-3 write does.
    void Apply(const std::vector<CycleAction>& actions) {
        for (const auto& a : actions)
            if (a.kind == CycleAction::kWrite) {
                CTiUserData& u = m.Users[m.FindUserById(a.write.userId)];
                u.LimitIn = a.write.in;
                u.LimitOut = a.write.out;
            }
    }

    static std::vector<Text> Lines(const std::vector<CycleAction>& actions, uint32_t flags) {
        std::vector<Text> out;
        for (const auto& a : actions)
            if (a.kind == CycleAction::kLog && a.flags == flags) out.push_back(a.text);
        return out;
    }

    std::vector<Text> OrderNames() {
        std::vector<Text> out;
        for (uint64_t id : m.DivisionOrder) out.push_back(m.Users[m.FindUserById(id)].UserName);
        return out;
    }

    ManualClock clock;
    Model m{clock};
    CycleState cycle;
    RunState run;
    std::set<uint64_t> asleep;
};

}  // namespace movra
