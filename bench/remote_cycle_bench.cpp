// One cycle's State for a window of the service with 2,000 users: what the service's loop spends
// to make it (the snapshot copied under the model's lock and wrapped as one message for every
// window) and what the window spends to take it (the decoded message handed to RemoteApp on the
// reader thread, and the snapshot the table's refresh reads).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "app/application.h"
#include "remote/remote_app.h"

namespace {

using namespace movra;

class NoServer : public TiConnector {
  public:
    std::unique_ptr<TiServer> Connect(const Text&) override { return nullptr; }
};

class Nowhere : public remote::Outbox {
  public:
    void Send(std::shared_ptr<const remote::Message>) override {}
    void Close() override {}
};

struct Service {
    explicit Service(int users) {
        Model& m = app.LiveModel();
        Model::Guard g(m);
        for (int k = 0; k < users; ++k) {
            const int32_t i = m.AddUserByName(u"user" + FromUtf8(std::to_string(k)));
            CTiUserData& u = m.Users[i];
            u.IP = u"10.0.0." + FromUtf8(std::to_string(k % 250));
            u.LimitIn = 1000 + k;
            u.LimitOut = 500 + k;
        }
    }
    std::shared_ptr<const remote::Message> MakeState() {
        remote::State s;
        app.Snapshot(s.snapshot);
        s.settingsRevision = 1;
        return std::make_shared<const remote::Message>(std::move(s));
    }
    NoServer connector;
    WorkerEvents events;
    Application app{connector, events, AppHost{}};
};

void BM_ServiceMakesState(benchmark::State& state) {
    Service service(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(service.MakeState());
}
BENCHMARK(BM_ServiceMakesState)->Arg(2000)->Unit(benchmark::kMicrosecond);

void BM_WindowTakesState(benchmark::State& state) {
    Service service(static_cast<int>(state.range(0)));
    const std::shared_ptr<const remote::Message> sent = service.MakeState();
    Nowhere nowhere;
    remote::RemoteApp window(nowhere, {});
    AppSnapshot shown;
    for (auto _ : state) {
        // The copy stands for the message the decoder makes from the frame.
        remote::Message decoded = *sent;
        window.Receive(std::move(decoded));
        window.Snapshot(shown);
        benchmark::DoNotOptimize(shown.users.data());
    }
}
BENCHMARK(BM_WindowTakesState)->Arg(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
