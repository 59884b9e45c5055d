// Mode 3 end to end: the control run polls TiSim's core, divides and writes, while three users
// in two groups start and stop downloads. The expected limits are worked out by hand below from
// the division rules, not by the code under test.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/control_run.h"
#include "recording_link.h"
#include "tisim/sim.h"

namespace movra {
namespace {

// A control run against TiSim's core on one simulated clock; the fixture's SetUp fills `sim`,
// `connector` and the settings.
template <class Base>
class SimControlRun : public Base {
  protected:
    // Claims the free worker slot and connects; false when the run could not start.
    bool StartRun() {
        events.idle.Set();
        run = std::make_unique<ControlRun>(m, link, *connector, events);
        run->ClaimSlot();
        return run->Start();
    }
    // One second of simulated time, then one control cycle.
    void Step() {
        sim->Advance(1.0);
        clock.Advance(1);
    }

    ManualClock clock{1796126400};
    Model m{clock};
    testing::RecordingLink link;
    WorkerEvents events;
    std::shared_ptr<tisim::Simulator> sim;
    std::unique_ptr<tisim::SimConnector> connector;
    std::unique_ptr<ControlRun> run;
};

class DivisionEndToEnd : public SimControlRun<::testing::Test> {
  protected:
    void SetUp() override {
        tisim::Scenario sc;
        sc.channelIn = 1024;  // wider than what Movra divides, so the simulator never caps
        sc.channelOut = 256;
        sc.groups.push_back({u"lab", 0});
        for (const char16_t* name : {u"anna", u"boris", u"vera"}) {
            tisim::UserSetup u;
            u.name = name;
            u.group = name == Text(u"anna") ? u"" : u"lab";
            u.rxBytes = 1048576;  // a counter above 0, so that the second poll measures a speed
            u.limitIn = 64;       // the limits the administrator had set
            u.limitOut = 16;
            u.defaultLimits = true;
            sc.users.push_back(u);
        }
        sim = std::make_shared<tisim::Simulator>(sc, clock);
        connector = std::make_unique<tisim::SimConnector>(sim);

        Model::Guard g(m);
        Settings& s = m.settings;
        s.AutoLoginPass = sc.password;
        s.TrafficSpeedAutoControll = 3;
        s.RXMAXkbit = 512;
        s.TXMAXkbit = 128;
        s.UserSleepTraffic = 16;
        s.Use_Sleepers_Traffic = 0;
        s.ReUseFreeChanal = 1;
        s.UserMAXSpeedLimits = 1;
        s.RefreshTimer_msec = 1000;
        m.SetGroupShare(m.FindOrAddGroup(u"lab"), 0.5f);
        m.AddUserByName(u"anna");
        CTiUserData& boris = m.User(m.AddUserByName(u"boris"));
        boris.UserGrID = 1;
        boris.UserKTraff = 3.0f;
        boris.UserLimitMaxIn = 100;
        m.User(m.AddUserByName(u"vera")).UserGrID = 1;
    }

    // One second of simulated time, then one control cycle. Returns the limit writes the
    // simulator received during the cycle, in order.
    std::vector<std::string> Cycle() {
        Step();
        sim->ClearJournal();
        EXPECT_TRUE(run->RunCycle());
        std::vector<std::string> writes;
        for (const std::string& line : sim->Journal()) {
            const size_t at = line.find("SetProperty ");
            if (at == std::string::npos || line.find("Bandwidth") == std::string::npos) continue;
            writes.push_back(line.substr(at + 12));
        }
        return writes;
    }

    static std::string In(const char* user, int v) { return Set(user, "In", v); }
    static std::string Out(const char* user, int v) { return Set(user, "Out", v); }
    static std::string Set(const char* user, const char* dir, int v) {
        return std::string("int32:3 BSTR:\"") + user + "\" BSTR:\"User_" + dir +
               "Bandwidth\" INT:" + std::to_string(v) + " int32:1 -> OK";
    }

    void ExpectServerLimits(const char16_t* user, int32_t in, int32_t out) {
        auto u = sim->User(user);
        ASSERT_TRUE(u.has_value());
        EXPECT_EQ(u->limitIn, in) << ToUtf8(user);
        EXPECT_EQ(u->limitOut, out) << ToUtf8(user);
    }
};

TEST_F(DivisionEndToEnd, LimitsFollowDownloadsStartingAndStopping) {
    ASSERT_TRUE(StartRun());

    // First poll: no speed can be measured yet, so nobody is active and nothing is written.
    EXPECT_TRUE(Cycle().empty());

    // anna (group 0) downloads. 512 - 2 x 16 reserved for the two idle users = 480, all of it
    // hers because the lab group has no active user. The idle users hold limits above the
    // reservation, so they keep them.
    // She is seen at her old limit of 64 kbit/s, which is enough to count as active.
    sim->SetDemand(u"anna", {300, 40});
    EXPECT_EQ(Cycle(), (std::vector<std::string>{In("anna", 480), Out("anna", 128)}));
    ExpectServerLimits(u"anna", 480, 128);
    EXPECT_TRUE(Cycle().empty());  // unchanged pairs are not written

    // boris (lab, rating 3, hard maximum 100) starts. Width 512 - 16 = 496; the lab's half is
    // 248, above his maximum: he gets 100 and reuse leaves 396 for the others. Group 0 keeps
    // half of that: anna 198. Outgoing: halves of 128, no maxima.
    sim->SetDemand(u"boris", {200, 100});
    EXPECT_EQ(Cycle(), (std::vector<std::string>{In("boris", 100), Out("boris", 64),
                                                 In("anna", 198), Out("anna", 64)}));
    EXPECT_TRUE(Cycle().empty());

    // vera (lab, rating 1) starts: no reservation left, width 512. boris: 3/4 of 256 = 192,
    // capped at 100, 412 left; anna: half of 412 = 206; vera: the lab's remaining rating 1
    // of 206. Outgoing: boris 3/4 of 64, vera 1/4 of 64. Only changed directions are written.
    sim->SetDemand(u"vera", {500, 200});
    EXPECT_EQ(Cycle(),
              (std::vector<std::string>{Out("boris", 48), In("anna", 206), In("vera", 206)}));
    ExpectServerLimits(u"boris", 100, 48);
    ExpectServerLimits(u"vera", 206, 16);
    EXPECT_TRUE(Cycle().empty());

    // anna stops. Her group keeps its half (only groups without active users give theirs to
    // group 0), the reservation returns: 496; boris 3/4 of 248 capped at 100, vera half of
    // 396 = 198. anna's limit is never lowered while she is idle.
    sim->SetDemand(u"anna", {0, 0});
    EXPECT_EQ(Cycle(), (std::vector<std::string>{In("vera", 198)}));
    ExpectServerLimits(u"anna", 206, 64);
    EXPECT_TRUE(Cycle().empty());

    // boris stops: the lab's half goes to vera alone (rating sum 1): 480 x 0.5 = 240, 64 out.
    // Idle boris's share (3/1 of 240) is above his maximum, but he gives nothing back: his
    // rating is not in the lab's sum.
    sim->SetDemand(u"boris", {0, 0});
    EXPECT_EQ(Cycle(), (std::vector<std::string>{In("vera", 240), Out("vera", 64)}));
    EXPECT_TRUE(Cycle().empty());

    Model::Guard g(m);
    EXPECT_EQ(m.ServerRow.LimitIn, 480 + 32);
    EXPECT_EQ(m.ServerRow.LimitOut, 128);
}

// An office morning: 70 users online but idle beside three downloaders, each idle user counting
// as weakly active with a reservation of 32 kbit/s. 70 x 32 is more than the 2048 channel; the
// idle users together are held to half of it and the downloaders divide the other half, in the
// first cycle that divides and in every later one (a downloader handed almost nothing would
// measure almost nothing, count as weakly active and never be divided to again). Both
// divisions, the configured and the measured width.
struct IdleOffice {
    bool borrowing;
    bool measured;
};

class ManyIdleUsers : public SimControlRun<::testing::TestWithParam<IdleOffice>> {
  protected:
    void SetUp() override {
        tisim::Scenario sc;
        sc.channelIn = 2048;
        sc.channelOut = 512;
        auto add = [&](const Text& name, int32_t limitIn, int32_t limitOut) {
            tisim::UserSetup u;
            u.name = name;
            u.rxBytes = 1048576;  // a counter above 0, so that the second poll measures a speed
            u.limitIn = limitIn;
            u.limitOut = limitOut;
            sc.users.push_back(u);
            m.AddUserByName(name);
        };
        Model::Guard g(m);
        for (int k = 0; k < 70; ++k) add(u"idle" + FromUtf8(std::to_string(k)), 64, 16);
        for (const char16_t* name : {u"dl1", u"dl2", u"dl3"}) add(name, 0, 0);
        sim = std::make_shared<tisim::Simulator>(sc, clock);
        connector = std::make_unique<tisim::SimConnector>(sim);
        for (const char16_t* name : {u"dl1", u"dl2", u"dl3"}) sim->SetDemand(name, {3000, 100});

        Settings& s = m.settings;
        s.AutoLoginPass = sc.password;
        s.TrafficSpeedAutoControll = 3;
        s.RXMAXkbit = 2048;
        s.TXMAXkbit = 512;
        s.UserSleepTraffic = 32;
        s.Use_Sleepers_Traffic = 0;
        s.RefreshTimer_msec = 1000;
        s.ChanalBorrowing = GetParam().borrowing;
        s.AutoMeasure = GetParam().measured;
    }

    void Cycle() {
        Step();
        EXPECT_TRUE(run->RunCycle());
    }
};

TEST_P(ManyIdleUsers, DownloadersKeepTheirPartOfTheChannel) {
    ASSERT_TRUE(StartRun());
    Cycle();  // no speed measured yet: nobody is active
    for (int c = 2; c <= 8; ++c) {
        SCOPED_TRACE(c);
        Cycle();
        // 2048 less 1024 for the idle users together (not 70 x 32 = 2240): 1024 / 3 each.
        for (const char16_t* name : {u"dl1", u"dl2", u"dl3"}) {
            auto u = sim->User(name);
            ASSERT_TRUE(u.has_value());
            EXPECT_EQ(u->limitIn, 341) << ToUtf8(name);
            EXPECT_GT(u->limitOut, 1) << ToUtf8(name);
        }
        // The idle users hold limits above their reservation: they keep them.
        EXPECT_EQ(sim->User(u"idle0")->limitIn, 64);
        Model::Guard g(m);
        EXPECT_EQ(m.ServerRow.LimitIn, 2048);  // what was divided plus what was reserved
    }
}

INSTANTIATE_TEST_SUITE_P(Divisions, ManyIdleUsers,
                         ::testing::Values(IdleOffice{false, false}, IdleOffice{true, false},
                                           IdleOffice{false, true}, IdleOffice{true, true}),
                         [](const auto& info) {
                             return std::string(info.param.borrowing ? "Borrowing" : "Ratings") +
                                    (info.param.measured ? "Measured" : "Configured");
                         });

}  // namespace
}  // namespace movra
