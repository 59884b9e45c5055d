// The main window's user table in-process: cells, color classes, sorting, hiding and deleting
// rows, the summary row, gauges and sizing, and refreshes of changes against a full refresh.
#include "main_window_fixture.h"

namespace movra::gui_test {
namespace {

TEST_F(MainWindowTest, CellsAndColorClassesFollowActivityAndConnection) {
    int a = AddUser(u"active", kActive);
    AddUser(u"offline", kOffline, false);
    AddUser(u"sleeping", kSleeping);
    AddUser(u"weak", kWeaklyActive);
    {
        Model::Guard g(model);
        CTiUserData& u = model.Users[a];
        u.LimitIn = 256;
        u.LimitOut = 64;
        u.RxTotal = 1048576;
        u.UserLimitMaxIn = 64;
        u.UserGrID = 5;
        model.settings.DisplaySpeed_in_kBytes_s = 1;
    }
    Connected();
    dlg->RefreshTableNow();
    ASSERT_EQ(Rows(), 5);
    int r = RowOf(u"active");
    ASSERT_GE(r, 0);
    EXPECT_EQ(U8(Cell(r, 3)), "32.0/8.0");
    EXPECT_EQ(U8(Cell(r, 4)), "1.000");
    EXPECT_EQ(U8(Cell(r, 11)), "нет");
    EXPECT_EQ(U8(Cell(r, 12)), "8.0/-");
    EXPECT_EQ(U8(Cell(r, 9)), "01.12.2026 12:00:00");
    EXPECT_EQ(dlg->UserTable().Colors().ItemColor(r), 0);
    EXPECT_EQ(dlg->UserTable().Colors().ItemColor(RowOf(u"offline")), 1);
    EXPECT_EQ(dlg->UserTable().Colors().ItemColor(RowOf(u"sleeping")), 2);
    EXPECT_EQ(dlg->UserTable().Colors().ItemColor(RowOf(u"weak")), 3);
    // The summary row is last, found by its item data, drawn in the button colors.
    EXPECT_EQ(U8(Cell(4, 0)), "Server_TI");
    EXPECT_EQ(U8(Cell(4, 1)), "ti.test");
    EXPECT_EQ(Data(4), ui::kSummaryRowData);
    EXPECT_EQ(dlg->UserTable().Colors().ItemColor(4), ui::kSummaryClass);

    // An error that ends the connection greys every user row.
    dlg->OnLogLine(LOG_ERROR | LOG_DISCONNECTED, u"Ошибка");
    for (const char16_t* n : {u"active", u"offline", u"sleeping", u"weak"})
        EXPECT_EQ(dlg->UserTable().Colors().ItemColor(RowOf(n)), ui::kDisconnectedClass) << U8(n);
    EXPECT_EQ(dlg->UserTable().Colors().ItemColor(4), ui::kSummaryClass);
}

TEST_F(MainWindowTest, NamesDifferingInCaseAndAUserCalledServerTiKeepTheirOwnRows) {
    AddUser(u"Ivan", kActive);
    AddUser(u"ivan", kActive);
    AddUser(u"Server_TI", kActive);
    Connected();
    dlg->RefreshTableNow();
    dlg->RefreshTableNow();
    EXPECT_EQ(Rows(), 4);
    EXPECT_GE(RowOf(u"Ivan"), 0);
    EXPECT_GE(RowOf(u"ivan"), 0);
    EXPECT_GE(RowOf(u"Server_TI"), 0);
    EXPECT_EQ(Data(Rows() - 1), ui::kSummaryRowData);
}

TEST_F(MainWindowTest, HeaderClicksSortAndKeepTheSummaryRowLast) {
    int b = AddUser(u"b", kActive);
    int a = AddUser(u"a", kActive);
    int c = AddUser(u"c", kActive);
    {
        Model::Guard g(model);
        model.Users[a].UserKTraff = 1;
        model.Users[b].UserKTraff = 3;
        model.Users[c].UserKTraff = 2;
    }
    Connected();
    dlg->RefreshTableNow();
    // Until the first click: names Z to A.
    EXPECT_EQ(Names(), (std::vector<std::string>{"c", "b", "a", "Server_TI"}));
    ClickHeader(0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b", "c", "Server_TI"}));
    ClickHeader(10);
    EXPECT_EQ(Names(), (std::vector<std::string>{"b", "c", "a", "Server_TI"}));
    ClickHeader(10);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "c", "b", "Server_TI"}));
    ClickHeader(12);
    EXPECT_EQ(Names().back(), "Server_TI");
}

TEST_F(MainWindowTest, ShowUnauthorisedToggleHidesAndBringsBackOfflineUsers) {
    AddUser(u"on", kActive);
    AddUser(u"off", kOffline, false);
    Connected();
    dlg->RefreshTableNow();
    EXPECT_GE(RowOf(u"off"), 0);
    dlg->RunCommand(ID_TOGGLE_UNAUTHORISED);
    EXPECT_FALSE(dlg->UserTable().ShowUnauthorised());
    EXPECT_EQ(RowOf(u"off"), -1);
    EXPECT_GE(RowOf(u"on"), 0);
    // Back online: the row returns and is sorted into place.
    {
        Model::Guard g(model);
        model.Users[1].Online = 1;
    }
    dlg->RefreshTableNow();
    EXPECT_EQ(Names(), (std::vector<std::string>{"on", "off", "Server_TI"}));
}

TEST_F(MainWindowTest, OnlyTheEditingBlockDeleteKeyRemovesTheSelectedUser) {
    AddUser(u"keep", kActive);
    AddUser(u"gone", kActive);
    Connected();
    dlg->RefreshTableNow();
    int r = RowOf(u"gone");
    LVITEMW st = {};
    st.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    st.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(Table(), LVM_SETITEMSTATE, r, reinterpret_cast<LPARAM>(&st));
    // The keypad's Delete (no extended-key bit) does nothing.
    SendMessageW(Table(), WM_KEYDOWN, VK_DELETE, 0x00530001);
    {
        Model::Guard g(model);
        EXPECT_EQ(model.NumUsers, 2);
    }
    SendMessageW(Table(), WM_KEYDOWN, VK_DELETE, 0x01530001);
    {
        Model::Guard g(model);
        EXPECT_EQ(model.NumUsers, 1);
        EXPECT_EQ(U8(model.Users[0].UserName), "keep");
    }
    EXPECT_EQ(RowOf(u"gone"), -1);
    EXPECT_EQ(Rows(), 2);
}

TEST_F(MainWindowTest, GaugesShowClampedLoadOverColumnSix) {
    AddUser(u"half", kActive, true, 55.7);
    AddUser(u"nan", kActive, true, std::nan(""));
    AddUser(u"over", kActive, true, 250);
    dlg->RebuildGauges();
    Connected();
    dlg->RefreshTableNow();
    ASSERT_EQ(dlg->UserTable().Gauges().size(), 3u);
    int x = 0;
    for (int c = 0; c < 6; ++c) x += ui::kColumns[c].width;
    for (const char16_t* n : {u"half", u"nan", u"over"}) {
        int r = RowOf(n);
        ASSERT_GE(r, 0);
        HWND g = dlg->UserTable().Gauges()[r];
        EXPECT_TRUE(IsWindowVisible(g)) << U8(n);
        int pos = static_cast<int>(SendMessageW(g, PBM_GETPOS, 0, 0));
        EXPECT_EQ(pos, n[0] == u'h' ? 55 : n[0] == u'n' ? 0 : 100) << U8(n);
        RECT gr, rr = {};
        GetWindowRect(g, &gr);
        MapWindowPoints(nullptr, Table(), reinterpret_cast<POINT*>(&gr), 2);
        rr.left = LVIR_BOUNDS;
        SendMessageW(Table(), LVM_GETITEMRECT, r, reinterpret_cast<LPARAM>(&rr));
        EXPECT_EQ(gr.left, rr.left + x + 2);
        EXPECT_EQ(gr.top, rr.top + 2);
        EXPECT_EQ(gr.right - gr.left, ui::kColumns[6].width - 4);
    }
    // Hiding a user's row hides the gauge that has no row any more.
    {
        Model::Guard g(model);
        model.Users[0].Online = 0;
    }
    dlg->RunCommand(ID_TOGGLE_UNAUTHORISED);
    EXPECT_FALSE(IsWindowVisible(dlg->UserTable().Gauges()[2]));
}

TEST_F(MainWindowTest, UsersChangedBurstRebuildsGaugesOnceAndALongOneAlsoOnItsWay) {
    auto add = [&](int i) {
        Model::Guard g(model);
        model.AddUserByName(Fmt(u"u%d", i));
    };
    int before = dlg->UserTable().GaugeRebuilds();
    for (int i = 0; i < 200; ++i) {
        add(i);
        // Wall time passes as on a loaded machine; the window's clock, which times the burst,
        // stands still.
        if (i % 50 == 49) Sleep(100);
    }
    ASSERT_TRUE(PumpUntil([&] { return dlg->UserTable().GaugeRebuilds() > before; }));
    Pump(kQuietWindow);  // and no second rebuild
    EXPECT_EQ(dlg->UserTable().GaugeRebuilds() - before, 1);
    EXPECT_EQ(dlg->UserTable().Gauges().size(), 200u);

    // A burst that lasts the longest delay on the window's clock rebuilds on its way, once,
    // and once more when it ends.
    before = dlg->UserTable().GaugeRebuilds();
    for (int i = 200; i < 300; ++i) {
        add(i);
        if (i == 249) clock.AdvanceMs(300);
    }
    EXPECT_EQ(dlg->UserTable().GaugeRebuilds() - before, 1);
    ASSERT_TRUE(PumpUntil([&] { return dlg->UserTable().GaugeRebuilds() > before + 1; }));
    Pump(kQuietWindow);
    EXPECT_EQ(dlg->UserTable().GaugeRebuilds() - before, 2);
    EXPECT_EQ(dlg->UserTable().Gauges().size(), 300u);
}

TEST_F(MainWindowTest, FitHeightFollowsGridSize) {
    {
        Model::Guard g(model);
        model.settings.GridSize = 0;
    }
    dlg->FitHeight();
    EXPECT_EQ(WindowHeight(), 105);
    {
        Model::Guard g(model);
        model.settings.GridSize = 4;
    }
    SendMessageW(hwnd, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(WindowHeight(), 161);
    RECT t;
    GetWindowRect(Table(), &t);
    EXPECT_EQ(t.bottom - t.top, 161 - 82);
}

TEST_F(MainWindowTest, TheSummaryRowIsNoUserForDeleteEditOrGauges) {
    AddUser(u"Server_TI", kActive, true, 40);
    AddUser(u"bob", kActive, true, 40);
    dlg->RebuildGauges();
    Connected();
    dlg->RefreshTableNow();
    ASSERT_EQ(Rows(), 3);
    const int summary = 2;
    ASSERT_EQ(Data(summary), ui::kSummaryRowData);
    // A user named like the summary row keeps the gauge of its row.
    const int named = RowOf(u"Server_TI");
    ASSERT_GE(named, 0);
    EXPECT_TRUE(IsWindowVisible(dlg->UserTable().Gauges()[named]));

    Select(summary);
    SendMessageW(Table(), WM_KEYDOWN, VK_DELETE, 0x01530001);
    {
        Model::Guard g(model);
        EXPECT_EQ(model.NumUsers, 2);
    }
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(Data(2), ui::kSummaryRowData);
    EXPECT_EQ(U8(Cell(2, 1)), "ti.test");

    std::atomic<bool> done{false}, editorShown{false}, watchEnded{false};
    std::thread watch =
        Watch(L"Изменение ограничения скорости клиента", done, editorShown, watchEnded);
    dlg->RunCommand(ID_EDIT_USER);
    done = true;
    while (!watchEnded) Pump(10ms);
    watch.join();
    EXPECT_FALSE(editorShown);

    // The user's own row still deletes that user, and only that user.
    Select(RowOf(u"Server_TI"));
    SendMessageW(Table(), WM_KEYDOWN, VK_DELETE, 0x01530001);
    {
        Model::Guard g(model);
        ASSERT_EQ(model.NumUsers, 1);
        EXPECT_EQ(U8(model.Users[0].UserName), "bob");
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"bob", "Server_TI"}));
    EXPECT_EQ(Data(1), ui::kSummaryRowData);
}

// A refresh writes, sorts and places only what changed since the last one. Whatever happened in
// between, the table must read exactly as a new window's first refresh of the same lists: the
// same rows in the same order, cells, item data, color classes and gauge positions.
TEST_F(MainWindowTest, RefreshesOfChangesShowWhatAFullRefreshShows) {
    struct Shown {
        std::vector<std::vector<std::string>> cells;
        std::vector<LPARAM> data;
        std::vector<int> colors, gauges;
        bool operator==(const Shown&) const = default;
    };
    auto shown = [](CmovraDlg& d) {
        Shown s;
        HWND t = d.UserTable().Hwnd();
        const int rows = static_cast<int>(SendMessageW(t, LVM_GETITEMCOUNT, 0, 0));
        for (int r = 0; r < rows; ++r) {
            std::vector<std::string> row;
            for (int c = 0; c < ui::kColumnCount; ++c) {
                wchar_t buf[512] = {};
                LVITEMW it = {};
                it.iSubItem = c;
                it.pszText = buf;
                it.cchTextMax = 512;
                SendMessageW(t, LVM_GETITEMTEXTW, r, reinterpret_cast<LPARAM>(&it));
                row.push_back(U8(Text(reinterpret_cast<const char16_t*>(buf))));
            }
            s.cells.push_back(row);
            LVITEMW it = {};
            it.mask = LVIF_PARAM;
            it.iItem = r;
            SendMessageW(t, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
            s.data.push_back(it.lParam);
            s.colors.push_back(d.UserTable().Colors().ItemColor(r));
            // The summary row's bar is hidden and keeps whatever an earlier row left in it.
            if (static_cast<size_t>(r) < d.UserTable().Gauges().size() &&
                it.lParam != ui::kSummaryRowData)
                s.gauges.push_back(
                    static_cast<int>(SendMessageW(d.UserTable().Gauges()[r], PBM_GETPOS, 0, 0)));
        }
        return s;
    };
    auto click = [](CmovraDlg& d, int col) {
        NMLISTVIEW nm = {};
        nm.hdr.hwndFrom = d.UserTable().Hwnd();
        nm.hdr.idFrom = IDC_TABLE;
        nm.hdr.code = LVN_COLUMNCLICK;
        nm.iItem = -1;
        nm.iSubItem = col;
        SendMessageW(d.Hwnd(), WM_NOTIFY, IDC_TABLE, reinterpret_cast<LPARAM>(&nm));
    };
    int32_t groupA, groupB;
    {
        Model::Guard g(model);
        groupA = model.FindOrAddGroup(u"офис");
        groupB = model.FindOrAddGroup(u"склад");
    }
    for (int i = 0; i < 24; ++i) {
        int k = AddUser(Fmt(u"u%02d", i).c_str(), i % 4, i % 5 != 0, i * 7 % 110);
        Model::Guard g(model);
        model.Users[k].UserGrID = i % 3 ? groupA : groupB;
        model.Users[k].RxSpeed = i % 6;
    }
    Connected();
    dlg->RebuildGauges();
    dlg->RefreshTableNow();
    std::vector<int> clicks = {7};
    click(*dlg, 7);
    bool hidden = false;
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int round = 0; round < 40; ++round) {
        for (int m = 0, changes = 1 + next(3); m < changes; ++m) {
            const uint32_t what = next(10);
            if (what == 6) {
                // Columns whose values change below, so that a changed key must move rows.
                const int sortable[] = {4, 6, 7, 10, 0};
                clicks.push_back(sortable[next(5)]);
                click(*dlg, clicks.back());
                continue;
            }
            if (what == 7) {
                dlg->RunCommand(ID_TOGGLE_UNAUTHORISED);
                hidden = !hidden;
                continue;
            }
            bool usersChanged = false;
            {
                Model::Guard g(model);
                CTiUserData& u = model.Users[next(static_cast<uint32_t>(model.NumUsers))];
                switch (what) {
                    case 0:
                        u.RxTotal += 1048576.0 * (1 + next(5));
                        break;
                    case 1:
                        u.RxSpeed = next(6);  // ties with other users' speeds
                        break;
                    case 2:
                        u.Online = !u.Online;
                        break;
                    case 3:
                        u.ActivityClass = static_cast<int32_t>(next(4));
                        u.RxLoad = next(130);
                        u.UserKTraff = static_cast<float>(next(4));
                        break;
                    case 4:
                        model.settings.DisplaySpeed_in_kBytes_s =
                            !model.settings.DisplaySpeed_in_kBytes_s;
                        break;
                    case 5:
                        model.Groups[groupB].GroupName = Fmt(u"склад%d", round);
                        break;
                    case 8:
                        model.AddUserByName(Fmt(u"new%02d", round));
                        usersChanged = true;
                        break;
                    default:
                        if (model.NumUsers > 2) {
                            model.RemoveUser(static_cast<int32_t>(next(model.NumUsers)));
                            usersChanged = true;
                        }
                        break;
                }
            }
            if (usersChanged) dlg->RebuildGauges();
        }
        dlg->RefreshTableNow();

        CmovraDlg fresh(app, clock);
        ASSERT_NE(fresh.CreateModeless(GetModuleHandleW(nullptr)), nullptr);
        fresh.OnLogLine(LOG_AUX | LOG_INFO | LOG_CONNECTED, u"Авторизация...OK");
        fresh.RebuildGauges();
        for (int col : clicks) click(fresh, col);
        if (hidden) fresh.RunCommand(ID_TOGGLE_UNAUTHORISED);
        fresh.RefreshTableNow();
        const Shown a = shown(*dlg), b = shown(fresh);
        EXPECT_EQ(a.cells, b.cells) << "round " << round;
        EXPECT_EQ(a.data, b.data) << "round " << round;
        EXPECT_EQ(a.colors, b.colors) << "round " << round;
        EXPECT_EQ(a.gauges, b.gauges) << "round " << round;
        if (!(a == b)) break;
    }
}

// The table on a list of its own, fed snapshots by hand: it needs no lists behind it. Rows taken
// out of the list behind its back are found again from its own copy of the users, and a snapshot
// taken while an exit is pending changes nothing.
TEST_F(MainWindowTest, TheTableShowsSnapshotsAloneAndFindsItsUsersFromItsOwnCopy) {
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 900, 300, nullptr, nullptr,
                                  nullptr, nullptr);
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 900,
                                300, parent, nullptr, nullptr, nullptr);
    ASSERT_NE(list, nullptr);
    std::vector<int> commands;
    UserTableView view({[&](int id) { commands.push_back(id); }, [] {}, [] {}, [](const Text&) {}},
                       clock);
    view.Attach(list, GetModuleHandleW(nullptr));
    AppSnapshot s;
    s.connState = LOG_AUX | LOG_INFO | LOG_CONNECTED;
    s.settings.Server = u"ti.test";
    s.groups.resize(1);
    for (int i = 0; i < 3; ++i) {
        CTiUserData u;
        u.UserName = Fmt(u"u%d", i);
        u.Online = 1;
        u.ActivityClass = kActive;
        u.RxTotal = 1048576.0 * i;
        u.Id = 100 + i;
        s.users.push_back(u);
    }
    view.RebuildGauges(s.users.size());
    view.Refresh(s);
    auto cell = [&](int row, int col) {
        wchar_t buf[64] = {};
        LVITEMW it = {};
        it.iSubItem = col;
        it.pszText = buf;
        it.cchTextMax = 64;
        SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&it));
        return U8(Text(reinterpret_cast<const char16_t*>(buf)));
    };
    ASSERT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 4);
    EXPECT_EQ(cell(0, 0), "u2");
    EXPECT_EQ(cell(0, 4), "2.000");
    EXPECT_EQ(cell(3, 1), "ti.test");

    // While an exit is pending the table keeps what it showed.
    AppSnapshot exiting = s;
    exiting.connState = EXIT_PENDING;
    exiting.users[2].RxTotal = 0;
    view.Refresh(exiting);
    EXPECT_EQ(cell(0, 4), "2.000");

    // u2's row goes behind the table's back; u1's row, selected, still stands for u1.
    SendMessageW(list, LVM_DELETEITEM, 0, 0);
    LVITEMW st = {};
    st.stateMask = st.state = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&st));
    ASSERT_EQ(cell(0, 0), "u1");
    EXPECT_EQ(view.SelectedUsers(), (std::vector<uint64_t>{101}));
    EXPECT_EQ(view.RemoveUserRow(101), std::optional<int32_t>(1));
    EXPECT_EQ(view.RemoveUserRow(101), std::nullopt);
    // The next refresh brings the rows back from the snapshot.
    view.Refresh(s);
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 4);
    EXPECT_EQ(cell(1, 0), "u1");
    EXPECT_EQ(cell(1, 4), "1.000");
    EXPECT_TRUE(commands.empty());
    DestroyWindow(parent);
    view.Detach();
}

// Started minimised: the first refresh hides the window again, once, whatever showed it.
TEST_F(MainWindowTest, TheFirstRefreshAfterAMinimisedStartHidesTheWindowOnce) {
    {
        Model::Guard g(model);
        model.settings.StartMinimized = 1;
    }
    CmovraDlg fresh(app, clock);
    HWND w = fresh.CreateModeless(GetModuleHandleW(nullptr));
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return fresh.HideAgain(); }));
    EXPECT_FALSE(IsWindowVisible(w));
    ShowWindow(w, SW_SHOW);
    fresh.RefreshTableNow();
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_FALSE(fresh.HideAgain());
    ShowWindow(w, SW_SHOW);
    fresh.RefreshTableNow();
    EXPECT_TRUE(IsWindowVisible(w));
}

}  // namespace
}  // namespace movra::gui_test
