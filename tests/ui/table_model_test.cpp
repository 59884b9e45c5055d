#include "ui/table_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "core/log_flags.h"

namespace movra::ui {
namespace {

std::string U8(const Text& t) {
    return ToUtf8(t);
}

CTiUserData MakeUser(const char16_t* name) {
    CTiUserData u;
    u.UserName = name;
    return u;
}

TEST(TableCells, UserRowFormatsInKilobitsAndKilobytes) {
    CTiUserData u = MakeUser(u"petr");
    u.IP = u"10.0.0.7";
    u.Balance = 12.5;
    u.LimitIn = 256;
    u.LimitOut = 64;
    u.RxTotal = 1048576;
    u.TxTotal = 3 * 1048576 / 2;
    u.RxSpeed = 100;
    u.TxSpeed = 20;
    u.TiRxSpeed = 8;
    u.TiTxSpeed = 4;
    u.LastActivity = {2026, 12, 0, 7, 9, 5, 3, 0};
    u.UserKTraff = 1.5f;
    u.UserGrID = 1;
    std::vector<Group> groups(2);
    groups[1].GroupID = 1;
    groups[1].GroupName = u"офис";

    RowTexts t = UserRowTexts(u, 1.0, groups, 2);
    EXPECT_EQ(U8(t[0]), "petr");
    EXPECT_EQ(U8(t[1]), "10.0.0.7");
    EXPECT_EQ(U8(t[2]), "12.500");
    EXPECT_EQ(U8(t[3]), "256.0/64.0");
    EXPECT_EQ(U8(t[4]), "1.000");
    EXPECT_EQ(U8(t[5]), "1.500");
    EXPECT_EQ(U8(t[6]), "");
    EXPECT_EQ(U8(t[7]), "100.0/20.0");
    EXPECT_EQ(U8(t[8]), "8.0/4.0");
    EXPECT_EQ(U8(t[9]), "07.12.2026 9:05:03");
    EXPECT_EQ(U8(t[10]), "1.50");
    EXPECT_EQ(U8(t[11]), "офис");
    EXPECT_EQ(U8(t[12]), "");

    // In kilobytes per second only limits and speeds are divided.
    t = UserRowTexts(u, 8.0, groups, 2);
    EXPECT_EQ(U8(t[3]), "32.0/8.0");
    EXPECT_EQ(U8(t[4]), "1.000");
    EXPECT_EQ(U8(t[7]), "12.5/2.5");
    EXPECT_EQ(U8(t[8]), "1.0/0.5");
    EXPECT_EQ(U8(t[10]), "1.50");

    // A group id that no group has; and a group beyond NumGroups is not looked at.
    u.UserGrID = 7;
    EXPECT_EQ(U8(UserRowTexts(u, 1.0, groups, 2)[11]), "нет");
    u.UserGrID = 1;
    EXPECT_EQ(U8(UserRowTexts(u, 1.0, groups, 1)[11]), "нет");
}

TEST(TableCells, HardLimitColumn) {
    EXPECT_EQ(U8(HardLimitText(0, 0, 1.0)), "");
    EXPECT_EQ(U8(HardLimitText(64, 0, 1.0)), "64.0/-");
    EXPECT_EQ(U8(HardLimitText(64, 0, 8.0)), "8.0/-");
    EXPECT_EQ(U8(HardLimitText(0, 32, 1.0)), "-/32.0");
    EXPECT_EQ(U8(HardLimitText(128, 32, 8.0)), "16.0/4.0");
    EXPECT_EQ(U8(HardLimitText(-5, -1, 1.0)), "");
}

TEST(TableCells, SummaryRowShowsCapFiguresOnlyWithACap) {
    CTiUserData server = MakeUser(u"Server_TI");
    server.LimitIn = 256;
    server.LimitOut = 64;
    server.RxTotal = 300.0 * 1048576;
    server.TxTotal = 200.0 * 1048576;
    Settings s;
    s.Server = u"ti.local";
    std::array<Text, 8> counts = {u"2", u"10", u"7", u"3", u"1", u"2", u"x", u"y"};

    RowTexts t = SummaryRowTexts(server, s, counts, 1.0);
    EXPECT_EQ(U8(t[0]), "Server_TI");
    EXPECT_EQ(U8(t[1]), "ti.local");
    EXPECT_EQ(U8(t[3]), "256.0/64.0");
    EXPECT_EQ(U8(t[4]), "300.000");
    EXPECT_EQ(U8(t[5]), "200.000");
    EXPECT_EQ(U8(t[2]), "");
    for (int c = 7; c <= 12; ++c) EXPECT_EQ(U8(t[c]), "") << c;

    s.SrvLimTraff_MB = 1000;
    t = SummaryRowTexts(server, s, counts, 8.0);
    EXPECT_EQ(U8(t[2]), "500.000");
    EXPECT_EQ(U8(t[3]), "32.0/8.0");
    EXPECT_EQ(U8(t[7]), "2");
    EXPECT_EQ(U8(t[12]), "2");
    EXPECT_EQ(U8(t[10]), "3");
}

TEST(TableRows, ColorClassFollowsActivityAndConnection) {
    EXPECT_EQ(RowClass(kActive, LOG_CONNECTED, 9), 0);
    EXPECT_EQ(RowClass(kOffline, LOG_CONNECTED, 9), 1);
    EXPECT_EQ(RowClass(kSleeping, LOG_CONNECTED, 9), 2);
    EXPECT_EQ(RowClass(kWeaklyActive, LOG_CONNECTED, 9), 3);
    EXPECT_EQ(RowClass(42, LOG_CONNECTED, 3), 3);
    // Disconnected wins over any activity, also on a line that carries more flags.
    EXPECT_EQ(RowClass(kActive, LOG_DISCONNECTED | LOG_ERROR, 0), kDisconnectedClass);
    EXPECT_EQ(kTableColors[4].text, MakeRgb(100, 100, 100));
    EXPECT_EQ(kTableColors[4].back, MakeRgb(255, 255, 255));
}

TEST(TableRows, GaugeIsClamped) {
    EXPECT_EQ(GaugePosition(0), 0);
    EXPECT_EQ(GaugePosition(42.9), 42);
    EXPECT_EQ(GaugePosition(100), 100);
    EXPECT_EQ(GaugePosition(250), 100);
    EXPECT_EQ(GaugePosition(-3), 0);
    EXPECT_EQ(GaugePosition(std::nan("")), 0);
    EXPECT_EQ(GaugePosition(std::numeric_limits<double>::infinity()), 100);
    EXPECT_EQ(GaugePosition(-std::numeric_limits<double>::infinity()), 0);
}

TEST(TableRows, TheSummaryRowIsNoUserWhateverTheNames) {
    // A user called like the summary row, the summary row itself, a row whose user is gone.
    const std::vector<TableRow> rows = {
        {u"Server_TI", 1, 11, false},
        {u"bob", 0, 10, false},
        {u"gone", 2, 0, false},
        {u"Server_TI", kSummaryRowData, 0, true},
    };
    EXPECT_EQ(SelectedUserIds(rows, {3}), std::vector<uint64_t>{});
    EXPECT_EQ(SelectedUserIds(rows, {3, 0, 2, 1, 9, -1}), (std::vector<uint64_t>{11, 10}));
    EXPECT_TRUE(RowShowsGauge(rows, 0));
    EXPECT_FALSE(RowShowsGauge(rows, 3));
    EXPECT_FALSE(RowShowsGauge(rows, 4));
    // An empty name ends the selection, as the commands have always done.
    const std::vector<TableRow> unnamed = {{u"", 0, 5, false}, {u"bob", 1, 6, false}};
    EXPECT_EQ(SelectedUserIds(unnamed, {0, 1}), std::vector<uint64_t>{});
    EXPECT_FALSE(RowShowsGauge(unnamed, 0));
}

struct SortFixture : ::testing::Test {
    std::vector<CTiUserData> users;
    SortRows rows;
    SortState sort;
    ManualClock clock;
    void SetUp() override {
        users = {MakeUser(u"b"), MakeUser(u"B"), MakeUser(u"a")};
        users[0].UserKTraff = 2;
        users[1].UserKTraff = 1;
        users[2].UserKTraff = 3;
        users[0].LastActivity = {2026, 1, 0, 1, 10, 0, 0, 0};
        users[1].LastActivity = {1601, 1, 0, 1, 0, 0, 0, 0};
        users[2].LastActivity = {2025, 1, 0, 1, 10, 0, 0, 0};
        rows.users = &users;
        for (auto& u : users) rows.activityTimes.push_back(ActivitySortTime(u.LastActivity, clock));
    }
    int Cmp(int a, int b) { return CompareRows(a, b, sort, rows); }
};

TEST_F(SortFixture, SummaryRowSortsLastInEitherDirection) {
    EXPECT_EQ(Cmp(kSummaryRowData, 0), 1);
    EXPECT_EQ(Cmp(0, kSummaryRowData), -1);
    sort.Click(0);
    EXPECT_EQ(Cmp(kSummaryRowData, 0), 1);
    EXPECT_EQ(Cmp(2, kSummaryRowData), -1);
}

TEST_F(SortFixture, NamesAreCaseSensitiveAndStartZToA) {
    // Before any click: column 0, direction -1, names Z to A ("b" > "a" > "B" by code unit).
    EXPECT_EQ(Cmp(0, 2), -1);
    EXPECT_EQ(Cmp(1, 0), 1);
    sort.Click(0);
    EXPECT_EQ(Cmp(0, 2), 1);
    EXPECT_EQ(Cmp(1, 2), -1);
    EXPECT_EQ(Cmp(0, 0), 0);
}

TEST_F(SortFixture, NumbersLargestFirstThenReversed) {
    sort.Click(10);
    EXPECT_EQ(Cmp(2, 0), -1);  // rating 3 before 2
    EXPECT_EQ(Cmp(1, 0), 1);
    sort.Click(10);
    EXPECT_EQ(Cmp(2, 0), 1);
    EXPECT_EQ(sort.column, 10);
    EXPECT_EQ(sort.dir[0], -1);
}

TEST_F(SortFixture, LastActivityAndHardLimitColumn) {
    sort.Click(9);
    EXPECT_EQ(Cmp(0, 2), -1);             // newer first
    EXPECT_EQ(rows.activityTimes[1], 0);  // a year before 1900 counts as time 0
    EXPECT_EQ(Cmp(1, 2), 1);
    sort.Click(12);
    EXPECT_EQ(Cmp(0, 1), 0);
    EXPECT_EQ(Cmp(2, 1), 0);
    // Row numbers that name no user never crash the comparison.
    sort.Click(10);
    EXPECT_EQ(Cmp(7, 1), 0);
    EXPECT_EQ(Cmp(-1, 1), 0);
}

TEST(TableSort, EqualKeysStillGiveOneOrderWhateverTheAlgorithm) {
    // The list and the window's copy of its rows are sorted by different algorithms; with keys
    // that tie (everyone in one of two groups) both must still end in the same order.
    std::vector<CTiUserData> users;
    for (int i = 0; i < 40; ++i) {
        users.push_back(MakeUser(Fmt(u"u%d", i).c_str()));
        users.back().UserGrID = i % 2;
    }
    SortRows rows;
    rows.users = &users;
    rows.activityTimes.assign(users.size(), 0);
    SortState sort;
    sort.Click(11);
    auto less = [&](int32_t a, int32_t b) { return CompareRowsTotal(a, b, sort, rows) < 0; };
    std::vector<int32_t> forward(users.size());
    std::iota(forward.begin(), forward.end(), 0);
    forward.push_back(kSummaryRowData);
    std::vector<int32_t> backward(forward.rbegin(), forward.rend());
    std::sort(forward.begin(), forward.end(), less);
    std::stable_sort(backward.begin(), backward.end(), less);
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(forward.back(), kSummaryRowData);
    EXPECT_EQ(users[forward.front()].UserGrID, 1);
}

TEST(TableSort, NanFromTheServerKeepsEveryNumericColumnAStrictWeakOrder) {
    // A NaN that compares equal to everything makes "equal" intransitive, and std::sort and the
    // list's sort then order rows differently, so gauges land on the wrong rows.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double values[] = {3, nan, 1, -2, nan, 7, 1, nan, 0};
    std::vector<CTiUserData> users;
    for (double v : values) {
        CTiUserData u = MakeUser(u"u");
        u.Balance = u.RxTotal = u.TxTotal = u.RxSpeed = u.TiRxSpeed = v;
        u.UserKTraff = static_cast<float>(v);
        users.push_back(u);
    }
    SortRows rows;
    rows.users = &users;
    rows.activityTimes.assign(users.size(), 0);
    std::vector<int32_t> all(users.size());
    std::iota(all.begin(), all.end(), 0);
    all.push_back(kSummaryRowData);
    for (int col : {2, 4, 5, 6, 7, 8, 10}) {
        for (int click = 0; click < 2; ++click) {
            SortState sort;
            sort.Click(col);
            if (click) sort.Click(col);
            auto cmp = [&](int32_t a, int32_t b) { return CompareRows(a, b, sort, rows); };
            int broken = 0;  // pairs or triples that break a strict weak order
            for (int32_t a : all) {
                broken += cmp(a, a) != 0;
                for (int32_t b : all) {
                    broken += (cmp(a, b) < 0) != (cmp(b, a) > 0);
                    for (int32_t c : all) {
                        broken += cmp(a, b) < 0 && cmp(b, c) < 0 && cmp(a, c) >= 0;
                        broken += cmp(a, b) == 0 && cmp(b, c) == 0 && cmp(a, c) != 0;
                    }
                }
            }
            EXPECT_EQ(broken, 0) << "column " << col << ", click " << click;
            // NaN is one value below every number: last when largest come first.
            std::vector<int32_t> order = all;
            std::sort(order.begin(), order.end(),
                      [&](int32_t a, int32_t b) { return CompareRowsTotal(a, b, sort, rows) < 0; });
            EXPECT_EQ(order.back(), kSummaryRowData);
            const bool nanLast = click == 0;
            const size_t n = users.size();
            for (size_t k = 0; k < 3; ++k) {
                const int32_t r = nanLast ? order[n - 1 - k] : order[k];
                EXPECT_TRUE(std::isnan(users[r].Balance)) << col << " " << click << " " << k;
            }
        }
    }
}

// A refresh redoes a row only when its record no longer compares the same, and re-sorts only
// when the sort key moved: a field that the table shows but the comparison misses leaves a stale
// cell, color, gauge or order. Each case changes one field of a full record.
TEST(TableChanges, EveryShownFieldAndEverySortKeyIsSeen) {
    CTiUserData base = MakeUser(u"petr");
    base.Id = 7;
    base.Online = 1;
    base.ActivityClass = kActive;
    base.RxLoad = 40;
    base.IP = u"10.0.0.7";
    base.Balance = 12.5;
    base.LimitIn = 256;
    base.LimitOut = 64;
    base.RxTotal = 1048576;
    base.TxTotal = 2097152;
    base.RxSpeed = 100;
    base.TxSpeed = 20;
    base.TiRxSpeed = 8;
    base.TiTxSpeed = 4;
    base.LastActivity = {2026, 12, 0, 7, 9, 5, 3, 0};
    base.UserKTraff = 1.5f;
    base.UserGrID = 1;
    base.UserLimitMaxIn = 512;
    base.UserLimitMaxOut = 128;
    std::vector<Group> groups(2);
    groups[0].GroupID = 1;
    groups[0].GroupName = u"офис";
    groups[1].GroupID = 2;
    groups[1].GroupName = u"склад";
    using Change = void (*)(CTiUserData&);
    const Change changes[] = {
        [](CTiUserData& u) { u.Id = 8; },
        [](CTiUserData& u) { u.UserName = u"Petr"; },
        [](CTiUserData& u) { u.Online = 0; },
        [](CTiUserData& u) { u.ActivityClass = kSleeping; },
        [](CTiUserData& u) { u.RxLoad = 90; },
        [](CTiUserData& u) { u.IP = u"10.0.0.8"; },
        [](CTiUserData& u) { u.Balance = 13; },
        [](CTiUserData& u) { u.LimitIn = 128; },
        [](CTiUserData& u) { u.LimitOut = 32; },
        [](CTiUserData& u) { u.RxTotal *= 2; },
        [](CTiUserData& u) { u.TxTotal *= 2; },
        [](CTiUserData& u) { u.RxSpeed = 50; },
        [](CTiUserData& u) { u.TxSpeed = 10; },
        [](CTiUserData& u) { u.TiRxSpeed = 16; },
        [](CTiUserData& u) { u.TiTxSpeed = 2; },
        [](CTiUserData& u) { u.LastActivity.wMinute = 6; },
        [](CTiUserData& u) { u.UserKTraff = 2; },
        [](CTiUserData& u) { u.UserGrID = 2; },
        [](CTiUserData& u) { u.UserLimitMaxIn = 0; },
        [](CTiUserData& u) { u.UserLimitMaxOut = 0; },
        // Fields the table never shows: no row is redone for them.
        [](CTiUserData& u) { u.TxLoad = 70; },
        [](CTiUserData& u) { u.StartLimitIn = 1; },
        [](CTiUserData& u) { u.StartLimitOut = 1; },
        [](CTiUserData& u) { u.NewLimitIn = 1; },
        [](CTiUserData& u) { u.NewLimitOut = 1; },
        [](CTiUserData& u) { u.StartLimitsRun = 3; },
    };
    ManualClock clock;
    for (size_t k = 0; k < std::size(changes); ++k) {
        CTiUserData changed = base;
        changes[k](changed);
        const bool shows =
            UserRowTexts(base, 1.0, groups, 2) != UserRowTexts(changed, 1.0, groups, 2) ||
            RowClass(base.ActivityClass, 0, 0) != RowClass(changed.ActivityClass, 0, 0) ||
            GaugePosition(base.RxLoad) != GaugePosition(changed.RxLoad) ||
            base.Online != changed.Online || base.Id != changed.Id;
        EXPECT_EQ(SameShown(base, changed), !shows) << "change " << k;
        std::vector<CTiUserData> users = {changed, base};
        SortRows rows;
        rows.users = &users;
        for (auto& u : users) rows.activityTimes.push_back(ActivitySortTime(u.LastActivity, clock));
        SortState sort;
        for (int col = 0; col < kColumnCount; ++col) {
            sort.column = col;
            EXPECT_EQ(SameSortKey(base, changed, col), CompareRows(0, 1, sort, rows) == 0)
                << "change " << k << ", column " << col;
        }
    }
    CTiUserData nan = base;
    nan.RxSpeed = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(SameShown(nan, nan));
}

TEST(TableChanges, UpdateReportsWhatMovedAndKeepsItsCopyCurrent) {
    std::vector<CTiUserData> users = {MakeUser(u"a"), MakeUser(u"b"), MakeUser(u"c")};
    ShownUsers shown;
    TableChanges c = shown.Update(users, 0);
    EXPECT_EQ(c.changed, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_TRUE(c.rowSet && c.online && c.order);

    c = shown.Update(users, 0);
    EXPECT_TRUE(c.changed.empty());
    EXPECT_FALSE(c.rowSet || c.online || c.order);

    users[1].RxTotal = 5e6;  // not the sort key of column 0
    c = shown.Update(users, 0);
    EXPECT_EQ(c.changed, std::vector<int32_t>{1});
    EXPECT_FALSE(c.rowSet || c.online || c.order);
    EXPECT_EQ(shown.Users()[1].RxTotal, 5e6);

    users[1].RxTotal = 6e6;
    EXPECT_TRUE(shown.Update(users, 4).order);

    users[0].Online = 1;
    c = shown.Update(users, 4);
    EXPECT_TRUE(c.online);
    EXPECT_FALSE(c.rowSet || c.order);

    users[2].UserName = u"d";
    c = shown.Update(users, 4);
    EXPECT_EQ(c.changed, std::vector<int32_t>{2});
    EXPECT_TRUE(c.rowSet);

    users.pop_back();
    c = shown.Update(users, 4);
    EXPECT_TRUE(c.changed.empty());
    EXPECT_TRUE(c.rowSet);
    EXPECT_EQ(shown.Users().size(), 2u);
}

TEST(TableSizing, FitHeightAndLayOut) {
    EXPECT_EQ(FitHeight(4), 161);
    EXPECT_EQ(FitHeight(0), 105);
    EXPECT_EQ(FitHeight(0xFFFFFFFFu), FitHeight(2000));
    Layout l = LayOut(800, 161);
    EXPECT_EQ(l.table, (Box{2, 20, 790, 79}));
    EXPECT_EQ(l.options, (Box{640, 101, 150, 26}));
    EXPECT_EQ(l.events, (Box{2, 103, 630, 24}));
}

}  // namespace
}  // namespace movra::ui
