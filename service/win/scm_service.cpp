// ServiceMain and its control handler: the host's run reported to the service control manager.
#include "service/win/scm_service.h"

#include <windows.h>

#include <mutex>

#include "service/win/service_setup.h"
#include "service/win/system_parts.h"
#include "service/win/win_text.h"
#include "service/win/window_pipe.h"

namespace movra::service {

namespace {

// The controls the running service takes. Preshutdown asks Windows to wait for the exit action
// (up to the preshutdown time `install` sets); shutdown runs the same stop should preshutdown
// not come first. (Wine 8 sends neither: its session's end simply ends the process.)
constexpr DWORD kAccepted =
    SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_SHUTDOWN;
// A pending state's next checkpoint comes within a host tick; the hints leave room for a slow
// machine.
constexpr DWORD kStartWaitHint = 30000;
constexpr DWORD kStopWaitHint = 10000;

// What the handler thread and the service's thread share.
struct ScmState {
    std::mutex lock;
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status = {};
    ServiceHost* host = nullptr;
};
ScmState g_scm;

void ReportLocked(DWORD state, DWORD waitHint, DWORD exitCode = NO_ERROR) {
    SERVICE_STATUS& s = g_scm.status;
    // Stopped is final: a late checkpoint must not revive the service in the manager's eyes.
    if (s.dwCurrentState == SERVICE_STOPPED && state != SERVICE_STOPPED) return;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCheckPoint = pending ? s.dwCheckPoint + 1 : 0;
    s.dwCurrentState = state;
    s.dwControlsAccepted = state == SERVICE_RUNNING ? kAccepted : 0;
    s.dwWin32ExitCode = exitCode;
    s.dwWaitHint = pending ? waitHint : 0;
    SetServiceStatus(g_scm.handle, &s);
}

void Report(DWORD state, DWORD waitHint, DWORD exitCode = NO_ERROR) {
    std::lock_guard<std::mutex> hold(g_scm.lock);
    ReportLocked(state, waitHint, exitCode);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_PRESHUTDOWN:
        case SERVICE_CONTROL_SHUTDOWN: {
            std::lock_guard<std::mutex> hold(g_scm.lock);
            ReportLocked(SERVICE_STOP_PENDING, kStopWaitHint);
            if (g_scm.host) g_scm.host->RequestStop();
            return NO_ERROR;
        }
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
    g_scm.handle = RegisterServiceCtrlHandlerExW(kServiceName, Handler, nullptr);
    if (!g_scm.handle) return;
    Report(SERVICE_START_PENDING, kStartWaitHint);
    try {
        EnterDataFolder();
    } catch (const CommandError& e) {
        EventLogSink events;
        events.Report(EventType::kError,
                      u"Служба Movra не запустилась: " + e.what + u": " + SystemReason(e.code));
        Report(SERVICE_STOPPED, 0, e.code);
        return;
    }
    {
        SystemParts system;
        ServiceHostParts parts = system.Parts();
        // Not ExitProcess: a worker stuck in a server call is cut off, not waited for.
        parts.endProcess = [] {
            Report(SERVICE_STOPPED, 0);
            TerminateProcess(GetCurrentProcess(), 0);
        };
        ServiceHost host(std::move(parts));
        WindowPipe windows(host.Clients(), system.events);
        {
            std::lock_guard<std::mutex> hold(g_scm.lock);
            g_scm.host = &host;
            ReportLocked(SERVICE_RUNNING, 0);
        }
        host.Run([] { Report(SERVICE_STOP_PENDING, kStopWaitHint); });
        std::lock_guard<std::mutex> hold(g_scm.lock);
        g_scm.host = nullptr;
    }
    Report(SERVICE_STOPPED, 0);
}

}  // namespace

bool RunServiceDispatcher() {
    wchar_t name[] = L"Movra";
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherW(table)) return true;
    if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return false;
    ThrowLastError(u"не удалось связаться с диспетчером служб");
}

}  // namespace movra::service
