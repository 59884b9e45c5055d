#pragma once
// Application: whoever runs the engine owns it. It holds the live lists, the event log, the
// configuration file's state, the workers, the channel history and the exit, and serves views
// through AppPort. It is the window link the workers and the model call; each call goes on to
// the view that is attached (none: lines are dropped, boxes go to the host).
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "app/app_port.h"
#include "app/channel_history.h"
#include "app/exit_deadline.h"
#include "config/config_file.h"
#include "core/clock.h"
#include "core/events.h"
#include "core/file_system.h"
#include "core/model.h"
#include "engine/tiserver.h"
#include "engine/workers.h"
#include "log/event_log.h"

namespace movra {

// What the host process gives the application.
struct AppHost {
    // Shows a box while no view is attached (start-up, after the view has gone); null: the
    // text goes nowhere.
    MessagePort* messages = nullptr;
    // Ends the process at once: a worker stuck in a server call is cut off, not waited for.
    // It should not return (tests record that it was called); empty: std::abort.
    std::function<void()> endProcess;
    // Movra.cfg's file system (null: the system's).
    FileSystem* files = nullptr;
    // The exit's clock (empty: SteadyMs()).
    MonotonicMs steadyMs;
    // The machine's one-regulator place (null: not checked) and what a control run does when
    // another program holds it.
    RegulatorLock* regulator = nullptr;
    BusyRegulator busy = BusyRegulator::kRefuse;
};

// How long the exit's end waits for the workers when no exit was requested before (the view
// closed by its owner): as long as one still logs lines, but not after 10 s of silence nor
// 60 s in all. After a request, what is left of the exit's bound.
constexpr std::chrono::milliseconds kExitQuiet(10000);
constexpr std::chrono::milliseconds kExitLimit(60000);
// How long Disconnect waits for a worker before it says that it waits.
constexpr uint32_t kDisconnectWaitMs = 200;
// How long an exit request waits for an idle worker before the exit waits in the background.
constexpr uint32_t kExitIdleWaitMs = 20;

inline const Text kDisconnectWaitLine = u"Жду завершения потока...";
inline const Text kSessionEndLine = u"Завершение сеанса Windows. Отключаюсь от сервера...";

class Application final : public AppPort, public WindowLink {
  public:
    Application(TiConnector& connector, WorkerEvents& events, AppHost host,
                const Clock& clock = SystemClock());
    // Waits for the threads the workers started (the exit's end has bounded that already).
    ~Application() override;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Start-up before any view exists: reads Movra.cfg and shows the first complaint of the
    // settings' validation.
    void StartUp();
    // The end of the exit, after the view has closed: no worker starts any more, and the ones
    // that run get a bounded wait (pumping), after which the process ends.
    void EndExit(const std::function<void()>& pump);

    // The settings record's revision (BeginSettingsEdit).
    uint64_t SettingsRevision() const;

    // The live lists, for the host's and tests' set-up; no view uses them.
    Model& LiveModel() { return model_; }

    // ---- AppPort ----
    void Attach(ViewLink* view) override;
    void Snapshot(AppSnapshot& out) const override;
    uint32_t ConnState() const override;
    const EventLog& Log() const override { return log_; }
    const chart::ChannelHistory& History() const override { return history_; }
    bool WorkerRunning() const override;
    Settings CurrentSettings() const override;
    SettingsEdit BeginSettingsEdit() const override;
    LogEffects TakeLogLine(uint32_t flags, const Text& text) override;
    void TakeCycleSummary(const CycleSummary& summary) override;
    std::optional<Text> TakeStartupLine() override;
    void Connect() override;
    void Disconnect() override;
    void SetMode(int32_t mode) override;
    void Import(int32_t kinds) override;
    bool Save(const AskYesNo& ask) override;
    bool Load() override;
    void ClearLogFile() override;
    bool ApplySettings(const Settings& edited, uint64_t base) override;
    bool EditGroups(const GroupsRequest& request) override;
    bool SetUserLimits(const LimitRequest& request) override;
    AddUserOutcome AddUser(const Text& name) override;
    void DeleteUsers(const std::vector<uint64_t>& ids) override;
    std::optional<Text> CheckGroups() override;
    ExitStep RequestExit() override;
    ExitStep CheckExit() override;
    bool ExitBegun() const override { return exit_.Begun(); }
    bool BeginSessionEnd() override;
    bool SessionEnding() const override { return exit_.SessionEnding(); }
    bool WaitForWorkers(const std::function<void()>& pump) override;
    void EndProcess() override;

    // ---- WindowLink (any thread): passed on to the attached view ----
    void LogLine(uint32_t flags, const Text& text) override;
    void RefreshTable() override;
    void UsersChanged() override;
    void ShowMessage(const Text& text) override;
    void CycleSummaryReady(const CycleSummary& summary) override;

  private:
    // A line the application logs itself, shown by the view at once (view's thread).
    void LogHere(uint32_t flags, const Text& text);
    // The summary row's server and channel from the settings.
    void FillServerRow();
    void FillServerRowLocked();

    AppHost host_;
    FileSystem& files_;
    // Mutable for its lock: reading a copy under it changes nothing.
    mutable Model model_;
    WorkerEvents& events_;
    EventLog log_;
    ConfigFileState configFile_;
    chart::ChannelHistory history_;
    ExitDeadline exit_;
    // Under the model's lock.
    uint64_t settingsRevision_ = 0;
    std::atomic<ViewLink*> view_{nullptr};
    // Last, so that its threads end before anything they reach.
    std::unique_ptr<Workers> workers_;
};

}  // namespace movra
