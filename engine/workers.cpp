#include "engine/workers.h"

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/control_thread.h"
#include "engine/import_thread.h"

namespace movra {

struct Workers::Impl {
    Model& model;
    WindowLink& window;
    TiConnector& connector;
    WorkerEvents& events;
    std::mutex m;
    std::vector<std::thread> threads;

    void Launch(std::function<void()> body) {
        std::lock_guard<std::mutex> l(m);
        threads.emplace_back(std::move(body));
    }
};

Workers::Workers(Model& model, WindowLink& window, TiConnector& connector, WorkerEvents& events)
    : impl_(new Impl{model, window, connector, events, {}, {}}) {}

Workers::~Workers() {
    JoinAll();
    delete impl_;
}

void Workers::StartControl() {
    impl_->events.stop.Reset();
    Impl* d = impl_;
    d->Launch([d] {
        ControlRun run(d->model, d->window, d->connector, d->events);
        run.Run();
    });
}

void Workers::StartImport(int32_t request) {
    {
        Model::Guard g(impl_->model);
        impl_->model.ImportRequest = request;
    }
    impl_->events.stop.Reset();
    Impl* d = impl_;
    d->Launch([d] {
        ImportRun run(d->model, d->window, d->connector, d->events);
        run.Run();
    });
}

void Workers::JoinAll() {
    for (;;) {
        std::vector<std::thread> done;
        {
            std::lock_guard<std::mutex> l(impl_->m);
            done.swap(impl_->threads);
        }
        if (done.empty()) return;
        for (auto& t : done) t.join();
    }
}

}  // namespace movra
