#include "core/model.h"

#include <algorithm>

#include "core/window_link.h"

namespace movra {

namespace {

// Users and Groups grow by this many records at a time, so that adding one at a time does not
// reallocate the lists every time; the records beyond those in use stay spare.
constexpr size_t kListGrowth = 5;

}  // namespace

Model::Model(const Clock& clock) : clock_(clock) {
    // Group 0, the group of users without a group, always exists.
    Groups.resize(1);
    Groups[0].Key = nextGroupKey_++;
    NumGroups = 1;
    ServerRow = BuildUserRecord();
    ServerRow.UserName = kServerRowName;
}

Model::Guard::Guard(Model& m) : m_(m), lock_(m.mutex_) {}

Model::Guard::~Guard() {
    Release();
}

void Model::Guard::Release() {
    if (!lock_.owns_lock()) return;
    int notices = m_.pendingNotices_;
    m_.pendingNotices_ = 0;
    lock_.unlock();
    WindowLink* w = m_.window_.load();
    if (w) {
        for (int i = 0; i < notices; ++i) w->UsersChanged();
    }
}

CTiUserData Model::BuildUserRecord() const {
    CTiUserData u;
    u.LastActivity = clock_.LocalNow();
    return u;
}

CTiUserData& Model::User(int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= Users.size())
        throw ListIndexError("user index out of range");
    return Users[index];
}

const CTiUserData& Model::User(int32_t index) const {
    return const_cast<Model*>(this)->User(index);
}

Group& Model::GroupAt(int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= Groups.size())
        throw ListIndexError("group index out of range");
    return Groups[index];
}

const Group& Model::GroupAt(int32_t index) const {
    return const_cast<Model*>(this)->GroupAt(index);
}

void Model::GrowUsers() {
    for (size_t k = 0; k < kListGrowth; ++k) Users.push_back(BuildUserRecord());
}

int32_t Model::AddUserByName(const Text& name) {
    if (FindUserByName(name) >= 0) return kAlreadyPresent;
    return AppendNewUser(name);
}

int32_t Model::AppendNewUser(const Text& name) {
    // Keep at least one spare record beyond the last user.
    if (Users.size() <= static_cast<size_t>(NumUsers) + 1) GrowUsers();
    CTiUserData& u = Users[NumUsers];
    u = BuildUserRecord();
    u.UserName = name;
    u.Id = nextId_++;
    ++NumUsers;
    ++UsersGeneration;
    NotifyUsersChanged();
    return NumUsers - 1;
}

int32_t Model::FindUserByName(TextView name) const {
    for (int32_t i = 0; i < NumUsers; ++i)
        if (Users[i].UserName == name) return i;
    return -1;
}

int32_t Model::FindUserById(uint64_t id, int32_t hint) const {
    if (id == 0) return -1;
    if (hint >= 0 && hint < NumUsers && Users[hint].Id == id) return hint;
    for (int32_t i = 0; i < NumUsers; ++i)
        if (Users[i].Id == id) return i;
    return -1;
}

void Model::RemoveUser(int32_t index) {
    if (index < 0 || index >= NumUsers) throw ListIndexError("user index out of range");
    Users.erase(Users.begin() + index);
    Users.push_back(BuildUserRecord());
    --NumUsers;
    ++UsersGeneration;
}

void Model::ClearUsers() {
    for (int32_t i = 0; i < NumUsers; ++i) Users[i] = BuildUserRecord();
    NumUsers = 0;
    ++UsersGeneration;
}

int32_t FindGroupIdByName(const std::vector<Group>& groups, int32_t count, TextView name) {
    count = std::min<int32_t>(count, static_cast<int32_t>(groups.size()));
    for (int32_t i = 0; i < count; ++i)
        if (groups[i].GroupName == name) return groups[i].GroupID;
    return -1;
}

int32_t Model::FindGroupIdByName(TextView name) const {
    return movra::FindGroupIdByName(Groups, NumGroups, name);
}

int32_t Model::FindOrAddGroup(const Text& name) {
    int32_t id = FindGroupIdByName(name);
    if (id >= 0) return id;
    if (Groups.size() <= static_cast<size_t>(NumGroups)) Groups.resize(Groups.size() + kListGrowth);
    Group& g = Groups[NumGroups];
    g = Group{};
    g.GroupName = name;
    g.GroupID = NumGroups;
    g.Key = nextGroupKey_++;
    g.UserCount = 1;
    ++NumGroups;
    return g.GroupID;
}

int32_t FindGroupIndex(const std::vector<Group>& groups, int32_t count, int32_t id) {
    count = std::min<int32_t>(count, static_cast<int32_t>(groups.size()));
    if (id >= 0 && id < count && groups[id].GroupID == id) return id;
    for (int32_t i = 0; i < count; ++i)
        if (groups[i].GroupID == id) return i;
    return -1;
}

int32_t Model::FindGroupIndex(int32_t id) const {
    return movra::FindGroupIndex(Groups, NumGroups, id);
}

bool Model::SetGroupShare(int32_t id, float share) {
    int32_t i = FindGroupIndex(id);
    if (i < 0) return false;
    Groups[i].GroupMaxIn = share;
    return true;
}

bool Model::GetGroupName(int32_t id, Text& name) const {
    name.clear();
    int32_t i = FindGroupIndex(id);
    if (i < 0) return false;
    name = Groups[i].GroupName;
    return true;
}

int32_t Model::RecountGroupUsers() {
    for (int32_t g = 0; g < NumGroups; ++g) Groups[g].UserCount = 0;
    int32_t orphans = 0;
    for (int32_t i = 0; i < NumUsers; ++i) {
        int32_t g = FindGroupIndex(Users[i].UserGrID);
        if (g < 0)
            ++orphans;
        else
            ++Groups[g].UserCount;
    }
    return orphans;
}

void Model::ResetGroupCycle() {
    for (int32_t g = 0; g < NumGroups; ++g) {
        Group& gr = Groups[g];
        gr.ActiveCount = gr.SleepCount = gr.WeakCount = 0;
        gr.KTraffSum = 0.0f;
    }
}

int32_t Model::AddActiveToGroup(int32_t groupId, float rating) {
    int32_t g = FindGroupIndex(groupId);
    if (g < 0) return 0;
    Group& gr = Groups[g];
    ++gr.ActiveCount;
    gr.KTraffSum += rating;
    gr.KTraffLeft = gr.KTraffSum;
    return gr.ActiveCount;
}

GroupCounts Model::SumGroupCounts() const {
    GroupCounts c;
    for (int32_t g = 0; g < NumGroups; ++g) {
        c.active += Groups[g].ActiveCount;
        c.sleeping += Groups[g].SleepCount;
        c.weak += Groups[g].WeakCount;
    }
    return c;
}

UserWalk::UserWalk(const Model& m) : firstNew_(m.NextIdentity()) {
    ids_.reserve(m.NumUsers);
    for (int32_t i = 0; i < m.NumUsers; ++i) ids_.push_back(m.Users[i].Id);
}

int32_t UserWalk::Next(const Model& m) {
    while (pos_ < ids_.size()) {
        const uint64_t id = ids_[pos_++];
        // Unchanged, the next user sits right after the last one; after a deletion before it,
        // in the last one's place.
        const int32_t after = hint_ + 1;
        const int32_t i =
            after < m.NumUsers && m.Users[after].Id == id ? after : m.FindUserById(id, hint_);
        if (i >= 0) {
            hint_ = i;
            return i;
        }
    }
    // Users added since the start: usually at the end of the list, so the search goes on from
    // where the last one was found and only then looks at the rest.
    for (int pass = 0; pass < 2; ++pass) {
        const int32_t from = pass == 0 ? newScan_ : 0;
        const int32_t to = pass == 0 ? m.NumUsers : std::min(newScan_, m.NumUsers);
        for (int32_t i = from; i < to; ++i) {
            const uint64_t id = m.Users[i].Id;
            if (id < firstNew_ ||
                std::find(visitedNew_.begin(), visitedNew_.end(), id) != visitedNew_.end())
                continue;
            visitedNew_.push_back(id);
            newScan_ = i + 1;
            return i;
        }
    }
    return -1;
}

}  // namespace movra
