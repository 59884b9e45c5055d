#pragma once
// The arithmetic and texts behind the main window's user table, kept apart from Win32 so that
// it is tested natively: cell texts, row color classes, gauge positions, sorting, sizing.
//
// Failures in the portable view logic (ui/): it computes what to show and throws only what the
// model throws (ListIndexError), which the window procedure that called it catches and logs
// (ui/window_failure.h).
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/model.h"
#include "core/settings.h"
#include "core/text.h"
#include "log/color_index.h"

namespace movra::ui {

constexpr int kColumnCount = 13;
constexpr int kGaugeColumn = 6;
// Item data of the summary row; user rows carry the user's index.
constexpr int32_t kSummaryRowData = 10000;
constexpr int kRowHeight = 16;
// The summary row's first cell: the model's server row.
inline constexpr auto& kSummaryRowName = kServerRowName;
// The height of a line in the main window's owner-drawn event list.
constexpr int kEventItemHeight = 15;

struct ColumnSpec {
    const char16_t* header;
    int width;
};
extern const std::array<ColumnSpec, kColumnCount> kColumns;

// Row classes 0..4 of the user table; class 5 (the summary row) takes the system's button
// colors, which only the window knows.
extern const std::array<ColorPair, 5> kTableColors;

constexpr int kSummaryClass = 5;
constexpr int kDisconnectedClass = 4;

struct DisplayUnit {
    double divisor;
    const char16_t* unit;
};
DisplayUnit DisplayUnitFor(const Settings& s);

using RowTexts = std::array<Text, kColumnCount>;

// Every cell of a user row (column 6 holds the gauge and no text).
RowTexts UserRowTexts(const CTiUserData& u, double divisor, const std::vector<Group>& groups,
                      int32_t numGroups);
// Every cell of the summary row. Without a traffic cap the cap-dependent cells (2, 7..12) are
// empty, so that figures of an earlier cap never linger.
RowTexts SummaryRowTexts(const CTiUserData& server, const Settings& s,
                         const std::array<Text, 8>& serverRowTexts, double divisor);
Text HardLimitText(int32_t maxIn, int32_t maxOut, double divisor);
Text DateTimeText(const SystemTime& t);

// The color class of a user row: the disconnected class while disconnected, else by activity;
// an unknown activity keeps `current`.
int RowClass(int32_t activityClass, uint32_t connState, int current);

// The bar position 0..100 for a load: cut toward zero, NaN as 0, beyond the range clamped.
int GaugePosition(double rxLoad);

// Sort state: one direction per column, flipped by each header click.
struct SortState {
    int column = 0;
    std::array<int, kColumnCount> dir;
    SortState() { dir.fill(-1); }
    void Click(int k) {
        if (k < 0 || k >= kColumnCount) return;
        column = k;
        dir[k] = -dir[k];
    }
};

// One row of the list as the window put it there. A row stands for a user through the user's
// identity, never through its text: a user may be called like the summary row.
struct TableRow {
    Text name;        // column 0
    int32_t data;     // item data: the user's index, kSummaryRowData for the summary row
    uint64_t userId;  // the user's identity; 0 when the row stands for no user
    bool summary;
};
// The identities of the users behind the selected rows, in selection order. The summary row,
// rows that stand for no user and numbers outside the list are passed over; a row with an
// empty name ends the selection.
std::vector<uint64_t> SelectedUserIds(const std::vector<TableRow>& rows,
                                      const std::vector<int>& selected);
// Whether row n carries a load gauge: a user's row with a name.
bool RowShowsGauge(const std::vector<TableRow>& rows, size_t n);

// What the comparison reads for each user row: the user and its last activity as calendar time.
struct SortRows {
    const std::vector<CTiUserData>* users = nullptr;
    std::vector<int64_t> activityTimes;
};
// Local date and time as calendar time for sorting; years before 1900 count as 0.
int64_t ActivitySortTime(const SystemTime& t, const Clock& clock);
// The comparison of two row numbers (item data); the summary row sorts last in either direction.
// A NaN key sorts as one value below every number, so that the order stays strict and weak.
int CompareRows(int32_t a, int32_t b, const SortState& sort, const SortRows& rows);
// The same order made total: rows that compare equal go by row number. The list sorts its rows
// and the window sorts its copy of them with different algorithms; only a total order keeps the
// two alike.
int CompareRowsTotal(int32_t a, int32_t b, const SortState& sort, const SortRows& rows);

// Whether two records show alike in the table: the same cells, color class, gauge, presence
// (name, online) and identity. Numbers compare by their bits, so a value that formats
// differently never passes for the same.
bool SameShown(const CTiUserData& a, const CTiUserData& b);
// Whether the two records sort alike under the column (CompareRows reads nothing else).
bool SameSortKey(const CTiUserData& a, const CTiUserData& b, int column);

// What changed in the users since the table last took them.
struct TableChanges {
    std::vector<int32_t> changed;  // users that show differently (or are new at their index)
    bool rowSet = false;           // users came or went, or a user at an index was renamed
    bool online = false;           // a changed user went on- or offline
    bool order = false;            // a changed user's value under the sort column moved
};
// The table's own copy of the users as its last refresh showed them. A refresh brings it up to
// date from the lists and learns what changed, so that it formats, sorts and places only then.
class ShownUsers {
  public:
    // Takes the lists' users (under their lock).
    TableChanges Update(std::span<const CTiUserData> users, int sortColumn);
    const std::vector<CTiUserData>& Users() const { return users_; }

  private:
    std::vector<CTiUserData> users_;
};

// Outer window height for a number of user rows: 14 x GridSize + 105 (clamped to stay sane).
int FitHeight(uint32_t gridSize);

struct Box {
    int x, y, w, h;
    bool operator==(const Box&) const = default;
};
struct Layout {
    Box table, options, events;
};
// Positions of the controls that follow the window's outer size.
Layout LayOut(int w, int h);

}  // namespace movra::ui
