#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "engine/polling.h"
#include "engine_fixture.h"

namespace movra::testing {
namespace {

using PollingTest = EngineFixture;

TEST_F(PollingTest, FirstCycleClearsTheDefaultBoxAndRecordsStartLimits) {
    AddUser(u"anna");
    auto run = Connected();
    srv->Clear();
    ASSERT_TRUE(run->RunCycle());
    auto j = srv->Journal();
    ASSERT_EQ(j.size(), 5u);
    EXPECT_EQ(j[0].op, Call::kInfo);
    EXPECT_EQ(j[1].op, Call::kSet);
    EXPECT_EQ(j[1].property, Variant::Int(30));
    EXPECT_EQ(j[1].value, Variant::Int(0));
    EXPECT_EQ(j[2].property, Variant::BStr(u"User_OutBandwidth"));
    EXPECT_EQ(j[3].property, Variant::BStr(u"User_InBandwidth"));
    EXPECT_EQ(j[4].property, Variant::Int(78));
    CTiUserData u = UserRec(u"anna");
    EXPECT_EQ(u.StartLimitIn, 100);
    EXPECT_EQ(u.StartLimitOut, 50);
    EXPECT_EQ(u.StartLimitsRun, run->context().run.runNumber);

    srv->Clear();
    srv->U(u"anna").limitIn = 300;
    ASSERT_TRUE(run->RunCycle());
    EXPECT_EQ(srv->Journal().size(), 4u);  // no second clearing
    u = UserRec(u"anna");
    EXPECT_EQ(u.LimitIn, 300);
    EXPECT_EQ(u.StartLimitIn, 100);
}

TEST_F(PollingTest, FailedClearingAndFailedReadsWarnAndKeepValues) {
    AddUser(u"anna");
    srv->refuse = [](const Call& c) {
        return c.op == Call::kSet ||
               (c.op == Call::kGet && c.property == Variant::BStr(u"User_InBandwidth"));
    };
    Edit([](Model& m) { m.User(0).LimitIn = 77; });
    auto run = Connected();
    link.Clear();
    srv->Clear();
    ASSERT_TRUE(run->RunCycle());
    EXPECT_TRUE(HasLine(link, LOG_WARN, u"Не получилось снять галку у \"anna\""));
    EXPECT_TRUE(HasLine(link, LOG_WARN, u"Сбой при обращении к серверу"));
    EXPECT_EQ(srv->Journal().size(), 4u);  // the activity time is not asked after a failure
    CTiUserData u = UserRec(u"anna");
    EXPECT_EQ(u.LimitOut, 50);  // read before the failure
    EXPECT_EQ(u.LimitIn, 77);
    EXPECT_EQ(u.StartLimitsRun, 0u);  // limits not known: nothing to restore later
    EXPECT_EQ(u.LastActivity.wYear, 1899);
}

TEST_F(PollingTest, SpeedsCountersAndLoads) {
    FakeUser& f = AddUser(u"anna");
    f.rx = Variant::R8(1000);
    f.tx = Variant::I4(500);
    f.rxRate = 1280;  // bytes/s -> 10 kbit/s
    f.limitIn = 0;    // no limit
    Edit([](Model& m) { m.settings.RefreshTimer_msec = 1500; });
    auto run = Connected();
    ASSERT_TRUE(run->RunCycle());
    CTiUserData u = UserRec(u"anna");
    EXPECT_EQ(u.RxSpeed, 0.0);  // never polled before: no speed
    EXPECT_EQ(u.TxTotal, 500.0);
    EXPECT_EQ(u.TiRxSpeed, 10.0);
    EXPECT_EQ(u.RxLoad, 0.0);  // no limit: no load, never infinite
    srv->U(u"anna").rx = Variant::R8(1000 + 19200);
    srv->U(u"anna").tx = Variant::I4(500 + 1536);
    srv->U(u"anna").limitIn = 200;
    ASSERT_TRUE(run->RunCycle());
    u = UserRec(u"anna");
    EXPECT_DOUBLE_EQ(u.RxSpeed, 100.0);
    EXPECT_DOUBLE_EQ(u.TxSpeed, 8.0);
    EXPECT_DOUBLE_EQ(u.RxLoad, 50.0);
    EXPECT_DOUBLE_EQ(u.TxLoad, 16.0);
    Model::Guard g(m);
    EXPECT_EQ(m.ServerRow.RxTotal, 20200.0);
    EXPECT_EQ(m.ServerRow.TxTotal, 2036.0);
}

TEST_F(PollingTest, AddressAndOnlineTransitionsLogOnce) {
    FakeUser& f = AddUser(u"anna");
    f.ip = u"0.0.0.0";
    auto run = Connected();
    link.Clear();
    ASSERT_TRUE(run->RunCycle());
    EXPECT_TRUE(UserRec(u"anna").IP.empty());  // 0.0.0.0 is no address
    srv->U(u"anna").ip = u"10.0.0.5";
    ASSERT_TRUE(run->RunCycle());  // first real address: taken silently
    srv->U(u"anna").ip = u"10.0.0.6";
    ASSERT_TRUE(run->RunCycle());
    srv->U(u"anna").ip = u"0.0.0.0";
    srv->U(u"anna").online = 0;
    ASSERT_TRUE(run->RunCycle());
    std::vector<Line> got;
    for (auto& l : LinesOf(link))
        if (l.first != LOG_STATUS && l.first != LOG_MODE) got.push_back(l);
    std::vector<Line> expected = {
        {LOG_INFO, u"anna - ОнЛайн"},
        {LOG_WARN, u"annaСменил IP адрес с 10.0.0.5на 10.0.0.6"},
        {LOG_INFO, u"anna - Отключился"},
    };
    EXPECT_EQ(got, expected);
    CTiUserData u = UserRec(u"anna");
    EXPECT_EQ(u.IP, u"10.0.0.6");
    EXPECT_EQ(u.ActivityClass, kOffline);
    EXPECT_TRUE(HasLine(link, LOG_STATUS, u"Польз:1 Онлайн:0 Акт:0 Слабоакт:0 Спит:0"));
}

// Notes how many server calls had been made when each line arrived.
class CallCountingLink : public RecordingLink {
  public:
    explicit CallCountingLink(FakeState& s) : s_(s) {}
    std::vector<std::pair<Text, size_t>> seen;

  protected:
    void Add(LinkEvent e) override {
        if (e.kind == LinkEvent::kLine) seen.emplace_back(e.text, s_.Journal().size());
        RecordingLink::Add(std::move(e));
    }

  private:
    FakeState& s_;
};

TEST_F(PollingTest, InfoLinesComeBeforeTheLimitReadsAndFailureLinesAfter) {
    FakeUser& f = AddUser(u"anna");
    f.ip = u"10.0.0.6";
    Edit([](Model& m) { m.User(0).IP = u"10.0.0.5"; });
    srv->refuse = [](const Call& c) { return c.op == Call::kSet; };
    CallCountingLink counting(*srv);
    ControlRun run(m, counting, conn, ev);
    run.ClaimSlot();
    ASSERT_TRUE(run.Start());
    srv->Clear();
    ASSERT_TRUE(run.RunCycle());
    // Calls: GetUserInfo, clearing the default box, then the three reads.
    auto at = [&](const Text& text) -> size_t {
        for (auto& [t, n] : counting.seen)
            if (t == text) return n;
        ADD_FAILURE() << ToUtf8(text);
        return 0;
    };
    EXPECT_EQ(at(u"Не получилось снять галку у \"anna\""), 2u);
    EXPECT_EQ(at(u"annaСменил IP адрес с 10.0.0.5на 10.0.0.6"), 2u);
    EXPECT_EQ(at(u"anna - ОнЛайн"), 2u);

    srv->refuse = [](const Call& c) { return c.op == Call::kGet; };
    srv->Clear();
    ASSERT_TRUE(run.RunCycle());
    EXPECT_EQ(at(u"Сбой при обращении к серверу"), 2u);  // GetUserInfo and the refused read
}

TEST_F(PollingTest, SleepAndWakeFollowTheTimeOutAndTheSwitch) {
    FakeUser& f = AddUser(u"anna");
    f.activity = Variant::Date(SystemTimeToOleDate(clock.LocalNow()));  // 01.12.2026 12:00:00
    Edit([](Model& m) {
        m.settings.UserSleep_TimeOut_sec = 20;
        m.settings.UserSleepTraffic = 0;
    });
    auto run = Connected();
    clock.Advance(20);  // exactly the time-out: still awake
    ASSERT_TRUE(run->RunCycle());
    EXPECT_EQ(UserRec(u"anna").ActivityClass, kActive);
    link.Clear();
    clock.Advance(1);
    ASSERT_TRUE(run->RunCycle());
    ASSERT_TRUE(run->RunCycle());  // the line marks the transition only
    EXPECT_EQ(UserRec(u"anna").ActivityClass, kSleeping);
    EXPECT_EQ(CountText(link, u"anna спит (последня активность: 1.12.2026/12:00:00"), 1);
    EXPECT_TRUE(
        HasLine(link, LOG_WARN | LOG_AUX, u"anna спит (последня активность: 1.12.2026/12:00:00"));
    EXPECT_TRUE(HasLine(link, LOG_STATUS, u"Польз:1 Онлайн:1 Акт:0 Слабоакт:0 Спит:1"));
    {
        Model::Guard g(m);
        EXPECT_EQ(m.Groups[0].SleepCount, 1);
    }
    link.Clear();
    Edit([](Model& m) { m.settings.Use_Sleepers_Traffic = 0; });
    ASSERT_TRUE(run->RunCycle());
    EXPECT_EQ(LinesOf(link).front(), (Line{LOG_WARN | LOG_AUX, u"anna Проснулся!"}));
    EXPECT_EQ(UserRec(u"anna").ActivityClass, kActive);
}

TEST_F(PollingTest, WeakAndActiveClassesFillTheGroupCounts) {
    AddUser(u"slow").rx = Variant::R8(1000);
    AddUser(u"fast").rx = Variant::R8(1000);
    AddUser(u"");  // an empty name is never polled
    Edit([](Model& m) {
        m.settings.UserSleepTraffic = 100;
        m.settings.RefreshTimer_msec = 1000;
        int32_t g = m.FindOrAddGroup(u"g");
        m.User(1).UserGrID = g;
        m.User(1).UserKTraff = 2.5f;
    });
    auto run = Connected();
    ASSERT_TRUE(run->RunCycle());
    srv->U(u"slow").rx = Variant::R8(1000 + 12799);  // 99.99 kbit/s
    srv->U(u"fast").rx = Variant::R8(1000 + 12800);  // exactly 100 kbit/s
    srv->Clear();
    ASSERT_TRUE(run->RunCycle());
    for (auto& c : srv->Journal()) EXPECT_FALSE(c.object.empty());
    EXPECT_EQ(UserRec(u"slow").ActivityClass, kWeaklyActive);
    EXPECT_EQ(UserRec(u"fast").ActivityClass, kActive);
    EXPECT_TRUE(HasLine(link, LOG_STATUS, u"Польз:3 Онлайн:2 Акт:1 Слабоакт:1 Спит:0"));
    Model::Guard g(m);
    EXPECT_EQ(m.Groups[0].WeakCount, 1);
    EXPECT_EQ(m.Groups[1].ActiveCount, 1);
    EXPECT_EQ(m.Groups[1].KTraffSum, 2.5f);
    EXPECT_EQ(m.ServerRowTexts[0], u"Групп:1");
}

TEST(ActivityConversion, UnreadableAndOldDatesCountAsLongIdle) {
    ManualClock clock;
    SystemTime now = clock.LocalNow();
    Variant today = Variant::Date(SystemTimeToOleDate(now));
    ActivityTime t = ConvertActivity(&today, clock);
    EXPECT_EQ(t.local, now);
    EXPECT_EQ(t.seconds, clock.Now());

    Variant text = Variant::BStr(u"never");
    EXPECT_EQ(ConvertActivity(&text, clock).local.wYear, 1899);
    EXPECT_EQ(ConvertActivity(nullptr, clock).seconds, 0);
    Variant huge = Variant::R8(1e12);
    EXPECT_EQ(ConvertActivity(&huge, clock).local.wYear, 1899);
    Variant y1950 = Variant::Date(18264);  // 1.1.1950: kept for display, idle for ever
    ActivityTime old = ConvertActivity(&y1950, clock);
    EXPECT_EQ(old.local.wYear, 1950);
    EXPECT_EQ(old.seconds, 0);
    Variant nan = Variant::R8(std::nan(""));
    EXPECT_EQ(ConvertActivity(&nan, clock).seconds, 0);
}

// The window edits the list while the walk has let go of the lock (inside a server call).
class WalkTest : public EngineFixture {
  protected:
    std::unique_ptr<ControlRun> run;
    void SetUp() override {
        EngineFixture::SetUp();
        for (const char16_t* n : {u"a", u"b", u"c", u"d", u"e"}) AddUser(n);
        Edit([](Model& m) {
            m.RemoveUser(m.FindUserByName(u"e"));  // on the server only, for now
            m.settings.TrafficSpeedAutoControll = 3;
            m.settings.RXMAXkbit = 300;
            m.settings.TXMAXkbit = 300;
        });
        run = Connected();
        ASSERT_TRUE(run->RunCycle());  // every user read once: 75/75 each
        srv->Clear();
    }
    // Runs one cycle in which `edit` runs when the server is asked for b's data.
    void CycleEditingAtB(std::function<void(Model&)> edit) {
        srv->refuse = [this, edit](const Call& c) {
            if (c.op == Call::kInfo && c.object == u"b") Edit(edit);
            return false;
        };
        ASSERT_TRUE(run->RunCycle());
        srv->refuse = nullptr;
    }
    int Infos(const Text& name) {
        int n = 0;
        for (const Call& c : srv->Journal()) n += c.op == Call::kInfo && c.object == name;
        return n;
    }
    std::pair<int32_t, int32_t> Limits(const Text& name) {
        std::lock_guard<std::mutex> l(srv->m);
        return {srv->users[name].limitIn, srv->users[name].limitOut};
    }
};

TEST_F(WalkTest, AUserDeletedDuringTheCycleLeavesTheOthersExactLimits) {
    CycleEditingAtB([](Model& m) { m.RemoveUser(m.FindUserByName(u"b")); });
    for (const char16_t* n : {u"a", u"c", u"d"}) {
        EXPECT_EQ(Infos(n), 1) << ToUtf8(n);
        EXPECT_EQ(Limits(n), std::make_pair(100, 100)) << ToUtf8(n);
    }
}

TEST_F(WalkTest, AReorderNeitherSkipsNorRepeatsAndAnAddedUserIsPolledAtOnce) {
    CycleEditingAtB([](Model& m) {
        std::swap(m.Users[0], m.Users[3]);  // a and d change places
        m.AddUserByName(u"e");
    });
    for (const char16_t* n : {u"a", u"b", u"c", u"d", u"e"}) {
        EXPECT_EQ(Infos(n), 1) << ToUtf8(n);
        EXPECT_EQ(Limits(n), std::make_pair(60, 60)) << ToUtf8(n);
    }
}

}  // namespace
}  // namespace movra::testing
