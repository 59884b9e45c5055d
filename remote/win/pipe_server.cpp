#include "remote/win/pipe_server.h"

#include <sddl.h>

#include <algorithm>
#include <utility>

namespace movra::remote {

namespace {

constexpr DWORD kBufferBytes = 64 * 1024;
// Beyond the windows' close grace, for their writes to finish at a stop.
constexpr DWORD kStopMarginMs = 1000;

Text ErrorCode(DWORD code) {
    return FromUtf8(std::to_string(code));
}

}  // namespace

PSECURITY_DESCRIPTOR NewPipeSecurity() {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPipeSecurity, SDDL_REVISION_1, &sd,
                                                              nullptr))
        return nullptr;
    return sd;
}

PipeServer::PipeServer(PipeClients clients, PipeLimits limits, const wchar_t* name)
    : clients_(std::move(clients)),
      limits_(limits),
      name_(name),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

PipeServer::~PipeServer() {
    Stop();
    CloseHandle(stop_);
}

HANDLE PipeServer::NewInstance(bool first, DWORD& error) {
    PSECURITY_DESCRIPTOR sd = NewPipeSecurity();
    if (!sd) {
        error = GetLastError();
        return INVALID_HANDLE_VALUE;
    }
    SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
    const DWORD open =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    HANDLE pipe = CreateNamedPipeW(
        name_, open, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, kBufferBytes, kBufferBytes, 0, &sa);
    error = pipe == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    LocalFree(sd);
    return pipe;
}

std::optional<Text> PipeServer::Start() {
    DWORD error = 0;
    // The first-instance flag refuses a name that is taken; a system that does not enforce it
    // (Wine) is asked whether the name exists before.
    const bool taken = WaitNamedPipeW(name_, 1) || GetLastError() != ERROR_FILE_NOT_FOUND;
    HANDLE first = taken ? INVALID_HANDLE_VALUE : NewInstance(true, error);
    if (taken) error = ERROR_ACCESS_DENIED;
    if (first == INVALID_HANDLE_VALUE) {
        // Access denied on the first instance: another process holds the name.
        if (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY)
            return u"Канал \\\\.\\pipe\\Movra уже занят другим процессом: окна Movra не смогут "
                   u"подключиться к службе";
        return u"Не удалось создать канал \\\\.\\pipe\\Movra (ошибка " + ErrorCode(error) +
               u"): окна Movra не смогут подключиться к службе";
    }
    ResetEvent(stop_);
    acceptor_ = std::thread([this, first] { AcceptLoop(first); });
    return std::nullopt;
}

void PipeServer::AcceptLoop(HANDLE pipe) {
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    while (pipe != INVALID_HANDLE_VALUE) {
        ResetEvent(ov.hEvent);
        bool connected = ConnectNamedPipe(pipe, &ov) != FALSE;
        if (!connected) {
            const DWORD e = GetLastError();
            if (e == ERROR_PIPE_CONNECTED) {
                connected = true;
            } else if (e == ERROR_IO_PENDING) {
                HANDLE waits[2] = {ov.hEvent, stop_};
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    CancelIoEx(pipe, &ov);
                    DWORD n = 0;
                    GetOverlappedResult(pipe, &ov, &n, TRUE);
                    CloseHandle(pipe);
                    break;
                }
                DWORD n = 0;
                connected = GetOverlappedResult(pipe, &ov, &n, FALSE) != FALSE;
            }
        }
        if (!connected) {
            // A client that came and went before we saw it: reuse the instance.
            DisconnectNamedPipe(pipe);
            if (WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) {
                CloseHandle(pipe);
                break;
            }
            continue;
        }
        auto window = std::make_shared<PipeConnection>(pipe, limits_);
        {
            std::lock_guard<std::mutex> hold(lock_);
            windows_.push_back(window);
        }
        const uint64_t id = clients_.join(window);
        PipeConnection* raw = window.get();
        window->Start([this, id](Message m) { clients_.receive(id, std::move(m)); },
                      [this, id, raw](const Text& why) {
                          clients_.leave(id, why);
                          std::lock_guard<std::mutex> hold(lock_);
                          std::erase_if(windows_, [raw](const auto& w) { return w.get() == raw; });
                      });
        if (WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) break;
        DWORD error = 0;
        pipe = NewInstance(false, error);
    }
    CloseHandle(ov.hEvent);
}

void PipeServer::Stop() {
    SetEvent(stop_);
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::shared_ptr<PipeConnection>> windows;
    {
        std::lock_guard<std::mutex> hold(lock_);
        windows = windows_;
    }
    // Each window gets what is queued for it (the exit's last lines) and a moment to hang up.
    for (const auto& w : windows) w->Close();
    const ULONGLONG end = GetTickCount64() + limits_.closeGraceMs + kStopMarginMs;
    for (const auto& w : windows) {
        const ULONGLONG now = GetTickCount64();
        w->WaitEnded(now < end ? static_cast<DWORD>(end - now) : 0);
        w->Shut(u"служба останавливается");
    }
    std::lock_guard<std::mutex> hold(lock_);
    windows_.clear();
}

}  // namespace movra::remote
