// The service's host against the fake server: what reaches Movra.log and the event log, boxes
// that wait for nobody, the retries after a failed connect, the one-regulator rule and the stop
// with a server that does not answer. Run under ThreadSanitizer and AddressSanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "config/config_file.h"
#include "core/log_flags.h"
#include "core/textfile.h"
#include "deadline.h"
#include "engine/fake_server.h"
#include "hung_connector.h"
#include "log/temp_dir.h"
#include "service/service_host.h"
#include "service_rig.h"

namespace movra::testing {
namespace {

using service::EventType;
using service::ServiceHost;
using service::ServiceHostParts;

TEST(ServiceHost, RegulatesFromTheStoredPasswordAndRunsTheExitOnStop) {
    FakeConnector conn;
    conn.state->users[u"anna"].limitIn = 100;
    ServiceRig rig(conn);
    rig.WriteConfig(true, 1);
    rig.Start();
    WaitUntil([&] {
        return rig.sink.Count(EventType::kInformation, u"Авторизация пользователя TI...OK") == 1;
    });
    rig.Stop();

    EXPECT_EQ(Connects(*conn.state), 1);
    EXPECT_EQ(rig.lock.holds.load(), 1);
    EXPECT_EQ(rig.lock.releases.load(), 1);
    EXPECT_EQ(rig.processEnds.load(), 0);
    // The exit action ran before the release.
    bool wrote = false;
    for (const Call& c : conn.state->Sets()) wrote = wrote || c.object == u"anna";
    EXPECT_TRUE(wrote);
    const Text log = rig.LogFile();
    const size_t started = log.find(service::kServiceStartedLine);
    const size_t disconnected = log.find(u"Отключение от сервера.... Поток завершен.");
    const size_t stopped = log.find(service::kServiceStoppedLine);
    ASSERT_NE(started, Text::npos);
    ASSERT_NE(disconnected, Text::npos);
    ASSERT_NE(stopped, Text::npos);
    EXPECT_LT(started, disconnected);
    EXPECT_LT(disconnected, stopped);
    EXPECT_EQ(rig.sink.Count(EventType::kInformation, service::kServiceStartedLine), 1);
    EXPECT_EQ(rig.sink.Count(EventType::kInformation, u"Отключение от сервера.... Поток завершен."),
              1);
    EXPECT_EQ(rig.sink.Count(EventType::kInformation, service::kServiceStoppedLine), 1);
    // Mode and status lines stay out of the event log.
    for (const auto& [type, text] : rig.sink.Reports()) EXPECT_EQ(text.find(u"Польз:"), Text::npos);
}

TEST(ServiceHost, WithoutAStoredPasswordItWaitsAndSaysSo) {
    FakeConnector conn;
    ServiceRig rig(conn);
    rig.WriteConfig(false);
    rig.Start();
    WaitUntil([&] { return rig.sink.Count(EventType::kWarning, service::kNoPasswordLine) == 1; });
    rig.steadyMs += 3600000;
    std::this_thread::sleep_for(3 * ServiceHost::kTick);
    rig.Stop();
    EXPECT_EQ(Connects(*conn.state), 0);
    EXPECT_EQ(rig.lock.tries.load(), 0);
    EXPECT_EQ(rig.LogCount(service::kNoPasswordLine), 1);
}

TEST(ServiceHost, AFailedConnectIsLoggedOnceAndTriedAgainLaterAndLater) {
    FakeConnector conn;
    conn.state->connectFails = true;
    ServiceRig rig(conn);
    rig.WriteConfig(true);
    rig.Start();
    const Text failure = u"Ошибка подключения к ti.local";
    auto attempts = [&] { return rig.LogCount(failure); };
    WaitUntil([&] { return attempts() == 1; });
    // The box beside the line waits for nobody and adds nothing.
    std::this_thread::sleep_for(3 * ServiceHost::kTick);
    EXPECT_EQ(attempts(), 1);
    EXPECT_EQ(rig.sink.Count(EventType::kError, failure), 1);

    rig.AdvanceAfterRun(30000);  // the first pause
    WaitUntil([&] { return attempts() == 2; });
    rig.AdvanceAfterRun(30000);  // the pause has doubled: not yet
    std::this_thread::sleep_for(3 * ServiceHost::kTick);
    EXPECT_EQ(attempts(), 2);
    rig.AdvanceAfterRun(30000);
    WaitUntil([&] { return attempts() == 3; });
    rig.AdvanceAfterRun(100000);  // at most the longest pause
    WaitUntil([&] { return attempts() == 4; });
    rig.AdvanceAfterRun(100000);
    WaitUntil([&] { return attempts() == 5; });
    // The same failure reaches the event log again only after a quiet while.
    EXPECT_EQ(rig.sink.Count(EventType::kError, failure), 1);
    rig.AdvanceAfterRun(400000);
    WaitUntil([&] { return attempts() == 6; });
    EXPECT_EQ(rig.sink.Count(EventType::kError, failure), 2);

    // Once the server answers, the next try logs in and regulation goes on.
    {
        std::lock_guard<std::mutex> l(conn.state->m);
        conn.state->connectFails = false;
    }
    rig.AdvanceAfterRun(100000);
    WaitUntil([&] { return Connects(*conn.state) == 1; });
    rig.Stop();
    EXPECT_EQ(rig.processEnds.load(), 0);
}

TEST(ServiceHost, WaitsWhileAnotherProgramRegulates) {
    FakeConnector conn;
    conn.state->users[u"anna"];
    ServiceRig rig(conn);
    rig.lock.taken = true;
    rig.WriteConfig(true);
    rig.Start();
    WaitUntil([&] { return rig.LogCount(kRegulatorBusyWaitLine) == 1; });
    EXPECT_EQ(Connects(*conn.state), 0);
    rig.lock.taken = false;
    rig.AdvanceAfterRun(30000);
    WaitUntil([&] { return Connects(*conn.state) == 1; });
    rig.Stop();
    // No error box or line for waiting.
    for (const auto& [type, text] : rig.sink.Reports()) EXPECT_NE(type, EventType::kError);
}

TEST(ServiceHost, ABoxWithoutALineOfItsOwnBecomesAWarningLine) {
    FakeConnector conn;
    ServiceRig rig(conn);
    rig.WriteConfig(false);
    // A configuration that fails the settings' validation at start.
    {
        Model m(rig.clock);
        m.settings.Server.clear();
        struct NoBoxes : MessagePort {
            void ShowMessage(const Text&) override {}
        } boxes;
        ASSERT_TRUE(SaveConfig(m, boxes, SystemFileSystem()));
    }
    rig.Start();
    WaitUntil([&] { return rig.sink.Count(EventType::kWarning, u"Укажите сервер TI!") == 1; });
    rig.Stop();
    EXPECT_EQ(rig.LogCount(u"Укажите сервер TI!"), 1);
}

TEST(ServiceHost, AStopWithAServerThatDoesNotAnswerEndsAtTheBound) {
    test::HungConnector conn(-5);
    ServiceRig rig(conn);
    rig.WriteConfig(true);
    rig.Start();
    WaitUntil([&] { return conn.Called(); });
    rig.host->RequestStop();
    WaitUntil([&] { return rig.LogCount(service::kServiceStoppingLine) == 1; });
    // The exit's bound starts when the exit begins, just after that line: the SCM's first
    // progress report comes after it.
    WaitUntil([&] { return rig.progress.load() > 0; });
    EXPECT_EQ(rig.processEnds.load(), 0);
    rig.steadyMs += 59000;
    const int reported = rig.progress.load();
    std::this_thread::sleep_for(3 * ServiceHost::kTick);
    EXPECT_EQ(rig.processEnds.load(), 0);
    // The SCM hears of the stop all along.
    EXPECT_GT(rig.progress.load(), reported);
    rig.steadyMs += 1000;
    rig.thread.join();
    EXPECT_EQ(rig.processEnds.load(), 1);
    conn.Answer();
}

TEST(ServiceHost, EventTypesFollowTheLinesClass) {
    using service::EventTypeOfLine;
    EXPECT_EQ(EventTypeOfLine(LOG_FATAL), EventType::kError);
    EXPECT_EQ(EventTypeOfLine(LOG_ERROR), EventType::kError);
    EXPECT_EQ(EventTypeOfLine(LOG_OK_CONNECTED), EventType::kInformation);
    EXPECT_EQ(EventTypeOfLine(LOG_STOPPED), EventType::kInformation);
    EXPECT_FALSE(EventTypeOfLine(LOG_SLEEP));
    EXPECT_EQ(EventTypeOfLine(LOG_WARN), EventType::kWarning);
    EXPECT_FALSE(EventTypeOfLine(LOG_STATUS));
    EXPECT_FALSE(EventTypeOfLine(LOG_MODE));
    EXPECT_FALSE(EventTypeOfLine(LOG_LIMIT_OK));
    EXPECT_FALSE(EventTypeOfLine(LOG_INFO));
}

}  // namespace
}  // namespace movra::testing
