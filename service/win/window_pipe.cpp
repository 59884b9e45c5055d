#include "service/win/window_pipe.h"

namespace movra::service {

namespace {

remote::PipeClients ClientsOf(ClientHub& hub) {
    return {[&hub](std::shared_ptr<remote::Outbox> out) { return hub.Join(std::move(out)); },
            [&hub](uint64_t id, remote::Message m) { hub.Receive(id, std::move(m)); },
            [&hub](uint64_t id, const Text& why) { hub.Leave(id, why); }};
}

}  // namespace

WindowPipe::WindowPipe(ClientHub& hub, EventSink& events,
                       const std::function<void(const Text&)>& echo)
    : server_(ClientsOf(hub)) {
    if (const std::optional<Text> failed = server_.Start()) {
        events.Report(EventType::kError, *failed);
        if (echo) echo(*failed);
    }
}

WindowPipe::~WindowPipe() {
    server_.Stop();
}

}  // namespace movra::service
