#include "remote/win/pipe_client.h"

namespace movra::remote {

namespace {

class ScHandle {
  public:
    explicit ScHandle(SC_HANDLE h) : h_(h) {}
    ~ScHandle() {
        if (h_) CloseServiceHandle(h_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

  private:
    SC_HANDLE h_;
};

constexpr DWORD kPollMs = 200;

}  // namespace

ServiceStatus QueryService(const wchar_t* name) {
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) return {};
    ScHandle service(OpenServiceW(scm.get(), name, SERVICE_QUERY_STATUS));
    if (!service) return {};
    SERVICE_STATUS_PROCESS s = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s),
                              sizeof(s), &needed))
        return {};
    switch (s.dwCurrentState) {
        case SERVICE_RUNNING:
            return {ServiceState::kRunning, s.dwProcessId};
        case SERVICE_START_PENDING:
        case SERVICE_CONTINUE_PENDING:
            return {ServiceState::kStarting, s.dwProcessId};
        case SERVICE_STOP_PENDING:
        case SERVICE_PAUSE_PENDING:
        case SERVICE_PAUSED:
            return {ServiceState::kStopping, s.dwProcessId};
        default:
            return {ServiceState::kStopped, 0};
    }
}

ServiceStatus WaitWhileStarting(DWORD waitMs, const wchar_t* name) {
    const ULONGLONG end = GetTickCount64() + waitMs;
    ServiceStatus s = QueryService(name);
    while (s.state == ServiceState::kStarting && GetTickCount64() < end) {
        Sleep(kPollMs);
        s = QueryService(name);
    }
    return s;
}

static DWORD Control(const wchar_t* name, bool start) {
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) return GetLastError();
    ScHandle service(OpenServiceW(scm.get(), name, start ? SERVICE_START : SERVICE_STOP));
    if (!service) return GetLastError();
    SERVICE_STATUS status = {};
    const BOOL ok = start ? StartServiceW(service.get(), 0, nullptr)
                          : ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    if (ok) return ERROR_SUCCESS;
    const DWORD e = GetLastError();
    // What was asked is already so.
    if (e == ERROR_SERVICE_ALREADY_RUNNING || e == ERROR_SERVICE_NOT_ACTIVE) return ERROR_SUCCESS;
    return e;
}

DWORD StartServiceNow(const wchar_t* name) {
    return Control(name, true);
}
DWORD StopServiceNow(const wchar_t* name) {
    return Control(name, false);
}

PipeOpen OpenServicePipe(DWORD servicePid, DWORD waitMs, const wchar_t* name) {
    PipeOpen out;
    const ULONGLONG end = GetTickCount64() + waitMs;
    for (;;) {
        // Identification only: the service learns who we are but cannot act as us.
        HANDLE pipe = CreateFileW(
            name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            ULONG server = 0;
            if (!GetNamedPipeServerProcessId(pipe, &server)) {
                out.error = GetLastError();
                CloseHandle(pipe);
                out.result = PipeOpenResult::kFailed;
                return out;
            }
            if (server != servicePid) {
                CloseHandle(pipe);
                out.result = PipeOpenResult::kNotTheService;
                out.serverPid = server;
                return out;
            }
            out.result = PipeOpenResult::kOpen;
            out.pipe = pipe;
            return out;
        }
        out.error = GetLastError();
        if (out.error == ERROR_ACCESS_DENIED) {
            out.result = PipeOpenResult::kNoRights;
            return out;
        }
        const bool later = out.error == ERROR_PIPE_BUSY || out.error == ERROR_FILE_NOT_FOUND;
        if (!later) {
            out.result = PipeOpenResult::kFailed;
            return out;
        }
        if (GetTickCount64() >= end) {
            out.result = PipeOpenResult::kNoPipe;
            return out;
        }
        // Busy: every instance taken until the service makes the next; not found: the
        // service has not created it yet.
        if (out.error == ERROR_PIPE_BUSY)
            WaitNamedPipeW(name, kPollMs);
        else
            Sleep(kPollMs);
    }
}

}  // namespace movra::remote
