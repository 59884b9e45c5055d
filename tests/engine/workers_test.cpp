// Connect, import and Disconnect as the window makes them, with real worker threads: the latest
// request wins, a Disconnect leaves nothing running, and the threads do not pile up.
// Run under ThreadSanitizer and AddressSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <random>
#include <system_error>
#include <thread>

#include "deadline.h"
#include "engine/workers.h"
#include "engine_fixture.h"

namespace movra::testing {
namespace {

using namespace std::chrono_literals;

// The window's Disconnect; the tests wait `ms` as the window does, or less to stay quick.
bool Disconnect(Workers& w, uint32_t ms = 200) {
    return w.Disconnect(ms);
}

// A window that holds the control run at the end of its cycle until the test lets it go, so the
// starts that queue behind it are in place before it ends.
class GatedLink : public RecordingLink {
  public:
    std::atomic<bool> open{true};
    std::atomic<int> refreshes{0};
    void RefreshTable() override {
        RecordingLink::RefreshTable();
        ++refreshes;
        while (!open) std::this_thread::sleep_for(1ms);
    }
};

class WorkersTest : public EngineFixture {
  protected:
    GatedLink gate;

    void SetUp() override {
        EngineFixture::SetUp();
        m.SetWindow(&gate);
        AddUser(u"anna");
        srv->users[u"anna"].group = Variant::BStr(u"g");
        srv->groupLimits[u"g"] = 100;
        srv->listText = Variant::BStr(u"DisplayName=\"zed\"");
        Edit([](Model& m) {
            m.settings.RefreshTimer_msec = 60000;
            m.settings.BeforeQuit = 0;
        });
    }

    // A control run that has made its first cycle and now stands at its end.
    void ConnectedAndHeld(Workers& w) {
        gate.open = false;
        ASSERT_TRUE(w.StartControl());
        WaitUntil([&] { return gate.refreshes > 0; });
    }
    void WaitForWaitLines(int n) {
        WaitUntil([&] { return CountText(gate, u"Жду завершения потока...") >= n; });
    }
    int Live() {
        std::lock_guard<std::mutex> l(srv->m);
        return srv->connects - srv->released;
    }
};

TEST_F(WorkersTest, OneDisconnectAfterTwoConnectsLeavesNothingRunning) {
    Workers w(m, gate, conn, ev);
    ConnectedAndHeld(w);
    ASSERT_TRUE(w.StartControl());
    WaitForWaitLines(1);
    ASSERT_TRUE(w.StartControl());
    WaitForWaitLines(2);
    EXPECT_TRUE(Disconnect(w, 0));
    gate.open = true;
    WaitUntil([&] { return !w.Running(); });

    EXPECT_EQ(srv->connects, 1);
    EXPECT_EQ(srv->released, 1);
    EXPECT_EQ(CountText(gate, u"Поток завершен.Перезапускаю..."), 0);  // both gave up silently
    EXPECT_EQ(LinesOf(gate).back(), Line(0x12, u"Отключение от сервера.... Поток завершен."));
    EXPECT_TRUE(ev.idle.Wait(0));
    JoinWithin(w);
}

TEST_F(WorkersTest, AnImportRequestedWhileAConnectWaitsRunsNextAndAlone) {
    Workers w(m, gate, conn, ev);
    ConnectedAndHeld(w);
    ASSERT_TRUE(w.StartControl());
    WaitForWaitLines(1);
    ASSERT_TRUE(w.StartImport(kImportUsers));
    WaitForWaitLines(2);  // the import's own line
    gate.open = true;
    WaitUntil([&] { return !w.Running(); });

    EXPECT_EQ(srv->connects, 2);  // the first control run and the import
    EXPECT_EQ(srv->released, 2);
    EXPECT_EQ(CountText(gate, u"Поток завершен.Перезапускаю..."), 0);
    EXPECT_TRUE(HasLine(gate, 0x18, u"Поток завершен."));
    EXPECT_EQ(LinesOf(gate).back(), Line(0x18, u"Отключился от сервера."));
    EXPECT_TRUE(ev.idle.Wait(0));
    JoinWithin(w);
}

// Each import start carries its own request: the one superseded while waiting fetches nothing,
// the latest fetches exactly what it asked for.
TEST_F(WorkersTest, TheLatestImportFetchesWhatItsOwnRequestAsked) {
    Workers w(m, gate, conn, ev);
    ConnectedAndHeld(w);
    ASSERT_TRUE(w.StartImport(kImportUsers));
    WaitForWaitLines(1);
    ASSERT_TRUE(w.StartImport(kImportGroups));
    WaitForWaitLines(2);
    gate.open = true;
    WaitUntil([&] { return !w.Running(); });

    JoinWithin(w);
    EXPECT_EQ(srv->connects, 2);
    Model::Guard g(m);
    EXPECT_LT(m.FindUserByName(u"zed"), 0);  // the user list was not fetched
    const int32_t group = m.FindGroupIdByName(u"g");
    ASSERT_GT(group, 0);
    EXPECT_EQ(m.User(m.FindUserByName(u"anna")).UserGrID, group);
}

TEST_F(WorkersTest, ALaterRequestAfterADisconnectStillRuns) {
    Workers w(m, gate, conn, ev);
    ConnectedAndHeld(w);
    ASSERT_TRUE(w.StartControl());
    WaitForWaitLines(1);
    EXPECT_TRUE(Disconnect(w, 0));
    ASSERT_TRUE(w.StartImport(kImportUsers));
    WaitForWaitLines(2);
    gate.open = true;
    WaitUntil([&] { return !w.Running(); });
    EXPECT_EQ(srv->connects, 2);
    EXPECT_EQ(LinesOf(gate).back(), Line(0x18, u"Отключился от сервера."));
    JoinWithin(w);
}

// A connection-state line (one the window changes its state on).
bool StateLine(const LinkEvent& e) {
    return e.kind == LinkEvent::kLine && (e.flags & (LOG_CONNECTED | LOG_DISCONNECTED));
}

TEST(WorkersRaces, OnceQuietExactlyTheLastRequestedRunIsRunning) {
    constexpr int kSequences = 1000;
    std::mt19937 rng(20261209);
    for (int seq = 0; seq < kSequences; ++seq) {
        SCOPED_TRACE(::testing::Message() << "sequence " << seq);
        ManualClock clock{1796126400};
        Model m(clock);
        RecordingLink link;
        FakeConnector conn;
        auto srv = conn.state;
        srv->keepJournal = false;
        for (const Text name : {u"a", u"b"}) {
            srv->users[name].activity = Variant::Date(SystemTimeToOleDate(clock.LocalNow()));
            srv->users[name].group = Variant::BStr(u"g");
        }
        srv->groupLimits[u"g"] = 100;
        srv->listText = Variant::BStr(u"DisplayName=\"a\"");
        std::atomic<uint32_t> jitter{static_cast<uint32_t>(rng())};
        srv->refuse = [&](const Call&) {
            // Vary where the other threads meet the server calls.
            if (jitter.fetch_add(2654435761u) % 4 == 0) std::this_thread::yield();
            return false;
        };
        WorkerEvents ev;
        ev.idle.Set();
        {
            Model::Guard g(m);
            m.SetWindow(&link);
            m.settings.RefreshTimer_msec = rng() % 3;
            m.settings.BeforeQuit = 0;
            m.AddUserByName(u"a");
            m.AddUserByName(u"b");
        }
        Workers w(m, link, conn, ev);
        auto live = [&] {
            std::lock_guard<std::mutex> l(srv->m);
            return srv->connects - srv->released;
        };
        auto gap = [&] {
            uint32_t us = rng() % 200;
            if (us > 100) std::this_thread::sleep_for(std::chrono::microseconds(us - 100));
        };

        enum Request { kConnect, kImport, kDisconnect } last = kDisconnect;
        const int n = 1 + static_cast<int>(rng() % 5);
        size_t mark = 0;
        for (int i = 0; i < n; ++i) {
            last = static_cast<Request>(rng() % 3);
            if (i == n - 1) mark = link.Events().size();
            if (last == kConnect) {
                ASSERT_TRUE(w.StartControl());
            } else if (last == kImport) {
                ASSERT_TRUE(w.StartImport(1 + static_cast<int32_t>(rng() % 2)));
            } else {
                Disconnect(w, rng() % 2);
            }
            gap();
        }

        if (last == kConnect) {
            // Regulating: connected after the last request, two cycles made since, one object.
            WaitUntil([&] {
                const auto events = link.Events();
                size_t connected = events.size(), refreshes = 0;
                for (size_t k = mark; k < events.size(); ++k) {
                    if (StateLine(events[k]))
                        connected = events[k].flags & LOG_CONNECTED ? k : events.size();
                    else if (events[k].kind == LinkEvent::kRefresh && k > connected)
                        ++refreshes;
                }
                return connected < events.size() && refreshes >= 2 && live() == 1;
            });
            ASSERT_TRUE(w.Running());
            Disconnect(w, 0);
        }
        WaitUntil([&] { return !w.Running(); });
        if (last == kImport) {
            // The import ran after the last request and ended the story.
            const auto events = link.Events();
            size_t lastState = events.size();
            for (size_t k = 0; k < events.size(); ++k)
                if (StateLine(events[k])) lastState = k;
            ASSERT_LT(lastState, events.size());
            ASSERT_GE(lastState, mark);
            ASSERT_EQ(events[lastState].text, u"Отключился от сервера.");
        }
        ASSERT_EQ(live(), 0);
        ASSERT_TRUE(ev.idle.Wait(0));  // nothing runs and nothing holds the slot
        JoinWithin(w);
    }
}

TEST_F(WorkersTest, AFinishedWorkersThreadIsJoinedWhenTheNextStarts) {
    Workers w(m, gate, conn, ev);
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(w.StartImport(kImportUsers));
        EXPECT_EQ(w.ThreadsKept(), 1u);
        WaitUntil([&] { return !w.Running(); });
    }
    JoinWithin(w);
    EXPECT_EQ(w.ThreadsKept(), 0u);
}

TEST_F(WorkersTest, AThreadThatCannotBeMadeLeavesNothingRunningAndSaysSo) {
    std::atomic<int> refusals{1};
    Workers w(m, gate, conn, ev, [&](std::function<void()> body) {
        if (refusals.fetch_sub(1) > 0)
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        return std::thread(std::move(body));
    });
    EXPECT_FALSE(w.StartControl());
    EXPECT_FALSE(w.Running());
    EXPECT_TRUE(w.WaitUntilIdle(0));
    EXPECT_EQ(w.ThreadsKept(), 0u);
    ASSERT_EQ(LinesOf(gate).size(), 1u);
    EXPECT_EQ(LinesOf(gate)[0].first, uint32_t{LOG_ERROR});
    EXPECT_EQ(LinesOf(gate)[0].second.rfind(u"Не удалось запустить поток: ", 0), 0u);
    EXPECT_EQ(srv->connects, 0);

    // The slot is still free: the next start runs at once, without waiting for anyone.
    ASSERT_TRUE(w.StartImport(kImportUsers));
    WaitUntil([&] { return !w.Running(); });
    EXPECT_EQ(CountText(gate, u"Жду завершения потока..."), 0);
    EXPECT_EQ(LinesOf(gate).back(), Line(0x18, u"Отключился от сервера."));
    JoinWithin(w);
}

}  // namespace
}  // namespace movra::testing
