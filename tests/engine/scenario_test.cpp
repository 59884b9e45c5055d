// The control run against TiSim's core on a manual clock: what an administrator would see as
// users download, fall asleep, move and leave, and what each exit action leaves on the server.
#include <gtest/gtest.h>

#include <memory>

#include "engine/control_run.h"
#include "engine/limits.h"
#include "engine_fixture.h"
#include "tisim/sim.h"

namespace movra::testing {
namespace {

class ScenarioTest : public ::testing::Test {
  protected:
    ManualClock clock{1796126400};
    Model m{clock};
    RecordingLink link;
    WorkerEvents ev;
    std::shared_ptr<tisim::Simulator> sim;
    std::unique_ptr<tisim::SimConnector> connector;
    std::unique_ptr<ControlRun> run;

    void SetUp() override {
        tisim::Scenario sc;
        sc.channelIn = 4096;
        sc.channelOut = 1024;
        for (const char16_t* name : {u"anna", u"boris"}) {
            tisim::UserSetup u;
            u.name = name;
            u.ip = u"10.1.1.1";
            u.rxBytes = 1000;
            u.limitIn = 300;
            u.limitOut = 100;
            sc.users.push_back(u);
        }
        sim = std::make_shared<tisim::Simulator>(sc, clock);
        connector = std::make_unique<tisim::SimConnector>(sim);
        ev.idle.Set();
        Model::Guard g(m);
        m.SetWindow(&link);
        Settings& s = m.settings;
        s.AutoLoginPass = sc.password;
        s.RefreshTimer_msec = 1000;
        s.UserSleep_TimeOut_sec = 20;
        s.UserSleepTraffic = 8;
        s.TrafficSpeedAutoControll = 0;
        m.AddUserByName(u"anna");
        m.AddUserByName(u"boris");
        m.User(1).UserLimitMaxIn = 64;
    }

    void Connect() {
        run = std::make_unique<ControlRun>(m, link, *connector, ev);
        run->ClaimSlot();
        ASSERT_TRUE(run->Start());
    }
    void Cycle(double seconds = 1) {
        sim->Advance(seconds);
        clock.Advance(static_cast<int64_t>(seconds));
        ASSERT_TRUE(run->RunCycle());
    }
    void StopRun() {
        ev.stop.Set();
        ASSERT_TRUE(run->Pause());
        run->Stop();
    }
    CTiUserData Rec(const Text& name) {
        Model::Guard g(m);
        return m.User(m.FindUserByName(name));
    }
};

TEST_F(ScenarioTest, DownloadSleepWakeMoveAndLeave) {
    Connect();
    Cycle();
    EXPECT_EQ(Rec(u"anna").ActivityClass, kWeaklyActive);
    EXPECT_FALSE(sim->User(u"anna")->defaultLimits);  // the first cycle cleared the box

    sim->SetDemand(u"anna", {200, 20});
    Cycle();
    Cycle();
    CTiUserData a = Rec(u"anna");
    EXPECT_EQ(a.ActivityClass, kActive);
    EXPECT_NEAR(a.RxSpeed, 200, 1);
    EXPECT_GT(a.RxLoad, 50);
    EXPECT_TRUE(HasLine(link, LOG_STATUS, u"Польз:2 Онлайн:2 Акт:1 Слабоакт:1 Спит:0"));

    // boris moves nothing: after the time-out he sleeps, once.
    Cycle(25);
    Cycle();
    EXPECT_EQ(Rec(u"boris").ActivityClass, kSleeping);
    int sleeps = 0;
    for (auto& l : LinesOf(link))
        if (l.second.rfind(u"boris спит (последня активность: ", 0) == 0) {
            ++sleeps;
            EXPECT_EQ(l.first, LOG_WARN | LOG_AUX);
        }
    EXPECT_EQ(sleeps, 1);

    sim->SetDemand(u"boris", {50, 5});
    Cycle();
    EXPECT_TRUE(HasLine(link, LOG_WARN | LOG_AUX, u"boris Проснулся!"));
    EXPECT_NE(Rec(u"boris").ActivityClass, kSleeping);

    sim->SetIp(u"anna", u"10.1.1.9");
    Cycle();
    EXPECT_TRUE(HasLine(link, LOG_WARN, u"annaСменил IP адрес с 10.1.1.1на 10.1.1.9"));

    sim->SetOnline(u"anna", false);
    Cycle();
    EXPECT_TRUE(HasLine(link, LOG_INFO, u"anna - Отключился"));
    EXPECT_EQ(Rec(u"anna").ActivityClass, kOffline);
    EXPECT_EQ(Rec(u"anna").IP, u"10.1.1.9");
}

TEST_F(ScenarioTest, RefusedWriteFallsToMonitoringWithOneBox) {
    tisim::Faults f;
    f.refusals.push_back({u"anna", 31, false, true});
    sim->SetFaults(f);
    {
        Model::Guard g(m);
        m.settings.TrafficSpeedAutoControll = 3;
        m.settings.RXMAXkbit = 512;
        m.settings.TXMAXkbit = 128;
    }
    sim->SetDemand(u"anna", {200, 20});
    Connect();
    Cycle();
    Cycle();
    Cycle();
    Cycle();
    EXPECT_EQ(link.Count(LinkEvent::kMessage), 1);
    EXPECT_EQ(link.Messages()[0], RegulationFailureText(u"anna", u"192.168.0.1"));
    EXPECT_TRUE(HasLine(link, LOG_MODE, u"Режим мониторинга (только чтение)"));
    Model::Guard g(m);
    EXPECT_EQ(m.settings.TrafficSpeedAutoControll, 0);
}

TEST_F(ScenarioTest, EachExitActionLeavesTheChosenLimits) {
    struct Case {
        int beforeQuit;
        int32_t annaIn, annaOut, borisIn, borisOut;
    };
    // anna online, boris offline at the end; both had 300/100 when Movra connected.
    for (Case c : {Case{0, 11, 12, 13, 14}, Case{1, 0, 0, 64, 0}, Case{2, 300, 100, 300, 100},
                   Case{9, 11, 12, 13, 14}}) {
        SCOPED_TRACE(c.beforeQuit);
        sim->SetLimits(u"anna", 300, 100);
        sim->SetLimits(u"boris", 300, 100);
        sim->SetOnline(u"boris", true);
        {
            Model::Guard g(m);
            m.settings.BeforeQuit = c.beforeQuit;
        }
        Connect();
        Cycle();
        sim->SetLimits(u"anna", 11, 12);  // changed on the server during the run
        sim->SetLimits(u"boris", 13, 14);
        sim->SetOnline(u"boris", false);
        Cycle();
        StopRun();
        EXPECT_EQ(sim->User(u"anna")->limitIn, c.annaIn);
        EXPECT_EQ(sim->User(u"anna")->limitOut, c.annaOut);
        EXPECT_EQ(sim->User(u"boris")->limitIn, c.borisIn);
        EXPECT_EQ(sim->User(u"boris")->limitOut, c.borisOut);
        EXPECT_EQ(LinesOf(link).back(), (Line{0x12, u"Отключение от сервера.... Поток завершен."}));
        EXPECT_TRUE(ev.idle.Wait(0));
        ev.idle.Set();
    }
}

}  // namespace
}  // namespace movra::testing
