// What a refresh reads while the control thread polls and the editors' requests change users
// and groups: every snapshot is one state of the lists. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <set>
#include <thread>

#include "app/application.h"
#include "deadline.h"
#include "engine/fake_server.h"
#include "log/temp_dir.h"

namespace movra::testing {
namespace {

Text NameOf(int k) {
    return Fmt(u"u%d", k);
}

class QuietView : public ViewLink {
  public:
    void LogLine(uint32_t, const Text&) override {}
    void RefreshTable() override { ++refreshes; }
    void UsersChanged() override {}
    void ShowMessage(const Text&) override { ++messages; }
    void ShowLogEffects(const LogEffects&) override {}
    std::atomic<int> refreshes{0}, messages{0};
};

// Users, groups and the group each user is in agree within every snapshot: a group deleted
// between copying the users and the groups would leave users in a group that is not there.
// The summary row names the server the settings name.
TEST(SnapshotStress, RefreshesReadOneStateWhileEditsAndCyclesRun) {
    constexpr int kNames = 16;
    constexpr int kSnapshots = 20000;
    FakeConnector conn;
    conn.state->keepJournal = false;
    for (int k = 0; k < kNames; ++k) conn.state->users[NameOf(k)];
    TempDir dir;
    ManualClock clock;
    WorkerEvents events;
    Application app(conn, events, AppHost{}, clock);
    QuietView view;
    {
        Model& m = app.LiveModel();
        Model::Guard g(m);
        m.settings.LogFileName = dir.File("Movra.log");
        m.settings.RefreshTimer_msec = 0;
        m.settings.BeforeQuit = 0;
        m.settings.TrafficSpeedAutoControll = kModeDivision;
    }
    app.Attach(&view);
    for (int k = 0; k < kNames / 2; ++k) app.AddUser(NameOf(k));
    app.Connect();

    std::atomic<bool> done{false};
    std::thread editor([&] {
        std::mt19937 rng(11);
        AppSnapshot s;
        while (!done) {
            const int k = static_cast<int>(rng() % kNames);
            // Two groups, so that the one deleted is often the last, whose members' ids move.
            const Text group = Fmt(u"g%d", static_cast<int>(rng() % 2));
            switch (rng() % 8) {
                case 0:
                    app.AddUser(NameOf(k));
                    break;
                case 1:
                    app.Snapshot(s);
                    if (s.users.size() > 2) app.DeleteUsers({s.users[rng() % s.users.size()].Id});
                    break;
                case 2:
                    app.EditGroups({GroupsRequest::Kind::kAddOrChange, group, 10.0 + k, {}});
                    break;
                case 3:
                case 4:
                    app.EditGroups({GroupsRequest::Kind::kMoveUser, group, 0.0, NameOf(k)});
                    break;
                case 5:
                    app.EditGroups({GroupsRequest::Kind::kDeleteGroup, group, 0.0, {}});
                    break;
                case 6: {
                    SettingsEdit edit = app.BeginSettingsEdit();
                    edit.settings.Server = u"ti" + FromUtf8(std::to_string(k));
                    app.ApplySettings(edit.settings, edit.base);
                    break;
                }
                default:
                    app.EditGroups({GroupsRequest::Kind::kAddOrChange, group, 10.0 + k, {}});
                    break;
            }
        }
    });

    AppSnapshot s;
    int torn = 0;
    for (int i = 0; i < kSnapshots && torn == 0; ++i) {
        app.Snapshot(s);
        std::set<int32_t> groupIds;
        for (size_t g = 0; g < s.groups.size(); ++g) {
            if (s.groups[g].GroupID != static_cast<int32_t>(g)) ++torn;
            groupIds.insert(s.groups[g].GroupID);
        }
        std::set<uint64_t> ids;
        std::set<Text> names;
        for (const CTiUserData& u : s.users) {
            if (!groupIds.count(u.UserGrID)) ++torn;
            ids.insert(u.Id);
            names.insert(u.UserName);
        }
        if (ids.size() != s.users.size() || names.size() != s.users.size()) ++torn;
        if (s.serverRow.IP != s.settings.Server) ++torn;
    }
    done = true;
    editor.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(view.messages.load(), 0);

    app.Disconnect();
    WaitUntil([&] { return !app.WorkerRunning(); });
}

}  // namespace
}  // namespace movra::testing
