// The service's windows as the pipe hands them over: the first exchange, a window that breaks
// the order of the conversation, and what every window is sent. Run under the sanitizers too.
#include <gtest/gtest.h>

#include "core/log_flags.h"
#include "deadline.h"
#include "recording_outbox.h"
#include "remote/messages.h"
#include "service/client_adapter.h"
#include "service_rig.h"

namespace movra::testing {
namespace {

using namespace remote;

TEST(ServiceWindows, AnOtherVersionIsRefusedAndABrokenOrderDropsOnlyThatWindow) {
    FakeConnector conn;
    ServiceRig rig(conn);
    rig.WriteConfig(false);
    rig.Start();
    service::ClientHub& hub = rig.host->Clients();

    auto old = std::make_shared<RecordingOutbox>();
    const uint64_t oldId = hub.Join(old);
    hub.Receive(oldId, Hello{kProtocolVersion + 1, u"anna@pc, процесс 7"});
    EXPECT_EQ(old->Await<Refusal>().text,
              u"Версия протокола службы Movra (1) не совпадает с версией окна (2). "
              u"Установите Movra и службу Movra одной версии.");
    WaitUntil([&] { return old->Closed(); });
    EXPECT_TRUE(old->All<Welcome>().empty());

    auto good = std::make_shared<RecordingOutbox>();
    const uint64_t goodId = hub.Join(good);
    hub.Receive(goodId, Hello{kProtocolVersion, u"admin@pc, процесс 8"});
    good->Await<Welcome>();
    EXPECT_EQ(good->Await<State>().snapshot.users.size(), 1u);
    ASSERT_TRUE(std::holds_alternative<Welcome>(*good->Sent().at(0)));

    // A request before Hello, a second Hello, a message only the service sends.
    const std::vector<Message> broken[] = {
        {Request{1, Connect{}}},
        {Hello{kProtocolVersion, u"x"}, Hello{kProtocolVersion, u"x"}},
        {Hello{kProtocolVersion, u"x"}, State{}},
    };
    for (const auto& messages : broken) {
        auto bad = std::make_shared<RecordingOutbox>();
        const uint64_t id = hub.Join(bad);
        for (const Message& m : messages) hub.Receive(id, m);
        WaitUntil([&] { return bad->Closed(); });
        hub.Leave(id, u"канал закрыт");  // the transport's report adds no second line
    }
    hub.Receive(goodId, Request{5, AddUser{u"bob"}});
    const Reply r = good->Await<Reply>();
    EXPECT_EQ(r.id, 5u);
    EXPECT_EQ(r.added, AddUserResult::kAdded);
    WaitUntil([&] { return good->Await<State>().snapshot.users.size() == 2; });
    EXPECT_FALSE(good->Closed());
    hub.Leave(goodId, {});
    WaitUntil([&] { return rig.LogCount(service::kWindowLeftLine + u"admin@pc, процесс 8") == 1; });
    rig.Stop();

    EXPECT_EQ(rig.LogCount(service::kWindowAttachedLine + u"admin@pc, процесс 8"), 1);
    EXPECT_EQ(rig.LogCount(service::kWindowDroppedLine + service::kProtocolViolation), 3);
    EXPECT_EQ(rig.LogCount(service::kWindowDroppedLine + u"версия протокола 2"), 1);
    EXPECT_EQ(rig.LogCount(u"канал закрыт"), 0);
    // The window saw the lines the service wrote while it was there, its own arrival first.
    bool sawOwnLine = false;
    for (const LogLine& l : good->All<LogLine>())
        sawOwnLine = sawOwnLine || l.text == service::kWindowAttachedLine + u"admin@pc, процесс 8";
    EXPECT_TRUE(sawOwnLine);
}

}  // namespace
}  // namespace movra::testing
