// A window of the service (RemoteApp) against the real service host over an in-memory
// conversation: every request from the window's side and its effect on the service, two windows
// at once, the stale settings rule, the end of the conversation, and the view's calls while a
// request waits. Run under the sanitizers too.
#include "remote/remote_app.h"

#include <gtest/gtest.h>

#include <mutex>

#include "app/channel_history.h"
#include "app/edits.h"
#include "config/config_file.h"
#include "core/log_flags.h"
#include "deadline.h"
#include "memory_link.h"
#include "remote/texts.h"
#include "service/client_adapter.h"
#include "service/service_rig.h"

namespace movra::testing {
namespace {

using namespace std::chrono_literals;
using remote::RemoteApp;
using remote::RemoteAppOptions;

// The window's side of the view: what the window marshals to its thread is queued here, and
// the test's thread, standing for the window's, takes it into the application with Pump.
class WindowView : public ViewLink {
  public:
    void LogLine(uint32_t flags, const Text& text) override {
        std::lock_guard<std::mutex> l(m_);
        lines_.emplace_back(flags, text);
    }
    void RefreshTable() override { ++refreshes; }
    void UsersChanged() override { ++usersChanged; }
    void ShowMessage(const Text& text) override {
        std::lock_guard<std::mutex> l(m_);
        messages_.push_back(text);
    }
    void CycleSummaryReady(const CycleSummary& s) override {
        std::lock_guard<std::mutex> l(m_);
        summaries_.push_back(s);
    }
    void ShowLogEffects(const LogEffects&) override {}

    void Pump(AppPort& app) {
        std::vector<std::pair<uint32_t, Text>> lines;
        std::vector<CycleSummary> summaries;
        {
            std::lock_guard<std::mutex> l(m_);
            lines.swap(lines_);
            summaries.swap(summaries_);
        }
        for (const auto& [flags, text] : lines) {
            const LogEffects fx = app.TakeLogLine(flags, text);
            if (fx.title) titles.push_back(*fx.title);
            shown.push_back(text);
        }
        for (const CycleSummary& s : summaries) app.TakeCycleSummary(s);
    }
    std::vector<Text> Messages() {
        std::lock_guard<std::mutex> l(m_);
        return messages_;
    }

    std::atomic<int> refreshes{0}, usersChanged{0};
    std::vector<Text> titles, shown;  // the test's thread

  private:
    std::mutex m_;
    std::vector<std::pair<uint32_t, Text>> lines_;
    std::vector<CycleSummary> summaries_;
    std::vector<Text> messages_;
};

struct Window {
    Window(service::ClientHub& hub, const Text& who)
        : link(hub), app(link.ToService(), Options(who)) {
        app.Attach(&view);
        link.Start(app);
    }
    ~Window() { link.Stop(); }
    RemoteAppOptions Options(const Text& who) {
        RemoteAppOptions o;
        o.client = who;
        o.lost = [this](const Text& why) {
            std::lock_guard<std::mutex> l(m);
            losses.push_back(why);
        };
        return o;
    }
    AppSnapshot Snap() {
        AppSnapshot s;
        app.Snapshot(s);
        return s;
    }
    std::vector<Text> Losses() {
        std::lock_guard<std::mutex> l(m);
        return losses;
    }

    WindowView view;
    std::mutex m;
    std::vector<Text> losses;
    MemoryLink link;
    RemoteApp app;
};

bool Connected(Window& w) {
    return (w.app.ConnState() & LOG_CONNECTED) != 0;
}

bool Contains(const std::vector<Text>& v, const Text& t) {
    return std::find(v.begin(), v.end(), t) != v.end();
}

TEST(RemoteApp, EveryRequestOfTheWindowActsOnTheService) {
    FakeConnector conn;
    conn.state->users[u"anna"];
    conn.state->users[u"bob"];
    conn.state->listText = Variant::BStr(u"DisplayName=\"anna\" DisplayName=\"bob\"");
    ServiceRig rig(conn);
    rig.WriteConfig(false);
    rig.Start();
    Window w(rig.host->Clients(), u"admin@pc, процесс 1");
    ASSERT_EQ(w.app.Open(60s), std::nullopt);
    ASSERT_EQ(w.Snap().users.size(), 1u);

    // The lists: what the reply answers is already in the window's state.
    EXPECT_EQ(w.app.AddUser(u"carl").result, AddUserResult::kAdded);
    const AddUserOutcome again = w.app.AddUser(u"carl");
    EXPECT_EQ(again.result, AddUserResult::kAlreadyPresent);
    EXPECT_EQ(again.message, u"carl уже есть в списке");
    EXPECT_TRUE(w.app.EditGroups({GroupsRequest::Kind::kAddOrChange, u"склад", 30.0, {}}));
    EXPECT_TRUE(w.app.EditGroups({GroupsRequest::Kind::kMoveUser, u"склад", 0.0, u"carl"}));
    EXPECT_FALSE(w.app.EditGroups({GroupsRequest::Kind::kMoveUser, u"нет", 0.0, u"carl"}));
    AppSnapshot s = w.Snap();
    ASSERT_EQ(s.users.size(), 2u);
    ASSERT_EQ(s.groups.size(), 2u);
    EXPECT_EQ(s.users[1].UserGrID, s.groups[1].GroupID);
    EXPECT_EQ(w.app.CheckGroups(), std::nullopt);
    LimitRequest limit{s.users[0].Id, LimitFieldsFromUser(s.users[0])};
    limit.fields.MaxIn = 700;
    EXPECT_TRUE(w.app.SetUserLimits(limit));
    EXPECT_EQ(w.Snap().users[0].UserLimitMaxIn, 700);
    w.app.DeleteUsers({s.users[1].Id});
    EXPECT_EQ(w.Snap().users.size(), 1u);

    // The settings, Movra.cfg and the mode.
    SettingsEdit edit = w.app.BeginSettingsEdit();
    edit.settings.Server = u"ti.new";
    EXPECT_TRUE(w.app.ApplySettings(edit.settings, edit.base));
    EXPECT_EQ(w.Snap().serverRow.IP, u"ti.new");
    EXPECT_EQ(w.app.BeginSettingsEdit().base, edit.base + 1);
    w.app.SetMode(3);
    WaitUntil([&] { return w.app.CurrentSettings().TrafficSpeedAutoControll == 3; });
    EXPECT_TRUE(w.app.Save({}));
    {
        Model saved(rig.clock);
        struct NoBoxes : MessagePort {
            void ShowMessage(const Text& t) override { ADD_FAILURE() << ToUtf8(t); }
        } boxes;
        ASSERT_TRUE(LoadConfig(saved, boxes));
        EXPECT_EQ(saved.settings.Server, u"ti.new");
        EXPECT_EQ(saved.settings.TrafficSpeedAutoControll, 3);
        EXPECT_EQ(saved.NumUsers, 1);
    }
    edit = w.app.BeginSettingsEdit();
    edit.settings.Server = u"ti.other";
    ASSERT_TRUE(w.app.ApplySettings(edit.settings, edit.base));
    EXPECT_TRUE(w.app.Load());
    EXPECT_EQ(w.app.CurrentSettings().Server, u"ti.new");
    EXPECT_EQ(w.app.BeginSettingsEdit().base, edit.base + 2);

    // Regulation: its lines reach the window's event list under the service's title.
    w.app.Connect();
    WaitUntil([&] { return Connected(w); });
    WaitUntil([&] { return w.view.refreshes.load() > 2; });
    w.view.Pump(w.app);
    EXPECT_TRUE(Contains(w.view.titles, u"Movra - Подключен к ti.new (служба)"));
    EXPECT_TRUE(Contains(w.view.shown, u"Авторизация пользователя TI...OK"));
    // Only the service writes its Movra.log.
    EXPECT_EQ(rig.LogCount(u"Авторизация пользователя TI...OK"), 1);
    // The chart fetches the service's history when it opens.
    w.app.ChartOpening();
    const chart::View v = w.app.History().Shown(chart::Range::k10Min, StampNow(rig.clock));
    EXPECT_FALSE(v.points.back().gap);
    w.app.Disconnect();
    WaitUntil([&] { return !Connected(w) && !w.app.WorkerRunning(); });
    w.app.Import(kImportUsers);
    WaitUntil([&] { return w.Snap().users.size() == 2; });
    EXPECT_EQ(w.Snap().users[1].UserName, u"bob");

    // The service's Movra.log, read in pages by this window.
    w.app.ClearLogFile();
    const remote::LogPage first = w.app.ReadLog(true, 1);
    ASSERT_EQ(first.lines.size(), 1u);
    EXPECT_NE(first.lines[0].find(u"Movra.log Очищен"), Text::npos);
    EXPECT_FALSE(first.error);
    const remote::LogPage rest = w.app.ReadLog(false, 100);
    EXPECT_TRUE(rest.end);
    EXPECT_TRUE(w.app.ReadLog(false, 100).lines.empty());
    EXPECT_EQ(w.app.ReadLog(true, 1).lines, first.lines);
    EXPECT_TRUE(w.view.Messages().empty());
    rig.Stop();
    // The service's stop ends the conversation, said once.
    WaitUntil([&] { return !w.Losses().empty(); });
    EXPECT_EQ(w.Losses(), std::vector<Text>{remote::kServiceStoppingText});
}

TEST(RemoteApp, TwoWindowsShareTheStateAndAnEditOnAnOlderRecordIsRefused) {
    FakeConnector conn;
    ServiceRig rig(conn);
    rig.WriteConfig(false);
    rig.Start();
    Window a(rig.host->Clients(), u"a");
    Window b(rig.host->Clients(), u"b");
    ASSERT_EQ(a.app.Open(60s), std::nullopt);
    ASSERT_EQ(b.app.Open(60s), std::nullopt);

    EXPECT_EQ(a.app.AddUser(u"carl").result, AddUserResult::kAdded);
    WaitUntil([&] { return b.Snap().users.size() == 2; });
    WaitUntil([&] { return b.view.usersChanged.load() > 0; });

    const SettingsEdit ea = a.app.BeginSettingsEdit();
    SettingsEdit eb = b.app.BeginSettingsEdit();
    Settings edited = ea.settings;
    edited.Server = u"ti.a";
    EXPECT_TRUE(a.app.ApplySettings(edited, ea.base));
    eb.settings.Server = u"ti.b";
    EXPECT_FALSE(b.app.ApplySettings(eb.settings, eb.base));
    EXPECT_EQ(b.view.Messages(), std::vector<Text>{kStaleSettingsText});
    EXPECT_EQ(a.app.CurrentSettings().Server, u"ti.a");
    // Shown again with the new record, the edit goes through.
    WaitUntil([&] { return b.app.CurrentSettings().Server == u"ti.a"; });
    eb = b.app.BeginSettingsEdit();
    eb.settings.Server = u"ti.b";
    EXPECT_TRUE(b.app.ApplySettings(eb.settings, eb.base));
    WaitUntil([&] { return a.app.CurrentSettings().Server == u"ti.b"; });
    EXPECT_TRUE(a.view.Messages().empty());
}

// A service end that records what the window sends and answers only as the test says.
class SilentService : public remote::Outbox {
  public:
    void Send(std::shared_ptr<const remote::Message> m) override {
        std::lock_guard<std::mutex> l(mu);
        if (std::holds_alternative<remote::Request>(*m)) ++requests;
        if (std::holds_alternative<remote::Hello>(*m) && onHello) onHello();
    }
    void Close() override {}
    int Requests() {
        std::lock_guard<std::mutex> l(mu);
        return requests;
    }
    std::mutex mu;
    int requests = 0;
    std::function<void()> onHello;
};

TEST(RemoteApp, TheConversationEndsOnceAndFailsWhatWaits) {
    // Another protocol version: the window does not open.
    {
        SilentService service;
        RemoteApp app(service, {});
        service.onHello = [&] { app.Receive(remote::Welcome{remote::kProtocolVersion + 1}); };
        EXPECT_EQ(app.Open(60s), remote::VersionMismatchText(remote::kProtocolVersion + 1,
                                                             remote::kProtocolVersion));
        EXPECT_FALSE(app.Load());
        EXPECT_EQ(service.Requests(), 0);
    }
    // The service goes away while a request waits: it fails at once, the window hears it once.
    SilentService service;
    std::atomic<int> lost{0};
    RemoteAppOptions o;
    o.lost = [&](const Text& why) {
        EXPECT_EQ(why, remote::kServiceLostText);
        ++lost;
    };
    RemoteApp app(service, o);
    service.onHello = [&] {
        app.Receive(remote::Welcome{});
        app.Receive(remote::State{});
    };
    ASSERT_EQ(app.Open(60s), std::nullopt);
    std::thread waiter([&] { EXPECT_FALSE(app.Load()); });
    WaitUntil([&] { return service.Requests() == 1; });
    app.Gone(u"broken pipe");
    waiter.join();
    app.Gone(u"again");
    EXPECT_EQ(lost.load(), 1);
    EXPECT_EQ(app.AddUser(u"x").result, AddUserResult::kNothing);
    EXPECT_EQ(service.Requests(), 1);

    // A reply that never comes ends the conversation just the same.
    SilentService mute;
    std::atomic<int> muteLost{0};
    RemoteAppOptions q;
    q.replyTimeout = 1ms;
    q.lost = [&](const Text& why) {
        EXPECT_EQ(why, remote::kServiceLostText);
        ++muteLost;
    };
    RemoteApp quiet(mute, q);
    mute.onHello = [&] {
        quiet.Receive(remote::Welcome{});
        quiet.Receive(remote::State{});
    };
    ASSERT_EQ(quiet.Open(60s), std::nullopt);
    EXPECT_FALSE(quiet.Save({}));
    EXPECT_FALSE(quiet.Load());
    EXPECT_EQ(muteLost.load(), 1);
}

// The window's thread blocked in a request while the view's call for a line that came before
// the reply waits for that thread: the reply must not wait behind the view's call.
class BlockingView : public ViewLink {
  public:
    explicit BlockingView(std::atomic<bool>& released) : released_(released) {}
    void LogLine(uint32_t flags, const Text& text) override {
        WaitUntil([&] { return released_.load(); });
        // Once the window's thread is free, it handles the line and reads the state.
        app->TakeLogLine(flags, text);
        AppSnapshot s;
        app->Snapshot(s);
        ++lines;
    }
    void RefreshTable() override {}
    void UsersChanged() override {}
    void ShowMessage(const Text&) override {}
    void ShowLogEffects(const LogEffects&) override {}
    AppPort* app = nullptr;
    std::atomic<int> lines{0};

  private:
    std::atomic<bool>& released_;
};

TEST(RemoteApp, AReplyReachesTheWindowWhileTheViewsCallWaitsForIt) {
    FakeConnector conn;
    ServiceRig rig(conn);
    rig.WriteConfig(false);
    rig.Start();
    std::atomic<bool> released{false};
    BlockingView view(released);
    MemoryLink link(rig.host->Clients());
    std::atomic<int> lost{0};
    RemoteAppOptions o;
    o.lost = [&](const Text&) { ++lost; };
    RemoteApp app(link.ToService(), o);
    view.app = &app;
    link.Start(app);
    ASSERT_EQ(app.Open(60s), std::nullopt);
    app.Attach(&view);
    // Clearing the log writes a line before the reply.
    app.ClearLogFile();
    released = true;
    WaitUntil([&] { return view.lines.load() > 0; });
    EXPECT_EQ(lost.load(), 0);
    app.Attach(nullptr);
    link.Stop();
}

}  // namespace
}  // namespace movra::testing
