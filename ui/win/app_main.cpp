// Movra.exe: starts the application (Movra.cfg), runs the main window over it modally, and
// ends the application's exit once the window has closed.
#include <windows.h>

#include <commctrl.h>

#include <clocale>

#include "app/application.h"
#include "core/events.h"
#include "engine/win/com_connector.h"
#include "engine/win/regulator_mutex.h"
#include "ui/win/main_window.h"
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

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), 0xFF};
    InitCommonControlsEx(&icc);
    setlocale(LC_ALL, "");
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
