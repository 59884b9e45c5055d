#include "service/service_host.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "app/application.h"
#include "core/events.h"
#include "core/log_flags.h"
#include "service/client_adapter.h"

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

// What a worker or a window sent, waiting for the loop thread.
struct Item {
    enum class Kind { kLine, kBox, kSummary, kRefresh, kJoin, kMessage, kLeave };
    Item(Kind k, uint32_t f, Text t, CycleSummary s)
        : kind(k), flags(f), text(std::move(t)), summary(std::move(s)) {}
    Kind kind;
    uint32_t flags = 0;
    Text text;
    CycleSummary summary;
    uint64_t client = 0;
    std::shared_ptr<remote::Outbox> out;
    std::shared_ptr<const remote::Message> message;
};

}  // namespace

struct ServiceHost::Impl final : public ViewLink, public ClientHub {
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
        AdapterHooks hooks;
        hooks.line = [this](uint32_t flags, const Text& text) { Line(flags, text); };
        hooks.box = [this](const Text& text) { BoxLine(text); };
        clients = std::make_unique<ClientAdapter>(*app, std::move(hooks));
    }

    // The application goes first: it ends its workers while the queue they call still exists.
    ~Impl() override {
        clients.reset();
        app.reset();
    }

    // ---- ViewLink: any thread; queued for the loop, nobody waits ----
    void LogLine(uint32_t flags, const Text& text) override {
        Push({Item::Kind::kLine, flags, text, {}});
    }
    // A cycle's refresh: one State for the windows, however many refreshes came meanwhile.
    void RefreshTable() override {
        if (!refreshQueued.exchange(true)) Push({Item::Kind::kRefresh, 0, {}, {}});
    }
    void UsersChanged() override { RefreshTable(); }
    void ShowMessage(const Text& text) override {
        // A box that a window's request raises on the loop thread answers that request.
        if (std::this_thread::get_id() == loopThread)
            if (std::vector<Text>* capture = clients->Capture()) {
                capture->push_back(text);
                return;
            }
        Push({Item::Kind::kBox, 0, text, {}});
    }
    void CycleSummaryReady(const CycleSummary& summary) override {
        Push({Item::Kind::kSummary, 0, {}, summary});
    }
    // Lines the application logs itself (loop thread): only the console sees them again.
    void ShowLogEffects(const LogEffects& fx) override {
        if (!parts.echo) return;
        for (const EventLine& e : fx.added) parts.echo(LOG_INFO, e.text);
    }
    void LineLogged(uint32_t flags, const Text& text) override { clients->LogLine(flags, text); }

    // ---- ClientHub: any thread; queued for the loop ----
    uint64_t Join(std::shared_ptr<remote::Outbox> out) override {
        const uint64_t id = ++lastClient;
        Item item{Item::Kind::kJoin, 0, {}, {}};
        item.client = id;
        item.out = std::move(out);
        Push(std::move(item));
        return id;
    }
    void Receive(uint64_t client, remote::Message message) override {
        Item item{Item::Kind::kMessage, 0, {}, {}};
        item.client = client;
        item.message = std::make_shared<const remote::Message>(std::move(message));
        Push(std::move(item));
    }
    void Leave(uint64_t client, const Text& why) override {
        Item item{Item::Kind::kLeave, 0, why, {}};
        item.client = client;
        Push(std::move(item));
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
            // At most one State a pass, after everything the pass changed.
            clients->Flush();
        }
    }

    void Handle(const Item& item) {
        switch (item.kind) {
            case Item::Kind::kLine:
                Line(item.flags, item.text);
                break;
            case Item::Kind::kBox:
                BoxLine(item.text);
                clients->Notice(item.text);
                break;
            case Item::Kind::kSummary:
                app->TakeCycleSummary(item.summary);
                clients->Summary(item.summary);
                break;
            case Item::Kind::kRefresh:
                refreshQueued.store(false);
                clients->Changed();
                break;
            case Item::Kind::kJoin:
                clients->Join(item.client, item.out);
                break;
            case Item::Kind::kMessage:
                clients->Receive(item.client, *item.message);
                break;
            case Item::Kind::kLeave:
                clients->Leave(item.client, item.text);
                break;
        }
    }

    // A box goes on as if OK had been pressed; one without a line of its own becomes one.
    void BoxLine(const Text& text) {
        if (!BoxRepeatsLine(text)) Line(LOG_WARN, text);
    }

    // Into Movra.log (through the application) and onto the console.
    void Write(uint32_t flags, const Text& text) {
        app->TakeLogLine(flags, text);
        clients->LogLine(flags, text);
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
        const ExitStep step = app->RequestExit();
        // The windows hear of the exit before it runs.
        clients->Changed();
        clients->Flush();
        if (step == ExitStep::kWait) {
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
    std::unique_ptr<ClientAdapter> clients;
    std::thread::id loopThread;
    std::atomic<bool> refreshQueued{false};
    std::atomic<uint64_t> lastClient{0};

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
    d.loopThread = std::this_thread::get_id();
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
        d.clients->Watch();
        if (connects && !d.StopRequested()) d.MaybeRetry();
    }
    d.RunExit(stopProgress);
    d.clients->CloseAll();
}

ClientHub& ServiceHost::Clients() {
    return *impl_;
}

void ServiceHost::RequestStop() {
    {
        std::lock_guard<std::mutex> l(impl_->m);
        impl_->stopRequested = true;
    }
    impl_->wake.notify_one();
}

}  // namespace movra::service
