#include "service/client_adapter.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "core/log_flags.h"
#include "engine/workers.h"
#include "remote/texts.h"

namespace movra::service {

using namespace remote;

namespace {

std::shared_ptr<const Message> Make(Message m) {
    return std::make_shared<const Message>(std::move(m));
}

// What only the service says: a window that sends it is not a window of this program.
bool FromServiceOnly(const Message& m) {
    return !std::holds_alternative<remote::Hello>(m) && !std::holds_alternative<remote::Request>(m);
}

}  // namespace

ClientAdapter::ClientAdapter(Application& app, AdapterHooks hooks)
    : app_(app), hooks_(std::move(hooks)) {}

ClientAdapter::~ClientAdapter() = default;

void ClientAdapter::Join(uint64_t client, std::shared_ptr<Outbox> out) {
    if (!out) return;
    windows_[client].out = std::move(out);
}

void ClientAdapter::Receive(uint64_t client, const Message& message) {
    auto it = windows_.find(client);
    if (it == windows_.end()) return;  // dropped already; the rest of its messages are void
    Window& w = it->second;
    if (const auto* hello = std::get_if<remote::Hello>(&message)) {
        if (w.welcomed) return Drop(client, kProtocolViolation);
        return Hello(client, w, *hello);
    }
    if (!w.welcomed || FromServiceOnly(message)) return Drop(client, kProtocolViolation);
    Request(w, std::get<remote::Request>(message));
}

void ClientAdapter::Leave(uint64_t client, const Text& why) {
    auto it = windows_.find(client);
    if (it == windows_.end()) return;
    const bool welcomed = it->second.welcomed;
    const Text who = it->second.who;
    windows_.erase(it);
    // A window that never said who it is leaves no line unless it was dropped.
    if (!why.empty())
        hooks_.line(LOG_WARN, kWindowDroppedLine + why);
    else if (welcomed)
        hooks_.line(LOG_INFO, kWindowLeftLine + who);
}

void ClientAdapter::Hello(uint64_t client, Window& w, const remote::Hello& hello) {
    if (hello.version != kProtocolVersion) {
        w.out->Send(
            Make(Refusal{kProtocolVersion, VersionMismatchText(kProtocolVersion, hello.version)}));
        w.out->Close();
        windows_.erase(client);
        hooks_.line(LOG_WARN, kWindowDroppedLine + Fmt(u"версия протокола %u",
                                                       static_cast<unsigned>(hello.version)));
        return;
    }
    // A name of any length would fill the log: what a window calls itself is cut short.
    w.who = Text(TextView(hello.client).substr(0, 256));
    w.welcomed = true;
    w.out->Send(Make(Welcome{}));
    w.out->Send(MakeState());
    hooks_.line(LOG_INFO, kWindowAttachedLine + w.who);
}

void ClientAdapter::Drop(uint64_t client, const Text& why) {
    auto it = windows_.find(client);
    if (it == windows_.end()) return;
    it->second.out->Close();
    windows_.erase(it);
    hooks_.line(LOG_WARN, kWindowDroppedLine + why);
}

void ClientAdapter::Request(Window& w, const remote::Request& request) {
    // The window may be dropped by a line a request logs; its outbox stays for the reply.
    const std::shared_ptr<Outbox> out = w.out;
    Reply reply;
    reply.id = request.id;
    std::vector<Text> boxes;
    capture_ = &boxes;
    bool changed = false;
    auto done = [&](bool ok, Outcome no) { reply.outcome = ok ? Outcome::kDone : no; };
    std::visit(
        [&](const auto& body) {
            using T = std::decay_t<decltype(body)>;
            if constexpr (std::is_same_v<T, remote::Connect>) {
                app_.Connect();
                changed = true;
            } else if constexpr (std::is_same_v<T, remote::Disconnect>) {
                app_.Disconnect();
                changed = true;
            } else if constexpr (std::is_same_v<T, remote::SetMode>) {
                const bool known = body.mode == 0 || body.mode == 1 || body.mode == 3;
                if (known) app_.SetMode(body.mode);
                done(known, Outcome::kFailed);
                changed = known;
            } else if constexpr (std::is_same_v<T, remote::Import>) {
                const bool known =
                    body.kinds > 0 && (body.kinds & ~(kImportUsers | kImportGroups)) == 0;
                if (known) app_.Import(body.kinds);
                done(known, Outcome::kFailed);
            } else if constexpr (std::is_same_v<T, remote::Save>) {
                // The question goes back to the window, which asks and sends Save again.
                Text question;
                const bool saved = app_.Save([&](const Text& q) {
                    if (body.confirmed) return true;
                    question = q;
                    return false;
                });
                done(saved, question.empty() ? Outcome::kFailed : Outcome::kAsk);
                if (!question.empty()) reply.text = question;
            } else if constexpr (std::is_same_v<T, remote::Load>) {
                const bool loaded = app_.Load();
                done(loaded, Outcome::kFailed);
                changed = true;
            } else if constexpr (std::is_same_v<T, remote::ClearLogFile>) {
                app_.ClearLogFile();
            } else if constexpr (std::is_same_v<T, remote::ApplySettings>) {
                changed = app_.ApplySettings(body.edited, body.base);
                done(changed, Outcome::kStale);
            } else if constexpr (std::is_same_v<T, remote::EditGroups>) {
                changed = app_.EditGroups(body.request);
                done(changed, Outcome::kNothing);
            } else if constexpr (std::is_same_v<T, remote::SetUserLimits>) {
                changed = app_.SetUserLimits(body.request);
                done(changed, Outcome::kNothing);
            } else if constexpr (std::is_same_v<T, remote::AddUser>) {
                const AddUserOutcome added = app_.AddUser(body.name);
                reply.added = added.result;
                reply.text = added.message;
                changed = added.result == AddUserResult::kAdded;
            } else if constexpr (std::is_same_v<T, remote::DeleteUsers>) {
                app_.DeleteUsers(body.ids);
                changed = true;
            } else if constexpr (std::is_same_v<T, remote::CheckGroups>) {
                if (const std::optional<Text> orphan = app_.CheckGroups()) reply.text = *orphan;
                changed = true;
            } else if constexpr (std::is_same_v<T, remote::ReadLog>) {
                // Each window reads the file from where it stopped, as its log window would.
                if (!body.restart && w.logEnded) {
                    reply.end = true;
                    return;
                }
                w.logEnded = false;
                if (body.restart || !w.log) {
                    w.log = std::make_unique<LogFileReader>();
                    const Text name = app_.CurrentSettings().LogFileName;
                    if (!w.log->Open(name)) {
                        w.log.reset();
                        reply.outcome = Outcome::kFailed;
                        reply.text = LogViewOpenErrorText(name);
                        return;
                    }
                }
                reply.lines = w.log->NextLines(std::min(body.count, kMaxLogLinesPerReply));
                reply.end = w.log->AtEnd();
                // A window that has read it all holds the file open no longer.
                if (reply.end) {
                    w.log.reset();
                    w.logEnded = true;
                }
            } else if constexpr (std::is_same_v<T, remote::ReadHistory>) {
                reply.history = app_.History().Export();
            }
        },
        request.body);
    capture_ = nullptr;
    // What the desktop edition would have shown this window in a box is its reply's text
    // (stale settings, a file that cannot be written); the log gets it as any box.
    for (const Text& box : boxes) {
        if (reply.text.empty())
            reply.text = box;
        else
            reply.text += u"\n" + box;
        hooks_.box(box);
    }
    // The state goes first: a window that reads right after the reply sees its change.
    if (changed) {
        Changed();
        Flush();
    }
    out->Send(Make(std::move(reply)));
}

std::shared_ptr<const Message> ClientAdapter::MakeState() const {
    State s;
    app_.Snapshot(s.snapshot);
    s.settingsRevision = app_.SettingsRevision();
    s.workerRunning = app_.WorkerRunning();
    sentRunning_ = s.workerRunning;
    sentConn_ = s.snapshot.connState;
    s.exitBegun = app_.ExitBegun();
    return Make(std::move(s));
}

void ClientAdapter::ToAll(std::shared_ptr<const Message> message) {
    for (auto& [id, w] : windows_)
        if (w.welcomed) w.out->Send(message);
}

void ClientAdapter::LogLine(uint32_t flags, const Text& text) {
    if (windows_.empty()) return;
    ToAll(Make(remote::LogLine{flags, text}));
}

void ClientAdapter::Summary(const CycleSummary& summary) {
    if (!windows_.empty()) ToAll(Make(remote::Summary{summary}));
    Changed();
}

void ClientAdapter::Notice(const Text& text) {
    if (!windows_.empty()) ToAll(Make(remote::Notice{text}));
}

void ClientAdapter::Flush() {
    if (!stateDue_) return;
    stateDue_ = false;
    const bool anyone = std::any_of(windows_.begin(), windows_.end(),
                                    [](const auto& e) { return e.second.welcomed; });
    if (anyone) ToAll(MakeState());
}

void ClientAdapter::Watch() {
    if (app_.WorkerRunning() != sentRunning_ || app_.ConnState() != sentConn_) Changed();
    Flush();
}

void ClientAdapter::CloseAll() {
    for (auto& [id, w] : windows_) w.out->Close();
    windows_.clear();
}

}  // namespace movra::service
