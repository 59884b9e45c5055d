#pragma once
// The monitored users, the groups, the summary row and the settings record, shared by the
// window and one worker thread. One lock guards all of it. Nobody holds the lock across a call
// to the window or to the server, and the window never holds it across a message box or a
// dialog. Because workers let go of the lock around every server call, a position in Users is
// not an identity: every record carries a stable Id, and code that let go of the lock finds
// its record again by it.
//
// Failures in the core: a programming error (an index beyond Users or Groups) throws
// ListIndexError; what the machine can refuse (reading, writing or replacing a file) comes back
// as a result that says so, with the system's reason or the message to show (FileRead,
// WriteFileReplacing). Nothing in the core shows or logs a failure itself.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "core/clock.h"
#include "core/settings.h"
#include "core/text.h"

namespace movra {

class WindowLink;

// The name of the summary row: the server's own record shown below the users.
inline constexpr char16_t kServerRowName[] = u"Server_TI";

// Activity classes of a polled user.
enum ActivityClassValue : int32_t {
    kOffline = 0,
    kActive = 1,
    kSleeping = 2,
    kWeaklyActive = 3,
};

struct CTiUserData {
    int32_t ActivityClass = 0;
    int32_t UserLimitMaxOut = 0;
    int32_t UserLimitMaxIn = 0;
    int32_t UserGrID = 0;
    Text UserName;
    float UserKTraff = 1.0f;
    int32_t Online = 0;
    double RxTotal = 0.0;
    double TxTotal = 0.0;
    double Balance = 0.0;
    double RxSpeed = 0.0;
    double TxSpeed = 0.0;
    double RxLoad = 0.0;
    double TxLoad = 0.0;
    SystemTime LastActivity;
    Text IP;
    double TiRxSpeed = 0.0;
    double TiTxSpeed = 0.0;
    int32_t LimitIn = 0;
    int32_t LimitOut = 0;
    int32_t StartLimitIn = 0;
    int32_t StartLimitOut = 0;
    int32_t NewLimitIn = -1;
    int32_t NewLimitOut = -1;

    // Stable identity: never reused while the program runs; 0 for records not in use.
    uint64_t Id = 0;
    // The control run in which StartLimitIn/StartLimitOut were read (0: never), so that the
    // exit action never restores limits that were not read in the current run.
    uint64_t StartLimitsRun = 0;
};

struct Group {
    Text GroupName;
    int32_t GroupID = 0;
    int32_t UserCount = 0;
    int32_t ActiveCount = 0;
    int32_t SleepCount = 0;
    int32_t WeakCount = 0;
    float KTraffSum = 0.0f;
    float KTraffLeft = 0.0f;
    float GroupMaxIn = 0.0f;
    // Stable while the program runs, whatever renumbering GroupID undergoes; never saved.
    // The model hands them out from 1; 0 for records not in use.
    uint64_t Key = 0;
};

// The index of the group with this id among the first `count` groups (an id is usually its
// group's index); -1 when absent. The model and the table's copy of the groups both look up
// through it.
int32_t FindGroupIndex(const std::vector<Group>& groups, int32_t count, int32_t id);
// The id of the first of the first `count` groups with this name; -1 when none has it. The model
// and the editors' snapshot both look up through it.
int32_t FindGroupIdByName(const std::vector<Group>& groups, int32_t count, TextView name);

struct GroupCounts {
    int32_t active = 0;
    int32_t sleeping = 0;
    int32_t weak = 0;
};

// Out-of-range access to Users or Groups is a programming error; it throws this. Every worker run
// and every window or dialog procedure (so every command) catches it at its top and logs it
// instead of ending the program.
class ListIndexError : public std::out_of_range {
  public:
    using std::out_of_range::out_of_range;
};

class Model {
  public:
    explicit Model(const Clock& clock = SystemClock());
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    // Holds the lock for its lifetime. When it lets go, it delivers the users-changed notices
    // that operations queued meanwhile, after unlocking, so that the window never runs while
    // the lock is held.
    class Guard {
      public:
        explicit Guard(Model& m);
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        // Lets go early (delivering the notices); the guard is then spent.
        void Release();

      private:
        Model& m_;
        std::unique_lock<std::mutex> lock_;
    };

    // The window that receives users-changed notices and messages; null while none exists.
    void SetWindow(WindowLink* w) { window_ = w; }
    WindowLink* Window() const { return window_; }
    const Clock& clock() const { return clock_; }

    // ---- Everything below requires the lock (a live Guard). ----

    Settings settings;

    // Users.size() is the array size: indexes 0..NumUsers-1 are in use, the rest are spare
    // records in their built state.
    std::vector<CTiUserData> Users;
    int32_t NumUsers = 0;
    std::vector<Group> Groups;
    int32_t NumGroups = 0;
    CTiUserData ServerRow;
    std::array<Text, 8> ServerRowTexts;
    // Grows whenever users are added, removed or reloaded, so that lists of identities
    // (the division order) know when to rebuild.
    uint64_t UsersGeneration = 0;
    // The order in which channel division walks the users (identities), kept across cycles
    // and runs; rebuilt when DivisionOrderGeneration differs from UsersGeneration.
    std::vector<uint64_t> DivisionOrder;
    uint64_t DivisionOrderGeneration = 0;

    // A record in its built state (LastActivity = local time now).
    CTiUserData BuildUserRecord() const;

    CTiUserData& User(int32_t index);  // checked against the array size
    const CTiUserData& User(int32_t index) const;
    Group& GroupAt(int32_t index);  // checked against the array size
    const Group& GroupAt(int32_t index) const;

    static constexpr int32_t kAlreadyPresent = -1;
    // The index of the new record, or kAlreadyPresent when a user of exactly that name exists.
    int32_t AddUserByName(const Text& name);
    // AddUserByName for a name the caller already knows to be absent (the configuration loader
    // keeps its own index of the names it added), without the scan over every user.
    int32_t AppendNewUser(const Text& name);
    int32_t FindUserByName(TextView name) const;  // -1 when absent
    // Finds a record by its identity, trying `hint` first; -1 when it is gone.
    int32_t FindUserById(uint64_t id, int32_t hint = -1) const;
    // Removes user `index`; later users move down one place.
    void RemoveUser(int32_t index);
    // Empties the user list (NumUsers = 0; spare records rebuilt).
    void ClearUsers();

    int32_t FindGroupIdByName(TextView name) const;  // -1 when absent
    int32_t FindOrAddGroup(const Text& name);
    int32_t FindGroupIndex(int32_t id) const;  // -1 when absent
    bool SetGroupShare(int32_t id, float share);
    bool GetGroupName(int32_t id, Text& name) const;
    // Sets every UserCount from the users' UserGrID. A user whose group does not exist is
    // counted nowhere; the result is the number of such users.
    int32_t RecountGroupUsers();
    void ResetGroupCycle();
    int32_t AddActiveToGroup(int32_t groupId, float rating);
    GroupCounts SumGroupCounts() const;

    // Queues one users-changed notice, delivered when the guard lets go.
    void NotifyUsersChanged() { ++pendingNotices_; }

    // The identity the next new record gets: every record with an identity at or above it is
    // added later.
    uint64_t NextIdentity() const { return nextId_; }

  private:
    friend class Guard;
    void GrowUsers();

    const Clock& clock_;
    std::mutex mutex_;
    std::atomic<WindowLink*> window_{nullptr};
    int pendingNotices_ = 0;
    uint64_t nextId_ = 1;
    uint64_t nextGroupKey_ = 1;
};

// A walk over the users for code that lets go of the lock between visits. It visits the users
// listed when it starts, in that order, then the users added since, in list order: a deletion
// or a reorder meanwhile neither skips a user nor visits one twice, a user deleted before its
// turn is not visited, and a user added during the walk is still visited.
class UserWalk {
  public:
    // Both calls require the lock.
    explicit UserWalk(const Model& m);
    // The index of the next user to visit, or -1 when the walk is over.
    int32_t Next(const Model& m);

  private:
    std::vector<uint64_t> ids_;
    size_t pos_ = 0;
    int32_t hint_ = -1;
    uint64_t firstNew_ = 0;  // identities from here on were added after the start
    std::vector<uint64_t> visitedNew_;
    int32_t newScan_ = 0;
};

}  // namespace movra
