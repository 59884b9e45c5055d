#include "ui/editors_model.h"

#include <gtest/gtest.h>

#include <map>

#include "app/snapshot.h"
#include "model_port.h"
#include "ui/editors_res.h"

namespace movra {
namespace {

class EditorsTest : public ::testing::Test {
  protected:
    ManualClock clock{1796126400};
    Model m{clock};

    // Groups 1..n named g1..gn; users u<i> in the given groups.
    void Populate(int groups, std::vector<int32_t> userGroups) {
        Model::Guard g(m);
        for (int i = 1; i <= groups; ++i) m.FindOrAddGroup(Fmt(u"g%d", i));
        for (size_t i = 0; i < userGroups.size(); ++i) {
            int32_t idx = m.AddUserByName(Fmt(u"u%d", static_cast<int>(i)));
            m.User(idx).UserGrID = userGroups[i];
        }
        m.RecountGroupUsers();
    }

    // What an editor reads: a copy, taken when the lock is free.
    AppSnapshot Snap() {
        AppSnapshot s;
        CopySnapshot(m, LOG_DISCONNECTED, s);
        return s;
    }
};

TEST_F(EditorsTest, DeletingAMiddleGroupKeepsIdsEqualToIndexesAndRenumbersUsers) {
    Populate(4, {2, 3, 4, 0, 2, 1});
    Model::Guard g(m);
    m.GroupAt(3).GroupMaxIn = 0.3f;
    const int32_t count0 = m.GroupAt(0).UserCount;
    EXPECT_TRUE(DeleteGroupByName(m, u"g2"));
    ASSERT_EQ(m.NumGroups, 4);
    for (int32_t i = 0; i < m.NumGroups; ++i) EXPECT_EQ(m.GroupAt(i).GroupID, i);
    EXPECT_EQ(m.GroupAt(2).GroupName, u"g3");
    EXPECT_EQ(m.GroupAt(2).GroupMaxIn, 0.3f);
    EXPECT_EQ(m.GroupAt(3).GroupName, u"g4");
    std::vector<int32_t> ids;
    for (int32_t i = 0; i < m.NumUsers; ++i) ids.push_back(m.User(i).UserGrID);
    EXPECT_EQ(ids, (std::vector<int32_t>{0, 2, 3, 0, 0, 1}));
    EXPECT_EQ(m.GroupAt(0).UserCount, count0);  // not recounted
    // Group 0 and unknown names are never deleted.
    EXPECT_FALSE(DeleteGroupByName(m, u""));
    EXPECT_FALSE(DeleteGroupByName(m, u"G3"));
    EXPECT_EQ(m.NumGroups, 4);
    // Deleting the last group leaves the others alone.
    EXPECT_TRUE(DeleteGroupByName(m, u"g4"));
    EXPECT_EQ(m.User(2).UserGrID, 0);
    EXPECT_EQ(m.NumGroups, 3);
}

TEST_F(EditorsTest, GroupKeysFollowTheirGroupsThroughDeletionAndAreNeverReused) {
    Populate(3, {});
    Model::Guard g(m);
    std::vector<uint64_t> keys;
    for (int32_t i = 0; i < m.NumGroups; ++i) keys.push_back(m.GroupAt(i).Key);
    EXPECT_NE(keys[0], 0u);  // group 0 has one too; 0 is the merged rest of the chart
    EXPECT_TRUE(DeleteGroupByName(m, u"g1"));
    EXPECT_EQ(m.GroupAt(0).Key, keys[0]);
    EXPECT_EQ(m.GroupAt(1).Key, keys[2]);  // g2, now id 1
    EXPECT_EQ(m.GroupAt(2).Key, keys[3]);
    m.FindOrAddGroup(u"g1");
    const uint64_t fresh = m.GroupAt(3).Key;
    for (uint64_t k : keys) EXPECT_NE(fresh, k);
}

TEST_F(EditorsTest, AddOrChangeGroupChangesAnExistingShareOrAppendsANewGroup) {
    Populate(2, {});
    Model::Guard g(m);
    EXPECT_TRUE(AddOrChangeGroup(m, u"g1", 0.6));
    EXPECT_EQ(m.NumGroups, 3);
    EXPECT_EQ(m.GroupAt(1).GroupMaxIn, 0.6f);
    EXPECT_TRUE(AddOrChangeGroup(m, u"new", 0.5));
    EXPECT_EQ(m.NumGroups, 4);
    EXPECT_EQ(m.GroupAt(3).GroupID, 3);
    EXPECT_EQ(m.GroupAt(3).GroupMaxIn, 0.5f);
    EXPECT_FALSE(AddOrChangeGroup(m, u"", 0.9));
    // Blanks alone cannot survive a save and a load: treated as no name.
    EXPECT_FALSE(AddOrChangeGroup(m, u" \t ", 0.9));
    EXPECT_EQ(m.NumGroups, 4);
}

TEST_F(EditorsTest, CaptionsAndCellsUseTheDisplayUnitAndMayGoNegative) {
    EXPECT_EQ(GroupsSumCaption(0.6f + 0.5f),
              u"1.10 из 1.0 использовано под группы. Остаток: -0.10");
    Settings kbit, kbytes;
    kbytes.DisplaySpeed_in_kBytes_s = 1;
    const ui::DisplayUnit bits = ui::DisplayUnitFor(kbit), bytes = ui::DisplayUnitFor(kbytes);
    EXPECT_EQ(GroupLimitCell(0.25f, 1000, bits), u"25.00% (250.0 кбит/с max)");
    EXPECT_EQ(GroupLimitCell(0.25f, 1000, bytes), u"25.00% (31.2 кБайт/с max)");
    EXPECT_EQ(MaxChannelCaption(256, bits), u"Макс. канал на прием: 256.0 кбит/с");
    EXPECT_EQ(MaxChannelCaption(256, bytes), u"Макс. канал на прием: 32.0 кБайт/с");
}

TEST_F(EditorsTest, GroupsViewListsCellsMembersAndUsersWithoutAGroup) {
    Populate(2, {1, 0, 1, 2});
    {
        Model::Guard g(m);
        m.settings.RXMAXkbit = 1000;
        m.GroupAt(1).GroupMaxIn = 0.25f;
        m.User(0).UserKTraff = 1.5f;
        m.User(2).UserKTraff = 2.25f;
    }
    const AppSnapshot snap = Snap();
    GroupsView v = BuildGroupsView(snap, u"g1");
    ASSERT_EQ(v.groups.size(), 2u);
    EXPECT_EQ(v.groups[0].index, 1);
    EXPECT_EQ(v.groups[0].cells[0], u"1");
    EXPECT_EQ(v.groups[0].cells[1], u"g1");
    EXPECT_EQ(v.groups[0].cells[2], u"25.00% (250.0 кбит/с max)");
    EXPECT_EQ(v.groups[0].cells[3], u"2");
    EXPECT_EQ(v.groups[0].cells[4], u"3.75");
    EXPECT_EQ(v.sumCaption, u"0.25 из 1.0 использовано под группы. Остаток: 0.75");
    ASSERT_EQ(v.members.size(), 2u);
    EXPECT_EQ(v.members[1].name, u"u2");
    EXPECT_EQ(v.members[1].koeff, u"2.25");
    ASSERT_EQ(v.free.size(), 1u);
    EXPECT_EQ(v.free[0].index, 1);
    // An unknown or empty name lists no members.
    EXPECT_TRUE(BuildGroupsView(snap, u"").members.empty());
    EXPECT_TRUE(BuildGroupsView(snap, u"G1").members.empty());
}

TEST_F(EditorsTest, SelectingAGroupRowCopiesNameAndSinglePrecisionShare) {
    Populate(1, {});
    {
        Model::Guard g(m);
        AddOrChangeGroup(m, u"g1", 0.1);
    }
    const AppSnapshot snap = Snap();
    GroupsEditorState st{u"x", 0.7};
    SelectGroupRow(snap, u"g1", st);
    EXPECT_EQ(st.groupName, u"g1");
    EXPECT_EQ(FormatReal(st.share), u"0.100000001490116");
    SelectGroupRow(snap, u"gone", st);  // no such group: the share stays
    EXPECT_EQ(st.groupName, u"gone");
    EXPECT_EQ(FormatReal(st.share), u"0.100000001490116");
}

TEST_F(EditorsTest, MovesInAndOutNeedAnExistingGroupAndRecount) {
    Populate(1, {0, 0});
    Model::Guard g(m);
    EXPECT_FALSE(MoveUserToGroup(m, u"u0", u""));  // no group chosen
    EXPECT_FALSE(MoveUserToGroup(m, u"u0", u"nope"));
    EXPECT_FALSE(MoveUserToGroup(m, u"nobody", u"g1"));
    EXPECT_EQ(m.User(0).UserGrID, 0);
    EXPECT_TRUE(MoveUserToGroup(m, u"u0", u"g1"));
    EXPECT_TRUE(MoveUserToGroup(m, u"u1", u"g1"));
    EXPECT_EQ(m.GroupAt(1).UserCount, 2);
    EXPECT_TRUE(RemoveUserFromGroup(m, u"u1"));
    EXPECT_EQ(m.GroupAt(1).UserCount, 1);
    g.Release();
    GroupsView v = BuildGroupsView(Snap(), u"g1");
    ASSERT_EQ(v.free.size(), 1u);
    EXPECT_EQ(v.free[0].name, u"u1");
}

TEST(LimitEditorRule, PendingChangeOnlyWhenALimitChangedAndThenBoth) {
    CTiUserData u;
    u.UserName = u"a";
    u.LimitIn = 100;
    u.LimitOut = 50;
    u.NewLimitIn = 7;  // pending from earlier
    u.NewLimitOut = 8;
    u.UserKTraff = 0.1f;
    u.UserLimitMaxIn = 300;
    LimitEditorFields f = LimitFieldsFromUser(u);
    ApplyLimitFields(f, u);
    EXPECT_EQ(u.NewLimitIn, 7);
    EXPECT_EQ(u.NewLimitOut, 8);
    EXPECT_EQ(u.UserKTraff, 0.1f);
    EXPECT_EQ(u.UserLimitMaxIn, 300);

    f.NewIn = 120;
    f.MaxIn = -5;
    f.KTraff = 2.5;
    ApplyLimitFields(f, u);
    EXPECT_EQ(u.NewLimitIn, 120);
    EXPECT_EQ(u.NewLimitOut, 50);  // the current outgoing limit, though unchanged
    EXPECT_EQ(u.UserKTraff, 2.5f);
    EXPECT_EQ(u.UserLimitMaxIn, -5);
}

TEST(LimitEditorRule, CoefficientRangeIsZeroToAMillion) {
    auto b = LimitEditorBindings();
    LimitEditorFields f;
    struct Controls : ControlAccess {
        std::map<int, Text> t;
        Text GetText(int id) override { return t[id]; }
        void SetText(int id, const Text& s) override { t[id] = s; }
        bool GetCheck(int) override { return false; }
        void SetCheck(int, bool) override {}
        void Focus(int) override {}
    } c;
    ShowFields(b, f, c);
    c.t[IDC_CHG_KOEFF] = u"1000000";
    EXPECT_TRUE(TakeControls(Shapes(b), c).ok);
    c.t[IDC_CHG_KOEFF] = u"1000001";
    EXPECT_EQ(TakeControls(Shapes(b), c).message, u"Please enter a number between 0 and 1000000.");
    c.t[IDC_CHG_KOEFF] = u"1";
    c.t[IDC_CHG_CUR_IN] = u"junk";  // read-only fields are never taken
    c.t[IDC_CHG_MAX_OUT] = u"1.5";
    EXPECT_EQ(TakeControls(Shapes(b), c).message, u"Please enter an integer.");
}

TEST_F(EditorsTest, LimitLoopShowsEachUserInTurnSkipsUnknownAndStopsAtEmptyName) {
    Populate(0, {0, 0, 0});
    std::vector<Text> shown;
    test::ModelPort port(m);
    int written = EditLimitsLoop(port, {u"u0", u"ghost", u"u1", u"u2", u"", u"u0"},
                                 [&](const LimitEditorFields& f) {
                                     shown.push_back(f.UserName);
                                     if (f.UserName == u"u1")
                                         return std::optional<LimitEditorFields>{};
                                     LimitEditorFields out = f;
                                     out.MaxIn = 77;
                                     return std::optional<LimitEditorFields>{out};
                                 });
    EXPECT_EQ(shown, (std::vector<Text>{u"u0", u"u1", u"u2"}));
    EXPECT_EQ(written, 2);
    Model::Guard g(m);
    EXPECT_EQ(m.User(0).UserLimitMaxIn, 77);
    EXPECT_EQ(m.User(1).UserLimitMaxIn, 0);
    EXPECT_EQ(m.User(2).UserLimitMaxIn, 77);
}

TEST_F(EditorsTest, LimitLoopWritesBackToTheSameUserEvenIfTheListChangedMeanwhile) {
    Populate(0, {0, 0});
    test::ModelPort port(m);
    int written = EditLimitsLoop(port, {u"u1"}, [&](const LimitEditorFields& f) {
        {
            Model::Guard g(m);  // the control thread removed a user meanwhile
            m.RemoveUser(0);
        }
        LimitEditorFields out = f;
        out.MaxOut = 9;
        return std::optional<LimitEditorFields>{out};
    });
    EXPECT_EQ(written, 1);
    Model::Guard g(m);
    EXPECT_EQ(m.User(0).UserName, u"u1");
    EXPECT_EQ(m.User(0).UserLimitMaxOut, 9);
}

TEST_F(EditorsTest, AddUserTakesTheNameAsTypedAndReportsDuplicates) {
    EXPECT_EQ(AddUserNamed(m, Text{}).result, AddUserResult::kNothing);
    EXPECT_EQ(AddUserNamed(m, Text{u"bob"}).result, AddUserResult::kAdded);
    EXPECT_EQ(AddUserNamed(m, Text{u" bob"}).result, AddUserResult::kAdded);
    AddUserOutcome dup = AddUserNamed(m, Text{u"bob"});
    EXPECT_EQ(dup.result, AddUserResult::kAlreadyPresent);
    EXPECT_EQ(dup.message, u"bob уже есть в списке");
    Model::Guard g(m);
    EXPECT_EQ(m.NumUsers, 2);
}

struct FakeControls : ControlAccess {
    std::map<int, Text> t;
    std::map<int, bool> c;
    int focus = 0;
    Text GetText(int id) override { return t[id]; }
    void SetText(int id, const Text& v) override { t[id] = v; }
    bool GetCheck(int id) override { return c[id]; }
    void SetCheck(int id, bool on) override { c[id] = on; }
    void Focus(int id) override { focus = id; }
};

// The share is kept in single precision: a number beyond it would be stored as inf, which the
// saved file cannot hold.
TEST(GroupsEditorFields, AShareBeyondSinglePrecisionIsRefusedLikeText) {
    auto b = GroupsEditorBindings();
    GroupsEditorState st{u"old", 0.25};
    FakeControls c;
    c.t[IDC_GR_NAME] = u"g";
    for (const char16_t* typed : {u"1e39", u"-1e39", u"abc"}) {
        c.t[IDC_GR_SHARE] = typed;
        c.focus = 0;
        TakeResult r = TakeControls(Shapes(b), c);
        EXPECT_EQ(r.message, kMsgNumber) << ToUtf8(typed);
        EXPECT_EQ(c.focus, IDC_GR_SHARE);
        StoreFields(b, r, st);
        EXPECT_EQ(st.share, 0.25);
    }
    c.t[IDC_GR_SHARE] = u"3e38";
    TakeResult r = TakeControls(Shapes(b), c);
    ASSERT_TRUE(r.ok);
    StoreFields(b, r, st);
    EXPECT_EQ(st.share, 3e38);
    EXPECT_EQ(st.groupName, u"g");
}

TEST(SettingsPages, BadTextOnTheMainPageKeepsWhatWasTakenBeforeIt) {
    auto b = MainPageBindings();
    Settings s;
    FakeControls c;
    ShowFields(b, s, c);
    c.t[IDC_SETT_RXMAX] = u"2048";
    c.t[IDC_SETT_TXMAX] = u"abc";
    TakeResult r = TakeControls(Shapes(b), c);
    EXPECT_EQ(r.message, u"Please enter a positive integer.");
    EXPECT_EQ(c.focus, IDC_SETT_TXMAX);
    StoreFields(b, r, s);
    EXPECT_EQ(s.RXMAXkbit, 2048u);
    EXPECT_EQ(s.TXMAXkbit, 64u);

    c.t[IDC_SETT_TXMAX] = u"128";
    c.t[IDC_SETT_GRIDSIZE] = u"600";
    r = TakeControls(Shapes(b), c);
    EXPECT_EQ(r.message, u"Please enter an integer between 0 and 500.");
    c.t[IDC_SETT_GRIDSIZE] = u"500";
    c.c[IDC_SETT_MODE3] = true;
    c.c[IDC_SETT_MODE0] = false;
    r = TakeControls(Shapes(b), c);
    ASSERT_TRUE(r.ok);
    StoreFields(b, r, s);
    EXPECT_EQ(s.GridSize, 500u);
    EXPECT_EQ(s.TrafficSpeedAutoControll, 3);
}

TEST(SettingsPages, TrafficPageShowsAndTakesTheBorrowingOption) {
    auto b = TrafficPageBindings();
    Settings s;
    s.ChanalBorrowing = 1;
    FakeControls c;
    ShowFields(b, s, c);
    EXPECT_TRUE(c.c[IDC_TRAFF_BORROWING]);
    EXPECT_FALSE(c.c[IDC_TRAFF_MODE1]);  // its own control, not a neighbour's
    c.c[IDC_TRAFF_BORROWING] = false;
    TakeResult r = TakeControls(Shapes(b), c);
    ASSERT_TRUE(r.ok);
    StoreFields(b, r, s);
    EXPECT_EQ(s.ChanalBorrowing, 0);
    EXPECT_EQ(s.SpeedLimTraff_Mode, 0);
}

}  // namespace
}  // namespace movra
