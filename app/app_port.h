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
#include <vector>

#include "config/config_file.h"
#include "core/cycle_summary.h"
#include "core/log_flags.h"
#include "core/model.h"
#include "core/settings.h"
#include "core/text.h"

namespace movra {

class EventLog;
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

class AppPort {
  public:
    virtual ~AppPort() = default;

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
    // The settings sheet's result.
    virtual void ApplySettings(const Settings& edited) = 0;
    // One change of the groups editor; false when it changed nothing.
    virtual bool EditGroups(const GroupsRequest& request) = 0;
    // The limit editor's OK for one user; false when that user is gone.
    virtual bool SetUserLimits(const LimitRequest& request) = 0;
    virtual AddUserOutcome AddUser(const Text& name) = 0;
    // Removes the users with these identities (those still there).
    virtual void DeleteUsers(const std::vector<uint64_t>& ids) = 0;
};

}  // namespace movra
