// The window edits users, settings and the whole list while the control thread polls without a
// pause. Run under ThreadSanitizer and AddressSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "core/log_flags.h"
#include "deadline.h"
#include "engine/workers.h"
#include "fake_server.h"
#include "recording_link.h"

namespace movra::testing {
namespace {

Text NameOf(int k) {
    return u"u" + FromUtf8(std::to_string(k));
}
Text IpOf(int k) {
    return u"10.0.0." + FromUtf8(std::to_string(k));
}

TEST(EngineStress, WindowEditsWhileTheControlThreadPolls) {
    constexpr int kNames = 24;
    constexpr int kCycles = 3000;
    ManualClock clock;
    Model m(clock);
    CountingLink link;
    FakeConnector conn;
    auto srv = conn.state;
    srv->keepJournal = false;
    std::map<Text, std::set<int32_t>> written;  // values written to number 31, by user
    srv->refuse = [&written](const Call& c) {   // runs under the server's lock
        if (c.op == Call::kSet && c.property == Variant::Int(31))
            written[c.object].insert(c.value.i);
        return false;
    };
    for (int k = 0; k < kNames; ++k) {
        FakeUser& u = srv->users[NameOf(k)];
        u.ip = IpOf(k);
        u.balance = k;
        u.rx = Variant::R8(1000.0 * (k + 1));
        u.activity = Variant::Date(SystemTimeToOleDate(clock.LocalNow()));
    }
    WorkerEvents ev;
    ev.idle.Set();
    {
        Model::Guard g(m);
        m.SetWindow(&link);
        m.settings.RefreshTimer_msec = 0;
        m.settings.BeforeQuit = 0;
        m.settings.TrafficSpeedAutoControll = 3;
        for (int k = 0; k < kNames / 2; ++k) m.AddUserByName(NameOf(k));
    }

    Workers w(m, link, conn, ev);
    w.StartControl();

    std::mt19937 rng(7);
    std::map<Text, int32_t> pending;  // the last change stored for users still listed
    int32_t nextValue = 1;
    int torn = 0;
    int steps = 0;
    const auto deadline = std::chrono::steady_clock::now() + kWorkerDeadline;
    while (link.refreshes < kCycles && link.fatal == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "the control thread stalled";
            break;
        }
        ++steps;
        Model::Guard g(m);
        int action = rng() % 10;
        int k = rng() % kNames;
        if (action <= 1) {
            m.AddUserByName(NameOf(k));
        } else if (action == 2 && m.NumUsers > 0) {
            int32_t i = rng() % m.NumUsers;
            pending.erase(m.User(i).UserName);
            m.RemoveUser(i);
        } else if (action <= 5 && m.NumUsers > 0) {
            CTiUserData& u = m.User(rng() % m.NumUsers);
            u.NewLimitIn = nextValue;
            u.NewLimitOut = nextValue;
            pending[u.UserName] = nextValue++;
        } else if (action == 6) {
            m.settings.TrafficSpeedAutoControll = static_cast<int32_t>(rng() % 4);
            m.settings.DOWNLOADER_USERNAME = NameOf(k);
            m.settings.UserSleepTraffic = rng() % 50;
            m.settings.RXMAXkbit = 256 + rng() % 1000;
        } else if (action == 7 && rng() % 20 == 0) {
            // Reloading the configuration: every record goes, pending changes with them.
            m.ClearUsers();
            pending.clear();
            for (int j = 0; j < 8; ++j) m.AddUserByName(NameOf(rng() % kNames));
        } else if (action == 8 && m.NumGroups < 4) {
            int32_t gid = m.FindOrAddGroup(NameOf(k));
            if (m.NumUsers > 0) m.User(rng() % m.NumUsers).UserGrID = gid;
        }
        // No record ever carries another user's data.
        for (int32_t i = 0; i < m.NumUsers; ++i) {
            const CTiUserData& u = m.User(i);
            if (u.IP.empty()) continue;
            int k2 = std::stoi(ToUtf8(u.UserName.substr(1)));
            if (u.IP != IpOf(k2) || u.Balance != k2) ++torn;
        }
        g.Release();
        if (steps % 64 == 0) std::this_thread::yield();
    }
    ev.stop.Set();
    JoinWithin(w);

    EXPECT_EQ(link.fatal, 0);
    EXPECT_EQ(link.messages, 0);
    EXPECT_EQ(torn, 0);
    EXPECT_GE(link.refreshes, kCycles);
    // Every change the window stored either reached the server or is still pending.
    Model::Guard g(m);
    std::lock_guard<std::mutex> l(srv->m);
    for (auto& [name, value] : pending) {
        int32_t i = m.FindUserByName(name);
        ASSERT_GE(i, 0);
        bool stillPending = m.User(i).NewLimitIn == value && m.User(i).NewLimitOut == value;
        bool reached = written[name].count(value) > 0;
        EXPECT_TRUE(stillPending || reached) << ToUtf8(name) << " lost " << value;
    }
}

}  // namespace
}  // namespace movra::testing
