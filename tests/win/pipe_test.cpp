// Both ends of the service's pipe in one process under a name of the test's own: messages both
// ways, the descriptor the clients meet, the first-instance rule against a squatter, the server
// check of the window, and every way a window is dropped without touching the others.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "deadline.h"
#include "remote/codec.h"
#include "remote/win/pipe_client.h"
#include "remote/win/pipe_server.h"

namespace movra::remote {
namespace {

using movra::testing::WaitUntil;

std::wstring TestPipeName() {
    return L"\\\\.\\pipe\\MovraTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount64());
}

// What the service's hub would see: joins, messages and leaves per window.
struct Hub {
    std::mutex lock;
    uint64_t next = 0;
    std::map<uint64_t, std::shared_ptr<Outbox>> out;
    std::map<uint64_t, std::vector<Message>> got;
    std::map<uint64_t, Text> left;

    PipeClients Clients() {
        return {[this](std::shared_ptr<Outbox> o) {
                    std::lock_guard<std::mutex> hold(lock);
                    out[++next] = std::move(o);
                    return next;
                },
                [this](uint64_t id, Message m) {
                    std::lock_guard<std::mutex> hold(lock);
                    got[id].push_back(std::move(m));
                },
                [this](uint64_t id, const Text& why) {
                    std::lock_guard<std::mutex> hold(lock);
                    left[id] = why;
                }};
    }
    size_t Joined() {
        std::lock_guard<std::mutex> hold(lock);
        return out.size();
    }
    size_t Received(uint64_t id) {
        std::lock_guard<std::mutex> hold(lock);
        return got[id].size();
    }
    bool Left(uint64_t id) {
        std::lock_guard<std::mutex> hold(lock);
        return left.count(id) != 0;
    }
    Text Why(uint64_t id) {
        std::lock_guard<std::mutex> hold(lock);
        return left[id];
    }
    std::shared_ptr<Outbox> Out(uint64_t id) {
        std::lock_guard<std::mutex> hold(lock);
        return out[id];
    }
};

// A window's end: the pipe opened as Movra.exe opens it, its messages and its end recorded.
struct Window {
    std::shared_ptr<PipeConnection> conn;
    std::mutex lock;
    std::vector<Message> got;
    std::atomic<bool> ended{false};
    Text why;

    explicit Window(const std::wstring& name, PipeLimits limits = {}) {
        const PipeOpen open = OpenServicePipe(GetCurrentProcessId(), 10000, name.c_str());
        EXPECT_EQ(open.result, PipeOpenResult::kOpen) << open.error;
        conn = std::make_shared<PipeConnection>(open.pipe, limits);
        conn->Start(
            [this](Message m) {
                std::lock_guard<std::mutex> hold(lock);
                got.push_back(std::move(m));
            },
            [this](const Text& w) {
                why = w;
                ended = true;
            });
    }
    size_t Received() {
        std::lock_guard<std::mutex> hold(lock);
        return got.size();
    }
};

// Raw bytes into the pipe, as a hostile or broken program would write them.
HANDLE RawClient(const std::wstring& name) {
    const PipeOpen open = OpenServicePipe(GetCurrentProcessId(), 10000, name.c_str());
    EXPECT_EQ(open.result, PipeOpenResult::kOpen);
    return open.pipe;
}
void WriteRaw(HANDLE pipe, const std::vector<uint8_t>& bytes) {
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    if (!WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    }
    ASSERT_TRUE(GetOverlappedResult(pipe, &ov, &n, TRUE));
    CloseHandle(ov.hEvent);
}

Message HelloFrom(const Text& who) {
    Hello h;
    h.client = who;
    return h;
}

TEST(Pipe, MessagesBothWaysInOrderAndAHangUpLeavesWithoutReason) {
    const std::wstring name = TestPipeName();
    Hub hub;
    PipeServer server(hub.Clients(), {}, name.c_str());
    ASSERT_FALSE(server.Start());
    {
        Window w(name);
        WaitUntil([&] { return hub.Joined() == 1; });
        for (int i = 0; i < 50; ++i) w.conn->Send(std::make_shared<Message>(HelloFrom(u"окно")));
        WaitUntil([&] { return hub.Received(1) == 50; });
        // A state big enough to span many chunks of the pipe's buffer.
        State big;
        big.snapshot.users.resize(3000);
        for (size_t i = 0; i < big.snapshot.users.size(); ++i)
            big.snapshot.users[i].UserName = u"пользователь " + FromUtf8(std::to_string(i));
        hub.Out(1)->Send(std::make_shared<Message>(Welcome{}));
        hub.Out(1)->Send(std::make_shared<Message>(big));
        WaitUntil([&] { return w.Received() == 2; });
        std::lock_guard<std::mutex> hold(w.lock);
        EXPECT_TRUE(std::holds_alternative<Welcome>(w.got[0]));
        ASSERT_TRUE(std::holds_alternative<State>(w.got[1]));
        const auto& users = std::get<State>(w.got[1]).snapshot.users;
        ASSERT_EQ(users.size(), 3000u);
        EXPECT_EQ(users[2999].UserName, u"пользователь 2999");
    }
    WaitUntil([&] { return hub.Left(1); });
    EXPECT_EQ(hub.Why(1), u"");
    std::lock_guard<std::mutex> hold(hub.lock);
    EXPECT_EQ(std::get<Hello>(hub.got[1][49]).client, u"окно");
}

// What a client meets on the pipe: owner Administrators, a protected list granting full
// control to SYSTEM and Administrators and nothing to anyone else.
TEST(Pipe, TheDescriptorGrantsSystemAndAdministratorsOnly) {
    const std::wstring name = TestPipeName();
    Hub hub;
    PipeServer server(hub.Clients(), {}, name.c_str());
    ASSERT_FALSE(server.Start());
    HANDLE pipe = RawClient(name);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &sd),
              static_cast<DWORD>(ERROR_SUCCESS));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BYTE admins[SECURITY_MAX_SID_SIZE], system[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(admins);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size));
    size = sizeof(system);
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));
    ASSERT_NE(owner, nullptr);
    EXPECT_TRUE(EqualSid(owner, admins));
    ASSERT_NE(dacl, nullptr);
    ASSERT_EQ(dacl->AceCount, 2);
    GENERIC_MAPPING files = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
    bool seen[2] = {false, false};
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        DWORD mask = ace->Mask;
        MapGenericMask(&mask, &files);
        EXPECT_EQ(mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
        PSID who = &ace->SidStart;
        if (EqualSid(who, system)) seen[0] = true;
        if (EqualSid(who, admins)) seen[1] = true;
    }
    EXPECT_TRUE(seen[0] && seen[1]);
    LocalFree(sd);
    CloseHandle(pipe);
}

TEST(Pipe, NameTakenBeforeTheServiceOrServedByAnotherProcess) {
    const std::wstring name = TestPipeName();
    // A squatter's instance first: the service does not serve beside it.
    HANDLE squatter = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
    {
        Hub hub;
        PipeServer server(hub.Clients(), {}, name.c_str());
        const std::optional<Text> refused = server.Start();
        ASSERT_TRUE(refused);
        EXPECT_NE(refused->find(u"занят"), Text::npos) << ToUtf8(*refused);
    }
    // A window that expects the service's process refuses a pipe served by another one.
    const PipeOpen open = OpenServicePipe(GetCurrentProcessId() + 4, 5000, name.c_str());
    EXPECT_EQ(open.result, PipeOpenResult::kNotTheService);
    EXPECT_EQ(open.serverPid, GetCurrentProcessId());
    EXPECT_EQ(open.pipe, INVALID_HANDLE_VALUE);
    CloseHandle(squatter);
    // Nobody serves the name at all.
    EXPECT_EQ(OpenServicePipe(GetCurrentProcessId(), 300, name.c_str()).result,
              PipeOpenResult::kNoPipe);
}

// A frame announcing more than the limit, and random bytes, each drop their own window with a
// reason; the window beside them goes on, and the next window is still accepted.
TEST(Pipe, ABrokenFrameDropsThatWindowOnly) {
    const std::wstring name = TestPipeName();
    Hub hub;
    PipeServer server(hub.Clients(), {}, name.c_str());
    ASSERT_FALSE(server.Start());
    Window good(name);
    WaitUntil([&] { return hub.Joined() == 1; });

    HANDLE liar = RawClient(name);
    WaitUntil([&] { return hub.Joined() == 2; });
    std::vector<uint8_t> lying = EncodeFrame(HelloFrom(u"x"));
    lying[0] = lying[1] = lying[2] = lying[3] = 0xFF;
    WriteRaw(liar, lying);
    WaitUntil([&] { return hub.Left(2); });
    EXPECT_NE(hub.Why(2), u"");

    HANDLE noise = RawClient(name);
    WaitUntil([&] { return hub.Joined() == 3; });
    std::vector<uint8_t> junk(4096);
    uint32_t x = 12345;
    for (auto& b : junk) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    junk[0] = 16, junk[1] = junk[2] = junk[3] = 0;  // a short length, then garbage
    WriteRaw(noise, junk);
    WaitUntil([&] { return hub.Left(3); });
    EXPECT_NE(hub.Why(3), u"");

    good.conn->Send(std::make_shared<Message>(HelloFrom(u"still here")));
    WaitUntil([&] { return hub.Received(1) == 1; });
    hub.Out(1)->Send(std::make_shared<Message>(Welcome{}));
    WaitUntil([&] { return good.Received() == 1; });
    EXPECT_FALSE(hub.Left(1));
    EXPECT_FALSE(good.ended);
    Window next(name);
    WaitUntil([&] { return hub.Joined() == 4; });
    CloseHandle(liar);
    CloseHandle(noise);
}

// A peer that does not read is dropped, and the sender is never held: once the queue passes
// its bound (queued before the writer runs, so the bound is met where it is set), or once a
// write makes no progress for the stall time (a raw pipe end that nobody reads).
TEST(Pipe, APeerThatDoesNotReadIsDropped) {
    for (const bool byQueue : {true, false}) {
        SCOPED_TRACE(byQueue ? "queue" : "stall");
        if (!byQueue && GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
            GTEST_SKIP() << "Wine completes every pipe write at once: no write ever stalls";
        const std::wstring name = TestPipeName();
        HANDLE deaf = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096,
                                       4096, 0, nullptr);
        ASSERT_NE(deaf, INVALID_HANDLE_VALUE);
        const PipeOpen open = OpenServicePipe(GetCurrentProcessId(), 10000, name.c_str());
        ASSERT_EQ(open.result, PipeOpenResult::kOpen);
        PipeLimits limits;
        limits.maxQueuedBytes = byQueue ? 256 * 1024 : 1024u * 1024u * 1024u;
        limits.stallMs = byQueue ? 600000 : 200;
        auto conn = std::make_shared<PipeConnection>(open.pipe, limits);
        State big;
        big.snapshot.users.resize(200);
        auto message = std::make_shared<const Message>(big);
        std::atomic<bool> ended{false};
        Text why;
        auto start = [&] {
            conn->Start([](Message) {},
                        [&](const Text& w) {
                            why = w;
                            ended = true;
                        });
        };
        if (!byQueue) start();
        for (int i = 0; i < 2000 && !ended; ++i) conn->Send(message);
        if (byQueue) start();
        WaitUntil([&] { return ended.load(); });
        EXPECT_NE(why.find(byQueue ? u"байт" : u" с"), Text::npos) << ToUtf8(why);
        conn.reset();
        CloseHandle(deaf);
    }
}

// Close writes what was queued (a refusal) before the window sees the end; Stop ends every
// window, each leaving once.
TEST(Pipe, CloseDeliversWhatWasQueuedAndStopEndsEveryWindow) {
    const std::wstring name = TestPipeName();
    Hub hub;
    PipeLimits limits;
    limits.closeGraceMs = 100;  // this window does not hang up by itself
    PipeServer server(hub.Clients(), limits, name.c_str());
    ASSERT_FALSE(server.Start());
    Window refused(name);
    WaitUntil([&] { return hub.Joined() == 1; });
    Refusal no;
    no.text = u"нет";
    hub.Out(1)->Send(std::make_shared<Message>(no));
    hub.Out(1)->Close();
    hub.Out(1)->Send(std::make_shared<Message>(Welcome{}));  // after Close: dropped
    WaitUntil([&] { return refused.ended.load(); });
    {
        std::lock_guard<std::mutex> hold(refused.lock);
        ASSERT_EQ(refused.got.size(), 1u);
        EXPECT_EQ(std::get<Refusal>(refused.got[0]).text, u"нет");
    }
    WaitUntil([&] { return hub.Left(1); });

    Window a(name), b(name);
    WaitUntil([&] { return hub.Joined() == 3; });
    server.Stop();
    EXPECT_TRUE(hub.Left(2) && hub.Left(3));
    WaitUntil([&] { return a.ended && b.ended; });
    EXPECT_EQ(a.why, u"");
    // The name is free again: a window finds no pipe.
    EXPECT_EQ(OpenServicePipe(GetCurrentProcessId(), 300, name.c_str()).result,
              PipeOpenResult::kNoPipe);
}

}  // namespace
}  // namespace movra::remote
