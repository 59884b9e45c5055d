#pragma once
// Where the service's pipe (service/win) hands the windows that attach: each gets an identity,
// its messages are queued to the host's loop thread, and what the application does reaches it
// through its Outbox. Every call is safe from any thread and returns at once.
#include <cstdint>
#include <memory>

#include "core/text.h"
#include "remote/link.h"
#include "remote/messages.h"

namespace movra::service {

class ClientHub {
  public:
    virtual ~ClientHub() = default;
    // A window attached; its messages go to `out`. Returns its identity.
    virtual uint64_t Join(std::shared_ptr<remote::Outbox> out) = 0;
    // One decoded message from that window.
    virtual void Receive(uint64_t client, remote::Message message) = 0;
    // The window is gone: closed normally (`why` empty), or dropped for a broken frame, a
    // reader that stopped reading, ... (`why` names it, ASCII or Russian; the service logs one
    // line for it).
    virtual void Leave(uint64_t client, const Text& why) = 0;
};

}  // namespace movra::service
