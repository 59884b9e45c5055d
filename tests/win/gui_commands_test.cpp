// The main window's commands, tray and exit in-process: commands while a dialog is open, which
// messages are commands, and an exit that waits for a silent server.
#include "hung_connector.h"
#include "main_window_fixture.h"

namespace movra::gui_test {
namespace {

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

// Exit while the worker waits on the server: the window and its tray icon stay, the tip says
// the program is finishing whatever lines arrive meanwhile, and the window goes only once the
// worker has ended.
TEST_F(MainWindowTest, ExitWaitingForASilentServerKeepsTheTrayIconWithItsTip) {
    test::HungConnector silent{static_cast<int32_t>(0x80004005)};
    WorkerEvents fresh;
    fresh.idle.Set();
    Application silentApp(silent, fresh, AppHost{}, clock);
    {
        Model::Guard g(model);
        Model& m = silentApp.LiveModel();
        Model::Guard h(m);
        m.settings.LogFileName = model.settings.LogFileName;
        m.settings.Server = model.settings.Server;
    }
    struct ClosedFirst {  // before the application, server and events it uses
        std::unique_ptr<CmovraDlg>& window;
        Application& app;
        ~ClosedFirst() {
            app.EndExit([] { Pump(); });
            window.reset();
            Pump();
        }
    } closedFirst{dlg, silentApp};
    dlg.reset();
    Pump();
    dlg = std::make_unique<CmovraDlg>(silentApp, clock);
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

}  // namespace
}  // namespace movra::gui_test
