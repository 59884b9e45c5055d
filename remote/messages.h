#pragma once
// What the service and its windows say to each other over the pipe: plain values, one struct per
// message. The codec (remote/codec.h) turns them into length-prefixed CBOR frames and back; the
// service's adapter and the window's RemoteApp speak only in these values.
//
// The order of a conversation: the window sends Hello; the service answers Welcome (same
// protocol version) or Refusal (and closes); then the service sends State after every cycle and
// every change, LogLine for each line as it is written, Summary for each cycle, Notice for what
// the desktop edition would show in a box, and Reply for each Request of the window.
#include <cstdint>
#include <variant>
#include <vector>

#include "app/app_port.h"
#include "app/channel_history.h"
#include "core/cycle_summary.h"
#include "core/settings.h"
#include "core/text.h"

namespace movra::remote {

// Grows with every change of the messages' meaning or layout; both ends must agree.
inline constexpr uint32_t kProtocolVersion = 1;
// A frame is a 4-byte little-endian length, then that many bytes of one CBOR message. A longer
// announced length is a broken or hostile peer, dropped before anything is read.
inline constexpr uint32_t kMaxFrameBytes = 16u * 1024u * 1024u;

// ---- The first exchange ----

struct Hello {  // window → service
    uint32_t version = kProtocolVersion;
    Text client;  // who opens: "<user>@<computer>, процесс <pid>", for the service's log line
};
struct Welcome {  // service → window
    uint32_t version = kProtocolVersion;
};
struct Refusal {  // service → window (or the window's own verdict): the text the box shows
    uint32_t version = kProtocolVersion;
    Text text;
};

// ---- Service → window ----

// What a refresh of the window shows, sent after each cycle and after each change.
struct State {
    AppSnapshot snapshot;
    // Grows with every change of the settings record by a request (settings sheet, load); an
    // edit made on an older revision is refused as stale.
    uint64_t settingsRevision = 0;
    bool workerRunning = false;
    // The service is stopping: its exit has begun.
    bool exitBegun = false;
};
struct LogLine {
    uint32_t flags = 0;
    Text text;
};
struct Summary {
    CycleSummary summary;
};
// What the desktop edition shows in a message box.
struct Notice {
    Text text;
};

// ---- Window → service: requests, each answered by one Reply with the same id ----

struct Connect {};
struct Disconnect {};
struct SetMode {
    int32_t mode = 0;
};
struct Import {
    int32_t kinds = 0;  // ImportKind bits (engine/workers.h)
};
struct Save {
    // The administrator already answered Yes to overwriting a Movra.cfg that could not be read
    // at start (the reply kAsk carried the question).
    bool confirmed = false;
};
struct Load {};
struct ClearLogFile {};
struct ApplySettings {
    Settings edited;
    uint64_t base = 0;  // State::settingsRevision the sheet was opened on
};
struct EditGroups {
    GroupsRequest request;
};
struct SetUserLimits {
    LimitRequest request;
};
struct AddUser {
    Text name;
};
struct DeleteUsers {
    std::vector<uint64_t> ids;
};
struct CheckGroups {};
// The service's Movra.log for the log window, newest first: `restart` begins at the newest
// line again; otherwise the next `count` older lines after those already read by this window.
struct ReadLog {
    bool restart = true;
    uint32_t count = 0;
};
// The channel history the service holds, for a chart that opens.
struct ReadHistory {};

using RequestBody = std::variant<Connect, Disconnect, SetMode, Import, Save, Load, ClearLogFile,
                                 ApplySettings, EditGroups, SetUserLimits, AddUser, DeleteUsers,
                                 CheckGroups, ReadLog, ReadHistory>;

struct Request {
    uint64_t id = 0;
    RequestBody body;
};

enum class Outcome : uint8_t {
    kDone,     // done (bool results: true)
    kNothing,  // done, and it changed nothing (bool results: false)
    kFailed,   // not done; `text` is what the desktop edition would have shown
    kStale,    // refused: the edit's base is older than the service's state; `text` says so
    kAsk,      // Save: `text` is the question; ask, then send Save{confirmed = true}
};

struct Reply {
    uint64_t id = 0;
    Outcome outcome = Outcome::kDone;
    Text text;
    // AddUser's outcome.
    AddUserResult added = AddUserResult::kNothing;
    // ReadLog: the lines, newest first; `end` when no older line is left.
    std::vector<Text> lines;
    bool end = false;
    // ReadHistory.
    chart::HistoryData history;
};

using Message =
    std::variant<Hello, Welcome, Refusal, State, LogLine, Summary, Notice, Request, Reply>;

}  // namespace movra::remote
