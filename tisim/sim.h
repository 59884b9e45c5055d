#pragma once
// TiSim's portable core: a simulated TI server with users, groups, a channel of limited width,
// a traffic model with a clock, switchable faults and a journal of every call.
//
// The COM server DLL (tisim/win/) forwards each call it receives to a Session with the
// arguments exactly as they arrived (the *Raw methods); the engine's native tests use a
// Session directly as a movra::TiServer, or obtain one from a SimConnector.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "core/text.h"
#include "engine/tiserver.h"

namespace tisim {

using movra::Text;
using movra::Variant;
using movra::VarType;

// Status codes with which the simulator fails a call (thrown as movra::TiError).
constexpr int32_t kE_FAIL = static_cast<int32_t>(0x80004005);          // a switched-on fault
constexpr int32_t kE_ACCESSDENIED = static_cast<int32_t>(0x80070005);  // wrong password, no login
constexpr int32_t kE_INVALIDARG =
    static_cast<int32_t>(0x80070057);  // unknown user/group/kind, bad value
constexpr int32_t kDISP_E_TYPEMISMATCH =
    static_cast<int32_t>(0x80020005);  // argument of a wrong kind
constexpr int32_t kDISP_E_UNKNOWNNAME = static_cast<int32_t>(0x80020006);  // unknown property
constexpr int32_t kREGDB_E_CLASSNOTREG =
    static_cast<int32_t>(0x80040154);  // object cannot be created

// Property numbers, shared with the engine.
using movra::kPropDefaultLimits;
using movra::kPropGroupLimitIn;
using movra::kPropGroupName;
using movra::kPropLastActivity;
using movra::kPropLimitIn;
using movra::kPropLimitOut;
using movra::kPropNameLimitIn;
using movra::kPropNameLimitOut;

// Length of a GetUserInfo array.
constexpr size_t kInfoSize = 40;

// What a user wants to move, in kbit/s.
struct Demand {
    double in = 0;
    double out = 0;
    bool operator==(const Demand&) const = default;
};

struct UserSetup {
    Text name;
    Text group;  // empty: no group
    bool online = true;
    Text ip = u"0.0.0.0";  // "0.0.0.0" while unknown
    double balance = 0;
    double rxBytes = 0;  // counters at the start
    double txBytes = 0;
    int32_t limitIn = 0;  // kbit/s, 0 = unlimited
    int32_t limitOut = 0;
    bool defaultLimits = true;  // property 30
    Demand demand;              // fixed demand, used while `randomDemand` is off
    bool randomDemand = false;  // demand from the seeded generator
    double lastActiveAgo = 0;   // seconds before the start that it last moved traffic
};

struct GroupSetup {
    Text name;
    int32_t limitIn = 0;  // summed incoming limit, kbit/s
};

// A GetProperty/SetProperty refusal: for a user (empty = any) and a property number
// (0 = any); the limits named by text are stored as their numbers.
struct Refusal {
    Text user;
    int32_t property = 0;
    bool get = false;
    bool set = false;
    bool operator==(const Refusal&) const = default;
};

// The calls a server object answers, and its creation, as the hang fault names them.
enum class ServerCall { Create, Login, List, Info, Get, Set };

// One fault as a scenario line names it (`fault info b`, `fault delay 500`, ...): switched on
// for the whole run, or on and off at moments of the schedule.
struct FaultSwitch {
    enum class Kind { Create, Login, List, Info, Get, Set, CountersI4, ShortInfo, Delay, Hang };
    Kind kind = Kind::Create;
    ServerCall call = ServerCall::Create;  // Hang
    Text user;                             // Info; Get/Set: empty = any user
    int32_t property = 0;                  // Get/Set: 0 = any property
    size_t shortInfo = 0;                  // ShortInfo: elements returned
    int delayMs = 0;                       // Delay
};

// A change at a moment of simulated time (seconds since the start).
struct ScheduledEvent {
    enum class Kind { Demand, Random, Online, Offline, Ip, Fault, Clear };
    double at = 0;
    Text user;  // empty for Fault and Clear
    Kind kind = Kind::Demand;
    Demand demand;      // Kind::Demand
    Text ip;            // Kind::Ip
    FaultSwitch fault;  // Kind::Fault and Kind::Clear
};

struct Faults {
    bool createFails = false;        // the connector throws kREGDB_E_CLASSNOTREG
    bool loginFails = false;         // Login fails even with the right password
    bool listUsersFails = false;     // ListUsers throws kE_FAIL
    std::vector<Text> infoFailsFor;  // GetUserInfo throws kE_FAIL for these users
    std::vector<Refusal> refusals;   // GetProperty/SetProperty throw kE_FAIL
    bool countersAsI4 = false;       // elements 20/21 as VT_I4 (truncated) instead of VT_R8
    size_t shortInfo = 0;            // when > 0: GetUserInfo returns only this many elements
    int delayMs = 0;                 // every call waits this long first
    // Calls of these kinds that arrive never return (a server that stopped answering);
    // clearing the fault spares later calls, not those already waiting.
    std::vector<ServerCall> hangs;

    // Switches one fault on or off. A user or refusal already listed is not listed twice, so a
    // repeating schedule does not grow the lists; the same words clear what they switched on
    // (a refusal or user other than the one named stays; short-info and delay go off whatever
    // their value).
    void Set(const FaultSwitch& f, bool on);
    void Switch(const FaultSwitch& f) { Set(f, true); }
    void Clear(const FaultSwitch& f) { Set(f, false); }
};

enum class TimeMode {
    Manual,    // time moves only by Simulator::Advance
    RealTime,  // each call first advances to the real time elapsed since the start
};

struct Scenario {
    Text password = u"48213";
    double channelIn = 1024;  // kbit/s
    double channelOut = 256;
    // Limits the server enforces for users whose default-limits flag is on (0 = unlimited).
    int32_t defaultLimitIn = 0;
    int32_t defaultLimitOut = 0;
    uint64_t seed = 1;
    TimeMode time = TimeMode::Manual;
    Text journalPath;  // empty: journal kept in memory only
    // Newest journal lines kept in memory; a long run that reads only the file keeps few, so
    // that its memory stays flat.
    size_t journalMemory = 100000;
    double schedulePeriod = 0;  // > 0: the schedule repeats with this period
    std::vector<GroupSetup> groups;
    std::vector<UserSetup> users;
    std::vector<ScheduledEvent> schedule;
    Faults faults;
};

// A scenario text that cannot be read; what() names the line.
class ScenarioError : public std::runtime_error {
  public:
    ScenarioError(int line, const std::string& message)
        : std::runtime_error(line > 0 ? "line " + std::to_string(line) + ": " + message : message),
          line_(line) {}
    int line() const { return line_; }

  private:
    int line_;
};

// Parses a scenario (UTF-8 text; the format is described in README.md, section TiSim).
// A relative journal path is taken relative to `baseDir` when that is not empty.
Scenario ParseScenario(std::string_view text, const Text& baseDir = Text());
// Reads and parses a scenario file (UTF-8, an optional byte-order mark); throws ScenarioError
// (line 0 when the file cannot be read).
Scenario LoadScenarioFile(const Text& path);

// A user as the simulator holds it now.
struct UserState {
    Text name;
    Text group;
    bool online = false;
    Text ip;
    double balance = 0;
    double rxBytes = 0;  // bytes received by the user (element 20)
    double txBytes = 0;  // bytes sent (element 21)
    double rateIn = 0;   // delivered rate now, kbit/s
    double rateOut = 0;
    int32_t limitIn = 0;
    int32_t limitOut = 0;
    bool defaultLimits = true;
    Demand demand;  // current wish, before limits and channel
    // Bytes the user would have moved while online with no limit and an endless channel: the
    // wish integrated like the counters, so a report can compare an interval's delivery with
    // what was wanted in it even when the wish changed inside the interval.
    double wantedRxBytes = 0;
    double wantedTxBytes = 0;
    bool randomDemand = false;
    double lastActivity = 0;  // OLE date (local time)
};

class Simulator {
  public:
    // `wallClock` gives the local date and time at which simulated time 0 lies (for the
    // last-activity dates); it must outlive the constructor only. Throws ScenarioError when
    // the scenario's journal file cannot be opened for appending: a run whose calls cannot be
    // recorded is no use to the tests that read the journal.
    explicit Simulator(Scenario scenario, const movra::Clock& wallClock = movra::SystemClock());
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // ---- the server's operations (sessions call these after their own checks) ----
    bool CheckPassword(const Variant& password) const;
    Variant ListUsers() const;
    Variant GetUserInfo(const Text& name) const;
    Variant GetProperty(int32_t kind, const Text& object, int32_t property) const;
    void SetProperty(int32_t kind, const Text& object, int32_t property, const Variant& value);

    // ---- time ----
    // Moves simulated time forward (any time mode).
    void Advance(double seconds);
    // Simulated seconds since the start.
    double Now() const;
    // The OLE date (local) of simulated time `t`.
    double OleDateAt(double t) const;

    // ---- test access ----
    std::optional<UserState> User(const Text& name) const;
    std::vector<UserState> Users() const;
    std::optional<int32_t> GroupLimit(const Text& group) const;
    void AddUser(const UserSetup& user);
    bool RemoveUser(const Text& name);
    void SetLimits(const Text& name, int32_t in, int32_t out);
    void SetOnline(const Text& name, bool online);
    void SetIp(const Text& name, const Text& ip);
    void SetDemand(const Text& name, Demand demand);  // fixed demand; random off
    void SetRandomDemand(const Text& name);
    void SetDefaultLimits(const Text& name, bool on);
    void SetLastActivity(const Text& name, double oleDate);
    void SetGroupLimit(const Text& group, int32_t limitIn);
    void SetChannel(double in, double out);
    Faults GetFaults() const;
    void SetFaults(const Faults& faults);
    // Delivered sums now, kbit/s (never above the channel).
    Demand Delivered() const;
    Demand Channel() const;

    // ---- journal: one line per call, see README.md. Memory keeps the newest lines
    // (Scenario::journalMemory);
    // the journal file keeps every line. ----
    std::vector<std::string> Journal() const;
    void ClearJournal();
    // Appends one entry (also to the journal file). Sessions call it; `text` is the line
    // without its sequence number and time.
    void Record(const std::string& text);
    // A fresh session number.
    int NextSessionId();

    // In real time catches up, sleeps for the slow-call fault in force then (outside the lock)
    // and catches up again.
    void BeginCall();
    // Whether a call of this kind arriving now hangs; if so, journals `journalLine` with
    // " -> HANG" and waits until ReleaseHangs, which only tests call: in the DLL the call
    // returns only when the process ends. A released call fails with 0x80004005.
    void HangIfFaulted(ServerCall call, const std::string& journalLine);
    void ReleaseHangs();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Formats a value for the journal: EMPTY, I4:5, INT:5, R8:1.5, DATE:46357.5, BSTR:"te\"xt",
// ARRAY[40].
std::string JournalValue(const Variant& v);

// One connection to the simulator. The real server refuses every call before a successful
// Login, and so does this one (kE_ACCESSDENIED).
class Session : public movra::TiServer {
  public:
    Session(std::shared_ptr<Simulator> sim, const Text& host);
    ~Session() override;

    // movra::TiServer: the arguments Movra passes.
    Variant ListUsers() override;
    void Login(const Text& password) override;
    Variant GetUserInfo(const Text& name) override;
    Variant GetProperty(int32_t kind, const Text& object, const Variant& property) override;
    void SetProperty(int32_t kind, const Text& object, const Variant& property,
                     const Variant& value) override;

    // The same calls with every argument as it arrived over COM. Each is journaled with the
    // kinds and values of its arguments; an argument of the wrong kind fails with
    // kDISP_E_TYPEMISMATCH.
    Variant ListUsersRaw(int32_t list, const Variant& a, const Variant& b, int32_t c);
    Variant LoginRaw(const Variant& password);
    Variant GetUserInfoRaw(const Variant& name);
    Variant GetPropertyRaw(int32_t kind, const Variant& object, const Variant& property);
    void SetPropertyRaw(int32_t kind, const Variant& object, const Variant& property,
                        const Variant& value, int32_t flag);

    int id() const { return id_; }
    bool loggedIn() const { return loggedIn_.load(); }

  private:
    template <class F>
    auto Call(ServerCall call, const std::string& what, F&& body) -> decltype(body());
    void RequireLogin() const;

    std::shared_ptr<Simulator> sim_;
    int id_;
    std::atomic<bool> loggedIn_{false};
};

// Creates sessions on one shared simulator; fails with kREGDB_E_CLASSNOTREG while the create
// fault is on. Each Connect is journaled.
class SimConnector : public movra::TiConnector {
  public:
    explicit SimConnector(std::shared_ptr<Simulator> sim) : sim_(std::move(sim)) {}
    std::unique_ptr<movra::TiServer> Connect(const Text& host) override;
    std::unique_ptr<Session> ConnectSession(const Text& host);
    const std::shared_ptr<Simulator>& simulator() const { return sim_; }

  private:
    std::shared_ptr<Simulator> sim_;
};

// Maps a property argument (VT_BSTR name, or a VT_INT/VT_I4 number) to its number;
// nullopt when it names no property of that kind.
std::optional<int32_t> PropertyNumber(int32_t kind, const Variant& property);

}  // namespace tisim
