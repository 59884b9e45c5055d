#include "service/service_host.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "app/application.h"
#include "core/events.h"
#include "core/log_flags.h"

namespace movra::service {

std::optional<EventType> EventTypeOfLine(uint32_t flags) {
    // A user falling asleep or waking up is routine, and with many users it would bury
    // everything else in the event log.
    if (flags == LOG_SLEEP) return std::nullopt;
    if (flags & LOG_ERROR) return EventType::kError;
    if (flags & (LOG_CONNECTED | LOG_DISCONNECTED)) return EventType::kInformation;
    if (flags & LOG_WARN) return EventType::kWarning;
    return std::nullopt;
}

bool BoxRepeatsLine(const Text& text) {
    // The boxes that the desktop edition shows beside a line of the same words.
    static const Text kPrefixes[] = {
        u"Ошибка подключения к ",                    // connect failure, the regulator taken
        u"Ошибка авторизации. ",                     // log-in failure
        u"Ошибка получения данных о пользователе ",  // poll failure
        u"Перехожу в режим наблюдения!",             // a refused limit write
        u"Не удалось прочитать файл ",               // Movra.cfg unreadable at start
    };
    return std::any_of(std::begin(kPrefixes), std::end(kPrefixes),
                       [&](const Text& p) { return text.compare(0, p.size(), p) == 0; });
}

namespace {

// What a worker sent, waiting for the loop thread.
struct Item {
    enum class Kind { kLine, kBox, kSummary } kind = Kind::kLine;
    uint32_t flags = 0;
    Text text;
    CycleSummary summary;
};

}  // namespace

struct ServiceHost::Impl final : public ViewLink {
    explicit Impl(ServiceHostParts p) : parts(std::move(p)) {
        if (!parts.steadyMs) parts.steadyMs = SteadyMs();
        backoff = parts.retry.first;
        AppHost host;
        // Every box reaches the view (attached before start-up), never the host.
        host.messages = nullptr;
        host.endProcess = [this] {
            ended.store(true);
            if (!parts.endProcess) std::abort();
            parts.endProcess();
        };
        host.files = parts.files;
        host.steadyMs = parts.steadyMs;
        host.regulator = parts.regulator;
        host.busy = BusyRegulator::kWait;
        app = std::make_unique<Application>(*parts.connector, events, std::move(host),
                                            parts.clock ? *parts.clock : SystemClock());
    }

    // The application goes first: it ends its workers while the queue they call still exists.
    ~Impl() override { app.reset(); }

    // ---- ViewLink: any thread; queued for the loop, nobody waits ----
    void LogLine(uint32_t flags, const Text& text) override {
        Push({Item::Kind::kLine, flags, text, {}});
    }
    void RefreshTable() override {}
    void UsersChanged() override {}
    void ShowMessage(const Text& text) override { Push({Item::Kind::kBox, 0, text, {}}); }
    void CycleSummaryReady(const CycleSummary& summary) override {
        Push({Item::Kind::kSummary, 0, {}, summary});
    }
    // Lines the application logs itself (loop thread): only the console sees them again.
    void ShowLogEffects(const LogEffects& fx) override {
        if (!parts.echo) return;
        for (const EventLine& e : fx.added) parts.echo(LOG_INFO, e.text);
    }

    void Push(Item item) {
        {
            std::lock_guard<std::mutex> l(m);
            queue.push_back(std::move(item));
        }
        wake.notify_one();
    }

    // ---- The loop thread ----

    // Waits up to `tick` for something to handle or a stop request.
    void Wait(std::chrono::milliseconds tick) {
        std::unique_lock<std::mutex> l(m);
        wake.wait_for(l, tick, [this] { return !queue.empty() || stopRequested; });
    }

    void Drain() {
        for (;;) {
            std::deque<Item> items;
            {
                std::lock_guard<std::mutex> l(m);
                if (queue.empty()) return;
                items.swap(queue);
            }
            for (Item& item : items) Handle(item);
        }
    }

    void Handle(const Item& item) {
        switch (item.kind) {
            case Item::Kind::kLine:
                Line(item.flags, item.text);
                break;
            case Item::Kind::kBox:
                // Goes on as if OK had been pressed; a box without a line of its own becomes one.
                if (!BoxRepeatsLine(item.text)) Line(LOG_WARN, item.text);
                break;
            case Item::Kind::kSummary:
                app->TakeCycleSummary(item.summary);
                break;
        }
    }

    // Into Movra.log (through the application) and onto the console.
    void Write(uint32_t flags, const Text& text) {
        app->TakeLogLine(flags, text);
        if (parts.echo) parts.echo(flags, text);
    }

    void Line(uint32_t flags, const Text& text) {
        Write(flags, text);
        if (const std::optional<EventType> type = EventTypeOfLine(flags))
            if (FirstInAWhile(text)) Report(*type, text);
        // Logged in: the retries start again from their first pause.
        if (flags & LOG_CONNECTED) {
            loggedIn = true;
            backoff = parts.retry.first;
        }
    }

    // One of the host's own lines, also reported as `type`.
    void OwnLine(uint32_t flags, const Text& text, EventType type) {
        Write(flags, text);
        Report(type, text);
    }

    // A line that repeats (an overloaded channel each cycle, a failed connect each retry)
    // reaches the event log once per kRepeatQuiet.
    bool FirstInAWhile(const Text& text) {
        const int64_t now = parts.steadyMs();
        const int64_t quiet = std::chrono::milliseconds(kRepeatQuiet).count();
        if (reported.size() > 1000)
            std::erase_if(reported, [&](const auto& e) { return now - e.second >= quiet; });
        auto [it, fresh] = reported.try_emplace(text, now);
        if (fresh) return true;
        if (now - it->second < quiet) return false;
        it->second = now;
        return true;
    }

    void Report(EventType type, const Text& text) {
        if (parts.events) parts.events->Report(type, text);
    }

    bool StopRequested() {
        std::lock_guard<std::mutex> l(m);
        return stopRequested;
    }

    // Connects now.
    void Attempt() {
        if (attempted && !loggedIn)
            backoff = std::min(backoff * 2, std::max(parts.retry.most, parts.retry.first));
        attempted = true;
        loggedIn = false;
        lastBusyMs = parts.steadyMs();
        app->Connect();
    }

    // A run that ended while the service is not stopping is followed by another after the
    // pause; a run in progress only moves the pause's start.
    void MaybeRetry() {
        const int64_t now = parts.steadyMs();
        if (app->WorkerRunning()) {
            lastBusyMs = now;
            return;
        }
        if (now - lastBusyMs >= backoff.count()) Attempt();
    }

    void RunExit(const std::function<void()>& progress) {
        OwnLine(LOG_INFO, kServiceStoppingLine, EventType::kInformation);
        if (app->RequestExit() == ExitStep::kWait) {
            while (!ended.load() && app->CheckExit() == ExitStep::kWait) {
                Wait(kTick);
                Drain();
                if (progress) progress();
            }
            if (ended.load()) return;
        }
        Drain();
        OwnLine(LOG_INFO, kServiceStoppedLine, EventType::kInformation);
        app->EndExit([&] {
            Drain();
            if (progress) progress();
        });
        Drain();
    }

    ServiceHostParts parts;
    WorkerEvents events;
    std::unique_ptr<Application> app;

    std::mutex m;
    std::condition_variable wake;
    std::deque<Item> queue;
    bool stopRequested = false;
    std::atomic<bool> ended{false};

    // Loop thread only.
    bool attempted = false, loggedIn = false;
    std::chrono::milliseconds backoff;
    int64_t lastBusyMs = 0;
    // When each line text last went to the event log.
    std::map<Text, int64_t> reported;
};

ServiceHost::ServiceHost(ServiceHostParts parts)
    : impl_(std::make_unique<Impl>(std::move(parts))) {}

ServiceHost::~ServiceHost() = default;

void ServiceHost::Run(const std::function<void()>& stopProgress) {
    Impl& d = *impl_;
    d.app->Attach(&d);
    d.app->StartUp();
    d.OwnLine(LOG_INFO, kServiceStartedLine, EventType::kInformation);
    if (const std::optional<Text> line = d.app->TakeStartupLine()) d.Line(LOG_ERROR, *line);
    d.Drain();
    const bool connects = d.app->CurrentSettings().StorePassword != 0;
    if (connects)
        d.Attempt();
    else
        d.Line(LOG_WARN, kNoPasswordLine);
    while (!d.StopRequested()) {
        d.Wait(kTick);
        d.Drain();
        if (connects && !d.StopRequested()) d.MaybeRetry();
    }
    d.RunExit(stopProgress);
}

void ServiceHost::RequestStop() {
    {
        std::lock_guard<std::mutex> l(impl_->m);
        impl_->stopRequested = true;
    }
    impl_->wake.notify_one();
}

}  // namespace movra::service
