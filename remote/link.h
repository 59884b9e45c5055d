#pragma once
// One end of a conversation between the service and a window, as the portable code sees it: the
// pipe (remote/win) or a test's in-memory pair stands behind it.
#include <memory>

#include "core/text.h"
#include "remote/messages.h"

namespace movra::remote {

// Where one peer's messages go. Send never blocks on the peer: the transport queues the message
// and writes it on its own thread, and drops a peer that stops reading (bounded queue, bounded
// write time) rather than holding the sender.
class Outbox {
  public:
    virtual ~Outbox() = default;
    // Any thread. After Close, or once the peer is gone, messages are dropped silently.
    virtual void Send(std::shared_ptr<const Message> message) = 0;
    // Ends the conversation after what is queued has been written (a refusal, a protocol
    // violation); the transport then reports the peer gone.
    virtual void Close() = 0;
};

}  // namespace movra::remote
