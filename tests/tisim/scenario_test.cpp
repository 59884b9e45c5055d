// The scenario reader: every directive, errors with their line, and the shipped scenarios.
#include <gtest/gtest.h>

#include "tisim/sim.h"

namespace tisim {
namespace {

TEST(ScenarioTest, ReadsEveryDirective) {
    const Scenario sc = ParseScenario(
        "\xEF\xBB\xBF# a comment\n"
        "password \"pa ss\"\r\n"
        "channel 2048 512.5\n"
        "defaults 100 50\n"
        "seed 99\n"
        "time real\n"
        "journal logs/j.txt\n"
        "journal-memory 50\n"
        "period 60\n"
        "\n"
        "group \"Отдел продаж\" 300   # trailing comment\n"
        "group Склад\n"
        "user \"Иван Петров\" group=\"Отдел продаж\" online=0 ip=10.1.2.3 balance=-5.5 rx=1000 "
        "tx=2000 in=256 out=64 default=0 demand=100/20 idle=30\n"
        "user b demand=random\n"
        "at 10 \"Иван Петров\" demand 5 6\n"
        "at 0 b online\n"
        "at 20 b offline\n"
        "at 30 b ip 10.0.0.7\n"
        "at 40 b random\n"
        "fault create\nfault login\nfault list\nfault info b\n"
        "fault get * User_InBandwidth\nfault set b *\nfault get b 78\n"
        "fault counters-i4\nfault short-info 12\nfault delay 5\nfault hang info\nfault hang set",
        u"/base");
    EXPECT_EQ(sc.password, u"pa ss");
    EXPECT_EQ(sc.channelIn, 2048);
    EXPECT_EQ(sc.channelOut, 512.5);
    EXPECT_EQ(sc.defaultLimitIn, 100);
    EXPECT_EQ(sc.defaultLimitOut, 50);
    EXPECT_EQ(sc.seed, 99u);
    EXPECT_EQ(sc.time, TimeMode::RealTime);
    EXPECT_EQ(sc.journalPath, u"/base/logs/j.txt");
    EXPECT_EQ(sc.journalMemory, 50u);
    EXPECT_EQ(sc.schedulePeriod, 60);
    ASSERT_EQ(sc.groups.size(), 2u);
    EXPECT_EQ(sc.groups[0].name, u"Отдел продаж");
    EXPECT_EQ(sc.groups[0].limitIn, 300);
    EXPECT_EQ(sc.groups[1].limitIn, 0);
    ASSERT_EQ(sc.users.size(), 2u);
    const UserSetup& u = sc.users[0];
    EXPECT_EQ(u.name, u"Иван Петров");
    EXPECT_EQ(u.group, u"Отдел продаж");
    EXPECT_FALSE(u.online);
    EXPECT_EQ(u.ip, u"10.1.2.3");
    EXPECT_EQ(u.balance, -5.5);
    EXPECT_EQ(u.rxBytes, 1000);
    EXPECT_EQ(u.txBytes, 2000);
    EXPECT_EQ(u.limitIn, 256);
    EXPECT_EQ(u.limitOut, 64);
    EXPECT_FALSE(u.defaultLimits);
    EXPECT_EQ(u.demand, (Demand{100, 20}));
    EXPECT_EQ(u.lastActiveAgo, 30);
    EXPECT_TRUE(sc.users[1].randomDemand);
    EXPECT_TRUE(sc.users[1].defaultLimits);
    EXPECT_EQ(sc.users[1].ip, u"0.0.0.0");
    ASSERT_EQ(sc.schedule.size(), 5u);
    EXPECT_EQ(sc.schedule[0].kind, ScheduledEvent::Kind::Demand);
    EXPECT_EQ(sc.schedule[0].demand, (Demand{5, 6}));
    EXPECT_EQ(sc.schedule[3].ip, u"10.0.0.7");
    EXPECT_EQ(sc.schedule[4].kind, ScheduledEvent::Kind::Random);
    const Faults& f = sc.faults;
    EXPECT_TRUE(f.createFails && f.loginFails && f.listUsersFails && f.countersAsI4);
    EXPECT_EQ(f.infoFailsFor, std::vector<Text>{u"b"});
    ASSERT_EQ(f.refusals.size(), 3u);
    EXPECT_TRUE(f.refusals[0].user.empty());
    EXPECT_EQ(f.refusals[0].property, kPropLimitIn);
    EXPECT_TRUE(f.refusals[0].get && !f.refusals[0].set);
    EXPECT_EQ(f.refusals[1].property, 0);
    EXPECT_TRUE(f.refusals[1].set);
    EXPECT_EQ(f.refusals[2].property, kPropLastActivity);
    EXPECT_EQ(f.shortInfo, 12u);
    EXPECT_EQ(f.delayMs, 5);
    EXPECT_EQ(f.hangs, (std::vector<ServerCall>{ServerCall::Info, ServerCall::Set}));
}

// Numbers that end up in integers are checked before any conversion: far too large, they
// would be undefined behaviour (caught in the sanitizer tree), not an error.
TEST(ScenarioTest, RangesAreCheckedBeforeConverting) {
    struct Case {
        const char* text;
        const char* message;  // part of the error
    };
    const Case rejected[] = {
        {"user a in=1e19\n", "in above 2147483647 kbit/s"},
        {"user a out=1e300\n", "out above 2147483647 kbit/s"},
        {"user a in=2147483648\n", "in above 2147483647 kbit/s"},
        {"defaults 0 9.3e18\n", "default out above 2147483647 kbit/s"},
        {"group g 1e19\n", "group limit above 2147483647 kbit/s"},
        {"journal-memory 1e30\n", "journal-memory above 1000000000 lines"},
        {"journal-memory 1e19\n", "journal-memory above 1000000000 lines"},
        // Delivered speeds go out as 32-bit bytes per second; the counters wrap at 32 bits
        // from a whole 64-bit count.
        {"channel 16777216 1\n", "channel in above 16777215 kbit/s"},
        {"channel 1 1e300\n", "channel out above 16777215 kbit/s"},
        {"user a rx=1e30\n", "rx above 9007199254740992 bytes"},
        {"user a tx=9007199254740994\n", "tx above 9007199254740992 bytes"},
        {"user a in=-1\n", "in must not be negative"},
        {"user a rx=inf\n", "rx is not a number"},
        {"fault delay 1e30\n", "delay above 60000 ms"},
        {"fault short-info 1e30\n", "short-info must be 1 to 39"},
        {"fault get * 1e30\n", "property must be"},
    };
    for (const Case& c : rejected) {
        try {
            ParseScenario(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const ScenarioError& e) {
            EXPECT_EQ(e.line(), 1) << c.text;
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << c.text << " -> " << e.what();
        }
    }
    const Scenario top = ParseScenario(
        "channel 16777215 16777215\ndefaults 2147483647 0\njournal-memory 1000000000\n"
        "group g 2147483647\nuser a in=2147483647 out=2147483647 rx=9007199254740992 tx=0\n");
    EXPECT_EQ(top.channelIn, 16777215);
    EXPECT_EQ(top.defaultLimitIn, 2147483647);
    EXPECT_EQ(top.journalMemory, 1000000000u);
    ASSERT_EQ(top.groups.size(), 1u);
    ASSERT_EQ(top.users.size(), 1u);
    EXPECT_EQ(top.groups[0].limitIn, 2147483647);
    EXPECT_EQ(top.users[0].limitOut, 2147483647);
    EXPECT_EQ(top.users[0].rxBytes, 9007199254740992.0);

    // The widest channel a scenario may have, one user downloading at full speed from the
    // largest counter with 32-bit counters: the info stays in range for a week of simulated
    // time.
    Scenario wide = ParseScenario(
        "channel 16777215 16777215\nfault counters-i4\n"
        "user a rx=9007199254740992 demand=1e300/1e300\n");
    movra::ManualClock clock;
    Simulator sim(wide, clock);
    sim.Advance(7 * 86400);
    const Variant info = sim.GetUserInfo(u"a");
    ASSERT_EQ(info.a.size(), kInfoSize);
    EXPECT_EQ(info.a[33], Variant::I4(16777215 * 128));
}

TEST(ScenarioTest, ErrorsNameTheirLine) {
    struct Case {
        const char* text;
        int line;
    };
    const Case cases[] = {
        {"password 1\nchanel 1 2\n", 2},
        {"channel 1024\n", 1},
        {"channel 1024 -5\n", 1},
        {"channel 1,5 2\n", 1},
        {"\n\nuser a in=1.5\n", 3},
        {"user a in=x\n", 1},
        {"user a color=red\n", 1},
        {"user a\nuser a\n", 2},
        {"user \"a\n", 1},
        {"user a demand=5\n", 1},
        {"user a online=maybe\n", 1},
        {"group g\ngroup g 5\n", 2},
        {"user a\nat 5 a fly\n", 2},
        {"user a\nat 5 a demand 1\n", 2},
        {"user a\n\nat 5 nobody online\n", 3},
        {"period 10\nuser a\nat 10 a online\n", 3},
        {"period 0.01\n", 1},
        {"fault teleport\n", 1},
        {"fault info\n", 1},
        {"fault get a User_Bandwidth\n", 1},
        {"fault short-info 40\n", 1},
        {"fault hang\n", 1},
        {"fault hang reboot\n", 1},
        {"time sometimes\n", 1},
        {"seed -1\n", 1},
        {"journal-memory 1.5\n", 1},
        {"at 5 fault\n", 1},
        {"at 5 fault teleport\n", 1},
        {"user a\n\nat 5 clear info\n", 3},
        {"at 5 clear delay\n", 1},
        {"at 5 fault get a User_Bandwidth\n", 1},
        {"period 10\nat 10 fault create\n", 2},
    };
    for (const Case& c : cases) {
        try {
            ParseScenario(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const ScenarioError& e) {
            EXPECT_EQ(e.line(), c.line) << c.text << " -> " << e.what();
            EXPECT_NE(std::string(e.what()).find("line " + std::to_string(c.line) + ":"),
                      std::string::npos);
        }
    }
}

TEST(ScenarioTest, ShippedScenariosLoadAndRun) {
    const Text dir = movra::FromUtf8(TISIM_SCENARIOS);
    Scenario demo = LoadScenarioFile(dir + u"/demo.tisim");
    EXPECT_EQ(demo.password, u"48213");
    EXPECT_EQ(demo.users.size(), 12u);
    EXPECT_EQ(demo.groups.size(), 3u);
    EXPECT_EQ(demo.journalPath, dir + u"/tisim-journal.txt");
    // Run the demo on a manual clock without its journal: traffic comes and goes, the
    // channel holds.
    demo.time = TimeMode::Manual;
    demo.journalPath.clear();
    movra::ManualClock clock;
    Simulator sim(demo, clock);
    double busiest = 0;
    int quiet = 0;
    for (int i = 0; i < 400; ++i) {
        sim.Advance(3);
        const Demand d = sim.Delivered();
        ASSERT_LE(d.in, 1024 + 1e-9);
        ASSERT_LE(d.out, 256 + 1e-9);
        busiest = std::max(busiest, d.in);
        quiet += d.in < 512;
    }
    EXPECT_GT(busiest, 900);
    EXPECT_GT(quiet, 0);

    const Scenario faults = LoadScenarioFile(dir + u"/faults.tisim");
    EXPECT_FALSE(faults.faults.infoFailsFor.empty());
    EXPECT_TRUE(faults.faults.countersAsI4);
    const Scenario soak = LoadScenarioFile(dir + u"/soak.tisim");
    EXPECT_EQ(soak.journalMemory, 1000u);
    EXPECT_THROW(LoadScenarioFile(dir + u"/no-such.tisim"), ScenarioError);
}

}  // namespace
}  // namespace tisim
