#pragma once
// The surface a view of Movra uses: what it reads to show the engine and what it asks of it.
// The window reaches the engine through nothing else. The in-process Application is the first
// implementation; a client of a service that runs the engine can stand behind the same surface,
// so every request is a value that could travel, and no view ever holds the live lists.
//
// Failures behind this surface never reach a view as exceptions: a request answers with its
// outcome (a bool, AddUserOutcome), what the administrator must read is shown as a message, and
// the workers' failures arrive as event lines.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "config/config_file.h"
#include "core/cycle_summary.h"
#include "core/log_flags.h"
#include "core/model.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/window_link.h"
#include "engine/workers.h"
#include "log/event_log.h"

namespace movra {

namespace chart {
class ChannelHistory;
}

// What one refresh of a view shows, copied under the model's lock in one go, so that the users,
// the groups, the settings and the summary row agree with each other.
struct AppSnapshot {
    std::vector<CTiUserData> users;  // the monitored users, in list order
    std::vector<Group> groups;       // the groups in use, in list order
    CTiUserData serverRow;
    std::array<Text, 8> serverRowTexts;
    Settings settings;
    // The state of the connection as the event log last set it (core/log_flags.h).
    uint32_t connState = LOG_DISCONNECTED;
};

// One change made in the groups editor, applied to the live lists as one request.
struct GroupsRequest {
    enum class Kind {
        kAddOrChange,  // "Добавить (изменить)": the group `group` gets `share` (created if new)
        kMoveUser,     // "Добавить в группу": `user` into the group `group`
        kRemoveUser,   // "Удалить из группы": `user` into group 0
        kDeleteGroup,  // "Удалить группу": the group `group`
        kRecount,      // every group's UserCount from its members
    };
    Kind kind = Kind::kRecount;
    Text group;
    double share = 0.0;
    Text user;
};

// The limit editor's fields for one user: what it showed (Cur*) and what OK hands back.
struct LimitEditorFields {
    Text UserName;
    int32_t CurIn = 0;
    int32_t CurOut = 0;
    int32_t NewIn = 0;
    int32_t NewOut = 0;
    double KTraff = 0;
    int32_t MaxIn = 0;
    int32_t MaxOut = 0;
};

// The limit editor's OK for one user, found by its identity when the request is applied.
struct LimitRequest {
    uint64_t userId = 0;
    LimitEditorFields fields;
};

enum class AddUserResult { kNothing, kAdded, kAlreadyPresent };
struct AddUserOutcome {
    AddUserResult result = AddUserResult::kNothing;
    Text message;  // the name followed by " уже есть в списке" when already present
};

// What a view registers with the application: the workers' and the model's calls reach it
// through the application (on any thread; the view marshals them to its own), and the
// application calls it on the view's thread for lines it logs itself.
class ViewLink : public WindowLink {
  public:
    // On the view's thread: what a line the application logged itself changed in the log.
    virtual void ShowLogEffects(const LogEffects& fx) = 0;
    // Just before ShowLogEffects: that line itself, for a view that passes lines on.
    virtual void LineLogged(uint32_t flags, const Text& text) {
        (void)flags;
        (void)text;
    }
    // The process ends as soon as this returns (the exit overran its bound): the view takes
    // away what would outlive it, such as its tray icon.
    virtual void ProcessEnding() {}
};

// What the settings sheet starts from: the record, and the revision of the record it is.
struct SettingsEdit {
    Settings settings;
    uint64_t base = 0;
};

// Shown when the settings sheet's result was made on a record that has changed since (in
// another window of the same service); the sheet then shows the record as it is now.
inline const Text kStaleSettingsText =
    u"Настройки изменены в другом окне Movra. Окно настроек показывает их новые значения.";

// Where the exit stands after a request or a check.
enum class ExitStep {
    kClose,  // no worker runs: the view may close now
    kWait,   // a worker still runs; check again later
};

class AppPort {
  public:
    virtual ~AppPort() = default;

    // Registers the view that the workers' calls reach (null: none), and fills the summary
    // row from the settings for it. The view stays alive while a worker may call it: until the
    // exit has ended or it is replaced with no worker running.
    virtual void Attach(ViewLink* view) = 0;

    // ---- Reading (the view's thread) ----

    // Fills `out` with what a refresh shows (reusing its storage).
    virtual void Snapshot(AppSnapshot& out) const = 0;
    virtual uint32_t ConnState() const = 0;
    // The event lines, status, title and tray state as the log last decided them.
    virtual const EventLog& Log() const = 0;
    // Every cycle's figures since the first connect.
    virtual const chart::ChannelHistory& History() const = 0;
    // Whether a worker (a control run or an import) is in its run.
    virtual bool WorkerRunning() const = 0;
    // A copy of the settings record.
    virtual Settings CurrentSettings() const = 0;
    // The record with its revision, which grows by one with each applied settings sheet's
    // result, each load of Movra.cfg and each change of the mode.
    virtual SettingsEdit BeginSettingsEdit() const = 0;

    // ---- Taking what the workers sent (the view's thread, once it has marshalled the call) ----

    // One event line into the log (and a connection's start into the history as a gap); what
    // the view must show of it.
    virtual LogEffects TakeLogLine(uint32_t flags, const Text& text) = 0;
    // One cycle's figures into the history.
    virtual void TakeCycleSummary(const CycleSummary& summary) = 0;
    // The start-up's complaint about an unreadable Movra.cfg, as an error line, given once.
    virtual std::optional<Text> TakeStartupLine() = 0;

    // ---- Asking (the view's thread) ----

    virtual void Connect() = 0;
    virtual void Disconnect() = 0;
    // Regulation mode (TrafficSpeedAutoControll): 0 monitoring, 1 or 3.
    virtual void SetMode(int32_t mode) = 0;
    // Starts an import of ImportKind bits (engine/workers.h).
    virtual void Import(int32_t kinds) = 0;
    // Writes Movra.cfg (asking first when the file could not be read at start).
    virtual bool Save(const AskYesNo& ask) = 0;
    // Reads Movra.cfg into the settings and the lists.
    virtual bool Load() = 0;
    // Empties the log file named by the settings, with its line.
    virtual void ClearLogFile() = 0;
    // The settings sheet's result, made on the record of revision `base`. True: applied, the
    // revision is base + 1 now. False: the record is of a later revision; nothing was applied
    // and kStaleSettingsText was shown.
    virtual bool ApplySettings(const Settings& edited, uint64_t base) = 0;
    // One change of the groups editor; false when it changed nothing.
    virtual bool EditGroups(const GroupsRequest& request) = 0;
    // The limit editor's OK for one user; false when that user is gone.
    virtual bool SetUserLimits(const LimitRequest& request) = 0;
    virtual AddUserOutcome AddUser(const Text& name) = 0;
    // Removes the users with these identities (those still there).
    virtual void DeleteUsers(const std::vector<uint64_t>& ids) = 0;
    // Recounts every group's members; when a user is in a group that does not exist, the
    // message naming the first such user and group.
    virtual std::optional<Text> CheckGroups() = 0;
    // The chart window opens: a port whose history is kept elsewhere fetches it now.
    virtual void ChartOpening() {}

    // ---- The exit (the view's thread) ----

    // Exit was chosen. The first request begins the exit (final: no worker starts any more)
    // and stops regulation; a second one ends the process at once.
    virtual ExitStep RequestExit() = 0;
    // While the exit waits: kClose once no worker runs; ends the process at the exit's bound.
    virtual ExitStep CheckExit() = 0;
    virtual bool ExitBegun() const = 0;
    // The Windows session ends: begins the exit under the session's shorter bound and logs it.
    // True when a worker still runs, which the view then waits for (WaitForWorkers) before it
    // lets the session go.
    virtual bool BeginSessionEnd() = 0;
    virtual bool SessionEnding() const = 0;
    // Waits for the workers for what is left of the exit's bound, calling `pump` between
    // short waits; true when none runs any more.
    virtual bool WaitForWorkers(const std::function<void()>& pump) = 0;
    // Ends the process now, whatever the workers are doing.
    virtual void EndProcess() = 0;
};

}  // namespace movra
