#pragma once
// The host's parts from the system, alike for the service and for `run`: the server through
// COM, the machine's regulator mutex and the event log.
#include "engine/win/com_connector.h"
#include "engine/win/regulator_mutex.h"
#include "service/service_host.h"
#include "service/win/event_log_sink.h"

namespace movra::service {

struct SystemParts {
    ComConnector connector;
    RegulatorMutex regulator;
    EventLogSink events;

    ServiceHostParts Parts() {
        ServiceHostParts parts;
        parts.connector = &connector;
        parts.regulator = &regulator;
        parts.events = &events;
        return parts;
    }
};

}  // namespace movra::service
