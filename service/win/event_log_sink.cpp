#include "service/win/event_log_sink.h"

#include "messages.h"
#include "service/win/service_setup.h"
#include "service/win/win_text.h"

namespace movra::service {

DWORD EventMessageId(EventType type) {
    switch (type) {
        case EventType::kWarning:
            return MOVRA_MSG_WARNING;
        case EventType::kError:
            return MOVRA_MSG_ERROR;
        case EventType::kInformation:
            break;
    }
    return MOVRA_MSG_INFORMATION;
}

EventLogSink::EventLogSink() : source_(RegisterEventSourceW(nullptr, kServiceName)) {}

EventLogSink::~EventLogSink() {
    if (source_) DeregisterEventSource(source_);
}

void EventLogSink::Report(EventType type, const Text& text) {
    if (!source_) return;
    WORD kind = EVENTLOG_INFORMATION_TYPE;
    if (type == EventType::kWarning) kind = EVENTLOG_WARNING_TYPE;
    if (type == EventType::kError) kind = EVENTLOG_ERROR_TYPE;
    const wchar_t* strings[] = {W(text)};
    ReportEventW(source_, kind, 0, EventMessageId(type), nullptr, 1, 0, strings, nullptr);
}

}  // namespace movra::service
