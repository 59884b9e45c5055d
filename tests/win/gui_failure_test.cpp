// The main window in-process under Wine on a private Xvfb display: a command that fails inside the
// window's procedure leaves an error line in the event log and a window that goes on working.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/application.h"
#include "core/log_flags.h"
#include "main_window_fixture.h"
#include "ui/win/main_window.h"
#include "ui/win/resource.h"

namespace movra {
namespace {

using gui_test::PumpUntil;

using namespace std::chrono_literals;

class NoServer : public TiConnector {
  public:
    std::unique_ptr<TiServer> Connect(const Text&) override {
        throw TiError(static_cast<int32_t>(0x80040154));
    }
};

Text LastEventLine(HWND list) {
    const LRESULT n = SendMessageW(list, CB_GETCOUNT, 0, 0);
    if (n <= 0) return {};
    std::wstring buf(static_cast<size_t>(SendMessageW(list, CB_GETLBTEXTLEN, n - 1, 0)) + 1, L'\0');
    SendMessageW(list, CB_GETLBTEXT, n - 1, reinterpret_cast<LPARAM>(buf.data()));
    return Text(reinterpret_cast<const char16_t*>(buf.c_str()));
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool EndsWith(const Text& s, const Text& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(WindowFailure, AFailingCommandLeavesAnErrorLineAndAWindowThatGoesOn) {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), 0xFF};
    InitCommonControlsEx(&icc);
    const std::string stem = "gui_failure_" + std::to_string(GetCurrentProcessId());
    ManualClock clock;
    WorkerEvents events;
    NoServer server;
    Application app{server, events, AppHost{}, clock};
    Model& model = app.LiveModel();
    {
        Model::Guard g(model);
        model.settings.LogFileName = FromUtf8(stem + ".log");
        model.settings.ConfigFileName = FromUtf8(stem + ".cfg");
    }
    events.idle.Set();
    auto dlg = std::make_unique<CmovraDlg>(app, clock);
    HWND hwnd = dlg->CreateModeless(GetModuleHandleW(nullptr));
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return dlg->LogWindow() != nullptr; }));

    // A group count beyond the list: the save's walk over the groups runs out of it.
    int32_t groups;
    {
        Model::Guard g(model);
        groups = model.NumGroups;
        model.NumGroups = static_cast<int32_t>(model.Groups.size()) + 1;
    }
    SendMessageW(hwnd, WM_COMMAND, ID_SAVE_CONFIG, 0);
    {
        Model::Guard g(model);
        model.NumGroups = groups;
    }
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_TRUE(EndsWith(LastEventLine(dlg->EventList()),
                         u"Внутренняя ошибка окна: group index out of range."));
    const int last = static_cast<int>(SendMessageW(dlg->EventList(), CB_GETCOUNT, 0, 0)) - 1;
    EXPECT_EQ(dlg->Log().EventColors().ItemColor(last), kLogClassError);
    EXPECT_FALSE(Exists(stem + ".cfg"));

    // The window still takes commands: the same save now writes the file.
    SendMessageW(hwnd, WM_COMMAND, ID_SAVE_CONFIG, 0);
    EXPECT_TRUE(Exists(stem + ".cfg"));

    app.EndExit([] {});
    dlg.reset();
    std::remove((stem + ".cfg").c_str());
    std::remove((stem + ".log").c_str());
}

}  // namespace
}  // namespace movra
