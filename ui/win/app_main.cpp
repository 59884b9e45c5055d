// Movra.exe: starts the application (Movra.cfg), runs the main window over it modally, and
// ends the application's exit once the window has closed. When the service Movra runs, the same
// window shows the service's application over the pipe instead, and closing it leaves the
// service regulating.
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <clocale>
#include <memory>
#include <mutex>
#include <string>

#include "app/application.h"
#include "core/events.h"
#include "engine/win/com_connector.h"
#include "engine/win/regulator_mutex.h"
#include "remote/remote_app.h"
#include "remote/win/pipe_connection.h"
#include "ui/win/main_window.h"
#include "ui/win/service_start.h"
#include "ui/win/win_util.h"

namespace {

// Boxes while no window is there: without an owner.
class OwnerlessBoxes : public movra::MessagePort {
  public:
    void ShowMessage(const movra::Text& text) override {
        movra::ShowMessageBox(nullptr, text, movra::BoxIcon::kNone);
    }
};

// Handles what is queued for this thread, including the messages the workers send to it.
void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// How long the service has to welcome the window.
constexpr std::chrono::seconds kWelcomeWait{15};

// Who opens, for the service's log line: "<user>@<computer>, процесс <pid>".
movra::Text WhoOpens() {
    wchar_t user[256] = {}, computer[256] = {};
    DWORD n = 256;
    GetUserNameW(user, &n);
    n = 256;
    GetComputerNameW(computer, &n);
    return movra::FromWide(user) + u"@" + movra::FromWide(computer) + u", процесс " +
           movra::FromUtf8(std::to_string(GetCurrentProcessId()));
}

// The window over the service's application, until it closes.
int RunClient(HINSTANCE inst, HANDLE pipe) {
    auto link = std::make_shared<movra::remote::PipeConnection>(pipe);
    movra::CmovraDlg* window = nullptr;
    std::optional<movra::Text> lostEarly;  // before the window was there
    std::mutex windowLock;
    movra::remote::RemoteAppOptions options;
    options.client = WhoOpens();
    options.lost = [&](const movra::Text& why) {
        std::lock_guard<std::mutex> hold(windowLock);
        if (window)
            window->ServiceLost(why);
        else if (!lostEarly)
            lostEarly = why;
    };
    options.endProcess = [] {
        TerminateProcess(GetCurrentProcess(), 0);
        ExitProcess(0);
    };
    movra::remote::RemoteApp app(*link, std::move(options));
    link->Start([&app](movra::remote::Message m) { app.Receive(std::move(m)); },
                [&app](const movra::Text& why) { app.Gone(why); });
    if (const std::optional<movra::Text> refused = app.Open(kWelcomeWait)) {
        link->Shut(u"");
        movra::ShowMessageBox(nullptr, *refused, movra::BoxIcon::kExclamation);
        return 0;
    }
    {
        movra::CmovraDlg dlg(app);
        dlg.ShowService(movra::StopServiceFromWindow, [&app](bool restart, uint32_t count) {
            movra::remote::LogPage page = app.ReadLog(restart, count);
            return movra::LogPageRead{std::move(page.lines), page.end, std::move(page.error)};
        });
        {
            std::lock_guard<std::mutex> hold(windowLock);
            window = &dlg;
            if (lostEarly) dlg.ServiceLost(*lostEarly);
        }
        dlg.RunModal(inst);
        std::lock_guard<std::mutex> hold(windowLock);
        window = nullptr;
    }
    link->Shut(u"");
    // Nothing is left to finish once the window has gone, and a box the service's notice opened
    // must not hold the process, as a worker's box does not hold the desktop edition's exit.
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), 0xFF};
    InitCommonControlsEx(&icc);
    setlocale(LC_ALL, "");
    const movra::StartChoice choice = movra::ChooseEdition();
    if (choice.edition == movra::Edition::kQuit) return 0;
    if (choice.edition == movra::Edition::kClient) return RunClient(inst, choice.pipe);
    OwnerlessBoxes boxes;
    movra::AppHost host;
    host.messages = &boxes;
    // Not ExitProcess: a worker stuck in a server call is cut off, not waited for by the
    // libraries' detach code.
    host.endProcess = [] {
        TerminateProcess(GetCurrentProcess(), 0);
        ExitProcess(0);
    };
    // The service or another session's copy may already regulate: Connect then says so.
    movra::RegulatorMutex regulator;
    host.regulator = &regulator;
    host.busy = movra::BusyRegulator::kRefuse;
    movra::WorkerEvents events;
    movra::ComConnector connector;
    movra::Application app(connector, events, std::move(host));
    app.StartUp();
    movra::CmovraDlg dlg(app);
    dlg.RunModal(inst);
    app.EndExit(PumpMessages);
    return 0;
}
