// The application driven through AppPort against the fake server: what reaches the view, what
// the requests do to the lists, Movra.cfg across start-up, save and load, and the exit's bound
// with a server that does not answer. Run under ThreadSanitizer and AddressSanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "app/application.h"
#include "app/edits.h"
#include "core/log_flags.h"
#include "deadline.h"
#include "engine/fake_server.h"
#include "hung_connector.h"
#include "log/temp_dir.h"

namespace movra::testing {
namespace {

// A view that records what reaches it. The real window marshals a worker's line to its own
// thread and hands it back to the application there; tests do that with TakeQueued.
class RecordingView : public ViewLink {
  public:
    void LogLine(uint32_t flags, const Text& text) override {
        std::lock_guard<std::mutex> l(m_);
        queued_.emplace_back(flags, text);
    }
    void RefreshTable() override {}
    void UsersChanged() override { ++usersChanged; }
    void ShowMessage(const Text& text) override {
        std::lock_guard<std::mutex> l(m_);
        messages_.push_back(text);
    }
    void CycleSummaryReady(const CycleSummary&) override { ++summaries; }
    void ShowLogEffects(const LogEffects& fx) override {
        std::lock_guard<std::mutex> l(m_);
        for (const EventLine& e : fx.added) shown_.push_back(e.text);
    }
    void ProcessEnding() override { ++processEnding; }

    // The lines sent so far, taken into the application as the window's thread would.
    void TakeQueued(AppPort& app) {
        std::vector<std::pair<uint32_t, Text>> q;
        {
            std::lock_guard<std::mutex> l(m_);
            q.swap(queued_);
        }
        for (const auto& [flags, text] : q) ShowLogEffects(app.TakeLogLine(flags, text));
    }
    std::vector<Text> Messages() const {
        std::lock_guard<std::mutex> l(m_);
        return messages_;
    }
    // The lines the event list got, in order.
    std::vector<Text> Shown() const {
        std::lock_guard<std::mutex> l(m_);
        return shown_;
    }

    std::atomic<int> usersChanged{0}, summaries{0}, processEnding{0};

  private:
    mutable std::mutex m_;
    std::vector<std::pair<uint32_t, Text>> queued_;
    std::vector<Text> messages_, shown_;
};

class RecordingBoxes : public MessagePort {
  public:
    void ShowMessage(const Text& text) override { texts.push_back(text); }
    std::vector<Text> texts;
};

// An event line as the list shows it, at the rigs' clock.
Text Stamped(const Text& line) {
    return u"01.12.2026 12:00:00 " + line;
}

// The fake server's counts, read under its lock while a worker may still touch them.
int Released(FakeState& s) {
    std::lock_guard<std::mutex> l(s.m);
    return s.released;
}
int Connects(FakeState& s) {
    std::lock_guard<std::mutex> l(s.m);
    return s.connects;
}

bool Contains(const std::vector<Text>& v, const Text& t) {
    return std::find(v.begin(), v.end(), t) != v.end();
}

// An application over a connector, with its files in a fresh folder and its exit on a clock the
// test moves.
struct AppRig {
    explicit AppRig(TiConnector& connector, FileSystem* files = nullptr) {
        AppHost host;
        host.messages = &boxes;
        host.endProcess = [this] { ++processEnds; };
        host.files = files;
        host.steadyMs = [this] { return steadyMs.load(); };
        app = std::make_unique<Application>(connector, events, std::move(host), clock);
        Model& m = app->LiveModel();
        Model::Guard g(m);
        m.settings.LogFileName = dir.File("Movra.log");
        m.settings.ConfigFileName = dir.File("Movra.cfg");
        m.settings.Server = u"ti.local";
        m.settings.RefreshTimer_msec = 0;
        m.settings.BeforeQuit = 0;
    }
    AppSnapshot Snap() {
        AppSnapshot s;
        app->Snapshot(s);
        return s;
    }
    // Attaches the view and connects through `conn` (the rig's connector), returning once the
    // control run waits in it.
    AppPort& ConnectHung(test::HungConnector& conn) {
        app->Attach(&view);
        app->Connect();
        WaitUntil([&] { return conn.Called(); });
        return *app;
    }

    TempDir dir;
    ManualClock clock{1796126400};
    WorkerEvents events;
    RecordingBoxes boxes;
    RecordingView view;
    std::atomic<int64_t> steadyMs{1000};
    std::atomic<int> processEnds{0};
    std::unique_ptr<Application> app;
};

TEST(Application, ConnectCyclesAndDisconnectReachTheAttachedView) {
    FakeConnector conn;
    conn.state->users[u"anna"];
    AppRig rig(conn);
    AppPort& app = *rig.app;
    app.Attach(&rig.view);
    app.AddUser(u"anna");
    {
        // Changed after the view attached: Connect shows the server it connects to.
        Model::Guard g(rig.app->LiveModel());
        rig.app->LiveModel().settings.Server = u"ti.other";
    }
    app.Connect();
    WaitUntil([&] { return rig.view.summaries.load() >= 2; });
    EXPECT_TRUE(app.WorkerRunning());
    EXPECT_EQ(rig.Snap().serverRow.IP, u"ti.other");
    {
        std::lock_guard<std::mutex> l(conn.state->m);
        EXPECT_EQ(conn.lastHost, u"ti.other");
    }

    rig.view.TakeQueued(app);
    EXPECT_EQ(app.ConnState() & LOG_CONNECTED, static_cast<uint32_t>(LOG_CONNECTED));
    EXPECT_TRUE(Contains(rig.view.Shown(), Stamped(u"Авторизация пользователя TI...OK")));
    // The view hands the cycles' figures back; the history keeps them.
    app.TakeCycleSummary(CycleSummary{});
    EXPECT_GT(app.History().MemoryBytes(), 0u);

    app.Disconnect();
    WaitUntil([&] { return !app.WorkerRunning(); });
    EXPECT_EQ(Connects(*conn.state), 1);
    EXPECT_EQ(Released(*conn.state), 1);
    EXPECT_TRUE(rig.view.Messages().empty());
    EXPECT_TRUE(rig.boxes.texts.empty());
}

TEST(Application, ImportAddsTheServersUsers) {
    FakeConnector conn;
    conn.state->listText = Variant::BStr(u"DisplayName=\"zed\" DisplayName=\"amy\"");
    AppRig rig(conn);
    rig.app->Attach(&rig.view);
    rig.app->Import(kImportUsers);
    WaitUntil([&] { return Released(*conn.state) == 1 && !rig.app->WorkerRunning(); });
    const AppSnapshot s = rig.Snap();
    ASSERT_EQ(s.users.size(), 2u);
    EXPECT_EQ(s.users[0].UserName, u"zed");
    EXPECT_EQ(s.users[1].UserName, u"amy");
    EXPECT_GT(rig.view.usersChanged.load(), 0);
}

TEST(Application, RequestsChangeTheLiveListsAndSettings) {
    FakeConnector conn;
    AppRig rig(conn);
    AppPort& app = *rig.app;
    app.Attach(&rig.view);

    EXPECT_EQ(app.AddUser(u"anna").result, AddUserResult::kAdded);
    EXPECT_EQ(app.AddUser(u"bob").result, AddUserResult::kAdded);
    const AddUserOutcome again = app.AddUser(u"anna");
    EXPECT_EQ(again.result, AddUserResult::kAlreadyPresent);
    EXPECT_EQ(again.message, u"anna уже есть в списке");
    EXPECT_EQ(app.AddUser(u"").result, AddUserResult::kNothing);

    EXPECT_TRUE(app.EditGroups({GroupsRequest::Kind::kAddOrChange, u"склад", 30.0, {}}));
    EXPECT_TRUE(app.EditGroups({GroupsRequest::Kind::kMoveUser, u"склад", 0.0, u"bob"}));
    EXPECT_FALSE(app.EditGroups({GroupsRequest::Kind::kMoveUser, u"нет", 0.0, u"bob"}));

    AppSnapshot s = rig.Snap();
    ASSERT_EQ(s.users.size(), 2u);
    ASSERT_EQ(s.groups.size(), 2u);
    EXPECT_EQ(s.users[1].UserGrID, s.groups[1].GroupID);
    EXPECT_EQ(s.groups[1].UserCount, 1);

    LimitRequest limit;
    limit.userId = s.users[0].Id;
    limit.fields = LimitFieldsFromUser(s.users[0]);
    limit.fields.MaxIn = 700;
    EXPECT_TRUE(app.SetUserLimits(limit));

    // Identities, not positions: deleting anna leaves bob, and a second delete is harmless.
    app.DeleteUsers({s.users[0].Id});
    app.DeleteUsers({s.users[0].Id});
    EXPECT_FALSE(app.SetUserLimits(limit));
    s = rig.Snap();
    ASSERT_EQ(s.users.size(), 1u);
    EXPECT_EQ(s.users[0].UserName, u"bob");

    app.SetMode(kModeDivision);
    Settings edited = app.CurrentSettings();
    EXPECT_EQ(edited.TrafficSpeedAutoControll, kModeDivision);
    edited.Server = u"ti.new";
    edited.RXMAXkbit = 512;
    EXPECT_TRUE(app.ApplySettings(edited, app.BeginSettingsEdit().base));
    s = rig.Snap();
    EXPECT_EQ(s.settings.Server, u"ti.new");
    EXPECT_EQ(s.serverRow.IP, u"ti.new");
    EXPECT_EQ(s.serverRow.LimitIn, 512);

    EXPECT_EQ(app.CheckGroups(), std::nullopt);
    {
        Model::Guard g(rig.app->LiveModel());
        rig.app->LiveModel().User(0).UserGrID = 9;
    }
    EXPECT_EQ(app.CheckGroups(),
              std::optional<Text>(u"Пользователь bob входит в несуществующую группу 9"));
}

// The real file system, except that Movra.cfg cannot be read while `held` is set.
class HeldFiles : public PlatformFileSystem {
  public:
    bool held = true;
    FileRead ReadWhole(const Text& name) override {
        if (!held) return PlatformFileSystem::ReadWhole(name);
        FileRead r;
        r.status = FileRead::Status::kUnreadable;
        r.reason = u"Процесс не может получить доступ к файлу";
        return r;
    }
};

// Start-up remembers a Movra.cfg it could not read, so the save asks before replacing it; the
// startup line is given once; load reads back what the save wrote.
TEST(Application, MovraCfgAcrossStartUpSaveAndLoad) {
    FakeConnector conn;
    HeldFiles files;
    AppRig rig(conn, &files);
    AppPort& app = *rig.app;
    const Text cfg = app.CurrentSettings().ConfigFileName;
    rig.app->StartUp();
    ASSERT_EQ(rig.boxes.texts.size(), 1u);  // no view yet: the host shows it
    EXPECT_EQ(rig.boxes.texts[0],
              UnreadConfigText(cfg, u"Процесс не может получить доступ к файлу"));
    app.Attach(&rig.view);
    EXPECT_EQ(app.TakeStartupLine(), std::optional<Text>(rig.boxes.texts[0]));
    EXPECT_EQ(app.TakeStartupLine(), std::nullopt);

    app.AddUser(u"anna");
    app.SetMode(kModeDivision);
    std::vector<Text> asked;
    EXPECT_FALSE(app.Save([&](const Text& q) {
        asked.push_back(q);
        return false;
    }));
    EXPECT_EQ(asked, std::vector<Text>{ReplaceUnreadConfigQuestion(cfg)});
    EXPECT_TRUE(app.Save([](const Text&) { return true; }));
    EXPECT_TRUE(app.Save([](const Text&) -> bool { throw std::logic_error("asked again"); }));

    files.held = false;
    app.DeleteUsers({rig.Snap().users[0].Id});
    app.SetMode(kModeMonitoring);
    EXPECT_TRUE(app.Load());
    const AppSnapshot s = rig.Snap();
    ASSERT_EQ(s.users.size(), 1u);
    EXPECT_EQ(s.users[0].UserName, u"anna");
    EXPECT_EQ(s.settings.TrafficSpeedAutoControll, kModeDivision);
    EXPECT_TRUE(rig.view.Messages().empty());
}

// The settings sheet's result counts only on the record it was made on: a load, a change of the
// mode or another sheet's result in between refuses it, says so and changes nothing.
TEST(Application, ASettingsEditOnAnOlderRecordIsRefused) {
    FakeConnector conn;
    AppRig rig(conn);
    AppPort& app = *rig.app;
    app.Attach(&rig.view);
    const SettingsEdit first = app.BeginSettingsEdit();
    SettingsEdit second = app.BeginSettingsEdit();
    EXPECT_EQ(first.base, second.base);
    second.settings.Server = u"ti.second";
    EXPECT_TRUE(app.ApplySettings(second.settings, second.base));
    Settings edited = first.settings;
    edited.Server = u"ti.first";
    EXPECT_FALSE(app.ApplySettings(edited, first.base));
    EXPECT_EQ(app.CurrentSettings().Server, u"ti.second");
    EXPECT_EQ(rig.view.Messages(), std::vector<Text>{kStaleSettingsText});
    // The revision after one's own result is the next one.
    EXPECT_TRUE(app.ApplySettings(edited, second.base + 1));

    ASSERT_TRUE(app.Save({}));
    const SettingsEdit beforeLoad = app.BeginSettingsEdit();
    ASSERT_TRUE(app.Load());
    EXPECT_FALSE(app.ApplySettings(edited, beforeLoad.base));
    // The sheet shows the mode as well.
    const SettingsEdit beforeMode = app.BeginSettingsEdit();
    app.SetMode(beforeMode.settings.TrafficSpeedAutoControll == 3 ? 1 : 3);
    EXPECT_FALSE(app.ApplySettings(edited, beforeMode.base));
    EXPECT_TRUE(app.ApplySettings(edited, app.BeginSettingsEdit().base));
    EXPECT_EQ(rig.view.Messages().size(), 3u);
}

// A server that never answers holds a worker in its call: the exit waits for it only until its
// bound, then ends the process (the view told first); a second Exit ends it at once.
TEST(Application, AHungServerCannotHoldTheExitBeyondItsBound) {
    test::HungConnector conn{-5};
    AppRig rig(conn);
    AppPort& app = rig.ConnectHung(conn);

    EXPECT_EQ(app.RequestExit(), ExitStep::kWait);
    EXPECT_TRUE(app.ExitBegun());
    EXPECT_EQ(app.ConnState(), static_cast<uint32_t>(EXIT_PENDING));
    EXPECT_EQ(rig.view.Shown(), std::vector<Text>{Stamped(kDisconnectWaitLine)});
    app.Connect();  // the exit is final
    rig.steadyMs += kExitBoundMs - 1;
    EXPECT_EQ(app.CheckExit(), ExitStep::kWait);
    EXPECT_EQ(rig.processEnds.load(), 0);
    rig.steadyMs += 1;
    EXPECT_EQ(app.CheckExit(), ExitStep::kWait);
    EXPECT_EQ(rig.processEnds.load(), 1);
    EXPECT_EQ(rig.view.processEnding.load(), 1);

    app.RequestExit();
    EXPECT_EQ(rig.processEnds.load(), 2);
    // The end after the window closed: nothing is left of the bound.
    rig.app->EndExit([] {});
    EXPECT_EQ(rig.processEnds.load(), 3);

    conn.Answer();
    WaitUntil([&] { return !app.WorkerRunning(); });
    EXPECT_EQ(app.CheckExit(), ExitStep::kClose);
}

// The session's end bounds the exit by its own, shorter bound, and logs why it disconnects.
TEST(Application, TheSessionsEndBoundsTheExitSooner) {
    test::HungConnector conn{-5};
    AppRig rig(conn);
    AppPort& app = rig.ConnectHung(conn);
    EXPECT_TRUE(app.BeginSessionEnd());
    EXPECT_TRUE(app.SessionEnding());
    EXPECT_EQ(rig.view.Shown(), std::vector<Text>{Stamped(kSessionEndLine)});
    EXPECT_EQ(app.ConnState(), static_cast<uint32_t>(EXIT_PENDING));
    rig.steadyMs += kSessionEndBoundMs;
    app.CheckExit();
    EXPECT_EQ(rig.processEnds.load(), 1);
    conn.Answer();
    WaitUntil([&] { return !app.WorkerRunning(); });
}

// Without a worker the exit closes at once, and its end ends nothing.
TEST(Application, AnIdleExitClosesAtOnce) {
    FakeConnector conn;
    AppRig rig(conn);
    rig.app->Attach(&rig.view);
    EXPECT_EQ(rig.app->RequestExit(), ExitStep::kClose);
    rig.app->EndExit([] {});
    EXPECT_EQ(rig.processEnds.load(), 0);
    EXPECT_FALSE(rig.app->BeginSessionEnd());
}

// A worker's box goes to the attached view, or to the host while none is attached.
TEST(Application, BoxesGoToTheViewOrElseToTheHost) {
    FakeConnector conn;
    conn.state->connectFails = true;
    AppRig rig(conn);
    rig.app->Connect();
    WaitUntil([&] { return !rig.app->WorkerRunning(); });
    rig.app->Attach(&rig.view);
    rig.app->Connect();
    WaitUntil([&] { return !rig.app->WorkerRunning() && !rig.view.Messages().empty(); });
    EXPECT_EQ(rig.boxes.texts.size(), 1u);
    EXPECT_EQ(rig.view.Messages(), rig.boxes.texts);
}

}  // namespace
}  // namespace movra::testing
