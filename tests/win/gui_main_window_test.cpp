// The main window in-process under Wine on a private Xvfb display: the user table's cells,
// colours, sorting, hiding and deleting rows, gauges, sizing, the event log's effects on the
// window, and the log window's order. Message boxes and modal windows are answered by a driver
// thread with time-outs, so nothing here can hang.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/log_flags.h"
#include "core/textfile.h"
#include "ui/win/main_window.h"
#include "ui/win/resource.h"

namespace movra {
namespace {

using namespace std::chrono_literals;

class NoServer : public TiConnector {
  public:
    std::unique_ptr<TiServer> Connect(const Text&) override {
        throw TiError(static_cast<int32_t>(0x80040154));
    }
};

std::string U8(const Text& t) {
    return ToUtf8(t);
}

// A check that something does NOT happen watches for this long; everything else waits for what
// it expects, with a deadline.
constexpr std::chrono::milliseconds kQuietWindow(500);

void Pump(std::chrono::milliseconds for_ = 0ms) {
    auto end = std::chrono::steady_clock::now() + for_;
    do {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        if (for_ > 0ms) std::this_thread::sleep_for(5ms);
    } while (std::chrono::steady_clock::now() < end);
}

// Pumps until `done` holds or the deadline passes; whether it held.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        Pump(5ms);
    }
    return true;
}

struct MainWindowTest : ::testing::Test {
    ManualClock clock;
    Model model{clock};
    WorkerEvents events;
    NoServer server;
    std::unique_ptr<CmovraDlg> dlg;
    HWND hwnd = nullptr;
    std::string logName;

    void SetUp() override {
        static bool once = [] {
            INITCOMMONCONTROLSEX icc = {sizeof(icc), 0xFF};
            return InitCommonControlsEx(&icc) != FALSE;
        }();
        (void)once;
        logName = "gui_test_" + std::to_string(GetCurrentProcessId()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        std::remove(logName.c_str());
        {
            Model::Guard g(model);
            model.settings.LogFileName = FromUtf8(logName);
            model.settings.Server = u"ti.test";
        }
        events.idle.Set();
        dlg = std::make_unique<CmovraDlg>(model, events, server, clock);
        hwnd = dlg->CreateModeless(GetModuleHandleW(nullptr));
        ASSERT_NE(hwnd, nullptr);
        Pump(50ms);
    }
    void TearDown() override {
        dlg.reset();
        Pump();
        std::remove(logName.c_str());
    }

    int AddUser(const char16_t* name, int32_t activity, bool online = true, double rxLoad = 0) {
        Model::Guard g(model);
        int i = model.AddUserByName(name);
        CTiUserData& u = model.Users[i];
        u.ActivityClass = activity;
        u.Online = online ? 1 : 0;
        u.RxLoad = rxLoad;
        u.LastActivity = {2026, 12, 0, 1, 12, 0, 0, 0};
        return i;
    }
    HWND Table() const { return dlg->UserTable().Hwnd(); }
    int Rows() const { return static_cast<int>(SendMessageW(Table(), LVM_GETITEMCOUNT, 0, 0)); }
    Text Cell(int row, int col) const {
        wchar_t buf[512] = {};
        LVITEMW it = {};
        it.iSubItem = col;
        it.pszText = buf;
        it.cchTextMax = 512;
        SendMessageW(Table(), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&it));
        return Text(reinterpret_cast<const char16_t*>(buf));
    }
    LPARAM Data(int row) const {
        LVITEMW it = {};
        it.mask = LVIF_PARAM;
        it.iItem = row;
        SendMessageW(Table(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
        return it.lParam;
    }
    int RowOf(const Text& name) const {
        for (int r = 0; r < Rows(); ++r)
            if (Cell(r, 0) == name && Data(r) != ui::kSummaryRowData) return r;
        return -1;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> v;
        for (int r = 0; r < Rows(); ++r) v.push_back(U8(Cell(r, 0)));
        return v;
    }
    void Select(int row) {
        LVITEMW st = {};
        st.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        st.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(Table(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&st));
    }
    void ClickHeader(int col) {
        NMLISTVIEW nm = {};
        nm.hdr.hwndFrom = Table();
        nm.hdr.idFrom = IDC_TABLE;
        nm.hdr.code = LVN_COLUMNCLICK;
        nm.iItem = -1;
        nm.iSubItem = col;
        SendMessageW(hwnd, WM_NOTIFY, IDC_TABLE, reinterpret_cast<LPARAM>(&nm));
    }
    void Connected() { dlg->OnLogLine(LOG_AUX | LOG_INFO | LOG_CONNECTED, u"Авторизация...OK"); }
    int WindowHeight() const {
        RECT r;
        GetWindowRect(hwnd, &r);
        return r.bottom - r.top;
    }
};

TEST_F(MainWindowTest, CellsAndColourClassesFollowActivityAndConnection) {
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
    // The summary row is last, found by its item data, drawn in the button colours.
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

TEST_F(MainWindowTest, LogLinesDriveTitleTrayAndATrimmedColouredEventList) {
    {
        Model::Guard g(model);
        model.settings.LogMaxSize = 3;
        model.settings.TrafficSpeedAutoControll = 3;
    }
    dlg->OnLogLine(LOG_ERROR, u"e1");
    dlg->OnLogLine(LOG_WARN, u"w2");
    dlg->OnLogLine(LOG_LIMIT, u"l3");
    dlg->OnLogLine(LOG_INFO, u"i4");
    dlg->OnLogLine(LOG_AUX | LOG_INFO | LOG_CONNECTED, u"ok5");
    HWND list = dlg->EventList();
    ASSERT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 2);
    // The classes moved with their lines: limit, info, info.
    EXPECT_EQ(dlg->Log().EventColors().ItemColor(0), 2);
    EXPECT_EQ(dlg->Log().EventColors().ItemColor(1), 3);
    EXPECT_EQ(dlg->Log().EventColors().ItemColor(2), 3);
    wchar_t title[256];
    GetWindowTextW(hwnd, title, 256);
    EXPECT_EQ(U8(Text(reinterpret_cast<const char16_t*>(title))), "Movra - Подключен к ti.test");
    EXPECT_EQ(dlg->TrayIconHandle(), dlg->IconHandle(TrayIcon::kRegulating));

    // Status lines go to the status field and the tooltip only.
    Text longStatus(200, u'x');
    dlg->OnLogLine(LOG_STATUS, longStatus);
    wchar_t status[512];
    GetWindowTextW(dlg->StatusField(), status, 512);
    EXPECT_EQ(wcslen(status), 200u);
    EXPECT_EQ(dlg->TrayTip().size(), 127u);
    EXPECT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 3);

    // Monitoring mode announced while connected: the icon follows, the state does not change.
    {
        Model::Guard g(model);
        model.settings.TrafficSpeedAutoControll = 0;
    }
    dlg->OnLogLine(LOG_MODE, u"Режим мониторинга (только чтение)");
    EXPECT_EQ(dlg->TrayIconHandle(), dlg->IconHandle(TrayIcon::kMonitoring));
    EXPECT_EQ(dlg->ConnState(), LOG_AUX | LOG_INFO | LOG_CONNECTED);
    dlg->OnLogLine(0x12, u"Отключен");
    EXPECT_EQ(dlg->TrayIconHandle(), dlg->IconHandle(TrayIcon::kDisconnected));
    GetWindowTextW(hwnd, title, 256);
    EXPECT_EQ(U8(Text(reinterpret_cast<const char16_t*>(title))), "Movra - Отключен");
}

// The top-level windows of this process with the given title, in z-order.
std::vector<HWND> OwnWindows(const wchar_t* title) {
    struct S {
        const wchar_t* title;
        std::vector<HWND> found;
    } s{title, {}};
    EnumWindows(
        [](HWND h, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<S*>(lp);
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            wchar_t t[256] = {};
            GetWindowTextW(h, t, 256);
            if (pid == GetCurrentProcessId() && wcscmp(t, s->title) == 0) s->found.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// Finds a visible window of this process with the given title.
HWND FindOwnWindow(const wchar_t* title) {
    for (HWND h : OwnWindows(title))
        if (IsWindowVisible(h)) return h;
    return nullptr;
}

// Runs `body` on a driver thread once a window titled `title` shows, then closes that window;
// the caller runs the modal window meanwhile. Returns false when the window never showed.
std::thread Drive(const wchar_t* title, std::function<void(HWND)> body, bool* shown) {
    return std::thread([=] {
        auto end = std::chrono::steady_clock::now() + 10s;
        HWND w = nullptr;
        while (!w && std::chrono::steady_clock::now() < end) {
            w = FindOwnWindow(title);
            if (!w) std::this_thread::sleep_for(20ms);
        }
        *shown = w != nullptr;
        if (w) {
            SendMessageW(w, WM_NULL, 0, 0);  // its thread has finished creating it
            body(w);
            PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
        }
    });
}

// The rows in the log window's list when its dialog has just initialised, before its message
// loop has run (what the window shows first); -1 until then.
int g_rowsAtInit = -1;

LRESULT CALLBACK RowsAtInit(int code, WPARAM wp, LPARAM lp) {
    const auto* r = reinterpret_cast<const CWPRETSTRUCT*>(lp);
    if (code == HC_ACTION && r->message == WM_INITDIALOG && g_rowsAtInit < 0) {
        wchar_t title[64] = {};
        GetWindowTextW(r->hwnd, title, 64);
        if (wcscmp(title, L"Статистика") == 0)
            g_rowsAtInit = static_cast<int>(
                SendMessageW(GetDlgItem(r->hwnd, IDC_LOG_LIST), LVM_GETITEMCOUNT, 0, 0));
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

TEST_F(MainWindowTest, LogWindowShowsTheFileNewestFirstItsFirstRowsBeforeTheRestIsRead) {
    const int kLines = 100000;
    std::string text;
    for (int i = 1; i <= kLines; ++i)
        text += "01.12.2026 12:00:00 строка " + std::to_string(i) + "\n";
    FILE* f = OpenFile(FromUtf8(logName), "wb");
    ASSERT_NE(f, nullptr);
    std::string bytes = "\xFF\xFE" + EncodeUtf16Lines(FromUtf8(text));
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);

    std::vector<std::string> top;
    int rowsAtEnd = 0;
    bool shown = false;
    std::thread driver = Drive(
        L"Статистика",
        [&](HWND w) {
            HWND list = GetDlgItem(w, IDC_LOG_LIST);
            // The rest follows while the window is open.
            auto end = std::chrono::steady_clock::now() + 10s;
            while ((rowsAtEnd = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0))) <
                       kLines &&
                   std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(10ms);
            for (int r = 0; r < 3; ++r) {
                wchar_t buf[256] = {};
                LVITEMW it = {};
                it.pszText = buf;
                it.cchTextMax = 256;
                SendMessageW(list, LVM_GETITEMTEXTW, r, reinterpret_cast<LPARAM>(&it));
                top.push_back(U8(Text(reinterpret_cast<const char16_t*>(buf))));
            }
        },
        &shown);
    g_rowsAtInit = -1;
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROCRET, RowsAtInit, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    dlg->ShowLogWindow();
    UnhookWindowsHookEx(hook);
    driver.join();
    ASSERT_TRUE(shown);
    // The newest rows are there as the window first shows, without the whole file read.
    EXPECT_GT(g_rowsAtInit, 0);
    EXPECT_LT(g_rowsAtInit, kLines);
    EXPECT_EQ(rowsAtEnd, kLines);
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(top[0], "01.12.2026 12:00:00 строка 100000");
    EXPECT_EQ(top[1], "01.12.2026 12:00:00 строка 99999");
    EXPECT_EQ(top[2], "01.12.2026 12:00:00 строка 99998");
}

TEST_F(MainWindowTest, CommandsWhileADialogIsOpenNeitherCloseTheWindowNorOpenAnother) {
    int aboutBoxes = 0;
    bool windowAlive = false;
    bool shown = false;
    std::thread driver = Drive(
        L"О программе Movra",
        [&](HWND) {
            // What the tray menu sends while the about box is open: Exit, then another dialog.
            PostMessageW(hwnd, WM_COMMAND, ID_EXIT, 0);
            PostMessageW(hwnd, WM_COMMAND, IDM_ABOUTBOX, 0);
            PostMessageW(hwnd, WM_COMMAND, IDC_VIEW_LOG, 0);
            std::this_thread::sleep_for(kQuietWindow);
            EnumWindows(
                [](HWND h, LPARAM lp) -> BOOL {
                    DWORD pid = 0;
                    GetWindowThreadProcessId(h, &pid);
                    wchar_t t[256] = {};
                    GetWindowTextW(h, t, 256);
                    if (pid == GetCurrentProcessId() && IsWindowVisible(h) &&
                        (wcscmp(t, L"О программе Movra") == 0 || wcscmp(t, L"Статистика") == 0))
                        ++*reinterpret_cast<int*>(lp);
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&aboutBoxes));
            windowAlive = IsWindow(hwnd) != FALSE;
        },
        &shown);
    dlg->RunCommand(IDM_ABOUTBOX);
    driver.join();
    ASSERT_TRUE(shown);
    EXPECT_EQ(aboutBoxes, 1);
    EXPECT_TRUE(windowAlive);
    EXPECT_TRUE(IsWindow(hwnd));
}

// Watches for a window of this process titled `title` until `done`; closes it if it shows, and
// sets `finished` at its end. Its search reads the titles of the caller's windows, so the caller
// pumps messages until then instead of blocking in join.
std::thread Watch(const wchar_t* title, const std::atomic<bool>& done, std::atomic<bool>& shown,
                  std::atomic<bool>& finished) {
    return std::thread([title, &done, &shown, &finished] {
        auto end = std::chrono::steady_clock::now() + 10s;
        while (!done && std::chrono::steady_clock::now() < end) {
            if (HWND w = FindOwnWindow(title)) {
                shown = true;
                PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        finished = true;
    });
}

// A server that does not answer: creating its object waits until the test lets it fail.
class SilentServer : public TiConnector {
  public:
    std::unique_ptr<TiServer> Connect(const Text&) override {
        std::unique_lock<std::mutex> l(m_);
        called_ = true;
        cv_.notify_all();
        cv_.wait(l, [this] { return answer_; });
        throw TiError(static_cast<int32_t>(0x80004005));
    }
    bool Called() {
        std::lock_guard<std::mutex> l(m_);
        return called_;
    }
    void Answer() {
        std::lock_guard<std::mutex> l(m_);
        answer_ = true;
        cv_.notify_all();
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool called_ = false, answer_ = false;
};

// Exit while the worker waits on the server: the window and its tray icon stay, the tip says
// the program is finishing whatever lines arrive meanwhile, and the window goes only once the
// worker has ended.
TEST_F(MainWindowTest, ExitWaitingForASilentServerKeepsTheTrayIconWithItsTip) {
    SilentServer silent;
    WorkerEvents fresh;  // the window just closed has begun its exit on the fixture's
    fresh.idle.Set();
    struct ClosedFirst {  // before the server and events it uses
        std::unique_ptr<CmovraDlg>& window;
        ~ClosedFirst() {
            window.reset();
            Pump();
        }
    } closedFirst{dlg};
    dlg.reset();
    Pump();
    dlg = std::make_unique<CmovraDlg>(model, fresh, silent, clock);
    hwnd = dlg->CreateModeless(GetModuleHandleW(nullptr));
    ASSERT_NE(hwnd, nullptr);
    Pump(50ms);
    dlg->RunCommand(IDC_CONNECT);
    ASSERT_TRUE(PumpUntil([&] { return silent.Called(); }));
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    Pump(kQuietWindow);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(dlg->ConnState(), EXIT_PENDING);
    EXPECT_TRUE(dlg->TrayIconShown());
    EXPECT_EQ(U8(dlg->TrayTip()), "Movra: завершение работы...");
    dlg->OnLogLine(LOG_STATUS, u"Польз:0 Онлайн:0 Акт:0 Слабоакт:0 Спит:0");
    EXPECT_EQ(U8(dlg->TrayTip()), "Movra: завершение работы...");
    bool boxShown = false;  // the worker's box for the failed connection, answered
    std::thread driver = Drive(
        L"Movra", [](HWND) {}, &boxShown);
    silent.Answer();
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(hwnd); }));
    driver.join();
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

TEST_F(MainWindowTest, StatusLinesAndControlNotificationsRunNoCommand) {
    // A control's notification is no command, even when the control's id were a command's.
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(ID_TOGGLE_UNAUTHORISED, EN_CHANGE),
                 reinterpret_cast<LPARAM>(dlg->StatusField()));
    EXPECT_TRUE(dlg->UserTable().ShowUnauthorised());
    // Menu and accelerator commands still run.
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(ID_TOGGLE_UNAUTHORISED, 0), 0);
    EXPECT_FALSE(dlg->UserTable().ShowUnauthorised());
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(ID_TOGGLE_UNAUTHORISED, 1), 0);
    EXPECT_TRUE(dlg->UserTable().ShowUnauthorised());
    // And so does a click on one of the window's buttons: "Лог" opens the log window.
    FILE* f = OpenFile(FromUtf8(logName), "wb");
    ASSERT_NE(f, nullptr);
    fwrite("\xFF\xFE", 1, 2, f);
    fclose(f);
    std::atomic<bool> clicked{false}, logShown{false}, watchEnded{false};
    std::thread watch = Watch(L"Статистика", clicked, logShown, watchEnded);
    SendMessageW(GetDlgItem(hwnd, IDC_VIEW_LOG), BM_CLICK, 0, 0);
    clicked = true;
    while (!watchEnded) Pump(10ms);
    watch.join();
    EXPECT_TRUE(logShown);

    // With a dialog open, the status lines of a cycle leave the foreground where it is: on
    // another window, made by the driver's thread so that it takes the foreground at once.
    HWND other = nullptr, before = nullptr, after = nullptr;
    std::string status;
    bool shown = false;
    std::thread driver = Drive(
        L"О программе Movra",
        [&](HWND) {
            other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                    200, 100, nullptr, nullptr, nullptr, nullptr);
            SetForegroundWindow(other);
            before = GetForegroundWindow();
            for (int i = 0; i < 3; ++i) {
                Text line = Fmt(u"Польз:%d Онлайн:1 Акт:1 Слабоакт:0 Спит:0", i);
                SendMessageW(hwnd, WM_LOGLINE, LOG_STATUS, reinterpret_cast<LPARAM>(&line));
            }
            after = GetForegroundWindow();
            wchar_t buf[256] = {};
            GetWindowTextW(dlg->StatusField(), buf, 256);
            status = U8(Text(reinterpret_cast<const char16_t*>(buf)));
            DestroyWindow(other);
        },
        &shown);
    dlg->RunCommand(IDM_ABOUTBOX);
    driver.join();
    ASSERT_TRUE(shown);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(before, other);
    EXPECT_EQ(after, other);
    EXPECT_EQ(status, "Польз:2 Онлайн:1 Акт:1 Слабоакт:0 Спит:0");
}

// A refresh writes, sorts and places only what changed since the last one. Whatever happened in
// between, the table must read exactly as a new window's first refresh of the same lists: the
// same rows in the same order, cells, item data, colour classes and gauge positions.
TEST_F(MainWindowTest, RefreshesOfChangesShowWhatAFullRefreshShows) {
    struct Shown {
        std::vector<std::vector<std::string>> cells;
        std::vector<LPARAM> data;
        std::vector<int> colours, gauges;
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
            s.colours.push_back(d.UserTable().Colors().ItemColor(r));
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

        CmovraDlg fresh(model, events, server, clock);
        ASSERT_NE(fresh.CreateModeless(GetModuleHandleW(nullptr)), nullptr);
        fresh.OnLogLine(LOG_AUX | LOG_INFO | LOG_CONNECTED, u"Авторизация...OK");
        fresh.RebuildGauges();
        for (int col : clicks) click(fresh, col);
        if (hidden) fresh.RunCommand(ID_TOGGLE_UNAUTHORISED);
        fresh.RefreshTableNow();
        const Shown a = shown(*dlg), b = shown(fresh);
        EXPECT_EQ(a.cells, b.cells) << "round " << round;
        EXPECT_EQ(a.data, b.data) << "round " << round;
        EXPECT_EQ(a.colours, b.colours) << "round " << round;
        EXPECT_EQ(a.gauges, b.gauges) << "round " << round;
        if (!(a == b)) break;
    }
}

// ---- The channel chart ----

// Two groups over ten minutes with a 20-second gap: incoming 1000 + 500 under a 1800-wide
// channel, outgoing 300 + 300.
chart::View TwoGroupView() {
    chart::View v;
    v.range = chart::Range::k10Min;
    v.step = 1;
    v.series = {{1, u"Бухгалтерия", 0x1F77B4}, {2, u"Склад", 0xFF7F0E}};
    for (int i = 0; i < 600; ++i) {
        chart::Point p;
        p.time = 1'800'000'000 + i;
        p.gap = i >= 300 && i < 320;
        if (!p.gap) {
            p.in = {1000, 500};
            p.out = {300, 300};
            p.widthIn = p.widthOut = 1800;
        }
        v.points.push_back(p);
    }
    return v;
}

TEST(ChartPaint, AreasStackInOrderUnderTheWidthLineAndGapsStayEmpty) {
    const chart::View v = TwoGroupView();
    const RECT area = {0, 0, 1200, 600};
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(bi.bmiHeader), 1200, -600, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bmp, nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    PaintChart(dc, area, v, {1.0, u"кбит/с"});

    const ChartPlots plots = ChartPlotRects(area, v);
    // 1800 puts the scale's top at 2000.
    auto y = [](const RECT& plot, double kbit) {
        return plot.bottom - static_cast<int>(std::lround(kbit / 2000 * (plot.bottom - plot.top)));
    };
    auto x = [&](const RECT& plot, size_t i) {
        return (ChartColumnOf(plot, v, i) + ChartColumnOf(plot, v, i + 1)) / 2;
    };
    const COLORREF blue = RGB(0x1F, 0x77, 0xB4), orange = RGB(0xFF, 0x7F, 0x0E);
    const COLORREF white = RGB(255, 255, 255), black = RGB(0, 0, 0);
    const RECT& in = plots.in;
    for (size_t i : {50u, 200u, 500u}) {
        EXPECT_EQ(GetPixel(dc, x(in, i), y(in, 700)), blue) << i;
        EXPECT_EQ(GetPixel(dc, x(in, i), y(in, 1250)), orange) << i;
        EXPECT_EQ(GetPixel(dc, x(in, i), y(in, 1650)), white) << i;
        const int wy = y(in, 1800);
        const bool line =
            GetPixel(dc, x(in, i), wy) == black || GetPixel(dc, x(in, i), wy - 1) == black;
        EXPECT_TRUE(line) << i;
        EXPECT_NE(GetPixel(dc, x(in, i), wy + 4), black) << i;
        EXPECT_NE(GetPixel(dc, x(in, i), wy - 5), black) << i;
    }
    // The gap: neither areas nor line.
    for (size_t i : {301u, 310u, 318u}) {
        EXPECT_EQ(GetPixel(dc, x(in, i), y(in, 700)), white) << i;
        EXPECT_EQ(GetPixel(dc, x(in, i), y(in, 1800)), white) << i;
        EXPECT_EQ(GetPixel(dc, x(plots.out, i), y(plots.out, 150)), white) << i;
    }
    // Outgoing below, with its own figures: 300 + 300 on the same scale top as its width.
    EXPECT_GT(plots.out.top, in.bottom);
    EXPECT_EQ(GetPixel(dc, x(plots.out, 100), y(plots.out, 150)), blue);
    EXPECT_EQ(GetPixel(dc, x(plots.out, 100), y(plots.out, 450)), orange);
    EXPECT_EQ(GetPixel(dc, x(plots.out, 100), y(plots.out, 1200)), white);
    // The column under the mouse names the point drawn there.
    EXPECT_EQ(ChartPointAt(in, v, x(in, 310)), 310);
    EXPECT_EQ(ChartPointAt(in, v, in.left - 1), -1);

    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
}

constexpr wchar_t kChart[] = L"Movra - график канала";

int CountOwnWindows(const wchar_t* title) {
    return static_cast<int>(OwnWindows(title).size());
}

TEST_F(MainWindowTest, ChartOpensFromItsMenuItemsOnceShowsCyclesSwitchesRangeAndReopens) {
    // The item sits just above Exit in both menus.
    for (int menu : {IDR_TABLE_MENU, IDR_TRAY_MENU}) {
        HMENU m = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menu));
        HMENU sub = GetSubMenu(m, 0);
        const int n = GetMenuItemCount(sub);
        EXPECT_EQ(GetMenuItemID(sub, n - 1), static_cast<UINT>(ID_EXIT)) << menu;
        EXPECT_EQ(GetMenuItemID(sub, n - 2), static_cast<UINT>(ID_SHOW_CHART)) << menu;
        DestroyMenu(m);
    }

    // Cycles reach the history from a worker thread through the window link.
    ASSERT_TRUE(PumpUntil([&] { return dlg->LogWindow() != nullptr; }));
    std::atomic<bool> sent{false};
    std::thread worker([&] {
        CycleSummary s;
        s.at = StampNow(clock);
        s.groups = {{0, u"Без группы", 800, 200, 0, 0}};
        s.widthIn = s.widthOut = 2000;
        dlg->CycleSummaryReady(s);
        sent = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return sent.load(); }));
    worker.join();
    // A reconnection three seconds later: the seconds between are a gap, not held over.
    const int64_t first = StampNow(clock).steady;
    dlg->OnLogLine(LOG_OK_CONNECTED, u"Авторизация пользователя TI...OK");
    clock.Advance(3);
    CycleSummary again;
    again.at = StampNow(clock);
    again.groups = {{0, u"Без группы", 700, 100, 0, 0}};
    dlg->OnCycleSummary(again);

    PostMessageW(hwnd, WM_COMMAND, ID_SHOW_CHART, 0);
    ASSERT_TRUE(PumpUntil([&] { return FindOwnWindow(kChart) != nullptr; }));
    HWND chartWnd = FindOwnWindow(kChart);
    EXPECT_EQ(chartWnd, dlg->Chart().Hwnd());
    EXPECT_EQ(GetWindow(chartWnd, GW_OWNER), nullptr);
    const chart::View& shown = dlg->Chart().Shown();
    EXPECT_EQ(shown.points.size(), 600u);
    auto at = [&](int64_t t) {
        return std::find_if(shown.points.begin(), shown.points.end(),
                            [t](const chart::Point& p) { return p.time == t; });
    };
    ASSERT_NE(at(first), shown.points.end());
    ASSERT_NE(at(first + 3), shown.points.end());
    EXPECT_FALSE(at(first)->gap);
    EXPECT_TRUE(at(first + 1)->gap);
    EXPECT_TRUE(at(first + 2)->gap);
    EXPECT_FALSE(at(first + 3)->gap);

    dlg->RunCommand(ID_SHOW_CHART);
    Pump(50ms);
    EXPECT_EQ(dlg->Chart().Hwnd(), chartWnd);
    EXPECT_EQ(CountOwnWindows(kChart), 1);

    // The "1 час" button.
    HWND hour = FindWindowExW(chartWnd, nullptr, WC_BUTTONW, L"1 час");
    ASSERT_NE(hour, nullptr);
    SendMessageW(hour, BM_CLICK, 0, 0);
    EXPECT_EQ(dlg->Chart().Range(), chart::Range::k1Hour);
    EXPECT_EQ(dlg->Chart().Shown().points.size(), 3600u);

    SendMessageW(chartWnd, WM_CLOSE, 0, 0);
    Pump(50ms);
    EXPECT_FALSE(IsWindow(chartWnd));
    EXPECT_EQ(dlg->Chart().Hwnd(), nullptr);
    dlg->RunCommand(ID_SHOW_CHART);
    ASSERT_TRUE(PumpUntil([&] { return FindOwnWindow(kChart) != nullptr; }));
    EXPECT_EQ(CountOwnWindows(kChart), 1);
}

TEST_F(MainWindowTest, TheChartRedrawsOnItsTimerAfterTheClockIsSetBack) {
    auto cycle = [&] {
        CycleSummary s;
        s.at = StampNow(clock);
        s.groups = {{0, u"Без группы", 800, 200, 0, 0}};
        dlg->OnCycleSummary(s);
        return s.at;
    };
    const ClockStamp before = cycle();
    dlg->ShowChart();
    ASSERT_NE(dlg->Chart().Hwnd(), nullptr);
    // The administrator sets the clock back ten minutes; a second later the next cycle comes.
    int redraws = dlg->Chart().Redraws();
    clock.Set(clock.Now() - 600);
    clock.Advance(1);
    const ClockStamp after = cycle();
    ASSERT_TRUE(PumpUntil([&] { return dlg->Chart().Redraws() > redraws; }));
    const chart::View& v = dlg->Chart().Shown();
    ASSERT_GE(v.points.size(), 2u);
    const chart::Point& last = v.points.back();
    const chart::Point& prev = v.points[v.points.size() - 2];
    EXPECT_FALSE(last.gap);
    EXPECT_FALSE(prev.gap);
    EXPECT_EQ(last.local, after.local);
    EXPECT_EQ(prev.local, before.local);
    EXPECT_EQ(after.local, before.local + 1 - 600);
    // And on schedule after that, with no cycle either.
    redraws = dlg->Chart().Redraws();
    clock.Advance(1);
    ASSERT_TRUE(PumpUntil([&] { return dlg->Chart().Redraws() > redraws; }));
}

TEST_F(MainWindowTest, ChartOpensBesideAModalDialogWhichStaysTheOneBroughtForward) {
    HWND picked = nullptr, about = nullptr, chartWnd = nullptr;
    bool shown = false;
    std::thread driver = Drive(
        L"О программе Movra",
        [&](HWND box) {
            about = box;
            PostMessageW(hwnd, WM_COMMAND, ID_SHOW_CHART, 0);
            auto end = std::chrono::steady_clock::now() + 10s;
            while (!(chartWnd = FindOwnWindow(kChart)) && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(20ms);
            // The chart is now the window last activated; a refused command still finds the box.
            SendMessageW(chartWnd, WM_NULL, 0, 0);
            picked = dlg->ModalDialog();
            PostMessageW(hwnd, WM_COMMAND, IDC_OPTIONS, 0);
            std::this_thread::sleep_for(kQuietWindow);
        },
        &shown);
    dlg->RunCommand(IDM_ABOUTBOX);
    driver.join();
    ASSERT_TRUE(shown);
    ASSERT_NE(chartWnd, nullptr);
    EXPECT_EQ(picked, about);
    EXPECT_TRUE(IsWindow(chartWnd));
}

TEST_F(MainWindowTest, AChartCsvThatCannotBeWrittenIsReportedInABox) {
    dlg->ShowChart();
    ASSERT_NE(dlg->Chart().Hwnd(), nullptr);
    Text reported;
    bool shown = false;
    std::thread driver = Drive(
        L"Movra",
        [&](HWND box) {
            wchar_t text[512] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 512);
            reported = Text(reinterpret_cast<const char16_t*>(text));
        },
        &shown);
    EXPECT_FALSE(dlg->Chart().SaveCsv(u"Z:\\нет такой папки\\канал.csv"));
    driver.join();
    ASSERT_TRUE(shown);
    EXPECT_NE(U8(reported).find("канал.csv"), std::string::npos) << U8(reported);
}
}  // namespace
}  // namespace movra
