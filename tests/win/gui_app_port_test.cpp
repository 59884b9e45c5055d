// The real main window over a recording AppPort, in-process on a private Xvfb display: its
// buttons, menus and close box become the requests they name, and a worker's line reaches the
// application on the window's thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/recording_app_port.h"
#include "core/log_flags.h"
#include "main_window_fixture.h"
#include "ui/win/main_window.h"
#include "ui/win/resource.h"

namespace movra {
namespace {

using gui_test::PumpUntil;

using namespace std::chrono_literals;

void Click(HWND window, int id) {
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void Menu(HWND window, int id) {
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

TEST(MainWindowOverAppPort, CommandsLinesAndCloseBecomeRequests) {
    testing::RecordingAppPort app;
    app.snapshot.settings.LogFileName.clear();
    ManualClock clock;
    CmovraDlg dlg(app, clock);
    EXPECT_EQ(app.attached, &dlg);
    HWND hwnd = dlg.CreateModeless(GetModuleHandleW(nullptr));
    ASSERT_NE(hwnd, nullptr);
    // After the first paint the window is published to the workers.
    ASSERT_TRUE(PumpUntil([&] { return dlg.LogWindow() != nullptr; }));
    app.requests.clear();

    Menu(hwnd, ID_MODE_DIVIDE);
    Menu(hwnd, ID_MODE_MONITOR);
    Menu(hwnd, IDC_IMPORT_USERS);
    Click(hwnd, IDC_CONNECT);
    Click(hwnd, IDC_DISCONNECT);
    Menu(hwnd, ID_LOAD_CONFIG);
    EXPECT_EQ(app.requests, (std::vector<std::string>{"SetMode 3", "SetMode 0", "Import 1",
                                                      "Connect", "Disconnect", "Load"}));

    // A worker's line: sent from its thread, taken by the application on the window's.
    app.requests.clear();
    std::thread worker([&] { dlg.LogLine(LOG_INFO, u"строка"); });
    const bool taken = PumpUntil([&] { return !app.requests.empty(); });
    worker.join();
    ASSERT_TRUE(taken);
    EXPECT_EQ(app.requests[0], "TakeLogLine " + std::to_string(LOG_INFO) + " строка");

    app.requests.clear();
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(app.requests, std::vector<std::string>{"RequestExit"});
    EXPECT_FALSE(IsWindow(hwnd));
}

// The service's window: "Остановить службу" stops nothing without a Yes; the service's end closes
// the window after a box with the reason, and without one once the window asked for the stop.
TEST(MainWindowOverAppPort, TheServiceWindowAsksBeforeTheStopAndClosesWhenTheServiceGoes) {
    for (const bool stopAsked : {false, true}) {
        SCOPED_TRACE(stopAsked ? "after its own stop" : "the service went");
        testing::RecordingAppPort app;
        app.snapshot.settings.LogFileName.clear();
        ManualClock clock;
        CmovraDlg dlg(app, clock);
        int stops = 0;
        dlg.ShowService(
            [&](HWND) {
                ++stops;
                return true;
            },
            {});
        HWND hwnd = dlg.CreateModeless(GetModuleHandleW(nullptr));
        ASSERT_NE(hwnd, nullptr);
        ASSERT_TRUE(PumpUntil([&] { return dlg.LogWindow() != nullptr; }));
        std::wstring asked;
        auto answer = [&](WPARAM button) {
            return [&asked, button](HWND box) {
                wchar_t text[512] = {};
                GetDlgItemTextW(box, 0xFFFF, text, 512);
                asked = text;
                PostMessageW(box, WM_COMMAND, button, 0);
            };
        };
        bool shown = false;
        std::thread no = gui_test::Drive(L"Movra", answer(IDNO), &shown);
        Menu(hwnd, ID_STOP_SERVICE);
        no.join();
        ASSERT_TRUE(shown);
        EXPECT_EQ(asked.rfind(L"Остановить службу Movra?", 0), 0u);
        EXPECT_EQ(stops, 0);
        if (stopAsked) {
            std::thread yes = gui_test::Drive(L"Movra", answer(IDYES), &shown);
            Menu(hwnd, ID_STOP_SERVICE);
            yes.join();
            EXPECT_EQ(stops, 1);
        }
        asked.clear();
        shown = false;
        std::thread told;
        if (!stopAsked) told = gui_test::Drive(L"Movra", answer(IDOK), &shown);
        std::thread([&] { dlg.ServiceLost(u"Связь со службой Movra прервана"); }).join();
        EXPECT_TRUE(PumpUntil([&] { return !IsWindow(hwnd); }));
        if (told.joinable()) told.join();
        EXPECT_EQ(asked, stopAsked ? L"" : L"Связь со службой Movra прервана");
    }
}

}  // namespace
}  // namespace movra
