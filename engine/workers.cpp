#include "engine/workers.h"

#include <atomic>
#include <condition_variable>
#include <iterator>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/log_flags.h"

#include "engine/control_run.h"
#include "engine/import_run.h"

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
    Impl(Model& m, WindowLink& w, TiConnector& c, WorkerEvents& e, ThreadStarter s)
        : model(m), link(w), connector(c), events(e), starter(std::move(s)) {
        if (!starter) starter = [](std::function<void()> f) { return std::thread(std::move(f)); };
    }
    Model& model;
    ProgressLink link;
    TiConnector& connector;
    WorkerEvents& events;
    ThreadStarter starter;
    RegulatorLock* regulator = nullptr;
    BusyRegulator busy = BusyRegulator::kRefuse;

    struct Thread {
        std::thread thread;
        bool done = false;  // its body has returned (guarded by m)
    };

    mutable std::mutex m;
    mutable std::condition_variable changed;
    std::list<Thread> threads;  // a node stays where it is until its thread is joined
    int running = 0;            // threads whose body has not returned yet

    bool Launch(std::function<void()> body) {
        JoinFinished();
        try {
            // Under the lock, so the node and its handle appear together to JoinAll.
            std::lock_guard<std::mutex> l(m);
            Thread& t = threads.emplace_back();
            try {
                t.thread = starter([this, &t, body = std::move(body)] {
                    body();
                    {
                        std::lock_guard<std::mutex> l2(m);
                        t.done = true;
                        --running;
                    }
                    changed.notify_all();
                });
            } catch (...) {
                threads.pop_back();
                throw;
            }
            ++running;
        } catch (const std::system_error& e) {
            // The worker never ran: the events and the running count stay as they were.
            link.LogLine(LOG_ERROR, u"Не удалось запустить поток: " + FromUtf8(e.what()));
            return false;
        }
        return true;
    }

    // Joins the threads whose worker has ended, so that they do not pile up until the exit.
    void JoinFinished() {
        std::list<Thread> done;
        {
            std::lock_guard<std::mutex> l(m);
            for (auto it = threads.begin(); it != threads.end();) {
                auto next = std::next(it);
                if (it->done && it->thread.joinable()) done.splice(done.end(), threads, it);
                it = next;
            }
        }
        for (auto& t : done) t.thread.join();
    }

    std::list<Thread> TakeThreads() {
        std::lock_guard<std::mutex> l(m);
        std::list<Thread> t;
        t.swap(threads);
        return t;
    }
};

Workers::Workers(Model& model, WindowLink& window, TiConnector& connector, WorkerEvents& events,
                 ThreadStarter starter)
    : impl_(std::make_unique<Impl>(model, window, connector, events, std::move(starter))) {}

Workers::~Workers() {
    JoinAll();
}

void Workers::UseRegulator(RegulatorLock* lock, BusyRegulator busy) {
    impl_->regulator = lock;
    impl_->busy = busy;
}

bool Workers::StartControl() {
    if (impl_->events.Quitting()) return false;
    impl_->events.stop.Reset();
    Impl* d = impl_.get();
    const uint64_t ticket = d->events.TakeTicket();
    return d->Launch([d, ticket] {
        ControlRun run(d->model, d->link, d->connector, d->events, ticket);
        run.UseRegulator(d->regulator, d->busy);
        run.Run();
    });
}

bool Workers::StartImport(int32_t request) {
    if (impl_->events.Quitting()) return false;
    impl_->events.stop.Reset();
    Impl* d = impl_.get();
    const uint64_t ticket = d->events.TakeTicket();
    return d->Launch([d, request, ticket] {
        ImportRun run(d->model, d->link, d->connector, d->events, request, ticket);
        run.Run();
    });
}

bool Workers::Disconnect(uint32_t ms) {
    impl_->events.CancelPending();
    if (WaitUntilIdle(ms)) return false;
    impl_->events.stop.Set();
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
        std::list<Impl::Thread> all = impl_->TakeThreads();
        if (all.empty()) return;
        for (auto& t : all)
            if (t.thread.joinable()) t.thread.join();
    }
}

size_t Workers::ThreadsKept() const {
    std::lock_guard<std::mutex> l(impl_->m);
    return impl_->threads.size();
}

}  // namespace movra
