// MovraService.exe: with no argument, the service as the service control manager starts it;
// otherwise one command for scripts, the installer and an administrator.
#include <windows.h>

#include <clocale>
#include <string_view>

#include "service/win/console_run.h"
#include "service/win/scm_commands.h"
#include "service/win/scm_service.h"
#include "service/win/win_text.h"

namespace {

const movra::Text kUsageLine =
    u"Использование: MovraService.exe install | uninstall | start | stop | run";

int Usage() {
    movra::service::WriteLine(STD_ERROR_HANDLE, kUsageLine);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    using namespace movra::service;
    // As Movra.exe does: the same formatting of what the application writes.
    setlocale(LC_ALL, "");
    if (argc > 2) return Usage();
    try {
        if (argc == 1) return RunServiceDispatcher() ? 0 : Usage();
        const std::wstring_view command = argv[1];
        if (command == L"install") {
            InstallService();
        } else if (command == L"uninstall") {
            UninstallService();
        } else if (command == L"start") {
            StartTheService();
        } else if (command == L"stop") {
            StopTheService();
        } else if (command == L"run") {
            RunInConsole();
        } else {
            return Usage();
        }
    } catch (const CommandError& e) {
        WriteLine(STD_ERROR_HANDLE, ErrorLine(e));
        return 1;
    }
    return 0;
}
