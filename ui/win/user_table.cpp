// The user table of the main window: columns, refresh, sorting, row colours and load gauges.
#include <windows.h>

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <unordered_map>

#include "ui/win/main_window.h"
#include "ui/win/resource.h"
#include "ui/win/win_util.h"

namespace movra {

void CmovraDlg::BuildColumns() {
    shownTexts_.clear();
    shownSummary_ = {};
    rows_.clear();
    std::array<ListColumn, ui::kColumnCount> columns;
    for (int i = 0; i < ui::kColumnCount; ++i)
        columns[i] = {W(ui::kColumns[i].header), ui::kColumns[i].width};
    SetListColumns(table_, columns);
}

int CmovraDlg::RowCount() const {
    return table_ ? static_cast<int>(SendMessageW(table_, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

int CmovraDlg::MirrorRowOf(uint64_t userId) const {
    for (size_t r = 0; r < rows_.size(); ++r)
        if (!rows_[r].summary && rows_[r].userId == userId) return static_cast<int>(r);
    return -1;
}

std::vector<int> CmovraDlg::SelectedRows() const {
    std::vector<int> rows;
    if (!table_) return rows;
    int i = -1;
    while ((i = static_cast<int>(SendMessageW(table_, LVM_GETNEXTITEM, i, LVNI_SELECTED))) >= 0)
        rows.push_back(i);
    return rows;
}

void CmovraDlg::SetCell(int row, int col, const Text& text) {
    LVITEMW it = {};
    it.iSubItem = col;
    it.pszText = WMutable(text);
    SendMessageW(table_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&it));
}

int CALLBACK CmovraDlg::CompareProc(LPARAM a, LPARAM b, LPARAM self) {
    auto* d = reinterpret_cast<CmovraDlg*>(self);
    return ui::CompareRowsTotal(static_cast<int32_t>(a), static_cast<int32_t>(b), d->sort_,
                                d->sortRows_);
}

void CmovraDlg::WriteUserRow(int row, const CTiUserData& u) {
    static const int kOrder[] = {3, 4, 5, 7, 8, 9, 10, 11, 12, 1, 2};
    ui::RowTexts t =
        ui::UserRowTexts(u, divisor_, shownGroups_, static_cast<int32_t>(shownGroups_.size()));
    auto shown = shownTexts_.find(rows_[row].name);
    for (int col : kOrder)
        if (shown == shownTexts_.end() || shown->second[col] != t[col]) SetCell(row, col, t[col]);
    if (shown == shownTexts_.end())
        shownTexts_.emplace(rows_[row].name, std::move(t));
    else
        shown->second = std::move(t);
}

void CmovraDlg::ShowRowState(int row, const CTiUserData& u, uint32_t conn) {
    if (static_cast<size_t>(row) < gauges_.size()) {
        int pos = ui::GaugePosition(u.RxLoad);
        if (gaugePos_[row] != pos) {
            SendMessageW(gauges_[row], PBM_SETPOS, pos, 0);
            gaugePos_[row] = pos;
        }
    }
    tableColors_.SetItemColor(row,
                              ui::RowClass(u.ActivityClass, conn, tableColors_.ItemColor(row)));
}

void CmovraDlg::RefreshTableNow() {
    if (!hwnd_ || !table_) return;
    if (hideAgain_) {
        ShowWindow(hwnd_, SW_MINIMIZE);
        ShowWindow(hwnd_, SW_HIDE);
        hideAgain_ = false;
    }
    const uint32_t conn = app_.ConnState();
    if (conn == EXIT_PENDING) return;

    // The lists are compared with the table's own copy of one snapshot; no list-view call runs
    // while the model's lock is held.
    app_.Snapshot(snapshot_);
    ui::TableChanges changes =
        shownUsers_.Update({snapshot_.users.data(), snapshot_.users.size()}, sort_.column);
    bool groupsChanged = shownGroups_.size() != snapshot_.groups.size();
    for (size_t k = 0; !groupsChanged && k < shownGroups_.size(); ++k)
        groupsChanged = shownGroups_[k].GroupID != snapshot_.groups[k].GroupID ||
                        shownGroups_[k].GroupName != snapshot_.groups[k].GroupName;
    if (groupsChanged) shownGroups_ = snapshot_.groups;
    const CTiUserData& server = snapshot_.serverRow;
    const std::array<Text, 8>& serverTexts = snapshot_.serverRowTexts;
    const movra::Settings& settings = snapshot_.settings;  // the type, not the command
    const std::vector<CTiUserData>& users = shownUsers_.Users();
    const int32_t numUsers = static_cast<int32_t>(users.size());
    ui::DisplayUnit unit = ui::DisplayUnitFor(settings);
    divisor_ = unit.divisor;
    unit_ = unit.unit;
    // A group's name or the unit is in every row.
    const bool formatAll = groupsChanged || divisor_ != shownDivisor_;
    shownDivisor_ = divisor_;
    sortRows_.activityTimes.resize(users.size());
    for (int32_t i : changes.changed)
        sortRows_.activityTimes[i] = ui::ActivitySortTime(users[i].LastActivity, clock_);

    // Rows are found by the exact name in column 0; the summary row by its item data, so that a
    // user called "Server_TI" or two names differing only in case each keep a row of their own.
    // rows_ mirrors the list's rows, so a refresh never reads the list back.
    if (static_cast<int>(rows_.size()) != RowCount()) ReloadRowMirror();
    // Rows come or go when users do, when the hidden users are shown or hidden, and when rows
    // were taken out of the list since the last refresh (deleted, reloaded, columns rebuilt).
    const bool rowSet = changes.rowSet || (changes.online && !showUnauthorised_) ||
                        showUnauthorised_ != shownUnauthorised_ || rows_.size() != shownRows_ ||
                        shownTexts_.size() != shownTextRows_ || rowOfUser_.size() != users.size();
    const bool reorder =
        rowSet || changes.order || sort_.column != shownSort_.column || sort_.dir != shownSort_.dir;
    // A cell written to a drawn list asks for its own repaint (about 0.2 ms each under Wine);
    // turning drawing off and on repaints the whole list instead (tens of ms). Past some hundred
    // changed rows the whole repaint costs less.
    constexpr size_t kQuietRows = 100;
    const bool quiet = reorder || formatAll || changes.changed.size() > kQuietRows;
    if (quiet) SendMessageW(table_, WM_SETREDRAW, FALSE, 0);

    if (rowSet) {
        const int n0 = static_cast<int>(rows_.size());
        std::unordered_map<Text, int> rowOf;
        for (int r = 0; r < n0; ++r)
            if (!rows_[r].summary) rowOf.emplace(rows_[r].name, r);

        // Which users get a row, and which rows go: hidden users, and users no longer monitored.
        std::unordered_map<Text, int32_t> userOf;
        std::vector<int32_t> toInsert;
        std::vector<bool> dropRow(static_cast<size_t>(n0), false);
        for (int32_t i = 0; i < numUsers; ++i) {
            const CTiUserData& u = users[i];
            if (u.UserName.empty()) continue;
            auto it = rowOf.find(u.UserName);
            bool shown = u.Online || showUnauthorised_;
            if (!shown) {
                if (it != rowOf.end()) dropRow[it->second] = true;
                continue;
            }
            userOf.emplace(u.UserName, i);
            if (it == rowOf.end()) toInsert.push_back(i);
        }
        for (int r = 0; r < n0; ++r)
            if (!rows_[r].summary && !userOf.count(rows_[r].name)) dropRow[r] = true;
        for (int r = n0 - 1; r >= 0; --r) {
            if (!dropRow[r]) continue;
            SendMessageW(table_, LVM_DELETEITEM, r, 0);
            shownTexts_.erase(rows_[r].name);
            rows_.erase(rows_.begin() + r);
        }
        for (int32_t i : toInsert) {
            LVITEMW it = {};
            it.mask = LVIF_TEXT | LVIF_PARAM;
            it.iItem = 0;
            it.pszText = const_cast<wchar_t*>(W(users[i].UserName));
            it.lParam = i;
            if (SendMessageW(table_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it)) != 0) {
                SendMessageW(table_, WM_SETREDRAW, TRUE, 0);
                ShowMessage(u"Error add to list ");
                SendMessageW(table_, WM_SETREDRAW, FALSE, 0);
                if (static_cast<int>(rows_.size()) != RowCount()) ReloadRowMirror();
                continue;
            }
            rows_.insert(rows_.begin(), ui::TableRow{users[i].UserName, i, users[i].Id, false});
            shownTexts_.erase(users[i].UserName);
        }

        // Every user row: its item data, and its cells when its user changed or moved.
        std::vector<bool> changed(users.size(), false);
        for (int32_t i : changes.changed) changed[i] = true;
        for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
            ui::TableRow& row = rows_[r];
            if (row.summary) continue;
            auto u = userOf.find(row.name);
            if (u == userOf.end()) continue;
            row.userId = users[u->second].Id;
            bool write = formatAll || changed[u->second];
            if (row.data != u->second) {
                LVITEMW it = {};
                it.mask = LVIF_PARAM;
                it.iItem = r;
                it.lParam = u->second;
                SendMessageW(table_, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it));
                row.data = u->second;
                write = true;
            }
            if (write || !shownTexts_.count(row.name)) WriteUserRow(r, users[u->second]);
        }
    } else {
        // The same rows in the same places: only the changed users' rows are written.
        for (int32_t i : changes.changed) {
            const int r = rowOfUser_[i];
            if (r < 0) continue;
            rows_[r].userId = users[i].Id;
            if (!formatAll) WriteUserRow(r, users[i]);
        }
        if (formatAll)
            for (int r = 0; r < static_cast<int>(rows_.size()); ++r)
                if (!rows_[r].summary && rows_[r].data >= 0 && rows_[r].data < numUsers)
                    WriteUserRow(r, users[rows_[r].data]);
    }

    // Sort by the chosen column; the comparison reads the table's copy of the users. Ties are
    // broken by the user's place in the list, so the mirror sorted the same way matches the
    // list exactly. Unless a row came, went or changed its sort value, the order stands.
    if (reorder) {
        sortRows_.users = &users;
        SendMessageW(table_, LVM_SORTITEMS, reinterpret_cast<WPARAM>(this),
                     reinterpret_cast<LPARAM>(&CmovraDlg::CompareProc));
        std::sort(rows_.begin(), rows_.end(), [this](const ui::TableRow& a, const ui::TableRow& b) {
            return CompareProc(a.data, b.data, reinterpret_cast<LPARAM>(this)) < 0;
        });
        sortRows_.users = nullptr;
    }

    // Gauges and colour classes follow the rows' new places; rows that stayed change only with
    // their user or with the connection.
    bool allStates = reorder || conn != shownConn_;
    if (gaugePos_.size() != gauges_.size()) {
        gaugePos_.assign(gauges_.size(), -1);
        allStates = true;
    }
    if (allStates) {
        for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
            const int32_t data = rows_[r].data;
            if (rows_[r].summary || data < 0 || data >= numUsers) continue;
            ShowRowState(r, users[data], conn);
        }
    } else {
        for (int32_t i : changes.changed)
            if (rowOfUser_[i] >= 0) ShowRowState(rowOfUser_[i], users[i], conn);
    }

    // The summary row, always last.
    int summaryRow = -1;
    for (int r = static_cast<int>(rows_.size()) - 1; r >= 0 && summaryRow < 0; --r)
        if (rows_[r].summary) summaryRow = r;
    bool placed = reorder;
    if (summaryRow < 0) {
        LVITEMW it = {};
        it.mask = LVIF_TEXT | LVIF_PARAM;
        it.iItem = static_cast<int>(rows_.size());
        it.pszText = const_cast<wchar_t*>(L"Server_TI");
        it.lParam = ui::kSummaryRowData;
        summaryRow = static_cast<int>(
            SendMessageW(table_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it)));
        if (summaryRow >= 0) {
            rows_.insert(rows_.begin() + summaryRow,
                         ui::TableRow{ui::kSummaryRowName, ui::kSummaryRowData, 0, true});
            // A new row has no texts yet: every cell is written below.
            shownSummary_ = {};
            placed = true;
        }
    }
    if (summaryRow >= 0) {
        ui::RowTexts t = ui::SummaryRowTexts(server, settings, serverTexts, divisor_);
        for (int col = 0; col < ui::kColumnCount; ++col)
            if (col != ui::kGaugeColumn && shownSummary_[col] != t[col])
                SetCell(summaryRow, col, t[col]);
        shownSummary_ = std::move(t);
        tableColors_.SetItemColor(summaryRow, ui::kSummaryClass);
    }

    if (quiet) SendMessageW(table_, WM_SETREDRAW, TRUE, 0);
    if (placed) {
        rowOfUser_.assign(users.size(), -1);
        for (int r = 0; r < static_cast<int>(rows_.size()); ++r)
            if (!rows_[r].summary && rows_[r].data >= 0 && rows_[r].data < numUsers)
                rowOfUser_[rows_[r].data] = r;
        PlaceGauges();
    }
    shownRows_ = rows_.size();
    shownTextRows_ = shownTexts_.size();
    shownSort_ = sort_;
    shownConn_ = conn;
    shownUnauthorised_ = showUnauthorised_;
}

void CmovraDlg::ReloadRowMirror() {
    rows_.clear();
    shownTexts_.clear();
    shownSummary_ = {};
    const int n = RowCount();
    for (int r = 0; r < n; ++r) {
        wchar_t buf[512];
        buf[0] = 0;
        LVITEMW it = {};
        it.mask = LVIF_TEXT | LVIF_PARAM;
        it.iItem = r;
        it.pszText = buf;
        it.cchTextMax = 512;
        SendMessageW(table_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
        Text name(reinterpret_cast<const char16_t*>(buf));
        // Item data 10000 is also the index of user 10001 in a very long list; the text tells.
        const bool summary = it.lParam == ui::kSummaryRowData && name == ui::kSummaryRowName;
        rows_.push_back({std::move(name), static_cast<int32_t>(it.lParam), 0, summary});
    }
    // A user row stands for the user of its name; the next refresh confirms it.
    // Its own copy: a refresh in progress still reads its snapshot.
    AppSnapshot now;
    app_.Snapshot(now);
    for (ui::TableRow& row : rows_) {
        if (row.summary) continue;
        for (const CTiUserData& u : now.users) {
            if (u.UserName == row.name) {
                row.userId = u.Id;
                break;
            }
        }
    }
}

void CmovraDlg::RebuildGauges() {
    if (!table_) return;
    ++gaugeRebuilds_;
    for (HWND g : gauges_) DestroyWindow(g);
    gauges_.clear();
    gaugePos_.clear();
    AppSnapshot now;
    app_.Snapshot(now);
    const int32_t n = static_cast<int32_t>(now.users.size());
    gauges_.reserve(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        HWND g = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | PBS_SMOOTH, 0, 0, 0, 0,
                                 table_, nullptr, inst_, nullptr);
        if (!g) break;
        // Wine and visual styles ignore the bar colour of a themed bar.
        SetWindowTheme(g, L" ", L" ");
        SendMessageW(g, PBM_SETRANGE32, 0, 100);
        SendMessageW(g, PBM_SETPOS, 0, 0);
        SendMessageW(g, PBM_SETBARCOLOR, 0, RGB(0, 160, 60));
        SendMessageW(g, PBM_SETBKCOLOR, 0, RGB(255, 255, 255));
        gauges_.push_back(g);
    }
    PlaceGauges();
}

void CmovraDlg::PlaceGauges() {
    if (!table_) return;
    if (static_cast<int>(rows_.size()) != RowCount()) ReloadRowMirror();
    RECT client;
    GetClientRect(table_, &client);
    RECT row0 = {};
    row0.left = LVIR_BOUNDS;
    SendMessageW(table_, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row0));
    int x = row0.left;
    for (int c = 0; c < ui::kGaugeColumn; ++c)
        x += static_cast<int>(SendMessageW(table_, LVM_GETCOLUMNWIDTH, c, 0));
    x += 2;
    int w = static_cast<int>(SendMessageW(table_, LVM_GETCOLUMNWIDTH, ui::kGaugeColumn, 0)) - 4;
    // Report rows are evenly spaced: row n's bounds are row 0's moved down n row heights.
    const int rowHeight = static_cast<int>(row0.bottom - row0.top);
    for (size_t n = 0; n < gauges_.size(); ++n) {
        HWND g = gauges_[n];
        int top = row0.top + static_cast<int>(n) * rowHeight;
        // The summary row has no gauge; a user named like it does.
        bool show = ui::RowShowsGauge(rows_, n);
        // Rows scrolled out of sight need no bar; this keeps placing cheap for long lists.
        if (show && (top + rowHeight <= client.top || top >= client.bottom)) show = false;
        if (show) {
            SetWindowPos(g, nullptr, x, top + 2, std::max(0, w), std::max(0, rowHeight - 4),
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
            InvalidateRect(g, nullptr, FALSE);
        } else if (IsWindowVisible(g)) {
            ShowWindow(g, SW_HIDE);
        }
    }
    InvalidateRect(table_, nullptr, FALSE);
}

LRESULT CmovraDlg::OnTableCustomDraw(NMLVCUSTOMDRAW* cd) {
    return DrawRowColors(*cd, tableColors_);
}

INT_PTR CmovraDlg::OnNotify(NMHDR* hdr) {
    if (hdr->idFrom != IDC_TABLE) return FALSE;
    auto result = [this](LRESULT v) { return DialogResult(hwnd_, v); };
    switch (hdr->code) {
        case NM_CUSTOMDRAW:
            return result(OnTableCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(hdr)));
        case LVN_COLUMNCLICK: {
            auto* nm = reinterpret_cast<NMLISTVIEW*>(hdr);
            sort_.Click(nm->iSubItem);
            RefreshTableNow();
            return result(0);
        }
        case NM_DBLCLK:
            RunCommand(SelectedRows().empty() ? ID_TOGGLE_UNAUTHORISED : ID_EDIT_USER);
            return result(0);
        case NM_RCLICK: {
            if (!tableMenu_) return result(0);
            POINT pt;
            GetCursorPos(&pt);
            TrackPopupMenu(GetSubMenu(tableMenu_, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y,
                           0, hwnd_, nullptr);
            return result(0);
        }
        case LVN_ENDSCROLL:
            PlaceGauges();
            return result(0);
    }
    return FALSE;
}

LRESULT CALLBACK CmovraDlg::TableProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    return GuardSubclass([&] { return TableMessage(h, msg, wp, lp); });
}

LRESULT CmovraDlg::TableMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<CmovraDlg*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    const WNDPROC base = self->tableBaseProc_;
    switch (msg) {
        case WM_KEYDOWN:
            // Only the Delete key of the editing block carries the extended-key bit; the
            // keypad's Delete does not remove a user.
            if (wp == VK_DELETE && (lp & (1 << 24))) {
                self->RunCommand(ID_DELETE_USER);
                return 0;
            }
            {
                // Keyboard scrolling moves rows under the gauges.
                LRESULT r = CallWindowProcW(base, h, msg, wp, lp);
                self->PlaceGauges();
                return r;
            }
        case WM_NOTIFY: {
            LRESULT r = CallWindowProcW(base, h, msg, wp, lp);
            auto* nm = reinterpret_cast<NMHDR*>(lp);
            if (nm->code == HDN_ITEMCHANGEDW || nm->code == HDN_ITEMCHANGEDA ||
                nm->code == HDN_ENDTRACKW || nm->code == HDN_ENDTRACKA)
                self->PlaceGauges();
            return r;
        }
        case WM_VSCROLL:
        case WM_HSCROLL:
        case WM_MOUSEWHEEL:
        case WM_MOUSEHWHEEL: {
            LRESULT r = CallWindowProcW(base, h, msg, wp, lp);
            self->PlaceGauges();
            return r;
        }
        case WM_NCDESTROY:
            SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(base));
            SetWindowLongPtrW(h, GWLP_USERDATA, 0);
            break;
    }
    return CallWindowProcW(base, h, msg, wp, lp);
}

}  // namespace movra
