#pragma once
// The service's end of \\.\pipe\Movra: local clients only, SYSTEM and Administrators only, and
// created as the name's first instance, so that nobody who took the name before can pose as the
// service. Each window that connects becomes a PipeConnection handed to the clients' hub.
#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/text.h"
#include "remote/win/pipe_connection.h"

namespace movra::remote {

inline constexpr wchar_t kPipeName[] = L"\\\\.\\pipe\\Movra";
// Owner Administrators; protected from inheritance; full control for SYSTEM and Administrators,
// nobody else.
inline constexpr wchar_t kPipeSecurity[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

// Where the windows go (the service's ClientHub stands behind these). Any thread.
struct PipeClients {
    std::function<uint64_t(std::shared_ptr<Outbox>)> join;
    std::function<void(uint64_t, Message)> receive;
    std::function<void(uint64_t, const Text&)> leave;
};

class PipeServer {
  public:
    explicit PipeServer(PipeClients clients, PipeLimits limits = {},
                        const wchar_t* name = kPipeName);
    ~PipeServer();
    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    // Creates the first instance and begins accepting windows. Empty on success; otherwise the
    // log line saying why the service runs without windows.
    std::optional<Text> Start();
    // Closes the pipe and every window's connection (each leaves), and waits for its threads.
    void Stop();

  private:
    HANDLE NewInstance(bool first, DWORD& error);
    void AcceptLoop(HANDLE first);

    PipeClients clients_;
    PipeLimits limits_;
    const wchar_t* name_;
    HANDLE stop_;
    std::thread acceptor_;
    std::mutex lock_;
    std::vector<std::shared_ptr<PipeConnection>> windows_;
};

// The pipe's security descriptor, from kPipeSecurity (LocalFree it); null on failure.
PSECURITY_DESCRIPTOR NewPipeSecurity();

}  // namespace movra::remote
