#include <gtest/gtest.h>

#include "deadline.h"
#include "engine/limits.h"
#include "engine/workers.h"
#include "engine_fixture.h"

namespace movra::testing {
namespace {

using ControlRunTest = EngineFixture;

TEST_F(ControlRunTest, TheWorkersPassEveryCycleSummaryOnToTheWindow) {
    AddUser(u"anna");
    Edit([](Model& m) { m.settings.BeforeQuit = 0; });
    Workers w(m, link, conn, ev);
    ASSERT_TRUE(w.StartControl());
    EXPECT_TRUE(WaitUntil([&] { return !link.Summaries().empty(); }));
    w.BeginExit();
    ev.stop.Set();
    JoinWithin(w);
}

TEST_F(ControlRunTest, NormalRunLogsEveryStageAndEndsOnStop) {
    AddUser(u"anna");
    Edit([](Model& m) { m.settings.BeforeQuit = 0; });
    auto run = Connected();
    ASSERT_TRUE(run->RunCycle());
    ev.stop.Set();
    ASSERT_TRUE(run->Pause());
    run->Stop();

    std::vector<Line> expected = {
        {0x08, u"Подключаюсь кti.local"},
        {0x19, u"Подключаюсь кti.local...OK"},
        {0x08, u"Авторизация пользователя TI"},
        {0x29, u"Авторизация пользователя TI...OK"},
        {0x200, u"Режим мониторинга (только чтение)"},
        {0x08, u"anna - ОнЛайн"},
        {0x100, u"Польз:1 Онлайн:1 Акт:1 Слабоакт:0 Спит:0"},
        {0x08, u"Подготовка к отключению. Оставляю последние ограничения"},
        {0x12, u"Отключение от сервера.... Поток завершен."},
    };
    EXPECT_EQ(LinesOf(link), expected);
    EXPECT_EQ(link.Count(LinkEvent::kRefresh), 1);
    EXPECT_EQ(conn.lastHost, u"ti.local");
    EXPECT_EQ(srv->released, 1);
    EXPECT_TRUE(ev.idle.Wait(0));  // the next worker may start
    Model::Guard g(m);
    EXPECT_EQ(m.ServerRowTexts[0], u"Групп:0");
    EXPECT_EQ(m.ServerRowTexts[1], u"Польз:1");
    EXPECT_EQ(m.ServerRowTexts[2], u"Онлайн:1");
    EXPECT_EQ(m.ServerRowTexts[3], u"Акт:1");
    EXPECT_EQ(m.ServerRowTexts[4], u"Сл.Акт:0");
    EXPECT_EQ(m.ServerRowTexts[5], u"Спит:0");
}

TEST_F(ControlRunTest, ConnectAndLoginFailuresEndTheRunWithTheirOwnOrder) {
    srv->connectFails = true;
    {
        ControlRun run(m, link, conn, ev);
        run.Run();
    }
    auto ev1 = link.Events();
    ASSERT_EQ(ev1.size(), 3u);
    EXPECT_EQ(ev1[1], (LinkEvent{LinkEvent::kLine, 0x50, u"Ошибка подключения к ti.local"}));
    EXPECT_EQ(ev1[2], (LinkEvent{LinkEvent::kMessage, 0, u"Ошибка подключения к ti.local"}));
    EXPECT_TRUE(ev.idle.Wait(0));
    ev.idle.Set();

    link.Clear();
    srv->connectFails = false;
    srv->refuse = [](const Call& c) { return c.op == Call::kLogin; };
    {
        ControlRun run(m, link, conn, ev);
        run.Run();
    }
    auto e = link.Events();
    ASSERT_EQ(e.size(), 5u);
    const Text text = u"Ошибка авторизации. Проверьте пароль ТI на ti.local";
    EXPECT_EQ(e[3], (LinkEvent{LinkEvent::kMessage, 0, text}));  // the box before the line
    EXPECT_EQ(e[4], (LinkEvent{LinkEvent::kLine, 0x50, text}));
    EXPECT_EQ(srv->released, 1);
    EXPECT_TRUE(ev.idle.Wait(0));
}

TEST_F(ControlRunTest, ModeAnnouncementsFollowTheSettingAndArmTheMeasurement) {
    auto run = Connected();
    link.Clear();
    auto cycleWith = [&](int mode, int autoMeasure = 0) {
        Edit([&](Model& m) {
            m.settings.TrafficSpeedAutoControll = mode;
            m.settings.AutoMeasure = autoMeasure;
            m.settings.DOWNLOADER_USERNAME = u"dl";
        });
        link.Clear();
        EXPECT_TRUE(run->RunCycle());
        std::vector<Line> lines;  // the announcements, without division's own lines
        for (auto& l : LinesOf(link))
            if (l.second.rfind(u"Режим", 0) == 0 || l.second.rfind(u"Неизв", 0) == 0)
                lines.push_back(l);
        return lines;
    };
    EXPECT_EQ(
        cycleWith(1),
        (std::vector<Line>{{0x200, u"Режим динамического управления шириной канала для dl"}}));
    EXPECT_TRUE(cycleWith(1).empty());  // no change, no line
    EXPECT_EQ(cycleWith(2), (std::vector<Line>{{0x100, u"Режим отдачи канала ослу"}}));
    EXPECT_EQ(cycleWith(7), (std::vector<Line>{{0x08, u"Неизвестный режим!!!"}}));
    EXPECT_EQ(cycleWith(3), (std::vector<Line>{{0x200,
                                                u"Режим деления канала  поровну между активными "
                                                u"пользователями!"}}));
    EXPECT_FALSE(run->context().run.measurementArmed);
    cycleWith(3, 1);  // switching the flag on in mode 3 has no effect until announced again
    EXPECT_FALSE(run->context().run.measurementArmed);
    cycleWith(0, 1);
    auto lines = cycleWith(3, 1);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], (Line{0x200, u"Режим автозамера скорости входного канала включен!!"}));
    EXPECT_TRUE(run->context().run.measurementArmed);
    cycleWith(0, 0);
    EXPECT_TRUE(run->context().run.measurementArmed);  // stays armed for the run
}

TEST_F(ControlRunTest, ZeroPauseStillSeesTheStopAfterEachCycle) {
    AddUser(u"anna");
    Edit([](Model& m) { m.settings.RefreshTimer_msec = 0; });
    auto run = Connected();
    EXPECT_TRUE(run->RunCycle());
    EXPECT_FALSE(run->Pause());
    srv->U(u"anna").rx = Variant::R8(5000);
    EXPECT_TRUE(run->RunCycle());
    srv->U(u"anna").rx = Variant::R8(9000);
    EXPECT_TRUE(run->RunCycle());
    ev.stop.Set();
    EXPECT_TRUE(run->Pause());
    // No interval to divide by: speeds are 0 and loads finite.
    CTiUserData u = UserRec(u"anna");
    EXPECT_EQ(u.RxSpeed, 0.0);
    EXPECT_EQ(u.RxLoad, 0.0);
}

TEST_F(ControlRunTest, PollFailureReleasesShowsTheBoxThenEnds) {
    AddUser(u"anna");
    AddUser(u"bob");
    AddUser(u"carl");
    srv->users.erase(u"bob");
    auto run = Connected();
    link.Clear();
    srv->Clear();
    EXPECT_FALSE(run->RunCycle());
    EXPECT_FALSE(run->connected());
    EXPECT_EQ(srv->released, 1);
    auto e = link.Events();
    ASSERT_GE(e.size(), 2u);
    EXPECT_EQ(e[e.size() - 2],
              (LinkEvent{LinkEvent::kMessage, 0,
                         u"Ошибка получения данных о пользователе \"bob\" Проверьте список "
                         u"пользователей"}));
    EXPECT_EQ(e.back(), (LinkEvent{LinkEvent::kLine, 0x50,
                                   u"Ошибка получения данных о пользователе \"bob\""}));
    EXPECT_EQ(link.Count(LinkEvent::kRefresh), 0);
    for (const auto& c : srv->Journal()) EXPECT_NE(c.object, u"carl");  // not polled
    EXPECT_TRUE(ev.idle.Wait(0));
}

TEST_F(ControlRunTest, ShortOrBrokenAnswersNeverCrashTheRun) {
    AddUser(u"anna");
    srv->infoSize = 20;  // shorter than the 35 elements the program reads
    {
        ControlRun run(m, link, conn, ev);
        run.Run();
    }
    EXPECT_TRUE(HasLine(link, 0x50, u"Ошибка получения данных о пользователе \"anna\""));
    EXPECT_TRUE(ev.idle.Wait(0));
    ev.idle.Set();

    // Values of the wrong kind: the record keeps what it had, nothing is read out of bounds.
    srv->infoSize = 35;
    link.Clear();
    srv->U(u"anna").rx = Variant::BStr(u"many");
    srv->U(u"anna").activity = Variant::BStr(u"yesterday");
    auto run = Connected();
    EXPECT_TRUE(run->RunCycle());
    CTiUserData u = UserRec(u"anna");
    EXPECT_EQ(u.RxTotal, 0.0);
    EXPECT_EQ(u.LastActivity.wYear, 1899);  // like an empty value
    EXPECT_EQ(u.ActivityClass, kSleeping);
}

TEST_F(ControlRunTest, EachCycleHandsTheChartOneSummaryWithTheGroupsSums) {
    AddUser(u"anna");
    AddUser(u"bob");
    AddUser(u"carl");
    Edit([](Model& m) {
        m.settings.TrafficSpeedAutoControll = kModeDivision;
        m.settings.AutoMeasure = 1;
        m.settings.RXMAXkbit = 2000;
        m.settings.TXMAXkbit = 500;
        const int32_t g = m.FindOrAddGroup(u"Склад");
        m.User(m.FindUserByName(u"anna")).UserGrID = g;
        m.User(m.FindUserByName(u"bob")).UserGrID = g;
    });
    for (const char16_t* n : {u"anna", u"bob", u"carl"})
        srv->U(n).rx = srv->U(n).tx = Variant::R8(1000000);
    auto run = Connected();
    ASSERT_TRUE(run->RunCycle());
    // 128000 bytes in the 1024 "seconds" of a 1000 ms period are 1000 kbit/s; carl's counter
    // went back (a reset) and counts as 0.
    srv->U(u"anna").rx = Variant::R8(1128000);
    srv->U(u"bob").rx = Variant::R8(1064000);
    srv->U(u"carl").rx = Variant::R8(10);
    srv->U(u"bob").tx = Variant::R8(1012800);
    ASSERT_TRUE(run->RunCycle());

    std::vector<CycleSummary> s = link.Summaries();
    ASSERT_EQ(s.size(), 2u);
    const CycleSummary& c = s[1];
    EXPECT_EQ(c.at, StampNow(clock));
    EXPECT_EQ(c.run, run->context().run.runNumber);
    ASSERT_EQ(c.groups.size(), 2u);
    Model::Guard g(m);
    EXPECT_EQ(c.groups[0].key, m.GroupAt(0).Key);
    EXPECT_EQ(c.groups[0].name, u"Без группы");
    EXPECT_EQ(c.groups[1].key, m.GroupAt(1).Key);
    EXPECT_EQ(c.groups[1].name, u"Склад");
    EXPECT_DOUBLE_EQ(c.groups[1].rxSpeed, 1500);
    EXPECT_DOUBLE_EQ(c.groups[1].txSpeed, 100);
    EXPECT_LT(m.User(m.FindUserByName(u"carl")).RxSpeed, 0);
    EXPECT_EQ(c.groups[0].rxSpeed, 0);
    // The limits are those this cycle wrote.
    const CTiUserData& a = m.User(m.FindUserByName(u"anna"));
    const CTiUserData& b = m.User(m.FindUserByName(u"bob"));
    EXPECT_NE(a.LimitIn, 100);
    EXPECT_EQ(c.groups[1].limitIn, a.LimitIn + b.LimitIn);
    EXPECT_EQ(c.groups[1].limitOut, a.LimitOut + b.LimitOut);
    EXPECT_EQ(c.widthIn, 2000);
    EXPECT_EQ(c.widthOut, 500);
    EXPECT_TRUE(c.measuredArmed);
    EXPECT_TRUE(HasLine(link, LOG_INFO, Fmt(u"После коррекции: %.0f кбит/с.", c.measuredIn)));
    EXPECT_EQ(c.online, 3);
    EXPECT_EQ(c.active + c.weak + c.sleeping, 3);
}

// A worker that meets an unexpected exception ends its run visibly and frees the slot.
class ThrowingLink : public RecordingLink {
  protected:
    void Add(LinkEvent e) override {
        bool boom = e.kind == LinkEvent::kRefresh;
        RecordingLink::Add(std::move(e));
        if (boom) throw ListIndexError("user index out of range");
    }
};

TEST_F(ControlRunTest, UnexpectedExceptionEndsTheRunWithAnErrorLine) {
    ThrowingLink tl;
    AddUser(u"anna");
    ControlRun run(m, tl, conn, ev);
    run.Run();
    auto e = tl.Events();
    EXPECT_EQ(e.back().kind, LinkEvent::kLine);
    EXPECT_EQ(e.back().flags, 0x50u);
    EXPECT_EQ(e.back().text,
              u"Внутренняя ошибка потока управления: user index out of range. Отключение от "
              u"сервера.");
    EXPECT_EQ(srv->released, 1);
    EXPECT_TRUE(ev.idle.Wait(0));
}

// The machine's one-regulator place: taken by another program, the desktop edition refuses with
// a line and a box and the service only says that it waits; neither connects. A run that held
// it gives it back before the next worker may start, also after a failure.
TEST_F(ControlRunTest, ARegulatorPlaceTakenElsewhereStopsTheConnect) {
    struct Place : RegulatorLock {
        bool TryHold() override {
            if (held || taken) return false;
            return held = true;
        }
        void Release() override { held = false; }
        bool held = false, taken = true;
    } place;
    for (BusyRegulator busy : {BusyRegulator::kRefuse, BusyRegulator::kWait}) {
        link.Clear();
        {
            ControlRun run(m, link, conn, ev);
            run.UseRegulator(&place, busy);
            run.Run();
        }
        const auto e = link.Events();
        ASSERT_EQ(e.size(), busy == BusyRegulator::kRefuse ? 2u : 1u);
        if (busy == BusyRegulator::kRefuse) {
            const Text text =
                u"Ошибка подключения к ti.local: сервер уже регулирует служба Movra "
                u"или другая копия Movra";
            EXPECT_EQ(e[0], (LinkEvent{LinkEvent::kLine, LOG_FATAL, text}));
            EXPECT_EQ(e[1], (LinkEvent{LinkEvent::kMessage, 0, text}));
        } else {
            EXPECT_EQ(e[0], (LinkEvent{LinkEvent::kLine, LOG_DONE, kRegulatorBusyWaitLine}));
        }
        EXPECT_EQ(srv->connects, 0);
        EXPECT_TRUE(ev.idle.Wait(0));
        ev.idle.Set();
    }

    // Free: the run holds it while connected; a login failure gives it back.
    place.taken = false;
    srv->refuse = [](const Call& c) { return c.op == Call::kLogin; };
    {
        ControlRun run(m, link, conn, ev);
        run.UseRegulator(&place, BusyRegulator::kRefuse);
        run.Run();
    }
    EXPECT_EQ(srv->connects, 1);
    EXPECT_FALSE(place.held);
}

}  // namespace
}  // namespace movra::testing
