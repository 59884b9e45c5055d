#pragma once
// The pipe through which windows attach to the host: serving from before the host's run until
// after it, so that the windows see the exit through to its end.
#include <functional>
#include <memory>

#include "core/text.h"
#include "remote/win/pipe_server.h"
#include "service/client_hub.h"
#include "service/service_host.h"

namespace movra::service {

class WindowPipe {
  public:
    // Serves `hub` on \\.\pipe\Movra. When the name is taken or the pipe cannot be made, the
    // host runs without windows: one error report to `events`, and the same line to `echo`.
    WindowPipe(ClientHub& hub, EventSink& events,
               const std::function<void(const Text&)>& echo = {});
    // Closes the pipe; every window still attached leaves.
    ~WindowPipe();
    WindowPipe(const WindowPipe&) = delete;
    WindowPipe& operator=(const WindowPipe&) = delete;

  private:
    remote::PipeServer server_;
};

}  // namespace movra::service
