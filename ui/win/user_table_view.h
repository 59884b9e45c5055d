#pragma once
// UserTableView: the main window's user table. It owns the list view control it is given (its
// subclassing, columns and custom draw), the rows as it put them there, what each row last
// showed, the sort, the rows' color classes and the load gauges over column 6. A refresh reads
// a snapshot of the lists and writes only what changed since the last one; the table never
// reads the live lists.
#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "app/app_port.h"
#include "core/clock.h"
#include "log/color_index.h"
#include "ui/table_model.h"
#include "ui/win/dpi.h"

namespace movra {

class UserTableView {
  public:
    // What the table asks of the window it sits in.
    struct Host {
        // A command of the window: the Delete key, a double click.
        std::function<void(int id)> command;
        // The right mouse button in the table: the window's menu at the cursor.
        std::function<void()> contextMenu;
        // A fresh refresh from the lists (a header click sorts anew).
        std::function<void()> refresh;
        // A message box over the window.
        std::function<void(const Text&)> message;
    };
    UserTableView(Host host, const Clock& clock);
    UserTableView(const UserTableView&) = delete;
    UserTableView& operator=(const UserTableView&) = delete;

    // Takes over the list view `list`: subclasses it and gives it the columns.
    void Attach(HWND list, HINSTANCE inst);
    // The list is being destroyed with its window; its gauges go with it.
    void Detach();

    // Brings the rows, cells, order, colors and gauges up to `s`. Nothing while an exit is
    // pending: the table keeps what it showed.
    void Refresh(const AppSnapshot& s);
    // One hidden gauge per user (`users` of them), placed over the rows.
    void RebuildGauges(size_t users);
    // Puts the gauges over the rows in sight and hides the rest.
    void PlaceGauges();
    // The table moved to a screen of another DPI: columns and gauges follow.
    void DpiChanged(int dpi);
    // A WM_NOTIFY from the list (the window's control IDC_TABLE); false when not handled,
    // else `result` is the answer.
    bool OnNotify(NMHDR* hdr, LRESULT& result);

    // The identities of the users behind the selected rows (never the summary row's).
    std::vector<uint64_t> SelectedUsers();
    // Takes out the row of the user with this identity before the user goes, and returns its
    // item data (where the user stood in the lists when shown); none when it has no row.
    std::optional<int32_t> RemoveUserRow(uint64_t userId);
    // Whether offline users get a row.
    bool ShowUnauthorised() const { return showUnauthorised_; }
    void ToggleUnauthorised() { showUnauthorised_ = !showUnauthorised_; }

    HWND Hwnd() const { return list_; }
    const std::vector<HWND>& Gauges() const { return gauges_; }
    const ColorIndexStore& Colors() const { return colors_; }
    const ui::SortState& Sort() const { return sort_; }
    int GaugeRebuilds() const { return gaugeRebuilds_; }

  private:
    // What one refresh found changed and so has to do.
    struct Pass {
        const std::vector<CTiUserData>* users = nullptr;  // the table's copy, as of this pass
        ui::TableChanges changes;
        uint32_t conn = 0;
        bool formatAll = false;  // every user row's cells (a group's name or the unit changed)
        bool rowSet = false;     // rows come or go
        bool reorder = false;    // rows are sorted again
        bool quiet = false;      // drawing is off while the list changes
        // Each shown user's index by name, while rows come or go.
        std::unordered_map<Text, int32_t> userOf;
    };

    static LRESULT CALLBACK ListProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT ListMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp);
    static int CALLBACK CompareProc(LPARAM a, LPARAM b, LPARAM self);

    // The refresh's steps, in the order they run.
    Pass Compare(const AppSnapshot& s);
    void SyncRows(Pass& p);
    void WriteCells(const Pass& p);
    void SortRows(const Pass& p);
    void ShowRowStates(const Pass& p);
    bool PlaceSummaryRow(const AppSnapshot& s, bool reorder);
    void IndexRows(const Pass& p);

    void BuildColumns();
    int RowCount() const;
    // Rebuilds rows_ from the list itself, when the two no longer agree.
    void ReloadRowMirror();
    int MirrorRowOf(uint64_t userId) const;
    std::vector<int> SelectedRows() const;
    void SetCell(int row, int col, const Text& text);
    // Writes the cells of a user's row that differ from what the row shows.
    void WriteUserRow(int row, const CTiUserData& u);
    // The row's gauge position and color class from its user.
    void ShowRowState(int row, const CTiUserData& u, uint32_t conn);
    void SetRedraw(bool on);

    Host host_;
    const Clock& clock_;
    HINSTANCE inst_ = nullptr;
    HWND list_ = nullptr;
    int dpi_ = kBaseDpi;
    WNDPROC baseProc_ = nullptr;  // the list view's own procedure

    bool showUnauthorised_ = true;
    ui::SortState sort_;
    ui::SortRows sortRows_;
    ColorIndexStore colors_;
    double divisor_ = 1.0;
    std::vector<HWND> gauges_;
    std::vector<int> gaugePos_;
    int gaugeRebuilds_ = 0;
    // The list's rows as this table put them there, with the user each row stands for.
    std::vector<ui::TableRow> rows_;
    // The texts last written to each user's row, so that a refresh writes only what changed.
    std::unordered_map<Text, ui::RowTexts> shownTexts_;
    ui::RowTexts shownSummary_;
    // What the last refresh showed, so that the next formats, sorts and places only what
    // changed: the users and groups as shown, the unit, connection, filter and sort, the sizes
    // of rows_ and shownTexts_ it left (anything else that changes them forces a full pass),
    // and each user's row (-1: none) while the rows stay in place.
    ui::ShownUsers shownUsers_;
    std::vector<Group> shownGroups_;
    double shownDivisor_ = 0;
    uint32_t shownConn_ = 0;
    bool shownUnauthorised_ = true;
    ui::SortState shownSort_;
    size_t shownRows_ = 0;
    size_t shownTextRows_ = 0;
    std::vector<int> rowOfUser_;
};

}  // namespace movra
