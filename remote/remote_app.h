#pragma once
// RemoteApp: the application as a window of the service sees it. It implements the same AppPort
// the in-process Application does, over a conversation with the service (remote/link.h): reading
// serves the last State the service sent, each request becomes a Request whose Reply it waits
// for, and what the service sends (lines, summaries, notices, states) reaches the attached view
// as the workers' calls reach it in the desktop edition.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/app_port.h"
#include "core/clock.h"
#include "remote/link.h"
#include "remote/messages.h"

namespace movra::remote {

// The title's mark of a window that shows the service: "Movra - Подключен к <server> (служба)".
inline const Text kServiceTitleSuffix = u" (служба)";

// The box of a window whose service went away or stopped answering.
inline const Text kServiceLostText = u"Связь со службой Movra прервана";
// The box of a window whose service did not answer its Hello in time.
inline const Text kServiceSilentText = u"Служба Movra не отвечает";
// The box of a window whose service began its exit (it is being stopped).
inline const Text kServiceStoppingText = u"Служба Movra останавливается";

struct RemoteAppOptions {
    // How long a request waits for its reply; after that the conversation is over
    // (lost(kServiceLostText)).
    std::chrono::milliseconds replyTimeout{15000};
    const Clock* clock = nullptr;  // null: the system's (the local event list's time stamps)
    // Called once when the conversation is over (the service went away or began its exit, a
    // reply never came): the window says so and closes. Any thread; it must not wait for the
    // window's thread.
    std::function<void(const Text& why)> lost;
    // Ends the window's process at once (EndProcess); empty: std::abort.
    std::function<void()> endProcess;
    // Who opens, for the service's log: "<user>@<computer>, процесс <pid>".
    Text client;
};

// A page of the service's Movra.log, newest line first (ReadLog).
struct LogPage {
    std::vector<Text> lines;
    bool end = true;            // no older line is left
    std::optional<Text> error;  // what the log window shows instead (the file cannot be opened)
};

class RemoteApp final : public AppPort {
  public:
    RemoteApp(Outbox& toService, RemoteAppOptions options);
    ~RemoteApp() override;
    RemoteApp(const RemoteApp&) = delete;
    RemoteApp& operator=(const RemoteApp&) = delete;

    // Sends Hello and waits (at most `wait`) for Welcome and the first State. Empty when the
    // window may open; otherwise the text of the box that says why not (a Refusal's text, the
    // service's silence, a different protocol version).
    std::optional<Text> Open(std::chrono::milliseconds wait);

    // The transport's reader thread: one message from the service, in the order sent. Never
    // waits for the view.
    void Receive(Message message);
    // The transport: the service is gone (`why` names how; the box says kServiceLostText).
    void Gone(const Text& why);

    // The log window's reading of the service's Movra.log: `restart` from the newest line.
    LogPage ReadLog(bool restart, uint32_t count);

    // ---- AppPort ----
    void Attach(ViewLink* view) override;
    void Snapshot(AppSnapshot& out) const override;
    uint32_t ConnState() const override;
    const EventLog& Log() const override;
    const chart::ChannelHistory& History() const override;
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
    void ChartOpening() override;
    ExitStep RequestExit() override;
    ExitStep CheckExit() override;
    bool ExitBegun() const override;
    bool BeginSessionEnd() override;
    bool SessionEnding() const override;
    bool WaitForWorkers(const std::function<void()>& pump) override;
    void EndProcess() override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace movra::remote
