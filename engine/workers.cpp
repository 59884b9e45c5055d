#include "engine/workers.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/control_thread.h"
#include "engine/import_thread.h"

namespace movra {

namespace {

using SteadyClock = std::chrono::steady_clock;

// The window link the workers see: passes every call on and notes when a worker last made
// progress (a line), which bounds the wait at exit.
class ProgressLink : public WindowLink {
  public:
    explicit ProgressLink(WindowLink& window) : window_(window) { Touch(); }
    void LogLine(uint32_t flags, const Text& text) override {
        Touch();
        window_.LogLine(flags, text);
    }
    void RefreshTable() override { window_.RefreshTable(); }
    void UsersChanged() override { window_.UsersChanged(); }
    void ShowMessage(const Text& text) override { window_.ShowMessage(text); }
    void CycleSummaryReady(const CycleSummary& summary) override {
        window_.CycleSummaryReady(summary);
    }

    void Touch() { last_.store(SteadyClock::now().time_since_epoch().count()); }
    SteadyClock::time_point Last() const {
        return SteadyClock::time_point(SteadyClock::duration(last_.load()));
    }

  private:
    WindowLink& window_;
    std::atomic<SteadyClock::rep> last_{0};
};

}  // namespace

struct Workers::Impl {
    Impl(Model& m, WindowLink& w, TiConnector& c, WorkerEvents& e)
        : model(m), link(w), connector(c), events(e) {}
    Model& model;
    ProgressLink link;
    TiConnector& connector;
    WorkerEvents& events;

    mutable std::mutex m;
    mutable std::condition_variable changed;
    std::vector<std::thread> threads;
    int running = 0;  // threads whose body has not returned yet

    void Launch(std::function<void()> body) {
        std::lock_guard<std::mutex> l(m);
        ++running;
        threads.emplace_back([this, body = std::move(body)] {
            body();
            {
                std::lock_guard<std::mutex> l2(m);
                --running;
            }
            changed.notify_all();
        });
    }

    std::vector<std::thread> TakeThreads() {
        std::lock_guard<std::mutex> l(m);
        std::vector<std::thread> t;
        t.swap(threads);
        return t;
    }
};

Workers::Workers(Model& model, WindowLink& window, TiConnector& connector, WorkerEvents& events)
    : impl_(std::make_unique<Impl>(model, window, connector, events)) {}

Workers::~Workers() {
    JoinAll();
}

bool Workers::StartControl() {
    if (impl_->events.Quitting()) return false;
    impl_->events.stop.Reset();
    Impl* d = impl_.get();
    d->Launch([d] {
        ControlRun run(d->model, d->link, d->connector, d->events);
        run.Run();
    });
    return true;
}

bool Workers::StartImport(int32_t request) {
    if (impl_->events.Quitting()) return false;
    {
        Model::Guard g(impl_->model);
        impl_->model.ImportRequest = request;
    }
    impl_->events.stop.Reset();
    Impl* d = impl_.get();
    d->Launch([d] {
        ImportRun run(d->model, d->link, d->connector, d->events);
        run.Run();
    });
    return true;
}

bool Workers::Running() const {
    std::lock_guard<std::mutex> l(impl_->m);
    return impl_->running > 0;
}

bool Workers::WaitUntilIdle(uint32_t ms) const {
    std::unique_lock<std::mutex> l(impl_->m);
    return impl_->changed.wait_for(l, std::chrono::milliseconds(ms),
                                   [this] { return impl_->running == 0; });
}

void Workers::BeginExit() {
    impl_->events.BeginQuit();
}

bool Workers::Exiting() const {
    return impl_->events.Quitting();
}

bool Workers::WaitForExit(const std::function<void()>& pump, std::chrono::milliseconds quiet,
                          std::chrono::milliseconds limit) {
    constexpr std::chrono::milliseconds kSlice(10);
    const auto start = SteadyClock::now();
    for (;;) {
        if (pump) pump();
        if (WaitUntilIdle(static_cast<uint32_t>(kSlice.count()))) break;
        const auto now = SteadyClock::now();
        if (now - start >= limit) return false;
        if (now - std::max(impl_->link.Last(), start) >= quiet) return false;
    }
    // The last line may still be in flight towards the window.
    if (pump) pump();
    JoinAll();
    return true;
}

void Workers::JoinAll() {
    for (;;) {
        std::vector<std::thread> done = impl_->TakeThreads();
        if (done.empty()) return;
        for (auto& t : done) t.join();
    }
}

}  // namespace movra
