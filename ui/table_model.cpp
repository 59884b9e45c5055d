#include "ui/table_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "core/log_flags.h"

namespace movra::ui {

const std::array<ColumnSpec, kColumnCount> kColumns = {{
    {u"Имя", 70},
    {u"IP-адрес", 90},
    {u"Баланс", 70},
    {u"Огр. RX/TX", 100},
    {u"Прин.Мб", 65},
    {u"Перед.Мб", 65},
    {u"Прием", 65},
    {u"Ср.скор.RX/TX", 85},
    {u"TI.скор.RX/TX", 85},
    {u"Посл.Активность", 118},
    {u"Рейтинг", 65},
    {u"Группа", 50},
    {u"Жестк.Огр.", 85},
}};

const std::array<ColorPair, 5> kTableColors = {{
    {MakeRgb(200, 15, 200), MakeRgb(245, 255, 245)},   // active
    {MakeRgb(100, 100, 100), MakeRgb(230, 230, 230)},  // offline
    {MakeRgb(50, 50, 200), MakeRgb(240, 240, 245)},    // sleeping
    {MakeRgb(50, 150, 50), MakeRgb(240, 250, 240)},    // weakly active
    {MakeRgb(100, 100, 100), MakeRgb(255, 255, 255)},  // disconnected
}};

DisplayUnit DisplayUnitFor(const Settings& s) {
    if (s.DisplaySpeed_in_kBytes_s) return {8.0, u"кБайт/с"};
    return {1.0, u"кбит/с"};
}

Text DateTimeText(const SystemTime& t) {
    return ClockText(t, kLogClock);
}

Text HardLimitText(int32_t maxIn, int32_t maxOut, double divisor) {
    if (maxIn < 1 && maxOut < 1) return {};
    Text s = maxIn < 1 ? Text(u"-") : FixedText(maxIn / divisor, 1);
    s += u'/';
    s += maxOut < 1 ? Text(u"-") : FixedText(maxOut / divisor, 1);
    return s;
}

static Text PairText(double a, double b, double divisor) {
    return FixedText(a / divisor, 1) + u'/' + FixedText(b / divisor, 1);
}

static Text Megabytes(double bytes) {
    return FixedText(bytes / 1024.0 / 1024.0, 3);
}

RowTexts UserRowTexts(const CTiUserData& u, double divisor, const std::vector<Group>& groups,
                      int32_t numGroups) {
    RowTexts t;
    t[0] = u.UserName;
    t[1] = u.IP;
    t[2] = FixedText(u.Balance, 3);
    t[3] = PairText(u.LimitIn, u.LimitOut, divisor);
    t[4] = Megabytes(u.RxTotal);
    t[5] = Megabytes(u.TxTotal);
    t[7] = PairText(u.RxSpeed, u.TxSpeed, divisor);
    t[8] = PairText(u.TiRxSpeed, u.TiTxSpeed, divisor);
    t[9] = DateTimeText(u.LastActivity);
    t[10] = FixedText(u.UserKTraff, 2);
    const int32_t g = FindGroupIndex(groups, numGroups, u.UserGrID);
    t[11] = g < 0 ? Text(u"нет") : groups[g].GroupName;
    t[12] = HardLimitText(u.UserLimitMaxIn, u.UserLimitMaxOut, divisor);
    return t;
}

RowTexts SummaryRowTexts(const CTiUserData& server, const Settings& s,
                         const std::array<Text, 8>& serverRowTexts, double divisor) {
    RowTexts t;
    t[0] = kSummaryRowName;
    t[1] = s.Server;
    t[3] = PairText(server.LimitIn, server.LimitOut, divisor);
    t[4] = Megabytes(server.RxTotal);
    t[5] = Megabytes(server.TxTotal);
    if (s.SrvLimTraff_MB != 0) {
        t[2] = FixedText(s.SrvLimTraff_MB - server.RxTotal / 1048576.0 - server.TxTotal / 1048576.0,
                         3);
        for (int k = 0; k < 6; ++k) t[7 + k] = serverRowTexts[k];
    }
    return t;
}

int RowClass(int32_t activityClass, uint32_t connState, int current) {
    if (connState & LOG_DISCONNECTED) return kDisconnectedClass;
    switch (activityClass) {
        case kOffline:
            return 1;
        case kActive:
            return 0;
        case kSleeping:
            return 2;
        case kWeaklyActive:
            return 3;
        default:
            return current;
    }
}

int GaugePosition(double rxLoad) {
    if (std::isnan(rxLoad) || rxLoad <= 0) return 0;
    if (rxLoad >= 100) return 100;
    return static_cast<int>(rxLoad);
}

std::vector<uint64_t> SelectedUserIds(const std::vector<TableRow>& rows,
                                      const std::vector<int>& selected) {
    std::vector<uint64_t> ids;
    for (int r : selected) {
        if (r < 0 || static_cast<size_t>(r) >= rows.size()) continue;
        const TableRow& row = rows[r];
        if (row.summary) continue;
        if (row.name.empty()) break;
        if (row.userId != 0) ids.push_back(row.userId);
    }
    return ids;
}

bool RowShowsGauge(const std::vector<TableRow>& rows, size_t n) {
    return n < rows.size() && !rows[n].summary && !rows[n].name.empty();
}

int64_t ActivitySortTime(const SystemTime& t, const Clock& clock) {
    if (t.wYear < 1900) return 0;
    return clock.LocalToUnix(t);
}

template <class T>
static int Descending(T a, T b) {
    if constexpr (std::is_floating_point_v<T>) {
        // NaN compares false with everything; as "equal to all" it would make equality
        // intransitive and leave any sort undefined.
        const bool nanA = std::isnan(a), nanB = std::isnan(b);
        if (nanA || nanB) return nanA == nanB ? 0 : (nanA ? 1 : -1);
    }
    return a < b ? 1 : (b < a ? -1 : 0);
}

static int CompareTexts(const Text& a, const Text& b) {
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareRows(int32_t a, int32_t b, const SortState& sort, const SortRows& rows) {
    if (a == b) return 0;
    if (a == kSummaryRowData) return 1;
    if (b == kSummaryRowData) return -1;
    const auto& users = *rows.users;
    if (a < 0 || b < 0 || static_cast<size_t>(a) >= users.size() ||
        static_cast<size_t>(b) >= users.size())
        return 0;
    const CTiUserData& x = users[a];
    const CTiUserData& y = users[b];
    int base = 0;
    switch (sort.column) {
        case 0:
            base = CompareTexts(x.UserName, y.UserName);
            break;
        case 1:
            base = CompareTexts(x.IP, y.IP);
            break;
        case 2:
            base = Descending(x.Balance, y.Balance);
            break;
        case 3:
            base = Descending(x.LimitIn, y.LimitIn);
            break;
        case 4:
            base = Descending(x.RxTotal, y.RxTotal);
            break;
        case 5:
            base = Descending(x.TxTotal, y.TxTotal);
            break;
        case 6:
        case 7:
            base = Descending(x.RxSpeed, y.RxSpeed);
            break;
        case 8:
            base = Descending(x.TiRxSpeed, y.TiRxSpeed);
            break;
        case 9:
            if (static_cast<size_t>(a) < rows.activityTimes.size() &&
                static_cast<size_t>(b) < rows.activityTimes.size())
                base = Descending(rows.activityTimes[a], rows.activityTimes[b]);
            break;
        case 10:
            base = Descending(x.UserKTraff, y.UserKTraff);
            break;
        case 11:
            base = Descending(x.UserGrID, y.UserGrID);
            break;
        default:
            base = 0;
            break;
    }
    return sort.dir[sort.column] * base;
}

int CompareRowsTotal(int32_t a, int32_t b, const SortState& sort, const SortRows& rows) {
    const int c = CompareRows(a, b, sort, rows);
    if (c != 0) return c;
    return a < b ? -1 : (a > b ? 1 : 0);
}

template <class T>
static bool SameBits(T a, T b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

bool SameShown(const CTiUserData& a, const CTiUserData& b) {
    return a.Id == b.Id && a.UserName == b.UserName && a.Online == b.Online &&
           a.ActivityClass == b.ActivityClass && SameBits(a.RxLoad, b.RxLoad) && a.IP == b.IP &&
           SameBits(a.Balance, b.Balance) && a.LimitIn == b.LimitIn && a.LimitOut == b.LimitOut &&
           SameBits(a.RxTotal, b.RxTotal) && SameBits(a.TxTotal, b.TxTotal) &&
           SameBits(a.RxSpeed, b.RxSpeed) && SameBits(a.TxSpeed, b.TxSpeed) &&
           SameBits(a.TiRxSpeed, b.TiRxSpeed) && SameBits(a.TiTxSpeed, b.TiTxSpeed) &&
           a.LastActivity == b.LastActivity && SameBits(a.UserKTraff, b.UserKTraff) &&
           a.UserGrID == b.UserGrID && a.UserLimitMaxIn == b.UserLimitMaxIn &&
           a.UserLimitMaxOut == b.UserLimitMaxOut;
}

bool SameSortKey(const CTiUserData& a, const CTiUserData& b, int column) {
    switch (column) {
        case 0:
            return a.UserName == b.UserName;
        case 1:
            return a.IP == b.IP;
        case 2:
            return SameBits(a.Balance, b.Balance);
        case 3:
            return a.LimitIn == b.LimitIn;
        case 4:
            return SameBits(a.RxTotal, b.RxTotal);
        case 5:
            return SameBits(a.TxTotal, b.TxTotal);
        case 6:
        case 7:
            return SameBits(a.RxSpeed, b.RxSpeed);
        case 8:
            return SameBits(a.TiRxSpeed, b.TiRxSpeed);
        case 9:
            return a.LastActivity == b.LastActivity;
        case 10:
            return SameBits(a.UserKTraff, b.UserKTraff);
        case 11:
            return a.UserGrID == b.UserGrID;
        default:
            return true;
    }
}

TableChanges ShownUsers::Update(std::span<const CTiUserData> users, int sortColumn) {
    TableChanges c;
    const size_t kept = std::min(users.size(), users_.size());
    if (users.size() != users_.size()) c.rowSet = true;
    users_.resize(users.size());
    for (size_t i = 0; i < users.size(); ++i) {
        const CTiUserData& now = users[i];
        CTiUserData& was = users_[i];
        const bool fresh = i >= kept;
        if (!fresh && SameShown(was, now)) continue;
        if (fresh || was.UserName != now.UserName) c.rowSet = true;
        if (fresh || was.Online != now.Online) c.online = true;
        if (fresh || !SameSortKey(was, now, sortColumn)) c.order = true;
        was = now;
        c.changed.push_back(static_cast<int32_t>(i));
    }
    return c;
}

int FitHeight(uint32_t gridSize) {
    // A window taller than any screen helps nobody; the cap keeps the arithmetic in range.
    constexpr uint32_t kMaxRows = 2000;
    if (gridSize > kMaxRows) gridSize = kMaxRows;
    return (kRowHeight - 2) * static_cast<int>(gridSize) + 105;
}

Layout LayOut(int w, int h) {
    Layout l;
    l.table = {2, 20, w - 10, h - 82};
    l.options = {w - 160, h - 60, 150, 26};
    l.events = {2, h - 58, w - 170, 24};
    return l;
}

}  // namespace movra::ui
