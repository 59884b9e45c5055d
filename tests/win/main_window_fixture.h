#pragma once
// What the main window's in-process tests share (under Wine on a private Xvfb display): a window
// over its own lists with a connector that never reaches a server, message pumps with deadlines,
// and driver threads that answer the message boxes and modal windows, so nothing can hang.
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

#include "app/application.h"
#include "core/log_flags.h"
#include "core/textfile.h"
#include "ui/win/main_window.h"
#include "ui/win/resource.h"

namespace movra::gui_test {

using namespace std::chrono_literals;

class NoServer : public TiConnector {
  public:
    std::unique_ptr<TiServer> Connect(const Text&) override {
        throw TiError(static_cast<int32_t>(0x80040154));
    }
};

inline std::string U8(const Text& t) {
    return ToUtf8(t);
}

// A check that something does NOT happen watches for this long; everything else waits for what
// it expects, with a deadline.
constexpr std::chrono::milliseconds kQuietWindow(500);

inline void Pump(std::chrono::milliseconds for_ = 0ms) {
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
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        Pump(5ms);
    }
    return true;
}

struct MainWindowTest : ::testing::Test {
    ManualClock clock;
    WorkerEvents events;
    NoServer server;
    Application app{server, events, AppHost{}, clock};
    Model& model = app.LiveModel();
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
        dlg = std::make_unique<CmovraDlg>(app, clock);
        hwnd = dlg->CreateModeless(GetModuleHandleW(nullptr));
        ASSERT_NE(hwnd, nullptr);
        Pump(50ms);
    }
    void TearDown() override {
        app.EndExit([] { Pump(); });
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

// The top-level windows of this process with the given title, in z-order.
inline std::vector<HWND> OwnWindows(const wchar_t* title) {
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
inline HWND FindOwnWindow(const wchar_t* title) {
    for (HWND h : OwnWindows(title))
        if (IsWindowVisible(h)) return h;
    return nullptr;
}

// Runs `body` on a driver thread once a window titled `title` shows, then closes that window;
// the caller runs the modal window meanwhile. Returns false when the window never showed.
inline std::thread Drive(const wchar_t* title, std::function<void(HWND)> body, bool* shown) {
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

// Watches for a window of this process titled `title` until `done`; closes it if it shows, and
// sets `finished` at its end. Its search reads the titles of the caller's windows, so the caller
// pumps messages until then instead of blocking in join.
inline std::thread Watch(const wchar_t* title, const std::atomic<bool>& done,
                         std::atomic<bool>& shown, std::atomic<bool>& finished) {
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

}  // namespace movra::gui_test
