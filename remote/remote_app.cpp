#include "remote/remote_app.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

#include "app/channel_history.h"
#include "core/log_flags.h"
#include "core/model.h"
#include "log/event_log.h"
#include "remote/texts.h"

namespace movra::remote {

namespace {

// What reaches the view, in the order the service sent it.
struct Delivery {
    enum class Kind { kLine, kSummary, kNotice, kRefresh } kind = Kind::kLine;
    uint32_t flags = 0;
    Text text;
    CycleSummary summary;
};

// The window's event list never writes a file: the service writes Movra.log.
Model& NoFile(Model& m) {
    Model::Guard g(m);
    m.settings.LogFileName.clear();
    return m;
}

bool SameUsers(const AppSnapshot& a, const AppSnapshot& b) {
    if (a.users.size() != b.users.size()) return false;
    for (size_t i = 0; i < a.users.size(); ++i)
        if (a.users[i].Id != b.users[i].Id) return false;
    return true;
}

}  // namespace

struct RemoteApp::Impl {
    Impl(Outbox& out, RemoteAppOptions o)
        : toService(out),
          options(std::move(o)),
          clock(options.clock ? *options.clock : SystemClock()),
          model(clock),
          log(NoFile(model), clock) {
        delivery = std::thread([this] { Deliver(); });
    }

    ~Impl() {
        {
            std::lock_guard<std::mutex> l(dm);
            stopping = true;
        }
        dcv.notify_all();
        delivery.join();
    }

    // ---- The reader thread ----

    void Receive(Message&& message) {
        std::visit(
            [&](auto&& m) {
                using T = std::decay_t<decltype(m)>;
                if constexpr (std::is_same_v<T, Welcome>) {
                    std::lock_guard<std::mutex> l(mu);
                    if (m.version == kProtocolVersion)
                        welcomed = true;
                    else if (!refusal)
                        refusal = VersionMismatchText(m.version, kProtocolVersion);
                    cv.notify_all();
                } else if constexpr (std::is_same_v<T, Refusal>) {
                    {
                        std::lock_guard<std::mutex> l(mu);
                        if (!refusal) refusal = m.text;
                        cv.notify_all();
                    }
                    Lose(m.text);
                } else if constexpr (std::is_same_v<T, State>) {
                    TakeState(std::move(m));
                } else if constexpr (std::is_same_v<T, LogLine>) {
                    Queue({Delivery::Kind::kLine, m.flags, std::move(m.text), {}});
                } else if constexpr (std::is_same_v<T, Summary>) {
                    Queue({Delivery::Kind::kSummary, 0, {}, std::move(m.summary)});
                } else if constexpr (std::is_same_v<T, Notice>) {
                    Queue({Delivery::Kind::kNotice, 0, std::move(m.text), {}});
                } else if constexpr (std::is_same_v<T, Reply>) {
                    // Straight to the waiter: the window's thread may be the one waiting, and
                    // the view's calls queued before the reply wait for that thread.
                    std::lock_guard<std::mutex> l(mu);
                    auto it = waiting.find(m.id);
                    if (it != waiting.end()) {
                        it->second = std::move(m);
                        cv.notify_all();
                    }
                } else {
                    // What only a window sends: this is no service of ours.
                    toService.Close();
                    Lose(kServiceLostText);
                }
            },
            std::move(message));
    }

    void TakeState(State&& s) {
        bool usersChanged = false;
        bool exiting = false;
        // The local event list follows the service's settings but never writes its file.
        Settings local = s.snapshot.settings;
        local.LogFileName.clear();
        {
            std::lock_guard<std::mutex> l(mu);
            usersChanged = haveState && !SameUsers(state.snapshot, s.snapshot);
            exiting = s.exitBegun;
            state = std::move(s);
            haveState = true;
            connState.store(state.snapshot.connState);
            running.store(state.workerRunning);
            cv.notify_all();
        }
        {
            Model::Guard g(model);
            model.settings = std::move(local);
        }
        {
            std::lock_guard<std::mutex> l(dm);
            usersChangedDue = usersChangedDue || usersChanged;
            if (!refreshDue) {
                refreshDue = true;
                queue.push_back({Delivery::Kind::kRefresh, 0, {}, {}});
            }
        }
        dcv.notify_one();
        if (exiting) Lose(kServiceStoppingText);
    }

    void Queue(Delivery d) {
        {
            std::lock_guard<std::mutex> l(dm);
            queue.push_back(std::move(d));
        }
        dcv.notify_one();
    }

    // Once: every waiting request fails at once and the window hears why.
    void Lose(const Text& why) {
        bool tell = false;
        {
            std::lock_guard<std::mutex> l(mu);
            if (!over) {
                over = true;
                overWhy = why;
                tell = opened;
            }
            cv.notify_all();
        }
        if (tell && options.lost) options.lost(why);
    }

    // ---- The delivery thread: the view's calls, in order ----

    void Deliver() {
        std::unique_lock<std::mutex> l(dm);
        for (;;) {
            dcv.wait(l, [&] { return stopping || !queue.empty(); });
            if (stopping) return;
            Delivery d = std::move(queue.front());
            queue.pop_front();
            bool usersChanged = false;
            if (d.kind == Delivery::Kind::kRefresh) {
                refreshDue = false;
                usersChanged = usersChangedDue;
                usersChangedDue = false;
            }
            l.unlock();
            if (ViewLink* v = view.load()) {
                switch (d.kind) {
                    case Delivery::Kind::kLine:
                        v->LogLine(d.flags, d.text);
                        break;
                    case Delivery::Kind::kSummary:
                        v->CycleSummaryReady(d.summary);
                        break;
                    case Delivery::Kind::kNotice:
                        v->ShowMessage(d.text);
                        break;
                    case Delivery::Kind::kRefresh:
                        if (usersChanged) v->UsersChanged();
                        v->RefreshTable();
                        break;
                }
            }
            l.lock();
        }
    }

    // ---- Requests (the window's thread) ----

    uint64_t Send(RequestBody body, bool wait) {
        uint64_t id;
        {
            std::lock_guard<std::mutex> l(mu);
            if (over) return 0;
            id = ++lastId;
            if (wait) waiting.emplace(id, std::nullopt);
        }
        toService.Send(std::make_shared<const Message>(Request{id, std::move(body)}));
        return id;
    }

    // The reply, or none when the conversation is over (a reply that never comes ends it).
    std::optional<Reply> Call(RequestBody body) {
        const uint64_t id = Send(std::move(body), true);
        if (!id) return std::nullopt;
        std::unique_lock<std::mutex> l(mu);
        const bool answered =
            cv.wait_for(l, options.replyTimeout, [&] { return over || waiting[id].has_value(); });
        std::optional<Reply> reply = std::move(waiting[id]);
        waiting.erase(id);
        l.unlock();
        if (!answered) Lose(kServiceLostText);
        return reply;
    }

    // What the desktop edition would have shown in a box during the request.
    void Show(const std::optional<Reply>& reply) {
        if (!reply || reply->text.empty()) return;
        if (ViewLink* v = view.load()) v->ShowMessage(reply->text);
    }

    bool Done(const std::optional<Reply>& reply) {
        Show(reply);
        return reply && reply->outcome == Outcome::kDone;
    }

    Settings CurrentSettings() {
        std::lock_guard<std::mutex> l(mu);
        return state.snapshot.settings;
    }

    Outbox& toService;
    RemoteAppOptions options;
    const Clock& clock;
    std::atomic<ViewLink*> view{nullptr};

    // The conversation: under mu.
    std::mutex mu;
    std::condition_variable cv;
    State state;
    bool haveState = false, welcomed = false;
    std::optional<Text> refusal;
    bool over = false;
    bool opened = false;  // before, Open's caller shows why the conversation is over
    Text overWhy;
    uint64_t lastId = 0;
    std::map<uint64_t, std::optional<Reply>> waiting;
    std::atomic<uint32_t> connState{LOG_DISCONNECTED};
    std::atomic<bool> running{false};
    bool exitRequested = false;  // the window's thread

    // The view's calls: under dm.
    std::mutex dm;
    std::condition_variable dcv;
    std::deque<Delivery> queue;
    bool refreshDue = false, usersChangedDue = false, stopping = false;
    std::thread delivery;

    // The window's thread: the event list and the chart's history, as the window shows them.
    Model model;
    EventLog log;
    chart::ChannelHistory history;
};

RemoteApp::RemoteApp(Outbox& toService, RemoteAppOptions options)
    : impl_(std::make_unique<Impl>(toService, std::move(options))) {}

RemoteApp::~RemoteApp() = default;

std::optional<Text> RemoteApp::Open(std::chrono::milliseconds wait) {
    Impl& d = *impl_;
    d.toService.Send(std::make_shared<const Message>(Hello{kProtocolVersion, d.options.client}));
    std::unique_lock<std::mutex> l(d.mu);
    const bool settled =
        d.cv.wait_for(l, wait, [&] { return d.refusal || d.over || (d.welcomed && d.haveState); });
    std::optional<Text> why;
    if (d.refusal)
        why = d.refusal;
    else if (d.over)
        why = d.overWhy;
    else if (!settled)
        why = kServiceSilentText;
    if (why)
        d.over = true;
    else
        d.opened = true;
    return why;
}

void RemoteApp::Receive(Message message) {
    impl_->Receive(std::move(message));
}

void RemoteApp::Gone(const Text&) {
    impl_->Lose(kServiceLostText);
}

LogPage RemoteApp::ReadLog(bool restart, uint32_t count) {
    LogPage page;
    std::optional<Reply> r = impl_->Call(remote::ReadLog{restart, count});
    if (!r) return page;
    if (r->outcome != Outcome::kDone) {
        page.error = r->text;
        return page;
    }
    page.lines = std::move(r->lines);
    page.end = r->end;
    return page;
}

// ---- Reading ----

void RemoteApp::Attach(ViewLink* view) {
    impl_->view.store(view);
}

void RemoteApp::Snapshot(AppSnapshot& out) const {
    std::lock_guard<std::mutex> l(impl_->mu);
    out = impl_->state.snapshot;
}

uint32_t RemoteApp::ConnState() const {
    return impl_->connState.load();
}

const EventLog& RemoteApp::Log() const {
    return impl_->log;
}

const chart::ChannelHistory& RemoteApp::History() const {
    return impl_->history;
}

bool RemoteApp::WorkerRunning() const {
    return impl_->running.load();
}

Settings RemoteApp::CurrentSettings() const {
    return impl_->CurrentSettings();
}

SettingsEdit RemoteApp::BeginSettingsEdit() const {
    std::lock_guard<std::mutex> l(impl_->mu);
    return {impl_->state.snapshot.settings, impl_->state.settingsRevision};
}

LogEffects RemoteApp::TakeLogLine(uint32_t flags, const Text& text) {
    if (flags & LOG_CONNECTED) impl_->history.MarkGap();
    LogEffects fx = impl_->log.OnLogLine(flags, text);
    // The title says whose engine the window shows.
    if (fx.title) *fx.title += kServiceTitleSuffix;
    return fx;
}

void RemoteApp::TakeCycleSummary(const CycleSummary& summary) {
    impl_->history.Add(summary);
}

std::optional<Text> RemoteApp::TakeStartupLine() {
    return std::nullopt;  // the service logged its own start
}

// ---- Asking ----

void RemoteApp::Connect() {
    impl_->Send(remote::Connect{}, false);
}

void RemoteApp::Disconnect() {
    impl_->Send(remote::Disconnect{}, false);
}

void RemoteApp::SetMode(int32_t mode) {
    impl_->Send(remote::SetMode{mode}, false);
}

void RemoteApp::Import(int32_t kinds) {
    impl_->Send(remote::Import{kinds}, false);
}

bool RemoteApp::Save(const AskYesNo& ask) {
    std::optional<Reply> r = impl_->Call(remote::Save{false});
    if (r && r->outcome == Outcome::kAsk) {
        if (!ask || !ask(r->text)) return false;
        r = impl_->Call(remote::Save{true});
    }
    return impl_->Done(r);
}

bool RemoteApp::Load() {
    return impl_->Done(impl_->Call(remote::Load{}));
}

void RemoteApp::ClearLogFile() {
    impl_->Done(impl_->Call(remote::ClearLogFile{}));
}

bool RemoteApp::ApplySettings(const Settings& edited, uint64_t base) {
    return impl_->Done(impl_->Call(remote::ApplySettings{edited, base}));
}

bool RemoteApp::EditGroups(const GroupsRequest& request) {
    return impl_->Done(impl_->Call(remote::EditGroups{request}));
}

bool RemoteApp::SetUserLimits(const LimitRequest& request) {
    return impl_->Done(impl_->Call(remote::SetUserLimits{request}));
}

AddUserOutcome RemoteApp::AddUser(const Text& name) {
    const std::optional<Reply> r = impl_->Call(remote::AddUser{name});
    if (!r) return {};
    return {r->added, r->text};
}

void RemoteApp::DeleteUsers(const std::vector<uint64_t>& ids) {
    impl_->Done(impl_->Call(remote::DeleteUsers{ids}));
}

std::optional<Text> RemoteApp::CheckGroups() {
    const std::optional<Reply> r = impl_->Call(remote::CheckGroups{});
    if (!r || r->text.empty()) return std::nullopt;
    return r->text;
}

void RemoteApp::ChartOpening() {
    const std::optional<Reply> r = impl_->Call(ReadHistory{});
    if (r && r->outcome == Outcome::kDone) impl_->history.Import(r->history);
}

// ---- The exit: the window closes, the service goes on ----

ExitStep RemoteApp::RequestExit() {
    impl_->exitRequested = true;
    return ExitStep::kClose;
}

ExitStep RemoteApp::CheckExit() {
    return ExitStep::kClose;
}

bool RemoteApp::ExitBegun() const {
    return impl_->exitRequested;
}

bool RemoteApp::BeginSessionEnd() {
    return false;
}

bool RemoteApp::SessionEnding() const {
    return false;
}

bool RemoteApp::WaitForWorkers(const std::function<void()>&) {
    return true;
}

void RemoteApp::EndProcess() {
    if (ViewLink* v = impl_->view.load()) v->ProcessEnding();
    if (!impl_->options.endProcess) std::abort();
    impl_->options.endProcess();
}

}  // namespace movra::remote
