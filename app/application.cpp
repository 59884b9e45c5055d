#include "app/application.h"

#include <algorithm>
#include <cstdlib>

#include "app/edits.h"
#include "app/snapshot.h"
#include "core/log_flags.h"
#include "core/settings.h"

namespace movra {

Application::Application(TiConnector& connector, WorkerEvents& events, AppHost host,
                         const Clock& clock)
    : host_(std::move(host)),
      files_(host_.files ? *host_.files : SystemFileSystem()),
      model_(clock),
      events_(events),
      log_(model_, clock),
      exit_(host_.steadyMs ? host_.steadyMs : SteadyMs()) {
    // No worker runs yet: the first start finds its slot free.
    events_.idle.Set();
    model_.SetWindow(this);
    workers_ = std::make_unique<Workers>(model_, *this, connector, events_);
    workers_->UseRegulator(host_.regulator, host_.busy);
}

Application::~Application() {
    // Whatever the workers still send from here on reaches nobody.
    view_.store(nullptr);
    model_.SetWindow(nullptr);
    workers_.reset();
}

void Application::StartUp() {
    if (configFile_.LoadAtStartup(model_, *this, files_)) {
        // Without a window, only the first complaint is shown.
        Text problem;
        {
            Model::Guard g(model_);
            problem = ValidateSettings(model_.settings);
        }
        if (!problem.empty()) ShowMessage(problem);
    }
    FillServerRow();
}

void Application::EndExit(const std::function<void()>& pump) {
    workers_->BeginExit();
    const std::chrono::milliseconds limit =
        exit_.Begun() ? std::chrono::milliseconds(exit_.RemainingMs()) : kExitLimit;
    // A worker that makes no progress (a server that does not answer, a box nobody closes)
    // must not keep a process without a window running.
    if (!workers_->WaitForExit(pump, std::min(kExitQuiet, limit), limit)) EndProcess();
}

// ---- Reading ----

void Application::Attach(ViewLink* view) {
    view_.store(view);
    if (view) FillServerRow();
}

void Application::Snapshot(AppSnapshot& out) const {
    CopySnapshot(model_, ConnState(), out);
}

uint32_t Application::ConnState() const {
    return log_.ConnState();
}

bool Application::WorkerRunning() const {
    return workers_->Running();
}

Settings Application::CurrentSettings() const {
    Model::Guard g(model_);
    return model_.settings;
}

SettingsEdit Application::BeginSettingsEdit() const {
    Model::Guard g(model_);
    return {model_.settings, settingsRevision_};
}

uint64_t Application::SettingsRevision() const {
    Model::Guard g(model_);
    return settingsRevision_;
}

LogEffects Application::TakeLogLine(uint32_t flags, const Text& text) {
    // Every connection, started here or by a control run restarting itself, logs in with this
    // flag before its first cycle: the history goes on across them and shows the pause as a gap.
    if (flags & LOG_CONNECTED) history_.MarkGap();
    return log_.OnLogLine(flags, text);
}

void Application::TakeCycleSummary(const CycleSummary& summary) {
    history_.Add(summary);
}

std::optional<Text> Application::TakeStartupLine() {
    return configFile_.TakeStartupLine();
}

// ---- Asking ----

void Application::Connect() {
    if (workers_->Exiting()) return;  // the exit is final
    FillServerRow();
    workers_->StartControl();  // resets the stop event, then starts the thread
}

void Application::Disconnect() {
    // Also cancels every start still waiting for its slot.
    if (!workers_->Disconnect(kDisconnectWaitMs)) return;
    LogHere(LOG_INFO, kDisconnectWaitLine);
}

void Application::SetMode(int32_t mode) {
    Model::Guard g(model_);
    // The settings sheet shows the mode too: a sheet opened before it changed is stale.
    if (model_.settings.TrafficSpeedAutoControll != mode) ++settingsRevision_;
    model_.settings.TrafficSpeedAutoControll = mode;
}

void Application::Import(int32_t kinds) {
    if (workers_->Exiting()) return;
    workers_->StartImport(kinds);
}

bool Application::Save(const AskYesNo& ask) {
    return configFile_.Save(model_, *this, ask, files_);
}

bool Application::Load() {
    if (!configFile_.Load(model_, *this, files_)) return false;
    Model::Guard g(model_);
    ++settingsRevision_;
    FillServerRowLocked();
    return true;
}

void Application::ClearLogFile() {
    const LogRequest r = log_.ClearLogFile();
    LogHere(r.flags, r.text);
}

bool Application::ApplySettings(const Settings& edited, uint64_t base) {
    {
        // One hold: a refresh never sees the new server beside the old summary row.
        Model::Guard g(model_);
        if (base == settingsRevision_) {
            ApplyEditedSettingsLocked(model_, edited);
            ++settingsRevision_;
            FillServerRowLocked();
            return true;
        }
    }
    ShowMessage(kStaleSettingsText);
    return false;
}

bool Application::EditGroups(const GroupsRequest& request) {
    return ApplyGroupsRequest(model_, request);
}

bool Application::SetUserLimits(const LimitRequest& request) {
    return ApplyLimitRequest(model_, request);
}

AddUserOutcome Application::AddUser(const Text& name) {
    return AddUserNamed(model_, name);
}

void Application::DeleteUsers(const std::vector<uint64_t>& ids) {
    DeleteUsersById(model_, ids);
}

std::optional<Text> Application::CheckGroups() {
    Text name;
    int32_t group = 0;
    {
        Model::Guard g(model_);
        if (model_.RecountGroupUsers() == 0) return std::nullopt;
        for (int32_t i = 0; i < model_.NumUsers; ++i) {
            if (model_.FindGroupIndex(model_.Users[i].UserGrID) < 0) {
                name = model_.Users[i].UserName;
                group = model_.Users[i].UserGrID;
                break;
            }
        }
    }
    return Fmt(u"Пользователь %s входит в несуществующую группу %d", name, group);
}

// ---- The exit ----

ExitStep Application::RequestExit() {
    // Exit chosen while an exit is under way: the administrator will not wait any longer.
    if (exit_.Request() == ExitDeadline::Step::kEndProcess) EndProcess();
    workers_->BeginExit();
    if (workers_->WaitUntilIdle(kExitIdleWaitMs)) return ExitStep::kClose;
    log_.SetExitPending();
    Disconnect();
    return ExitStep::kWait;
}

ExitStep Application::CheckExit() {
    // A worker that gave up because of the exit logs no line to complete it on, and the last
    // line comes before the release: the exit completes once no worker runs.
    if (!workers_->Running()) return ExitStep::kClose;
    if (exit_.Check() == ExitDeadline::Step::kEndProcess) EndProcess();
    return ExitStep::kWait;
}

bool Application::BeginSessionEnd() {
    exit_.SessionEnds();
    LogHere(LOG_INFO, kSessionEndLine);
    workers_->BeginExit();
    if (!workers_->Running()) return false;
    if (log_.ConnState() != EXIT_PENDING) log_.SetExitPending();
    events_.stop.Set();
    return true;
}

bool Application::WaitForWorkers(const std::function<void()>& pump) {
    const std::chrono::milliseconds left(exit_.RemainingMs());
    return workers_->WaitForExit(pump, left, left);
}

void Application::EndProcess() {
    if (ViewLink* v = view_.load()) v->ProcessEnding();
    if (!host_.endProcess) std::abort();
    host_.endProcess();
}

// ---- Window link ----

void Application::LogLine(uint32_t flags, const Text& text) {
    if (ViewLink* v = view_.load()) v->LogLine(flags, text);
}

void Application::RefreshTable() {
    if (ViewLink* v = view_.load()) v->RefreshTable();
}

void Application::UsersChanged() {
    if (ViewLink* v = view_.load()) v->UsersChanged();
}

void Application::ShowMessage(const Text& text) {
    if (ViewLink* v = view_.load())
        v->ShowMessage(text);
    else if (host_.messages)
        host_.messages->ShowMessage(text);
}

void Application::CycleSummaryReady(const CycleSummary& summary) {
    if (ViewLink* v = view_.load()) v->CycleSummaryReady(summary);
}

// ---- Helpers ----

void Application::LogHere(uint32_t flags, const Text& text) {
    const LogEffects fx = TakeLogLine(flags, text);
    if (ViewLink* v = view_.load()) {
        v->LineLogged(flags, text);
        v->ShowLogEffects(fx);
    }
}

void Application::FillServerRow() {
    Model::Guard g(model_);
    FillServerRowLocked();
}

void Application::FillServerRowLocked() {
    model_.ServerRow.IP = model_.settings.Server;
    model_.ServerRow.LimitIn = static_cast<int32_t>(model_.settings.RXMAXkbit);
    model_.ServerRow.LimitOut = static_cast<int32_t>(model_.settings.TXMAXkbit);
}

}  // namespace movra
