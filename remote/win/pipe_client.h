#pragma once
// The window's side: where the service stands in the service control manager, and the pipe
// opened to it only when the pipe's server is the service's own process.
#include <windows.h>

#include <cstdint>

#include "remote/win/pipe_server.h"

namespace movra::remote {

inline constexpr wchar_t kServiceName[] = L"Movra";

enum class ServiceState { kNotInstalled, kStopped, kStarting, kRunning, kStopping };
struct ServiceStatus {
    ServiceState state = ServiceState::kNotInstalled;
    DWORD pid = 0;  // running: its process
};
// No right to ask counts as not installed: the desktop edition is all such a user can run.
ServiceStatus QueryService(const wchar_t* name = kServiceName);
// Waits while the service starts (at most `waitMs`), then tells where it stands.
ServiceStatus WaitWhileStarting(DWORD waitMs, const wchar_t* name = kServiceName);

// Asks the service control manager to start or stop the service, without waiting for it.
// ERROR_SUCCESS, ERROR_ACCESS_DENIED (an elevated helper must do it), or another failure.
DWORD StartServiceNow(const wchar_t* name = kServiceName);
DWORD StopServiceNow(const wchar_t* name = kServiceName);

enum class PipeOpenResult { kOpen, kNoPipe, kNoRights, kNotTheService, kFailed };
struct PipeOpen {
    PipeOpenResult result = PipeOpenResult::kFailed;
    HANDLE pipe = INVALID_HANDLE_VALUE;  // kOpen: overlapped, for a PipeConnection
    DWORD serverPid = 0;                 // kNotTheService: who serves the pipe
    DWORD error = 0;                     // kFailed, kNoPipe: the system's code
};
// Opens the pipe (waiting at most `waitMs` for a free or a first instance) and checks that its
// server process is `servicePid`; a pipe served by anyone else is closed again.
PipeOpen OpenServicePipe(DWORD servicePid, DWORD waitMs, const wchar_t* name = kPipeName);

}  // namespace movra::remote
