#include "ui/win/user_table_view.h"

#include <uxtheme.h>

#include <algorithm>
#include <array>
#include <utility>

#include "core/log_flags.h"
#include "ui/win/dpi.h"
#include "ui/win/resource.h"
#include "ui/win/win_util.h"

namespace movra {

namespace {

// The order a refresh writes a user row's cells in. Column 0 is the name the row was inserted
// with and column 6 holds the gauge, not text. The order is fixed: a cell written to a drawn
// list repaints at once, so the order is what the administrator sees fill in, and it is the one
// the table has always had.
constexpr std::array<int, 11> kUserCellWriteOrder = {3, 4, 5, 7, 8, 9, 10, 11, 12, 1, 2};

// A cell written to a drawn list asks for its own repaint (about 0.2 ms each under Wine);
// turning drawing off and on repaints the whole list instead (tens of ms). Past some hundred
// changed rows the whole repaint costs less.
constexpr size_t kQuietRows = 100;

}  // namespace

UserTableView::UserTableView(Host host, const Clock& clock)
    : host_(std::move(host)), clock_(clock) {
    std::vector<ColorPair> pairs(ui::kTableColors.begin(), ui::kTableColors.end());
    pairs.push_back({GetSysColor(COLOR_BTNTEXT), GetSysColor(COLOR_BTNFACE)});
    colors_.SetColors(pairs);
}

void UserTableView::Attach(HWND list, HINSTANCE inst) {
    list_ = list;
    inst_ = inst;
    if (!list_) return;
    dpi_ = DpiOf(list_);
    // Subclassed through its window procedure: comctl32's subclass chain looks its data up as a
    // window property on every message, a server round trip each under Wine, which made every
    // cell written by a refresh cost a fraction of a millisecond.
    SetWindowLongPtrW(list_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    baseProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ListProc)));
    BuildColumns();
}

void UserTableView::Detach() {
    list_ = nullptr;
    gauges_.clear();
}

void UserTableView::BuildColumns() {
    shownTexts_.clear();
    shownSummary_ = {};
    rows_.clear();
    std::array<ListColumn, ui::kColumnCount> columns;
    for (int i = 0; i < ui::kColumnCount; ++i)
        columns[i] = {W(ui::kColumns[i].header), ui::kColumns[i].width};
    SetListColumns(list_, columns);
}

int UserTableView::RowCount() const {
    return list_ ? static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

int UserTableView::MirrorRowOf(uint64_t userId) const {
    for (size_t r = 0; r < rows_.size(); ++r)
        if (!rows_[r].summary && rows_[r].userId == userId) return static_cast<int>(r);
    return -1;
}

std::vector<int> UserTableView::SelectedRows() const {
    std::vector<int> rows;
    if (!list_) return rows;
    int i = -1;
    while ((i = static_cast<int>(SendMessageW(list_, LVM_GETNEXTITEM, i, LVNI_SELECTED))) >= 0)
        rows.push_back(i);
    return rows;
}

std::vector<uint64_t> UserTableView::SelectedUsers() {
    if (static_cast<int>(rows_.size()) != RowCount()) ReloadRowMirror();
    return ui::SelectedUserIds(rows_, SelectedRows());
}

std::optional<int32_t> UserTableView::RemoveUserRow(uint64_t userId) {
    const int row = MirrorRowOf(userId);
    if (row < 0) return std::nullopt;
    const int32_t data = rows_[row].data;
    SendMessageW(list_, LVM_DELETEITEM, row, 0);
    shownTexts_.erase(rows_[row].name);
    rows_.erase(rows_.begin() + row);
    PlaceGauges();
    return data;
}

void UserTableView::SetCell(int row, int col, const Text& text) {
    LVITEMW it = {};
    it.iSubItem = col;
    it.pszText = WMutable(text);
    SendMessageW(list_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&it));
}

void UserTableView::SetRedraw(bool on) {
    SendMessageW(list_, WM_SETREDRAW, on ? TRUE : FALSE, 0);
}

int CALLBACK UserTableView::CompareProc(LPARAM a, LPARAM b, LPARAM self) {
    auto* t = reinterpret_cast<UserTableView*>(self);
    return ui::CompareRowsTotal(static_cast<int32_t>(a), static_cast<int32_t>(b), t->sort_,
                                t->sortRows_);
}

void UserTableView::WriteUserRow(int row, const CTiUserData& u) {
    ui::RowTexts t =
        ui::UserRowTexts(u, divisor_, shownGroups_, static_cast<int32_t>(shownGroups_.size()));
    auto shown = shownTexts_.find(rows_[row].name);
    for (int col : kUserCellWriteOrder)
        if (shown == shownTexts_.end() || shown->second[col] != t[col]) SetCell(row, col, t[col]);
    if (shown == shownTexts_.end())
        shownTexts_.emplace(rows_[row].name, std::move(t));
    else
        shown->second = std::move(t);
}

void UserTableView::ShowRowState(int row, const CTiUserData& u, uint32_t conn) {
    if (static_cast<size_t>(row) < gauges_.size()) {
        int pos = ui::GaugePosition(u.RxLoad);
        if (gaugePos_[row] != pos) {
            SendMessageW(gauges_[row], PBM_SETPOS, pos, 0);
            gaugePos_[row] = pos;
        }
    }
    colors_.SetItemColor(row, ui::RowClass(u.ActivityClass, conn, colors_.ItemColor(row)));
}

// ---- Refresh ----

void UserTableView::Refresh(const AppSnapshot& s) {
    if (!list_) return;
    if (s.connState == EXIT_PENDING) return;
    Pass p = Compare(s);
    if (p.quiet) SetRedraw(false);
    if (p.rowSet) SyncRows(p);
    WriteCells(p);
    if (p.reorder) SortRows(p);
    ShowRowStates(p);
    const bool placed = PlaceSummaryRow(s, p.reorder);
    if (p.quiet) SetRedraw(true);
    if (placed) {
        IndexRows(p);
        PlaceGauges();
    }
    shownRows_ = rows_.size();
    shownTextRows_ = shownTexts_.size();
    shownSort_ = sort_;
    shownConn_ = p.conn;
    shownUnauthorised_ = showUnauthorised_;
}

// Brings the table's copy of the users, groups and unit up to the snapshot and decides how much
// of the list this pass touches.
UserTableView::Pass UserTableView::Compare(const AppSnapshot& s) {
    Pass p;
    p.conn = s.connState;
    p.changes = shownUsers_.Update(s.users, sort_.column);
    bool groupsChanged = shownGroups_.size() != s.groups.size();
    for (size_t k = 0; !groupsChanged && k < shownGroups_.size(); ++k)
        groupsChanged = shownGroups_[k].GroupID != s.groups[k].GroupID ||
                        shownGroups_[k].GroupName != s.groups[k].GroupName;
    if (groupsChanged) shownGroups_ = s.groups;
    p.users = &shownUsers_.Users();
    const std::vector<CTiUserData>& users = *p.users;
    divisor_ = ui::DisplayUnitFor(s.settings).divisor;
    // A group's name or the unit is in every row.
    p.formatAll = groupsChanged || divisor_ != shownDivisor_;
    shownDivisor_ = divisor_;
    sortRows_.activityTimes.resize(users.size());
    for (int32_t i : p.changes.changed)
        sortRows_.activityTimes[i] = ui::ActivitySortTime(users[i].LastActivity, clock_);

    // Rows are found by the exact name in column 0; the summary row by its item data, so that a
    // user called "Server_TI" or two names differing only in case each keep a row of their own.
    // rows_ mirrors the list's rows, so a refresh never reads the list back.
    if (static_cast<int>(rows_.size()) != RowCount()) ReloadRowMirror();
    // Rows come or go when users do, when the hidden users are shown or hidden, and when rows
    // were taken out of the list since the last refresh (deleted, reloaded, columns rebuilt).
    p.rowSet = p.changes.rowSet || (p.changes.online && !showUnauthorised_) ||
               showUnauthorised_ != shownUnauthorised_ || rows_.size() != shownRows_ ||
               shownTexts_.size() != shownTextRows_ || rowOfUser_.size() != users.size();
    p.reorder = p.rowSet || p.changes.order || sort_.column != shownSort_.column ||
                sort_.dir != shownSort_.dir;
    p.quiet = p.reorder || p.formatAll || p.changes.changed.size() > kQuietRows;
    return p;
}

// Deletes the rows of users that are hidden or gone and inserts a row at the top for each shown
// user that has none.
void UserTableView::SyncRows(Pass& p) {
    const std::vector<CTiUserData>& users = *p.users;
    const int n0 = static_cast<int>(rows_.size());
    std::unordered_map<Text, int> rowOf;
    for (int r = 0; r < n0; ++r)
        if (!rows_[r].summary) rowOf.emplace(rows_[r].name, r);

    std::vector<int32_t> toInsert;
    std::vector<bool> dropRow(static_cast<size_t>(n0), false);
    for (int32_t i = 0; i < static_cast<int32_t>(users.size()); ++i) {
        const CTiUserData& u = users[i];
        if (u.UserName.empty()) continue;
        auto it = rowOf.find(u.UserName);
        bool shown = u.Online || showUnauthorised_;
        if (!shown) {
            if (it != rowOf.end()) dropRow[it->second] = true;
            continue;
        }
        p.userOf.emplace(u.UserName, i);
        if (it == rowOf.end()) toInsert.push_back(i);
    }
    for (int r = 0; r < n0; ++r)
        if (!rows_[r].summary && !p.userOf.count(rows_[r].name)) dropRow[r] = true;
    for (int r = n0 - 1; r >= 0; --r) {
        if (!dropRow[r]) continue;
        SendMessageW(list_, LVM_DELETEITEM, r, 0);
        shownTexts_.erase(rows_[r].name);
        rows_.erase(rows_.begin() + r);
    }
    for (int32_t i : toInsert) {
        LVITEMW it = {};
        it.mask = LVIF_TEXT | LVIF_PARAM;
        it.iItem = 0;
        it.pszText = WMutable(users[i].UserName);
        it.lParam = i;
        if (SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it)) != 0) {
            SetRedraw(true);
            // English on purpose: the program's long-standing text for a failed insertion, which
            // administrators search for as it stands.
            host_.message(u"Error add to list ");
            SetRedraw(false);
            if (static_cast<int>(rows_.size()) != RowCount()) ReloadRowMirror();
            continue;
        }
        rows_.insert(rows_.begin(), ui::TableRow{users[i].UserName, i, users[i].Id, false});
        shownTexts_.erase(users[i].UserName);
    }
}

// The user rows' cells. After rows came or went, every row gets its item data and, when its
// user changed or moved in the lists, its cells; otherwise only the changed users' rows, which
// stayed where they were.
void UserTableView::WriteCells(const Pass& p) {
    const std::vector<CTiUserData>& users = *p.users;
    const int32_t numUsers = static_cast<int32_t>(users.size());
    if (p.rowSet) {
        std::vector<bool> changed(users.size(), false);
        for (int32_t i : p.changes.changed) changed[i] = true;
        for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
            ui::TableRow& row = rows_[r];
            if (row.summary) continue;
            auto u = p.userOf.find(row.name);
            if (u == p.userOf.end()) continue;
            row.userId = users[u->second].Id;
            bool write = p.formatAll || changed[u->second];
            if (row.data != u->second) {
                LVITEMW it = {};
                it.mask = LVIF_PARAM;
                it.iItem = r;
                it.lParam = u->second;
                SendMessageW(list_, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it));
                row.data = u->second;
                write = true;
            }
            if (write || !shownTexts_.count(row.name)) WriteUserRow(r, users[u->second]);
        }
        return;
    }
    for (int32_t i : p.changes.changed) {
        const int r = rowOfUser_[i];
        if (r < 0) continue;
        rows_[r].userId = users[i].Id;
        if (!p.formatAll) WriteUserRow(r, users[i]);
    }
    if (p.formatAll)
        for (int r = 0; r < static_cast<int>(rows_.size()); ++r)
            if (!rows_[r].summary && rows_[r].data >= 0 && rows_[r].data < numUsers)
                WriteUserRow(r, users[rows_[r].data]);
}

// Sorts by the chosen column; the comparison reads the table's copy of the users. Ties are
// broken by the user's place in the list, so the mirror sorted the same way matches the list
// exactly. Unless a row came, went or changed its sort value, the order stands.
void UserTableView::SortRows(const Pass& p) {
    sortRows_.users = p.users;
    SendMessageW(list_, LVM_SORTITEMS, reinterpret_cast<WPARAM>(this),
                 reinterpret_cast<LPARAM>(&UserTableView::CompareProc));
    std::sort(rows_.begin(), rows_.end(), [this](const ui::TableRow& a, const ui::TableRow& b) {
        return CompareProc(a.data, b.data, reinterpret_cast<LPARAM>(this)) < 0;
    });
    sortRows_.users = nullptr;
}

// Gauges and color classes follow the rows' new places; rows that stayed change only with
// their user or with the connection.
void UserTableView::ShowRowStates(const Pass& p) {
    const std::vector<CTiUserData>& users = *p.users;
    const int32_t numUsers = static_cast<int32_t>(users.size());
    bool allStates = p.reorder || p.conn != shownConn_;
    if (gaugePos_.size() != gauges_.size()) {
        gaugePos_.assign(gauges_.size(), -1);
        allStates = true;
    }
    if (allStates) {
        for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
            const int32_t data = rows_[r].data;
            if (rows_[r].summary || data < 0 || data >= numUsers) continue;
            ShowRowState(r, users[data], p.conn);
        }
    } else {
        for (int32_t i : p.changes.changed)
            if (rowOfUser_[i] >= 0) ShowRowState(rowOfUser_[i], users[i], p.conn);
    }
}

// The summary row, always last: inserted when missing, its changed cells written. True when the
// rows moved (sorted or the summary row inserted), so that the gauges are placed anew.
bool UserTableView::PlaceSummaryRow(const AppSnapshot& s, bool reorder) {
    int summaryRow = -1;
    for (int r = static_cast<int>(rows_.size()) - 1; r >= 0 && summaryRow < 0; --r)
        if (rows_[r].summary) summaryRow = r;
    bool placed = reorder;
    if (summaryRow < 0) {
        LVITEMW it = {};
        it.mask = LVIF_TEXT | LVIF_PARAM;
        it.iItem = static_cast<int>(rows_.size());
        it.pszText = const_cast<wchar_t*>(W(ui::kSummaryRowName));
        it.lParam = ui::kSummaryRowData;
        summaryRow = static_cast<int>(
            SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it)));
        if (summaryRow >= 0) {
            rows_.insert(rows_.begin() + summaryRow,
                         ui::TableRow{ui::kSummaryRowName, ui::kSummaryRowData, 0, true});
            // A new row has no texts yet: every cell is written below.
            shownSummary_ = {};
            placed = true;
        }
    }
    if (summaryRow >= 0) {
        ui::RowTexts t = ui::SummaryRowTexts(s.serverRow, s.settings, s.serverRowTexts, divisor_);
        for (int col = 0; col < ui::kColumnCount; ++col)
            if (col != ui::kGaugeColumn && shownSummary_[col] != t[col])
                SetCell(summaryRow, col, t[col]);
        shownSummary_ = std::move(t);
        colors_.SetItemColor(summaryRow, ui::kSummaryClass);
    }
    return placed;
}

// Each user's row after the rows moved, for the next passes that keep them in place.
void UserTableView::IndexRows(const Pass& p) {
    const int32_t numUsers = static_cast<int32_t>(p.users->size());
    rowOfUser_.assign(p.users->size(), -1);
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r)
        if (!rows_[r].summary && rows_[r].data >= 0 && rows_[r].data < numUsers)
            rowOfUser_[rows_[r].data] = r;
}

void UserTableView::ReloadRowMirror() {
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
        SendMessageW(list_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
        Text name(reinterpret_cast<const char16_t*>(buf));
        // Item data 10000 is also the index of user 10001 in a very long list; the text tells.
        const bool summary = it.lParam == ui::kSummaryRowData && name == ui::kSummaryRowName;
        rows_.push_back({std::move(name), static_cast<int32_t>(it.lParam), 0, summary});
    }
    // A user row stands for the first user of its name in the table's copy; the next refresh
    // confirms it. A user gone since then keeps an identity that finds nobody.
    std::unordered_map<Text, uint64_t> idOf;
    for (const CTiUserData& u : shownUsers_.Users()) idOf.emplace(u.UserName, u.Id);
    for (ui::TableRow& row : rows_) {
        if (row.summary) continue;
        auto id = idOf.find(row.name);
        if (id != idOf.end()) row.userId = id->second;
    }
}

// ---- Gauges ----

void UserTableView::RebuildGauges(size_t users) {
    if (!list_) return;
    ++gaugeRebuilds_;
    for (HWND g : gauges_) DestroyWindow(g);
    gauges_.clear();
    gaugePos_.clear();
    gauges_.reserve(users);
    for (size_t i = 0; i < users; ++i) {
        HWND g = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | PBS_SMOOTH, 0, 0, 0, 0,
                                 list_, nullptr, inst_, nullptr);
        if (!g) break;
        // Wine and visual styles ignore the bar color of a themed bar.
        SetWindowTheme(g, L" ", L" ");
        SendMessageW(g, PBM_SETRANGE32, 0, 100);
        SendMessageW(g, PBM_SETPOS, 0, 0);
        SendMessageW(g, PBM_SETBARCOLOR, 0, RGB(0, 160, 60));
        SendMessageW(g, PBM_SETBKCOLOR, 0, RGB(255, 255, 255));
        gauges_.push_back(g);
    }
    PlaceGauges();
}

void UserTableView::PlaceGauges() {
    if (!list_) return;
    if (static_cast<int>(rows_.size()) != RowCount()) ReloadRowMirror();
    RECT client;
    GetClientRect(list_, &client);
    RECT row0 = {};
    row0.left = LVIR_BOUNDS;
    SendMessageW(list_, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row0));
    int x = row0.left;
    for (int c = 0; c < ui::kGaugeColumn; ++c)
        x += static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, c, 0));
    // The bar keeps a margin inside its cell.
    const int inset = Scale(2, dpi_);
    x += inset;
    int w =
        static_cast<int>(SendMessageW(list_, LVM_GETCOLUMNWIDTH, ui::kGaugeColumn, 0)) - 2 * inset;
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
            SetWindowPos(g, nullptr, x, top + inset, std::max(0, w),
                         std::max(0, rowHeight - 2 * inset),
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
            InvalidateRect(g, nullptr, FALSE);
        } else if (IsWindowVisible(g)) {
            ShowWindow(g, SW_HIDE);
        }
    }
    InvalidateRect(list_, nullptr, FALSE);
}

void UserTableView::DpiChanged(int dpi) {
    dpi_ = dpi;
    RescaleListColumns(list_, dpi);
    PlaceGauges();
}

// ---- The list's messages ----

bool UserTableView::OnNotify(NMHDR* hdr, LRESULT& result) {
    result = 0;
    switch (hdr->code) {
        case NM_CUSTOMDRAW:
            result = DrawRowColors(*reinterpret_cast<NMLVCUSTOMDRAW*>(hdr), colors_);
            return true;
        case LVN_COLUMNCLICK:
            sort_.Click(reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem);
            host_.refresh();
            return true;
        case NM_DBLCLK:
            host_.command(SelectedRows().empty() ? ID_TOGGLE_UNAUTHORISED : ID_EDIT_USER);
            return true;
        case NM_RCLICK:
            host_.contextMenu();
            return true;
        case LVN_ENDSCROLL:
            PlaceGauges();
            return true;
    }
    return false;
}

LRESULT CALLBACK UserTableView::ListProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    return GuardSubclass([&] { return ListMessage(h, msg, wp, lp); });
}

LRESULT UserTableView::ListMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<UserTableView*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    const WNDPROC base = self->baseProc_;
    switch (msg) {
        case WM_KEYDOWN:
            // Only the Delete key of the editing block carries the extended-key bit; the
            // keypad's Delete does not remove a user.
            if (wp == VK_DELETE && (lp & (1 << 24))) {
                self->host_.command(ID_DELETE_USER);
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
