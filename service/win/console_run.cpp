#include "service/win/console_run.h"

#include <windows.h>

#include <mutex>

#include "service/win/service_setup.h"
#include "service/win/system_parts.h"
#include "service/win/win_text.h"
#include "service/win/window_pipe.h"

namespace movra::service {

namespace {

std::mutex g_lock;
ServiceHost* g_host = nullptr;
HANDLE g_ended = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (g_host) g_host->RequestStop();
    }
    // The system ends the process when this returns from a close, log-off or shutdown: hold it
    // while the exit runs (the system's own limit still applies).
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        WaitForSingleObject(g_ended, INFINITE);
    }
    return TRUE;
}

}  // namespace

void RunInConsole() {
    EnterDataFolder();
    g_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SystemParts system;
    ServiceHostParts parts = system.Parts();
    parts.endProcess = [] { TerminateProcess(GetCurrentProcess(), 0); };
    const auto echo = [](const Text& text) {
        WriteLine(STD_OUTPUT_HANDLE,
                  ClockText(SystemClock().LocalNow(), {.date = false}) + u" " + text);
    };
    parts.echo = [echo](uint32_t, const Text& text) { echo(text); };
    {
        ServiceHost host(std::move(parts));
        WindowPipe windows(host.Clients(), system.events, echo);
        {
            std::lock_guard<std::mutex> hold(g_lock);
            g_host = &host;
        }
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
        host.Run([] {});
        std::lock_guard<std::mutex> hold(g_lock);
        g_host = nullptr;
    }
    SetEvent(g_ended);
}

}  // namespace movra::service
