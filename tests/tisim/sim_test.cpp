// The simulator's model: limits, the shared channel, counters, activity, schedule and faults.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

#include "core/textfile.h"

#include "tisim/sim.h"

namespace tisim {
namespace {

using movra::ManualClock;
using movra::PropName;
using movra::PropNumber;
using movra::TiError;

constexpr double kBytesPerKbit = 128.0;

UserSetup MakeUser(const char16_t* name, Demand demand, int32_t in = 0, int32_t out = 0) {
    UserSetup u;
    u.name = name;
    u.demand = demand;
    u.limitIn = in;
    u.limitOut = out;
    u.defaultLimits = false;
    u.ip = u"10.0.0.1";
    return u;
}

class SimTest : public ::testing::Test {
  protected:
    std::shared_ptr<Simulator> Make(Scenario sc) {
        sim = std::make_shared<Simulator>(std::move(sc), clock);
        return sim;
    }
    std::unique_ptr<Session> LoggedIn() {
        auto s = SimConnector(sim).ConnectSession(u"tiserver");
        s->Login(u"48213");
        return s;
    }
    int32_t ErrorOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const TiError& e) {
            return e.status();
        }
        return 0;
    }

    ManualClock clock;
    std::shared_ptr<Simulator> sim;
};

TEST_F(SimTest, LimitsCapTrafficAndCountersIntegrate) {
    Scenario sc;
    sc.channelIn = 10000;
    sc.channelOut = 10000;
    sc.users = {MakeUser(u"a", {500, 300}, 100, 0), MakeUser(u"b", {50, 20}, 100, 10)};
    Make(sc);
    sim->Advance(10);
    const UserState a = *sim->User(u"a"), b = *sim->User(u"b");
    EXPECT_DOUBLE_EQ(a.rateIn, 100);
    EXPECT_DOUBLE_EQ(a.rateOut, 300);  // 0 = unlimited
    EXPECT_DOUBLE_EQ(b.rateIn, 50);
    EXPECT_DOUBLE_EQ(b.rateOut, 10);
    EXPECT_DOUBLE_EQ(a.rxBytes, 100 * kBytesPerKbit * 10);
    EXPECT_DOUBLE_EQ(b.txBytes, 10 * kBytesPerKbit * 10);

    auto s = LoggedIn();
    const Variant info = s->GetUserInfo(u"a");
    ASSERT_EQ(info.type, VarType::Array);
    ASSERT_GE(info.a.size(), 35u);
    EXPECT_EQ(info.a[0], Variant::BStr(u"a"));
    EXPECT_EQ(info.a[10], Variant::I4(1));
    EXPECT_EQ(info.a[19].type, VarType::R8);
    EXPECT_EQ(info.a[20], Variant::R8(128000));
    EXPECT_EQ(info.a[21], Variant::R8(384000));
    EXPECT_EQ(info.a[24], Variant::BStr(u"10.0.0.1"));
    EXPECT_EQ(info.a[33], Variant::I4(100 * 128));
    EXPECT_EQ(info.a[34], Variant::I4(300 * 128));

    // A new limit takes effect from the moment it is written.
    s->SetProperty(3, u"a", PropName(u"User_InBandwidth"), Variant::Int(20));
    sim->Advance(5);
    EXPECT_DOUBLE_EQ(sim->User(u"a")->rxBytes, 128000 + 20 * kBytesPerKbit * 5);
}

TEST_F(SimTest, ChannelIsSharedFairlyAndNeverExceeded) {
    Scenario sc;
    sc.channelIn = 1024;
    sc.channelOut = 256;
    sc.users = {MakeUser(u"small", {100, 10}), MakeUser(u"big1", {2000, 500}),
                MakeUser(u"big2", {2000, 500}, 300)};
    Make(sc);
    // small keeps its wish; big2 is capped by its own limit; big1 takes the rest.
    EXPECT_DOUBLE_EQ(sim->User(u"small")->rateIn, 100);
    EXPECT_DOUBLE_EQ(sim->User(u"big2")->rateIn, 300);
    EXPECT_DOUBLE_EQ(sim->User(u"big1")->rateIn, 624);
    EXPECT_DOUBLE_EQ(sim->User(u"small")->rateOut, 10);
    EXPECT_DOUBLE_EQ(sim->User(u"big1")->rateOut, 123);
    EXPECT_DOUBLE_EQ(sim->User(u"big2")->rateOut, 123);

    // Random demands over a long run: the channel and every limit hold at every moment.
    Scenario r;
    r.channelIn = 1024;
    r.channelOut = 256;
    r.seed = 7;
    for (int i = 0; i < 12; ++i) {
        UserSetup u = MakeUser(u"", {}, i % 3 == 0 ? 200 : 0, i % 4 == 0 ? 50 : 0);
        u.name = movra::Fmt(u"u%d", i);
        u.randomDemand = true;
        r.users.push_back(u);
    }
    Make(r);
    double moved = 0;
    for (int step = 0; step < 600; ++step) {
        sim->Advance(1.5);
        const Demand d = sim->Delivered();
        ASSERT_LE(d.in, 1024 + 1e-9);
        ASSERT_LE(d.out, 256 + 1e-9);
        for (const UserState& u : sim->Users()) {
            if (u.limitIn > 0) {
                ASSERT_LE(u.rateIn, u.limitIn + 1e-9);
            }
            if (u.limitOut > 0) {
                ASSERT_LE(u.rateOut, u.limitOut + 1e-9);
            }
            ASSERT_LE(u.rateIn, u.demand.in + 1e-9);
        }
        moved += d.in;
    }
    EXPECT_GT(moved, 0);  // the generator does produce traffic
    double total = 0;
    for (const UserState& u : sim->Users()) total += u.rxBytes;
    EXPECT_LE(total, 1024 * kBytesPerKbit * 900 + 1e-3);
}

TEST_F(SimTest, GroupSumAndDefaultLimits) {
    Scenario sc;
    sc.channelIn = 10000;
    sc.defaultLimitIn = 64;
    sc.groups = {{u"office", 300}};
    UserSetup a = MakeUser(u"a", {1000, 0}), b = MakeUser(u"b", {1000, 0}),
              c = MakeUser(u"c", {1000, 0});
    a.group = b.group = u"office";
    c.defaultLimits = true;
    sc.users = {a, b, c};
    Make(sc);
    EXPECT_DOUBLE_EQ(sim->User(u"a")->rateIn, 150);
    EXPECT_DOUBLE_EQ(sim->User(u"b")->rateIn, 150);
    EXPECT_DOUBLE_EQ(sim->User(u"c")->rateIn, 64);
    // Clearing the default box lets the user's own (unlimited) limit apply.
    auto s = LoggedIn();
    s->SetProperty(3, u"c", PropNumber(30), Variant::Int(0));
    EXPECT_FALSE(sim->User(u"c")->defaultLimits);
    EXPECT_DOUBLE_EQ(sim->User(u"c")->rateIn, 1000);
    EXPECT_EQ(s->GetProperty(2, u"office", PropNumber(18)), Variant::I4(300));
    EXPECT_EQ(s->GetProperty(3, u"a", PropNumber(8)), Variant::BStr(u"office"));
    EXPECT_EQ(s->GetProperty(3, u"c", PropNumber(8)), Variant::BStr(u""));
}

// Several writes between two reads, then each kind of read: every read sees all the writes,
// and time that passes afterwards moves traffic at the new rates.
TEST_F(SimTest, ReadsSeeEveryEarlierWriteAtOnce) {
    Scenario sc;
    sc.channelIn = 10000;
    sc.channelOut = 10000;
    sc.groups = {{u"office", 0}};
    UserSetup a = MakeUser(u"a", {1000, 100}), b = MakeUser(u"b", {1000, 100});
    a.group = b.group = u"office";
    sc.users = {a, b, MakeUser(u"c", {1000, 100})};
    Make(sc);
    auto s = LoggedIn();
    EXPECT_EQ(s->GetUserInfo(u"a").a[33], Variant::I4(1000 * 128));

    s->SetProperty(3, u"a", PropNumber(31), Variant::Int(600));
    s->SetProperty(2, u"office", PropNumber(18), Variant::Int(500));  // a 250, b 250
    s->SetProperty(3, u"c", PropNumber(32), Variant::Int(40));
    EXPECT_EQ(s->GetUserInfo(u"a").a[33], Variant::I4(250 * 128));
    EXPECT_EQ(s->GetUserInfo(u"c").a[34], Variant::I4(40 * 128));
    sim->SetChannel(900, 150);  // 500 to the office, 400 to c
    EXPECT_DOUBLE_EQ(sim->Delivered().in, 900);
    EXPECT_DOUBLE_EQ(sim->User(u"c")->rateIn, 400);
    sim->SetOnline(u"c", false);
    EXPECT_DOUBLE_EQ(sim->Users()[2].rateIn, 0);
    EXPECT_DOUBLE_EQ(sim->Delivered().out, 150);  // a and b split what c left

    const double rx = sim->User(u"b")->rxBytes;
    s->SetProperty(3, u"b", PropNumber(31), Variant::Int(100));  // a takes 400 of the 500
    sim->Advance(2);
    EXPECT_DOUBLE_EQ(sim->User(u"b")->rxBytes, rx + 100 * kBytesPerKbit * 2);
    EXPECT_DOUBLE_EQ(sim->User(u"a")->rateIn, 400);
}

// Users are found by name after removals and re-additions; the list keeps its order and the
// account number is the position in it.
TEST_F(SimTest, RemovedAndAddedUsersAreFoundByName) {
    Scenario sc;
    sc.users = {MakeUser(u"a", {}), MakeUser(u"b", {}), MakeUser(u"c", {}), MakeUser(u"d", {})};
    Make(sc);
    auto s = LoggedIn();
    EXPECT_TRUE(sim->RemoveUser(u"b"));
    EXPECT_FALSE(sim->RemoveUser(u"b"));
    EXPECT_EQ(ErrorOf([&] { s->GetUserInfo(u"b"); }), kE_INVALIDARG);
    EXPECT_EQ(s->GetUserInfo(u"c").a[3], Variant::I4(2));
    EXPECT_EQ(s->GetUserInfo(u"d").a[3], Variant::I4(3));
    sim->AddUser(MakeUser(u"b", {}, 55));
    EXPECT_EQ(s->GetUserInfo(u"b").a[3], Variant::I4(4));
    EXPECT_EQ(s->GetProperty(3, u"b", PropNumber(31)), Variant::I4(55));
    EXPECT_THROW(sim->AddUser(MakeUser(u"d", {})), std::invalid_argument);
    EXPECT_TRUE(sim->RemoveUser(u"a"));
    s->SetProperty(3, u"d", PropNumber(31), Variant::Int(7));
    EXPECT_EQ(sim->User(u"d")->limitIn, 7);
    std::vector<Text> names;
    for (const UserState& u : sim->Users()) names.push_back(u.name);
    EXPECT_EQ(names, (std::vector<Text>{u"c", u"d", u"b"}));
}

TEST_F(SimTest, LastActivityFollowsTrafficAndOfflineMovesNothing) {
    Scenario sc;
    UserSetup busy = MakeUser(u"busy", {10, 1}), idle = MakeUser(u"idle", {0, 0}),
              off = MakeUser(u"off", {500, 50});
    idle.lastActiveAgo = 3600;
    off.online = false;
    sc.users = {busy, idle, off};
    Make(sc);
    const double start = sim->OleDateAt(0);
    EXPECT_DOUBLE_EQ(start, movra::SystemTimeToOleDate(clock.LocalNow()));
    sim->Advance(120);
    auto s = LoggedIn();
    const Variant busyAt = s->GetProperty(3, u"busy", PropNumber(78));
    EXPECT_EQ(busyAt.type, VarType::Date);
    EXPECT_NEAR(busyAt.d, start + 120.0 / 86400, 1e-9);
    EXPECT_NEAR(s->GetProperty(3, u"idle", PropNumber(78)).d, start - 3600.0 / 86400, 1e-9);
    EXPECT_EQ(sim->User(u"off")->rxBytes, 0);
    EXPECT_EQ(s->GetUserInfo(u"off").a[10], Variant::I4(0));
    EXPECT_EQ(s->GetUserInfo(u"off").a[33], Variant::I4(0));
    EXPECT_EQ(s->GetUserInfo(u"off").a[24], Variant::BStr(u"0.0.0.0"));  // no address offline
    sim->SetOnline(u"off", true);
    EXPECT_EQ(s->GetUserInfo(u"off").a[24], Variant::BStr(u"10.0.0.1"));
    // The busy user stops; its last activity stays where the traffic ended.
    sim->SetDemand(u"busy", {0, 0});
    sim->Advance(60);
    EXPECT_NEAR(sim->User(u"busy")->lastActivity, start + 120.0 / 86400, 1e-9);
}

TEST_F(SimTest, ScheduleChangesDemandStateAndAddressAndRepeats) {
    Scenario sc;
    sc.channelIn = 10000;
    sc.users = {MakeUser(u"a", {0, 0})};
    sc.schedule = {{2, u"a", ScheduledEvent::Kind::Demand, {100, 0}, {}, {}},
                   {4, u"a", ScheduledEvent::Kind::Offline, {}, {}, {}},
                   {5, u"a", ScheduledEvent::Kind::Ip, {}, u"10.0.0.9", {}},
                   {6, u"a", ScheduledEvent::Kind::Online, {}, {}, {}},
                   {7, u"a", ScheduledEvent::Kind::Demand, {0, 0}, {}, {}}};
    sc.schedulePeriod = 10;
    Make(sc);
    sim->Advance(3);
    EXPECT_DOUBLE_EQ(sim->User(u"a")->rxBytes, 100 * kBytesPerKbit * 1);
    sim->Advance(2);  // t = 5
    EXPECT_FALSE(sim->User(u"a")->online);
    EXPECT_EQ(sim->User(u"a")->ip, u"10.0.0.9");
    EXPECT_DOUBLE_EQ(sim->User(u"a")->rxBytes, 100 * kBytesPerKbit * 2);
    sim->Advance(15);  // t = 20: one more period ran: 3 s at 100 in each period
    EXPECT_TRUE(sim->User(u"a")->online);
    EXPECT_DOUBLE_EQ(sim->User(u"a")->rxBytes, 100 * kBytesPerKbit * 6);
}

TEST_F(SimTest, PropertiesByNameOrNumberAndValueKinds) {
    Scenario sc;
    sc.users = {MakeUser(u"a", {}, 10, 20)};
    Make(sc);
    auto s = LoggedIn();
    EXPECT_EQ(s->GetProperty(3, u"a", PropName(u"User_InBandwidth")), Variant::I4(10));
    EXPECT_EQ(s->GetProperty(3, u"a", PropNumber(31)), Variant::I4(10));
    EXPECT_EQ(s->GetProperty(3, u"a", Variant::I4(32)), Variant::I4(20));
    s->SetProperty(3, u"a", PropNumber(32), Variant::I4(77));
    s->SetProperty(3, u"a", PropName(u"User_InBandwidth"), Variant::Int(66));
    EXPECT_EQ(sim->User(u"a")->limitIn, 66);
    EXPECT_EQ(sim->User(u"a")->limitOut, 77);

    EXPECT_EQ(ErrorOf([&] { s->SetProperty(3, u"a", PropNumber(31), Variant::R8(5)); }),
              kDISP_E_TYPEMISMATCH);
    EXPECT_EQ(ErrorOf([&] { s->SetProperty(3, u"a", PropNumber(31), Variant::Int(-1)); }),
              kE_INVALIDARG);
    EXPECT_EQ(ErrorOf([&] { s->GetProperty(3, u"a", PropName(u"user_inbandwidth")); }),
              kDISP_E_UNKNOWNNAME);
    EXPECT_EQ(ErrorOf([&] { s->GetProperty(3, u"a", PropNumber(18)); }), kDISP_E_UNKNOWNNAME);
    EXPECT_EQ(ErrorOf([&] { s->GetProperty(3, u"nobody", PropNumber(31)); }), kE_INVALIDARG);
    EXPECT_EQ(ErrorOf([&] { s->GetProperty(2, u"nogroup", PropNumber(18)); }), kE_INVALIDARG);
    EXPECT_EQ(ErrorOf([&] { s->GetUserInfo(u"nobody"); }), kE_INVALIDARG);
    EXPECT_EQ(ErrorOf([&] { s->SetProperty(3, u"a", PropNumber(78), Variant::Date(1)); }),
              kE_ACCESSDENIED);
    EXPECT_EQ(sim->User(u"a")->limitIn, 66);  // refused writes change nothing

    s->SetProperty(3, u"a", PropNumber(8), Variant::BStr(u"new group"));
    EXPECT_EQ(sim->GroupLimit(u"new group"), 0);
}

TEST_F(SimTest, LoginGatesEveryCall) {
    Scenario sc;
    sc.users = {MakeUser(u"a", {})};
    Make(sc);
    auto s = SimConnector(sim).ConnectSession(u"host");
    EXPECT_EQ(ErrorOf([&] { s->ListUsers(); }), kE_ACCESSDENIED);
    EXPECT_EQ(ErrorOf([&] { s->GetUserInfo(u"a"); }), kE_ACCESSDENIED);
    EXPECT_EQ(ErrorOf([&] { s->Login(u"wrong"); }), kE_ACCESSDENIED);
    EXPECT_EQ(ErrorOf([&] { s->LoginRaw(Variant::Int(48213)); }), kDISP_E_TYPEMISMATCH);
    s->Login(u"48213");
    EXPECT_NO_THROW(s->GetUserInfo(u"a"));
    // A later failed login takes the session's right away again.
    EXPECT_THROW(s->Login(u"x"), TiError);
    EXPECT_EQ(ErrorOf([&] { s->GetUserInfo(u"a"); }), kE_ACCESSDENIED);
}

TEST_F(SimTest, ListUsersNamesFollowTheMarker) {
    Scenario sc;
    sc.users = {MakeUser(u"Иван Петров", {}), MakeUser(u"b", {})};
    Make(sc);
    auto s = LoggedIn();
    const Variant v = s->ListUsers();
    ASSERT_EQ(v.type, VarType::BStr);
    std::vector<Text> names;
    const Text marker = u"DisplayName=\"";
    for (size_t p = v.s.find(marker); p != Text::npos; p = v.s.find(marker, p)) {
        p += marker.size();
        const size_t q = v.s.find(u'"', p);
        names.push_back(v.s.substr(p, q - p));
        p = q;
    }
    EXPECT_EQ(names, (std::vector<Text>{u"Иван Петров", u"b"}));
    EXPECT_EQ(ErrorOf([&] { s->ListUsersRaw(7, Variant::Int(0), Variant::Int(0), 0); }),
              kE_INVALIDARG);
}

TEST_F(SimTest, FaultsFireAsConfigured) {
    Scenario sc;
    sc.users = {MakeUser(u"a", {100, 10}), MakeUser(u"b", {100, 10})};
    Make(sc);
    sim->Advance(1);
    SimConnector conn(sim);
    auto s = LoggedIn();

    Faults f;
    f.createFails = true;
    sim->SetFaults(f);
    EXPECT_EQ(ErrorOf([&] { conn.Connect(u"h"); }), kREGDB_E_CLASSNOTREG);

    f = {};
    f.loginFails = true;
    sim->SetFaults(f);
    auto fresh = conn.ConnectSession(u"h");
    EXPECT_EQ(ErrorOf([&] { fresh->Login(u"48213"); }), kE_ACCESSDENIED);

    f = {};
    f.listUsersFails = true;
    f.infoFailsFor = {u"b"};
    f.refusals = {{u"a", 31, true, false}, {u"", 32, false, true}, {u"b", 0, true, true}};
    sim->SetFaults(f);
    EXPECT_EQ(ErrorOf([&] { s->ListUsers(); }), kE_FAIL);
    EXPECT_EQ(ErrorOf([&] { s->GetUserInfo(u"b"); }), kE_FAIL);
    EXPECT_NO_THROW(s->GetUserInfo(u"a"));
    EXPECT_EQ(ErrorOf([&] { s->GetProperty(3, u"a", PropName(u"User_InBandwidth")); }), kE_FAIL);
    EXPECT_EQ(ErrorOf([&] { s->GetProperty(3, u"a", PropNumber(31)); }), kE_FAIL);
    EXPECT_NO_THROW(s->GetProperty(3, u"a", PropNumber(32)));
    EXPECT_NO_THROW(s->SetProperty(3, u"a", PropNumber(31), Variant::Int(5)));
    EXPECT_EQ(ErrorOf([&] { s->SetProperty(3, u"a", PropNumber(32), Variant::Int(5)); }), kE_FAIL);
    EXPECT_EQ(ErrorOf([&] { s->GetProperty(3, u"b", PropNumber(78)); }), kE_FAIL);
    EXPECT_EQ(ErrorOf([&] { s->SetProperty(3, u"b", PropNumber(30), Variant::Int(0)); }), kE_FAIL);

    f = {};
    f.countersAsI4 = true;
    f.shortInfo = 20;
    sim->SetFaults(f);
    const Variant info = s->GetUserInfo(u"a");
    EXPECT_EQ(info.a.size(), 20u);
    EXPECT_THROW(movra::InfoElement(info, 33), movra::ConversionError);
    f.shortInfo = 0;
    sim->SetFaults(f);
    EXPECT_EQ(s->GetUserInfo(u"a").a[20], Variant::I4(100 * 128));

    sim->SetFaults({});
    EXPECT_NO_THROW(s->ListUsers());
}

TEST_F(SimTest, TimedFaultsComeAndGoAndRepeatWithThePeriod) {
    Make(
        ParseScenario("period 100\n"
                      "user a demand=100/10\n"
                      "user b\n"
                      "user fault\n"
                      "at 5 fault offline\n"  // a user called "fault", not a fault
                      "at 10 fault set a User_InBandwidth\n"
                      "at 10 fault info b\n"
                      "at 10 fault short-info 12\n"
                      "at 20 clear set a 31\n"
                      "at 20 clear short-info 12\n"
                      "at 30 fault create\n"
                      "at 40 clear create\n"
                      "at 50 clear info b\n"));
    SimConnector conn(sim);
    auto s = LoggedIn();
    const auto setA = [&] {
        return ErrorOf([&] { s->SetProperty(3, u"a", PropNumber(31), Variant::Int(5)); });
    };
    const auto infoB = [&] { return ErrorOf([&] { s->GetUserInfo(u"b"); }); };
    const auto create = [&] { return ErrorOf([&] { conn.Connect(u"h"); }); };
    for (int cycle = 0; cycle < 3; ++cycle) {
        sim->Advance(cycle == 0 ? 9 : 59);  // to 9, 109, 209
        EXPECT_EQ(setA(), 0) << cycle;
        EXPECT_EQ(infoB(), 0) << cycle;
        sim->Advance(1);  // 10: on
        EXPECT_EQ(setA(), kE_FAIL) << cycle;
        EXPECT_EQ(infoB(), kE_FAIL) << cycle;
        EXPECT_EQ(create(), 0) << cycle;
        EXPECT_EQ(s->GetUserInfo(u"a").a.size(), 12u) << cycle;
        sim->Advance(10);  // 20: the refusal goes, the info fault stays
        EXPECT_EQ(setA(), 0) << cycle;
        EXPECT_EQ(s->GetUserInfo(u"a").a.size(), kInfoSize) << cycle;
        EXPECT_EQ(infoB(), kE_FAIL) << cycle;
        sim->Advance(10);  // 30: the object cannot be created
        EXPECT_EQ(create(), kREGDB_E_CLASSNOTREG) << cycle;
        EXPECT_NO_THROW(s->ListUsers());  // an object made before goes on working
        sim->Advance(10);                 // 40
        EXPECT_EQ(create(), 0) << cycle;
        EXPECT_EQ(infoB(), kE_FAIL) << cycle;
        sim->Advance(10);  // 50
        EXPECT_EQ(infoB(), 0) << cycle;
    }
    EXPECT_FALSE(sim->User(u"fault")->online);
    // A fault switched on every period without a clear is listed once, not once per period.
    Make(ParseScenario("period 10\nuser b\nat 1 fault info b\nat 2 fault get * *\n"));
    sim->Advance(1000);
    EXPECT_EQ(sim->GetFaults().infoFailsFor.size(), 1u);
    EXPECT_EQ(sim->GetFaults().refusals.size(), 1u);
}

// A server that stops answering: the hung call never returns (tests alone can release it),
// the journal shows where it stopped, and calls of other kinds, or made after the fault is
// cleared, still answer.
TEST_F(SimTest, HungCallWaitsWhileOtherCallsGoOn) {
    Make(ParseScenario("user a\nuser b\nat 10 fault hang info\nat 20 clear hang info\n"));
    auto s = LoggedIn();
    sim->Advance(10);
    std::atomic<int32_t> status{-1};
    std::thread caller([&] { status = ErrorOf([&] { s->GetUserInfo(u"a"); }); });
    const auto hung = [&] {
        for (const std::string& line : sim->Journal())
            if (line.ends_with("s1 GetUserInfo BSTR:\"a\" -> HANG")) return true;
        return false;
    };
    while (!hung()) std::this_thread::yield();
    EXPECT_NO_THROW(s->ListUsers());
    EXPECT_NO_THROW(s->SetProperty(3, u"b", PropNumber(31), Variant::Int(5)));
    sim->Advance(10);
    EXPECT_NO_THROW(s->GetUserInfo(u"b"));
    EXPECT_EQ(status.load(), -1) << "the hung call returned";
    sim->ReleaseHangs();
    caller.join();
    EXPECT_EQ(status.load(), kE_FAIL);

    Make(ParseScenario("fault hang create\n"));
    sim->ReleaseHangs();  // released at once: the creation fails instead of waiting
    EXPECT_EQ(ErrorOf([&] { SimConnector(sim).Connect(u"h"); }), kE_FAIL);
    EXPECT_EQ(sim->Journal().back(), "1 0.000 s0 Connect BSTR:\"h\" -> HANG");
}

TEST_F(SimTest, JournalRecordsCallsArgumentsAndOutcomesInOrder) {
    Scenario sc;
    sc.users = {MakeUser(u"a", {})};
    Make(sc);
    {
        auto s = SimConnector(sim).ConnectSession(u"srv");
        s->Login(u"48213");
        s->SetProperty(3, u"a", PropName(u"User_InBandwidth"), Variant::Int(512));
        s->SetProperty(3, u"a", PropName(u"User_OutBandwidth"), Variant::I4(128));
        EXPECT_THROW(s->GetProperty(3, u"a \"q\"", PropNumber(78)), TiError);
        s->GetUserInfo(u"a");
    }
    const std::vector<std::string> j = sim->Journal();
    const std::vector<std::string> want = {
        "1 0.000 s1 Connect BSTR:\"srv\" -> OK",
        "2 0.000 s1 Login BSTR:\"48213\" -> OK I4:1",
        "3 0.000 s1 SetProperty int32:3 BSTR:\"a\" BSTR:\"User_InBandwidth\" INT:512 int32:1 -> OK",
        "4 0.000 s1 SetProperty int32:3 BSTR:\"a\" BSTR:\"User_OutBandwidth\" I4:128 int32:1 -> OK",
        "5 0.000 s1 GetProperty int32:3 BSTR:\"a \\\"q\\\"\" INT:78 -> ERR 0x80070057",
        "6 0.000 s1 GetUserInfo BSTR:\"a\" -> OK ARRAY[40]",
        "7 0.000 s1 Release -> OK",
    };
    EXPECT_EQ(j, want);
}

TEST_F(SimTest, JournalIsAppendedToItsFile) {
    const std::string path = ::testing::TempDir() + "tisim_journal_test.txt";
    std::remove(path.c_str());
    Scenario sc;
    sc.journalPath = movra::FromUtf8(path);
    sc.users = {MakeUser(u"a", {})};
    Make(sc);
    LoggedIn();
    sim.reset();
    sc.journalMemory = 1;
    Make(sc);  // a second run appends, and keeps only its newest line in memory
    LoggedIn();
    EXPECT_EQ(sim->Journal(), std::vector<std::string>{"3 0.000 s1 Release -> OK"});
    sim.reset();
    const auto bytes = movra::ReadFileBytes(movra::FromUtf8(path));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes,
              "1 0.000 s1 Connect BSTR:\"tiserver\" -> OK\n"
              "2 0.000 s1 Login BSTR:\"48213\" -> OK I4:1\n"
              "3 0.000 s1 Release -> OK\n"
              "1 0.000 s1 Connect BSTR:\"tiserver\" -> OK\n"
              "2 0.000 s1 Login BSTR:\"48213\" -> OK I4:1\n"
              "3 0.000 s1 Release -> OK\n");
    std::remove(path.c_str());

    sc.journalPath = movra::FromUtf8(::testing::TempDir() + "no-such-folder/journal.txt");
    EXPECT_THROW(Make(sc), ScenarioError);
}

TEST_F(SimTest, ConcurrentSessionsAndClock) {
    Scenario sc;
    sc.seed = 3;
    for (int i = 0; i < 6; ++i) {
        UserSetup u = MakeUser(u"", {});
        u.name = movra::Fmt(u"u%d", i);
        u.randomDemand = true;
        sc.users.push_back(u);
    }
    Make(sc);
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([this, t] {
            auto s = LoggedIn();
            for (int k = 0; k < 200; ++k) {
                const Text name = movra::Fmt(u"u%d", (k + t) % 6);
                s->GetUserInfo(name);
                s->SetProperty(3, name, PropNumber(31), Variant::Int(k % 50 + 1));
                s->GetProperty(3, name, PropNumber(78));
            }
        });
    }
    threads.emplace_back([this] {
        for (int k = 0; k < 200; ++k) sim->Advance(0.5);
    });
    for (auto& t : threads) t.join();
    EXPECT_DOUBLE_EQ(sim->Now(), 100);
    EXPECT_EQ(sim->Journal().size(), 3u * (2 + 600 + 1));
}

}  // namespace
}  // namespace tisim
