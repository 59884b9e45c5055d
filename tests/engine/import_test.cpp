#include <gtest/gtest.h>

#include "deadline.h"
#include "engine/import_run.h"
#include "engine/workers.h"
#include "engine_fixture.h"

namespace movra::testing {
namespace {

class ImportTest : public EngineFixture {
  protected:
    int Import(int32_t request) {
        ImportRun run(m, link, conn, ev, request);
        int code = run.Run();
        EXPECT_TRUE(ev.idle.Wait(0));
        ev.idle.Set();
        return code;
    }
    std::vector<Text> Names() {
        Model::Guard g(m);
        std::vector<Text> r;
        for (int32_t i = 0; i < m.NumUsers; ++i) r.push_back(m.User(i).UserName);
        return r;
    }
};

TEST_F(ImportTest, UsersJobAppendsNewNamesInTextOrder) {
    AddUser(u"bob");
    srv->listText = Variant::BStr(
        u"x DisplayName=\"zed\" y DisplayName=\"bob\" displayname=\"no\" DisplayName=\"\" "
        u"DisplayName=\"amy\" DisplayName=\"cut");
    link.Clear();
    EXPECT_EQ(Import(1), 1);
    EXPECT_EQ(Names(), (std::vector<Text>{u"bob", u"zed", u"", u"amy"}));
    EXPECT_EQ(CountText(link, u"Список получен."), 4);  // the unterminated value is dropped
    std::vector<Line> lines = LinesOf(link);
    EXPECT_EQ(lines[0], (Line{0x08, u"Подключаюсь кti.local"}));
    EXPECT_EQ(lines[1], (Line{0x29, u"Подключаюсь кti.local...OK"}));
    EXPECT_EQ(lines[3], (Line{0x29, u"Авторизация пользователя TI...OK"}));
    EXPECT_EQ(lines[4], (Line{0x08, u"Получение списка пользователей TI"}));
    EXPECT_EQ(lines.back(), (Line{0x18, u"Отключился от сервера."}));
    auto e = link.Events();
    EXPECT_EQ(e.back().kind, LinkEvent::kUsersChanged);
    EXPECT_EQ(link.Count(LinkEvent::kUsersChanged), 4);  // three appends and the end
    EXPECT_EQ(srv->released, 1);
}

TEST_F(ImportTest, FailuresEndWithMinusOne) {
    srv->refuse = [](const Call& c) { return c.op == Call::kList; };
    EXPECT_EQ(Import(1), -1);
    EXPECT_EQ(LinesOf(link).back(), (Line{0x50, u"Ошибка."}));
    EXPECT_EQ(link.Count(LinkEvent::kUsersChanged), 0);

    link.Clear();
    srv->refuse = [](const Call& c) { return c.op == Call::kLogin; };
    EXPECT_EQ(Import(1), -1);
    auto e = link.Events();
    const Text text = u"Ошибка авторизации. Проверьте пароль ТI на ti.local";
    EXPECT_EQ(e[e.size() - 2], (LinkEvent{LinkEvent::kMessage, 0, text}));
    EXPECT_EQ(e.back(), (LinkEvent{LinkEvent::kLine, 0x50, text}));

    link.Clear();
    srv->connectFails = true;
    EXPECT_EQ(Import(1), -1);
    e = link.Events();
    EXPECT_EQ(e[e.size() - 2],
              (LinkEvent{LinkEvent::kLine, 0x50, u"Ошибка подключения к ti.local"}));
    EXPECT_EQ(e.back(), (LinkEvent{LinkEvent::kMessage, 0, u"Ошибка подключения к ti.local"}));
    EXPECT_EQ(srv->released, 2);
}

TEST_F(ImportTest, GroupsJobAssignsGroupsAndShares) {
    AddUser(u"a").group = Variant::BStr(u"office");
    AddUser(u"b").group = Variant::BStr(u"office");
    AddUser(u"c").group = Variant::BStr(u"");
    AddUser(u"d").group = Variant::BStr(u"lab");
    AddUser(u"e").group = Variant::I4(5);  // not a name
    srv->groupLimits[u"office"] = 250;
    Edit([](Model& m) {
        m.settings.RXMAXkbit = 1000;
        m.User(2).UserGrID = 7;  // no group on the server: back to group 0
        m.User(4).UserGrID = 0;
        int32_t lab = m.FindOrAddGroup(u"lab");
        m.Groups[lab].GroupMaxIn = 0.5f;
    });
    EXPECT_EQ(Import(2), 1);
    Model::Guard g(m);
    ASSERT_EQ(m.NumGroups, 3);
    EXPECT_EQ(m.Groups[2].GroupName, u"office");
    EXPECT_EQ(m.Groups[2].GroupMaxIn, 0.25f);
    EXPECT_EQ(m.Groups[2].UserCount, 2);      // recounted once the import is complete
    EXPECT_EQ(m.Groups[1].GroupMaxIn, 0.5f);  // its summed limit could not be read
    EXPECT_EQ(m.User(0).UserGrID, 2);
    EXPECT_EQ(m.User(1).UserGrID, 2);
    EXPECT_EQ(m.User(2).UserGrID, 0);
    EXPECT_EQ(m.User(3).UserGrID, 1);
    EXPECT_EQ(m.User(4).UserGrID, 0);
    g.Release();
    EXPECT_EQ(CountText(link, u"...OK"), 4);
    EXPECT_TRUE(HasLine(link, 0x08, u"Получение списка групп TI"));
    EXPECT_TRUE(HasLine(link, LOG_ERROR, u"Ограничения суммарной скорости на группу lab"));
    EXPECT_TRUE(HasLine(link, LOG_ERROR, u"Не получилось получить имя группы для e"));
    int groupReads = 0;
    for (auto& c : srv->Journal()) groupReads += c.kind == kKindGroup;
    EXPECT_EQ(groupReads, 3);  // once per member; none for the empty name
}

TEST_F(ImportTest, GroupsJobGoesOnWithTheNextUserWhenTheCurrentOneIsDeleted) {
    for (const char16_t* n : {u"a", u"b", u"c"}) AddUser(n).group = Variant::BStr(u"office");
    srv->refuse = [this](const Call& c) {
        if (c.op == Call::kGet && c.object == u"b" && c.property == Variant::Int(8))
            Edit([](Model& m) { m.RemoveUser(m.FindUserByName(u"b")); });
        return false;
    };
    EXPECT_EQ(Import(2), 1);
    Model::Guard g(m);
    ASSERT_EQ(m.NumUsers, 2);
    EXPECT_EQ(m.User(0).UserGrID, 1);
    EXPECT_EQ(m.User(1).UserName, u"c");
    EXPECT_EQ(m.User(1).UserGrID, 1);
}

TEST_F(ImportTest, ZeroChannelWidthLeavesSharesAlone) {
    AddUser(u"a").group = Variant::BStr(u"office");
    srv->groupLimits[u"office"] = 250;
    Edit([](Model& m) { m.settings.RXMAXkbit = 0; });
    EXPECT_EQ(Import(2), 1);
    Model::Guard g(m);
    EXPECT_EQ(m.Groups[1].GroupMaxIn, 0.0f);
}

TEST_F(ImportTest, StartingAnImportStopsTheControlThreadFirst) {
    AddUser(u"anna");
    srv->listText = Variant::BStr(u"DisplayName=\"zed\"");
    Edit([](Model& m) {
        m.settings.RefreshTimer_msec = 60000;
        m.settings.BeforeQuit = 0;
    });
    {
        Workers w(m, link, conn, ev);
        w.StartControl();
        ASSERT_TRUE(WaitUntil([&] { return link.Count(LinkEvent::kRefresh) > 0; }));
        w.StartImport(1);
        JoinWithin(w);
    }
    auto lines = LinesOf(link);
    auto at = [&](const Text& t) {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].second == t) return static_cast<int>(i);
        return -1;
    };
    int wait = at(u"Жду завершения потока..."),
        stopped = at(u"Отключение от сервера.... Поток завершен."), done = at(u"Поток завершен.");
    // The import signals the stop event before it logs that it waits, so the control thread's
    // last line may come before or after that line; it always comes before the import goes on.
    ASSERT_GE(wait, 0);
    ASSERT_GE(stopped, 0);
    EXPECT_LT(wait, done);
    EXPECT_LT(stopped, done);
    EXPECT_EQ(lines[done].first, 0x18u);
    EXPECT_EQ(lines.back().second, u"Отключился от сервера.");
    EXPECT_EQ(Names().back(), u"zed");
    EXPECT_TRUE(ev.idle.Wait(0));
}

TEST_F(ImportTest, ControlStartedDuringAnotherRunRestartsAfterIt) {
    AddUser(u"anna");
    Edit([](Model& m) { m.settings.RefreshTimer_msec = 60000; });
    Workers w(m, link, conn, ev);
    w.StartControl();
    ASSERT_TRUE(WaitUntil([&] { return link.Count(LinkEvent::kRefresh) > 0; }));
    w.StartControl();
    ASSERT_TRUE(WaitUntil([&] { return link.Count(LinkEvent::kRefresh) >= 2; }));
    EXPECT_TRUE(HasLine(link, 0x18, u"Поток завершен.Перезапускаю..."));
    ev.stop.Set();
    JoinWithin(w);
    EXPECT_EQ(srv->released, 2);
}

}  // namespace
}  // namespace movra::testing
