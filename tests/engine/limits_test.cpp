#include <gtest/gtest.h>

#include "engine/limits.h"
#include "engine_fixture.h"

namespace movra::testing {
namespace {

class LimitsTest : public EngineFixture {
  protected:
    std::unique_ptr<ControlRun> run;
    void SetUp() override {
        EngineFixture::SetUp();
        AddUser(u"anna");
        AddUser(u"bob");
        run = Connected();
        ASSERT_TRUE(run->RunCycle());  // limits read back: 100/50 each
        link.Clear();
        srv->Clear();
    }
    RunContext& ctx() { return run->context(); }
    LimitWrite Write(const Text& name, int32_t in, int32_t out, int32_t mode) {
        Model::Guard g(m);
        int32_t i = m.FindUserByName(name);
        return LimitWrite{m.User(i).Id, i, in, out, mode};
    }
};

TEST_F(LimitsTest, RegulationFailureTextIsExact) {
    EXPECT_EQ(RegulationFailureText(u"anna", u"srv"),
              u"Перехожу в режим наблюдения! Не получилось изменить Ограничение на прием/передачу "
              u"пользователя anna на сервере ТИ srv Проверьте свойства пользователя anna в ТИ - "
              u"ограничения->прием/передача - должны быть проставлены галочки и числа > 0, а "
              u"галочка \"по умолчанию\", снята!  ");
}

TEST_F(LimitsTest, ModeThreeWritesOnlyWhatChangedAsMachineIntegers) {
    EXPECT_TRUE(ApplyLimits(ctx(), Write(u"anna", 100, 20, 3)));
    auto sets = srv->Sets();
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].property, Variant::BStr(u"User_OutBandwidth"));
    EXPECT_EQ(sets[0].value, Variant::Int(20));
    EXPECT_EQ(
        LinesOf(link),
        (std::vector<Line>{{LOG_LIMIT, u"Изменение ограничения для anna на 100/20 кбит/с."},
                           {0x05, u"Изменение ограничения для anna на 100/20 кбит/с....OK"}}));
    EXPECT_EQ(UserRec(u"anna").LimitOut, 20);  // kept after success
}

TEST_F(LimitsTest, ModeOneWritesIntegersAndNamesTheDownloadUser) {
    Edit([](Model& m) { m.settings.DOWNLOADER_USERNAME = u"anna"; });
    EXPECT_TRUE(ApplyLimits(ctx(), Write(u"anna", 200, 60, 1)));
    auto sets = srv->Sets();
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].property, Variant::BStr(u"User_InBandwidth"));
    EXPECT_EQ(sets[0].value, Variant::I4(200));
    EXPECT_EQ(sets[1].value, Variant::I4(60));
    EXPECT_TRUE(
        HasLine(link, LOG_LIMIT, u"Изменение ограничения для anna с 100/50 на 200/60 кбит/с."));
    EXPECT_TRUE(
        HasLine(link, 0x05, u"Изменение ограничения для anna с 100/50 на 200/60 кбит/с....OK"));
    EXPECT_EQ(UserRec(u"anna").LimitIn, 100);  // read back by the next cycle
}

TEST_F(LimitsTest, RefusedRegulatingWriteShowsOneBoxPerRefusalAndFallsToMonitoring) {
    Edit([](Model& m) { m.settings.TrafficSpeedAutoControll = 3; });
    srv->refuse = [](const Call& c) { return c.op == Call::kSet; };
    EXPECT_FALSE(ApplyLimits(ctx(), Write(u"anna", 10, 10, 3)));
    EXPECT_FALSE(ApplyLimits(ctx(), Write(u"bob", 10, 10, 3)));
    EXPECT_EQ(srv->Sets().size(), 2u);  // the pair's second write is skipped
    auto e = link.Events();
    ASSERT_EQ(e.size(), 6u);
    Text text = RegulationFailureText(u"anna", u"ti.local");
    EXPECT_EQ(e[1], (LinkEvent{LinkEvent::kMessage, 0, text}));
    EXPECT_EQ(e[2], (LinkEvent{LinkEvent::kLine, LOG_ERROR, text}));
    EXPECT_EQ(e[4].kind, LinkEvent::kMessage);
    EXPECT_EQ(UserRec(u"anna").LimitIn, 100);
    Model::Guard g(m);
    EXPECT_EQ(m.settings.TrafficSpeedAutoControll, 0);
}

TEST_F(LimitsTest, ManualChangeWritesOutThenInAndIsClearedWhateverHappens) {
    Edit([](Model& m) {
        m.User(0).NewLimitIn = 200;
        m.User(0).NewLimitOut = 50;
        m.User(1).NewLimitIn = -1;  // nothing pending: stays as it is
        m.User(1).NewLimitOut = 100;
    });
    ASSERT_TRUE(run->RunCycle());
    auto sets = srv->Sets();
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].property, Variant::Int(32));
    EXPECT_EQ(sets[0].value, Variant::Int(50));
    EXPECT_EQ(sets[1].property, Variant::Int(31));
    EXPECT_EQ(sets[1].value, Variant::Int(200));
    auto lines = LinesOf(link);
    EXPECT_EQ(lines[0],
              (Line{LOG_LIMIT, u"Изменение ограничения для anna с 100/50 на 200/50 кбит/с."}));
    EXPECT_EQ(lines[1],
              (Line{0x05, u"Изменение ограничения для anna с 100/50 на 200/50 кбит/с....OK"}));
    EXPECT_EQ(UserRec(u"anna").NewLimitIn, -1);
    EXPECT_EQ(UserRec(u"anna").LimitIn, 200);  // read back in the same turn
    EXPECT_EQ(UserRec(u"bob").NewLimitOut, 100);

    // Refused: box, error line, monitoring; still cleared, and polling goes on.
    Edit([](Model& m) {
        m.settings.TrafficSpeedAutoControll = 3;
        m.User(0).NewLimitIn = 70;
        m.User(0).NewLimitOut = -1;
    });
    srv->refuse = [](const Call& c) { return c.op == Call::kSet; };
    srv->Clear();
    link.Clear();
    ASSERT_TRUE(run->RunCycle());
    EXPECT_EQ(srv->Sets().size(), 1u);  // only number 31: the outgoing value was not given
    EXPECT_EQ(link.Count(LinkEvent::kMessage), 1);
    EXPECT_EQ(UserRec(u"anna").NewLimitIn, -1);
    EXPECT_EQ(link.Count(LinkEvent::kRefresh), 1);
    Model::Guard g(m);
    EXPECT_EQ(m.settings.TrafficSpeedAutoControll, 0);
}

// The window stores a newer change while the old one is on its way to the server.
class EditingLink : public RecordingLink {
  public:
    Model* model = nullptr;

  protected:
    void Add(LinkEvent e) override {
        bool edit = e.kind == LinkEvent::kLine && e.flags == LOG_LIMIT && model;
        RecordingLink::Add(std::move(e));
        if (edit) {
            Model::Guard g(*model);
            model->User(0).NewLimitIn = 999;
            model->User(0).NewLimitOut = 9;
            model = nullptr;
        }
    }
};

TEST_F(LimitsTest, NewerManualChangeStoredMeanwhileIsKept) {
    EditingLink el;
    el.model = &m;
    RunContext c(m, el);
    c.server = std::make_unique<FakeServer>(srv);
    Edit([](Model& m) {
        m.User(0).NewLimitIn = 200;
        m.User(0).NewLimitOut = 50;
    });
    ApplyManualChange(c, UserRec(u"anna").Id, 0);
    EXPECT_EQ(UserRec(u"anna").NewLimitIn, 999);
    EXPECT_EQ(UserRec(u"anna").NewLimitOut, 9);
}

TEST_F(LimitsTest, ExitActionsLeaveTheChosenLimits) {
    Edit([](Model& m) {
        m.User(0).UserLimitMaxIn = 0;
        m.User(0).UserLimitMaxOut = 64;
        m.settings.BeforeQuit = 1;
    });
    srv->U(u"bob").online = 0;  // online or not, everybody gets the exit limits
    RunExitAction(ctx());
    EXPECT_EQ(srv->U(u"anna").limitIn, 0);
    EXPECT_EQ(srv->U(u"anna").limitOut, 64);
    EXPECT_EQ(LinesOf(link)[0], (Line{LOG_INFO,
                                      u"Подготовка к отключению. Снимаю ограничения со всех "
                                      u"пользователей, кроме жестких"}));
    EXPECT_TRUE(HasLine(link, 0x05, u"Выставляю 0/64 для пользователя anna"));
    for (auto& c : srv->Sets()) EXPECT_EQ(c.value.type, VarType::I4);

    // 2: the limits read at the first poll of this run; a user added later has none and is
    // left alone instead of losing its limits.
    AddUser(u"carl").limitIn = 33;
    srv->U(u"anna").limitIn = 5;
    Edit([](Model& m) { m.settings.BeforeQuit = 2; });
    srv->Clear();
    link.Clear();
    RunExitAction(ctx());
    EXPECT_EQ(srv->U(u"anna").limitIn, 100);
    EXPECT_EQ(srv->U(u"anna").limitOut, 50);
    EXPECT_EQ(srv->U(u"carl").limitIn, 33);
    EXPECT_EQ(srv->Sets().size(), 4u);
    EXPECT_EQ(LinesOf(link)[0], (Line{LOG_INFO,
                                      u"Подготовка к отключению. Выставляю "
                                      u"первоначальные ограничения всем пользователям"}));

    // A refusal: an error line for that user, no box, and the others still get theirs.
    srv->refuse = [](const Call& c) { return c.object == u"anna"; };
    srv->Clear();
    link.Clear();
    RunExitAction(ctx());
    EXPECT_TRUE(HasLine(link, LOG_ERROR,
                        u"Не получилось изменить Ограничение на прием/передачу пользователя anna"));
    EXPECT_EQ(link.Count(LinkEvent::kMessage), 0);
    EXPECT_EQ(srv->Sets().size(), 3u);

    // Values the settings view cannot choose: nothing is written.
    Edit([](Model& m) { m.settings.BeforeQuit = 5; });
    srv->Clear();
    link.Clear();
    RunExitAction(ctx());
    EXPECT_TRUE(srv->Sets().empty());
    EXPECT_EQ(LinesOf(link).size(), 1u);
}

// A user whose limits this run could not read yet is left alone: its limits are still the
// administrator's, and they are what the exit restores.
class StartLimitsTest : public EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        FakeUser& a = AddUser(u"anna");
        a.limitIn = 500;
        a.limitOut = 100;
        AddUser(u"bob");
        Edit([](Model& m) {
            m.settings.BeforeQuit = 2;
            m.settings.Use_Sleepers_Traffic = 0;
            m.settings.RXMAXkbit = 512;
            m.settings.TXMAXkbit = 128;
            m.settings.DOWNLOADER_USERNAME = u"anna";
        });
        int reads = 0;
        srv->refuse = [reads](const Call& c) mutable {
            return c.op == Call::kGet && c.object == u"anna" &&
                   c.property == Variant::BStr(u"User_OutBandwidth") && reads++ == 0;
        };
    }
    // Returns anna's limit writes (incoming and outgoing, in order) of the second cycle and of
    // the exit, so that a run that never regulated cannot pass for one that restored.
    std::pair<std::vector<Variant>, std::vector<Variant>> CyclesThenExit() {
        auto run = Connected();
        EXPECT_TRUE(run->RunCycle());
        for (const Call& c : srv->Sets())
            EXPECT_FALSE(c.object == u"anna" && c.property != Variant::Int(30))
                << "written before its limits were read";
        srv->Clear();
        EXPECT_TRUE(run->RunCycle());
        std::vector<Variant> regulated = AnnasLimitWrites();
        srv->Clear();
        run->Stop();
        std::vector<Variant> restored = AnnasLimitWrites();
        std::lock_guard<std::mutex> l(srv->m);
        EXPECT_EQ(srv->users[u"anna"].limitIn, 500);
        EXPECT_EQ(srv->users[u"anna"].limitOut, 100);
        return {regulated, restored};
    }
    std::vector<Variant> AnnasLimitWrites() {
        std::vector<Variant> r;
        for (const Call& c : srv->Sets())
            if (c.object == u"anna" && c.property != Variant::Int(30)) r.push_back(c.value);
        return r;
    }
};

TEST_F(StartLimitsTest, DivisionWaitsForTheLimitsAndTheExitRestoresTheAdministrators) {
    Edit([](Model& m) { m.settings.TrafficSpeedAutoControll = 3; });
    const auto [regulated, restored] = CyclesThenExit();
    bool divided = false;  // in the second cycle, as usual
    for (const Variant& v : regulated) divided |= v == Variant::Int(256);
    EXPECT_TRUE(divided);
    EXPECT_EQ(restored, (std::vector<Variant>{Variant::I4(500), Variant::I4(100)}));
}

TEST_F(StartLimitsTest, ModeOneWaitsForTheDownloadUsersLimitsToo) {
    Edit([](Model& m) { m.settings.TrafficSpeedAutoControll = 1; });
    const auto [regulated, restored] = CyclesThenExit();
    // The free channel once bob's 100/50 are taken off 512/128, then the administrator's again.
    EXPECT_EQ(regulated, (std::vector<Variant>{Variant::I4(412), Variant::I4(78)}));
    EXPECT_EQ(restored, (std::vector<Variant>{Variant::I4(500), Variant::I4(100)}));
}

}  // namespace
}  // namespace movra::testing
