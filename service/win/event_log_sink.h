#pragma once
// The host's reports to the system's event log, under the source "Movra".
#include <windows.h>

#include "service/service_host.h"

namespace movra::service {

// The message id that carries a report of `type` (its text is the one string).
DWORD EventMessageId(EventType type);

class EventLogSink final : public EventSink {
  public:
    EventLogSink();
    ~EventLogSink() override;
    EventLogSink(const EventLogSink&) = delete;
    EventLogSink& operator=(const EventLogSink&) = delete;
    // A report the system refuses is dropped: the line is in Movra.log already.
    void Report(EventType type, const Text& text) override;

  private:
    HANDLE source_;
};

}  // namespace movra::service
