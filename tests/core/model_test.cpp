#include "core/model.h"

#include <gtest/gtest.h>

#include "recording_link.h"

namespace movra {
namespace {

using testing::LinkEvent;
using testing::RecordingLink;

class ModelTest : public ::testing::Test {
  protected:
    ManualClock clock{1796126400};
    Model m{clock};
};

TEST_F(ModelTest, BuiltRecordHasItsDefaults) {
    Model::Guard g(m);
    CTiUserData u = m.BuildUserRecord();
    EXPECT_EQ(u.UserKTraff, 1.0f);
    EXPECT_EQ(u.NewLimitIn, -1);
    EXPECT_EQ(u.NewLimitOut, -1);
    EXPECT_TRUE(u.UserName.empty());
    EXPECT_TRUE(u.IP.empty());
    EXPECT_EQ(u.LastActivity, clock.LocalNow());
    EXPECT_EQ(u.LastActivity.wYear, 2026);
    EXPECT_EQ(u.LimitIn, 0);
    EXPECT_EQ(u.RxTotal, 0.0);
    EXPECT_EQ(u.ActivityClass, 0);
}

TEST_F(ModelTest, AddUserByNameKeepsNamesDistinctAndGrowsByFive) {
    Model::Guard g(m);
    EXPECT_EQ(m.AddUserByName(u"anna"), 0);  // index 0 is a successful addition
    EXPECT_NE(Model::kAlreadyPresent, 0);
    EXPECT_EQ(m.Users.size(), 5u);
    EXPECT_EQ(m.AddUserByName(u"anna"), Model::kAlreadyPresent);
    EXPECT_EQ(m.AddUserByName(u"Anna"), 1);  // differs only in case: a second user
    EXPECT_EQ(m.AddUserByName(u"b"), 2);
    EXPECT_EQ(m.AddUserByName(u"c"), 3);
    EXPECT_EQ(m.Users.size(), 5u);
    EXPECT_EQ(m.AddUserByName(u"d"), 4);  // array size 5 <= NumUsers + 1: grows first
    EXPECT_EQ(m.Users.size(), 10u);
    EXPECT_EQ(m.NumUsers, 5);
    EXPECT_LT(static_cast<size_t>(m.NumUsers), m.Users.size());
}

TEST_F(ModelTest, IdentitiesSurviveRemovalAndAreNeverReused) {
    Model::Guard g(m);
    for (auto n : {u"a", u"b", u"c"}) m.AddUserByName(n);
    uint64_t idB = m.User(1).Id, idC = m.User(2).Id;
    m.RemoveUser(0);
    EXPECT_EQ(m.FindUserById(idB, 1), 0);  // stale hint: found by scanning
    EXPECT_EQ(m.FindUserById(idC), 1);
    m.RemoveUser(0);
    EXPECT_EQ(m.FindUserById(idB), -1);
    m.AddUserByName(u"b");
    EXPECT_NE(m.User(1).Id, idB);
    EXPECT_EQ(m.FindUserById(0), -1);
}

TEST_F(ModelTest, OutOfRangeAccessThrows) {
    Model::Guard g(m);
    EXPECT_THROW(m.User(0), ListIndexError);  // no records built yet
    m.AddUserByName(u"a");
    EXPECT_NO_THROW(m.User(4));  // a spare record is still inside the array
    EXPECT_THROW(m.User(5), ListIndexError);
    EXPECT_THROW(m.User(-1), ListIndexError);
    EXPECT_THROW(m.GroupAt(1), ListIndexError);
    EXPECT_THROW(m.RemoveUser(1), ListIndexError);
}

TEST_F(ModelTest, UsersChangedNoticesArriveAfterTheLockIsReleased) {
    RecordingLink link;
    m.SetWindow(&link);
    {
        Model::Guard g(m);
        m.AddUserByName(u"a");
        m.AddUserByName(u"a");
        m.AddUserByName(u"b");
        EXPECT_EQ(link.Count(LinkEvent::kUsersChanged), 0);
    }
    EXPECT_EQ(link.Count(LinkEvent::kUsersChanged), 2);
    // The window may take the lock from inside the notice.
    struct Relock : RecordingLink {
        Model* model;
        int seen = -1;
        void UsersChanged() override {
            Model::Guard g(*model);
            seen = model->NumUsers;
        }
    } relock;
    relock.model = &m;
    m.SetWindow(&relock);
    {
        Model::Guard g(m);
        m.AddUserByName(u"c");
    }
    EXPECT_EQ(relock.seen, 3);
}

TEST_F(ModelTest, GroupsFindOrAddAndLookUpByIdAfterRemoval) {
    Model::Guard g(m);
    EXPECT_EQ(m.NumGroups, 1);
    EXPECT_EQ(m.FindOrAddGroup(u""), 0);
    EXPECT_EQ(m.FindOrAddGroup(u"x"), 1);
    EXPECT_EQ(m.GroupAt(1).UserCount, 1);
    EXPECT_EQ(m.GroupAt(1).GroupMaxIn, 0.0f);
    EXPECT_EQ(m.FindOrAddGroup(u"y"), 2);
    EXPECT_EQ(m.FindOrAddGroup(u"x"), 1);
    EXPECT_EQ(m.FindGroupIdByName(u"X"), -1);
    // A group whose id no longer equals its index is found by scanning.
    m.Groups.erase(m.Groups.begin() + 1);
    --m.NumGroups;
    EXPECT_EQ(m.FindGroupIndex(2), 1);
    EXPECT_EQ(m.FindGroupIndex(1), -1);
    EXPECT_TRUE(m.SetGroupShare(2, 0.25f));
    EXPECT_FALSE(m.SetGroupShare(7, 0.5f));
    Text name = u"stale";
    EXPECT_FALSE(m.GetGroupName(7, name));
    EXPECT_TRUE(name.empty());
    EXPECT_TRUE(m.GetGroupName(2, name));
    EXPECT_EQ(name, u"y");
}

TEST_F(ModelTest, CountsAndCycleSums) {
    Model::Guard g(m);
    m.FindOrAddGroup(u"x");
    for (auto n : {u"a", u"b", u"c", u"d"}) m.AddUserByName(n);
    m.User(1).UserGrID = 1;
    m.User(2).UserGrID = 1;
    m.User(3).UserGrID = 9;  // a group that does not exist (hand-edited file)
    EXPECT_EQ(m.RecountGroupUsers(), 1);
    EXPECT_EQ(m.GroupAt(0).UserCount, 1);
    EXPECT_EQ(m.GroupAt(1).UserCount, 2);

    EXPECT_EQ(m.AddActiveToGroup(1, 1.5f), 1);
    EXPECT_EQ(m.AddActiveToGroup(1, 2.0f), 2);
    EXPECT_EQ(m.AddActiveToGroup(9, 2.0f), 0);
    EXPECT_EQ(m.GroupAt(1).KTraffSum, 3.5f);
    EXPECT_EQ(m.GroupAt(1).KTraffLeft, 3.5f);
    m.GroupAt(0).WeakCount = 2;
    m.GroupAt(1).SleepCount = 1;
    GroupCounts c = m.SumGroupCounts();
    EXPECT_EQ(c.active, 2);
    EXPECT_EQ(c.weak, 2);
    EXPECT_EQ(c.sleeping, 1);
    m.ResetGroupCycle();
    c = m.SumGroupCounts();
    EXPECT_EQ(c.active + c.weak + c.sleeping, 0);
    EXPECT_EQ(m.GroupAt(1).KTraffSum, 0.0f);
}

}  // namespace
}  // namespace movra
