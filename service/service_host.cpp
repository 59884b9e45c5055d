#include "service/service_host.h"

namespace movra::service {

struct ServiceHost::Impl {};

ServiceHost::ServiceHost(ServiceHostParts) : impl_(std::make_unique<Impl>()) {}
ServiceHost::~ServiceHost() = default;
void ServiceHost::Run(const std::function<void()>&) {}
void ServiceHost::RequestStop() {}

std::optional<EventType> EventTypeOfLine(uint32_t) {
    return std::nullopt;
}
bool BoxRepeatsLine(const Text&) {
    return false;
}

}  // namespace movra::service
