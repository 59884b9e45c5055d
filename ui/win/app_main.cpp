// Movra.exe: registers the common controls, prepares the main window and runs it modally;
// the program ends when that window closes.
#include <windows.h>

#include <commctrl.h>

#include "core/events.h"
#include "core/model.h"
#include "engine/win/com_connector.h"
#include "ui/win/main_window.h"

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), 0xFF};
    InitCommonControlsEx(&icc);
    movra::Model model;
    movra::WorkerEvents events;
    movra::ComConnector connector;
    movra::CmovraDlg dlg(model, events, connector);
    dlg.PrepareStartup();
    dlg.RunModal(inst);
    return 0;
}
