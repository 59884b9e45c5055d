#include "engine/division.h"

#include <gtest/gtest.h>

#include "core/log_flags.h"
#include "division_fixture.h"

namespace movra {
namespace {

// ---- Mode 1 ----

class FreeChannelTest : public DivisionTest {
  protected:
    FreeChannelTest() {
        m.settings.TrafficSpeedAutoControll = 1;
        m.settings.DOWNLOADER_USERNAME = u"dl";
        m.settings.Use_Sleepers_Traffic = 1;
    }
    void Limits(const char16_t* name, int32_t in, int32_t out) {
        U(name).LimitIn = in;
        U(name).LimitOut = out;
    }
};

TEST_F(FreeChannelTest, DownloadUserGetsWhatOtherOnlineUsersLeave) {
    Add(u"x");
    Add(u"dl");
    Add(u"off").Online = 0;
    Asleep(Add(u"sleeper"));
    Add(u"free");  // no limit: subtracts nothing
    Limits(u"x", 100, 20);
    Limits(u"dl", 10, 5);
    Limits(u"off", 50, 10);
    Limits(u"sleeper", 40, 8);
    auto actions = Divide();
    EXPECT_EQ(Writes(actions), (std::vector<Pair>{{u"dl", 156, 44, 1}}));
    EXPECT_TRUE(Lines(actions, LOG_WARN).empty());
    EXPECT_EQ(m.ServerRow.LimitIn, 256);
    EXPECT_EQ(m.ServerRow.LimitOut, 64);

    // Already at the free values: nothing.
    Limits(u"dl", 156, 44);
    EXPECT_TRUE(Divide().empty());

    // With sleepers' traffic off everyone online counts.
    m.settings.Use_Sleepers_Traffic = 0;
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"dl", 116, 36, 1}}));
}

TEST_F(FreeChannelTest, OverloadGivesOneOne) {
    Add(u"dl");
    Add(u"x");
    Limits(u"x", 300, 20);
    auto actions = Divide();
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(actions[0].kind, CycleAction::kLog);
    EXPECT_EQ(actions[0].flags, LOG_WARN);
    EXPECT_EQ(actions[0].text, u"Канал перегружен!");
    EXPECT_EQ(Writes(actions), (std::vector<Pair>{{u"dl", 1, 1, 1}}));

    // Exactly used up is not overloaded, but a limit of 0 would lift the download user's
    // limit altogether.
    Limits(u"x", 256, 20);
    actions = Divide();
    EXPECT_TRUE(Lines(actions, LOG_WARN).empty());
    EXPECT_EQ(Writes(actions), (std::vector<Pair>{{u"dl", 1, 44, 1}}));
}

TEST_F(FreeChannelTest, DownloadUserIsFoundOnceAndForgottenWhenRemoved) {
    Add(u"x");
    Add(u"dl").Online = 0;
    Limits(u"x", 100, 20);
    EXPECT_TRUE(Divide().empty());
    EXPECT_EQ(run.downloadUserId, 0u);

    U(u"dl").Online = 1;
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"dl", 156, 44, 1}}));
    uint64_t id = U(u"dl").Id;
    EXPECT_EQ(run.downloadUserId, id);

    // Offline again: held, but nothing is written.
    U(u"dl").Online = 0;
    EXPECT_TRUE(Divide().empty());
    EXPECT_EQ(run.downloadUserId, id);

    // Another name in the settings: the user found earlier still gets the channel.
    U(u"dl").Online = 1;
    m.settings.DOWNLOADER_USERNAME = u"nobody";
    Limits(u"dl", 0, 0);
    EXPECT_EQ(DivideWrites(), (std::vector<Pair>{{u"dl", 156, 44, 1}}));

    // Removing the record forgets it, and a position never points at another user.
    m.RemoveUser(m.FindUserByName(u"x"));
    m.settings.DOWNLOADER_USERNAME = u"dl";
    U(u"dl").Online = 0;
    EXPECT_TRUE(Divide().empty());
    m.RemoveUser(m.FindUserByName(u"dl"));
    Add(u"y");
    EXPECT_TRUE(Divide().empty());
    EXPECT_EQ(run.downloadUserId, 0u);
}

TEST_F(DivisionTest, SummaryRowInOtherModes) {
    m.settings.TrafficSpeedAutoControll = 0;
    m.settings.UserSleepTraffic = 10;
    Add(u"slow", 1.0f, 0, 1.0);
    EXPECT_TRUE(Divide().empty());
    EXPECT_EQ(m.ServerRow.LimitIn, 266);
    EXPECT_EQ(m.ServerRow.LimitOut, 64);
}

}  // namespace
}  // namespace movra
