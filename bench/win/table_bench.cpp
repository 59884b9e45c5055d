// The main window's user table refresh in-process, timed per refresh (run under Wine or on
// Windows, on a display; tests/win/editors_xvfb.sh gives it a private Xvfb one):
//   table_bench.exe [refreshes]
// Google Benchmark is not built for MinGW here, so this is a plain timing loop. Each case makes
// its changes in the lists, then times RefreshTableNow alone and the painting it causes (the
// messages pumped after it) separately, and prints the means. Last, the log window on a long
// file: how soon its first rows show and when the whole file is in.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/application.h"
#include "bench/win/window_bench.h"
#include "core/log_flags.h"
#include "core/textfile.h"
#include "ui/win/main_window.h"
#include "ui/win/resource.h"

namespace movra {
namespace {

using bench::Ms;
using bench::NoServer;
using bench::Pump;
using Clock_ = bench::Steady;

struct Bench {
    ManualClock clock;
    WorkerEvents events;
    NoServer server;
    Application app{server, events, AppHost{}, clock};
    Model& model = app.LiveModel();
    std::unique_ptr<CmovraDlg> dlg;
    HWND hwnd = nullptr;

    bool Open(const std::string& logName) {
        {
            Model::Guard g(model);
            model.settings.LogFileName = FromUtf8(logName);
            model.settings.Server = u"ti.test";
        }
        events.idle.Set();
        dlg = std::make_unique<CmovraDlg>(app, clock);
        hwnd = dlg->CreateModeless(GetModuleHandleW(nullptr));
        if (!hwnd) return false;
        ShowWindow(hwnd, SW_SHOW);
        Pump();
        return true;
    }

    // Fills the lists with n users and refreshes once, inserting every row; returns the time of
    // that refresh.
    double Fill(int n) {
        {
            Model::Guard g(model);
            model.ClearUsers();
            for (int i = 0; i < n; ++i) {
                const int k = model.AddUserByName(Fmt(u"user%04d", i));
                CTiUserData& u = model.Users[k];
                u.ActivityClass = i % 4;
                u.Online = 1;
                u.RxLoad = i % 120;
                u.RxSpeed = i * 1.5;
                u.UserKTraff = float(i % 7);
                u.IP = Fmt(u"10.0.%d.%d", i / 250, i % 250);
                u.LastActivity = {2026, 12, 0, 1, 12, 0, 0, 0};
            }
        }
        dlg->RebuildGauges();
        dlg->OnLogLine(LOG_AUX | LOG_INFO | LOG_CONNECTED, u"Авторизация...OK");
        auto t0 = Clock_::now();
        dlg->RefreshTableNow();  // inserts the rows
        const double ms = Ms(t0);
        Pump();
        return ms;
    }

    void ClickHeader(int col) {
        NMLISTVIEW nm = {};
        nm.hdr.hwndFrom = dlg->UserTable().Hwnd();
        nm.hdr.idFrom = IDC_TABLE;
        nm.hdr.code = LVN_COLUMNCLICK;
        nm.iItem = -1;
        nm.iSubItem = col;
        SendMessageW(hwnd, WM_NOTIFY, IDC_TABLE, reinterpret_cast<LPARAM>(&nm));
        Pump();
    }

    // `change(refresh)` edits the lists before each refresh.
    void Run(const char* what, int refreshes, const std::function<void(int)>& change) {
        // One refresh first, untimed: the first after a change of case also pays for one-off work.
        {
            Model::Guard g(model);
            change(refreshes);
        }
        dlg->RefreshTableNow();
        Pump();
        double refresh = 0, paint = 0, worst = 0, best = 1e300;
        for (int i = 0; i < refreshes; ++i) {
            {
                Model::Guard g(model);
                change(i);
            }
            auto t0 = Clock_::now();
            dlg->RefreshTableNow();
            const double ms = Ms(t0);
            auto t1 = Clock_::now();
            Pump();
            paint += Ms(t1);
            refresh += ms;
            worst = std::max(worst, ms);
            best = std::min(best, ms);
        }
        // On a shared machine the minimum tells the code's cost from the machine's load.
        std::printf(
            "%-46s %5d refreshes  refresh %8.2f ms (min %8.2f, max %8.2f)  paint after %7.2f ms\n",
            what, refreshes, refresh / refreshes, best, worst, paint / refreshes);
        std::fflush(stdout);
    }
};

// Opens the log window on a file of `lines` lines and prints when its first rows were there
// and when all of them, timed from the command; a thread watches the list and closes it.
void LogWindow(Bench& b, const std::string& logName, int lines) {
    std::string text;
    for (int i = 1; i <= lines; ++i)
        text += "01.12.2026 12:00:00 строка " + std::to_string(i) + "\n";
    FILE* f = OpenFile(FromUtf8(logName), "wb");
    if (!f) return;
    const std::string bytes = "\xFF\xFE" + EncodeUtf16Lines(FromUtf8(text));
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    double first = -1, all = -1;
    const auto t0 = Clock_::now();
    std::thread watch([&] {
        const auto end = Clock_::now() + std::chrono::seconds(60);
        HWND list = nullptr;
        while (Clock_::now() < end) {
            if (!list) {
                HWND w = FindWindowW(nullptr, L"Статистика");
                DWORD pid = 0;
                if (w) GetWindowThreadProcessId(w, &pid);
                if (pid == GetCurrentProcessId()) list = GetDlgItem(w, IDC_LOG_LIST);
            }
            const LRESULT n = list ? SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) : 0;
            if (n > 0 && first < 0) first = Ms(t0);
            if (n >= lines) {
                all = Ms(t0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (list) PostMessageW(GetParent(list), WM_COMMAND, IDCANCEL, 0);
    });
    b.dlg->ShowLogWindow();
    watch.join();
    std::printf("log window, %d-line file: first rows after %.0f ms, all after %.0f ms\n", lines,
                first, all);
}

}  // namespace
}  // namespace movra

int main(int argc, char** argv) {
    using namespace movra;
    const int refreshes = argc > 1 ? std::atoi(argv[1]) : 100;
    constexpr int kUsers = 2000;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), 0xFF};
    InitCommonControlsEx(&icc);
    const std::string logName = "table_bench_" + std::to_string(GetCurrentProcessId()) + ".log";

    Bench b;
    if (!b.Open(logName)) {
        std::fprintf(stderr, "table_bench: the main window cannot be created\n");
        return 1;
    }
    // A smaller office first: the refresh that inserts every row, and a cycle's refresh.
    for (int n : {500, kUsers}) {
        const double insert = b.Fill(n);
        std::printf("RefreshTableNow, %d users: inserting every row %.1f ms\n", n, insert);
        if (n == kUsers) break;
        b.Run("500 users: all changed, order kept", refreshes, [&](int) {
            for (int i = 0; i < n; ++i) b.model.Users[i].RxSpeed += 1;
        });
    }
    std::printf("RefreshTableNow, %d users, mean per refresh:\n", kUsers);

    // A usual cycle: a few users' received totals move (column 4), nothing else.
    b.Run("20 cells changed", refreshes, [&](int r) {
        for (int k = 0; k < 20; ++k) b.model.Users[(r * 20 + k) % kUsers].RxTotal += 1048576.0;
    });
    // Nothing changed at all.
    b.Run("nothing changed", refreshes, [](int) {});
    // Every user's speed, total and load move; the order (by name) stays.
    b.Run("all users changed, order kept", refreshes, [&](int r) {
        for (int i = 0; i < kUsers; ++i) {
            CTiUserData& u = b.model.Users[i];
            u.RxSpeed += 1;
            u.RxTotal += 1048576.0;
            u.RxLoad = (i + r) % 120;
        }
    });
    // Sorted by speed, and every speed moves so that the order changes each time.
    b.ClickHeader(7);
    b.Run("all users changed, sorted by a changed column", refreshes, [&](int r) {
        for (int i = 0; i < kUsers; ++i) {
            CTiUserData& u = b.model.Users[i];
            u.RxSpeed = double((i * 7919 + r * 104729) % 100000);
            u.RxLoad = (i + r) % 120;
        }
    });
    LogWindow(b, logName, 100000);
    b.dlg.reset();
    Pump();
    std::remove(logName.c_str());
    return 0;
}
