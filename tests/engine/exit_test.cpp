// The program's exit is final: a restart or an import racing it never leaves a worker running.
// Run under ThreadSanitizer and AddressSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "deadline.h"
#include "engine/workers.h"
#include "engine_fixture.h"

namespace movra::testing {
namespace {

using namespace std::chrono_literals;
using ExitTest = EngineFixture;

TEST_F(ExitTest, AWorkerWaitingForItsSlotGivesUpSilentlyWhenTheExitBegins) {
    AddUser(u"anna");
    auto a = Connected();
    ASSERT_TRUE(a->RunCycle());

    ControlRun b(m, link, conn, ev);
    std::atomic<bool> bEnded{false};
    std::thread restart([&] {
        b.Run();
        bEnded = true;
    });
    // The restart asks the running worker to stop and waits for it.
    for (auto end = std::chrono::steady_clock::now() + 20s;
         CountText(link, u"Жду завершения потока...") == 0;) {
        ASSERT_LT(std::chrono::steady_clock::now(), end);
        std::this_thread::sleep_for(1ms);
    }
    ev.BeginQuit();
    ASSERT_TRUE(a->Pause());
    a->Stop();
    for (auto end = std::chrono::steady_clock::now() + 20s; !bEnded;) {
        if (std::chrono::steady_clock::now() > end) {
            std::fprintf(stderr, "the restarted worker still runs after the exit\n");
            std::abort();  // its thread cannot be joined
        }
        std::this_thread::sleep_for(1ms);
    }
    restart.join();

    EXPECT_EQ(CountText(link, u"Поток завершен.Перезапускаю..."), 0);
    EXPECT_EQ(srv->connects, 1);
    EXPECT_EQ(srv->released, 1);
    EXPECT_TRUE(ev.idle.Wait(0));  // handed on, not kept by the run that gave up
}

TEST_F(ExitTest, NothingStartsOnceTheExitHasBegun) {
    AddUser(u"anna");
    Workers w(m, link, conn, ev);
    w.BeginExit();
    EXPECT_FALSE(w.StartControl());
    EXPECT_FALSE(w.StartImport(1));
    EXPECT_FALSE(w.Running());
    JoinWithin(w);
    EXPECT_EQ(srv->connects, 0);
    EXPECT_EQ(link.Count(LinkEvent::kLine), 0);
}

// A window whose message box stays open until the test closes it.
class BlockingBoxLink : public RecordingLink {
  public:
    std::atomic<bool> release{false};
    void ShowMessage(const Text& text) override {
        RecordingLink::ShowMessage(text);
        while (!release) std::this_thread::sleep_for(1ms);
    }
};

TEST_F(ExitTest, TheWaitForWorkersEndsWhenTheyMakeNoProgress) {
    BlockingBoxLink box;
    srv->connectFails = true;  // the worker shows a box and waits for it
    Workers w(m, box, conn, ev);
    ASSERT_TRUE(w.StartControl());
    ASSERT_TRUE(WaitUntil([&] { return !box.Messages().empty(); }));
    w.BeginExit();
    int pumps = 0;
    EXPECT_FALSE(w.WaitForExit([&] { ++pumps; }, 50ms, 20s));  // silent: gives up
    EXPECT_GT(pumps, 0);
    EXPECT_TRUE(w.Running());
    box.release = true;
    EXPECT_TRUE(w.WaitForExit(nullptr, 20s, 20s));
    EXPECT_FALSE(w.Running());
}

TEST(ExitRaces, RestartsAndImportsRacingTheExitAlwaysEnd) {
    constexpr int kRounds = 1000;
    constexpr int kUsers = 6;
    std::mt19937 rng(20261209);
    for (int round = 0; round < kRounds; ++round) {
        ManualClock clock;
        Model m(clock);
        CountingLink link;
        FakeConnector conn;
        auto srv = conn.state;
        srv->keepJournal = false;
        std::atomic<bool> exited{false};
        std::atomic<int> infosAfterExit{0}, importCallsAfterExit{0};
        std::atomic<uint32_t> jitter{static_cast<uint32_t>(rng())};
        srv->refuse = [&](const Call& c) {
            if (exited) {
                if (c.op == Call::kInfo) ++infosAfterExit;
                if (c.op == Call::kGet && c.property == Variant::Int(8)) ++importCallsAfterExit;
            }
            // Vary where the other threads meet this call.
            uint32_t j = jitter.fetch_add(2654435761u);
            if (j % 4 == 0) std::this_thread::yield();
            return false;
        };
        for (int k = 0; k < kUsers; ++k) {
            Text name = u"u" + FromUtf8(std::to_string(k));
            srv->users[name].activity = Variant::Date(SystemTimeToOleDate(clock.LocalNow()));
            srv->users[name].group = Variant::BStr(u"g");
        }
        srv->groupLimits[u"g"] = 100;
        WorkerEvents ev;
        ev.idle.Set();
        {
            Model::Guard g(m);
            m.SetWindow(&link);
            m.settings.RefreshTimer_msec = rng() % 3;
            m.settings.BeforeQuit = 0;
            m.settings.TrafficSpeedAutoControll = 3;
            for (int k = 0; k < kUsers; ++k) m.AddUserByName(u"u" + FromUtf8(std::to_string(k)));
        }
        Workers w(m, link, conn, ev);
        const int kind = static_cast<int>(rng() % 3);  // 0 restart, 1 import, 2 both
        if (rng() % 4 != 0) {
            ASSERT_TRUE(w.StartControl());
            // Sometimes let it regulate first, sometimes race its start.
            if (rng() % 2)
                for (auto end = std::chrono::steady_clock::now() + 20s; link.refreshes == 0;) {
                    ASSERT_LT(std::chrono::steady_clock::now(), end);
                    std::this_thread::yield();
                }
        }
        auto gap = [&] {
            uint32_t us = rng() % 300;
            if (us > 0) std::this_thread::sleep_for(std::chrono::microseconds(us));
        };
        const bool exitFirst = rng() % 2;
        if (exitFirst) {
            w.BeginExit();
            exited = true;
            gap();
        }
        if (kind != 1) w.StartControl();
        if (kind == 2) gap();
        if (kind != 0) w.StartImport(1 + static_cast<int32_t>(rng() % 3));
        if (!exitFirst) {
            gap();
            w.BeginExit();
            exited = true;
        }
        if (!w.WaitForExit(nullptr, 20s, 20s)) {
            std::fprintf(stderr, "round %d: a worker still runs after the exit\n", round);
            std::abort();  // its thread cannot be joined; a hang is the fault under test
        }
        std::lock_guard<std::mutex> l(srv->m);
        ASSERT_EQ(srv->connects, srv->released) << "round " << round;
        // At most the cycle in progress when the exit began goes on, and an import makes at
        // most the call it was in.
        ASSERT_LE(infosAfterExit, kUsers) << "round " << round;
        ASSERT_LE(importCallsAfterExit, 1) << "round " << round;
    }
}

}  // namespace
}  // namespace movra::testing
