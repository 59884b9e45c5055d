#pragma once
// RemoteApp: the application as a window of the service sees it. It implements the same AppPort
// the in-process Application does, over a conversation with the service (remote/link.h): reading
// serves the last State the service sent, each request becomes a Request whose Reply it waits
// for, and what the service sends (lines, summaries, notices, states) reaches the attached view
// as the workers' calls reach it in the desktop edition.
#include <chrono>
#include <memory>
#include <optional>

#include "app/app_port.h"
#include "core/clock.h"
#include "remote/link.h"
#include "remote/messages.h"

namespace movra::remote {

// The title's mark of a window that shows the service: "Movra - Подключен к <server> (служба)".
inline const Text kServiceTitleSuffix = u" (служба)";

struct RemoteAppOptions {
    // How long a request waits for its reply before it fails with kServiceSilentText.
    std::chrono::milliseconds replyTimeout{15000};
    const Clock* clock = nullptr;  // null: the system's
    // Called once when the conversation is over (the service went away, a reply never came):
    // the window says so and closes. Any thread.
    std::function<void(const Text& why)> lost;
};

class RemoteApp final : public AppPort {
  public:
    RemoteApp(Outbox& toService, RemoteAppOptions options);
    ~RemoteApp() override;

    // Sends Hello and waits (at most `wait`) for Welcome and the first State. Empty when the
    // window may open; otherwise the text of the box that says why not (a Refusal's text, the
    // service's silence, a different protocol version).
    std::optional<Text> Open(std::chrono::milliseconds wait);

    // The transport's reader thread: one message from the service, in the order sent.
    void Receive(Message message);
    // The transport: the service is gone (`why` for the box).
    void Gone(const Text& why);

    // ---- AppPort ----
    // (declared by the implementation)
};

}  // namespace movra::remote
