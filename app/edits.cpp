#include "app/edits.h"

#include <variant>

#include "config/settings_pages.h"

namespace movra {

bool ApplyGroupsRequest(Model& m, const GroupsRequest& r) {
    Model::Guard g(m);
    switch (r.kind) {
        case GroupsRequest::Kind::kAddOrChange:
            return AddOrChangeGroup(m, r.group, r.share);
        case GroupsRequest::Kind::kMoveUser:
            return MoveUserToGroup(m, r.user, r.group);
        case GroupsRequest::Kind::kRemoveUser:
            return RemoveUserFromGroup(m, r.user);
        case GroupsRequest::Kind::kDeleteGroup:
            return DeleteGroupByName(m, r.group);
        case GroupsRequest::Kind::kRecount:
            m.RecountGroupUsers();
            return true;
    }
    return false;
}

bool AddOrChangeGroup(Model& m, const Text& name, double share) {
    // A name of blanks alone would be trimmed away on loading: it is no name.
    if (TrimBlanks(name).empty()) return false;
    const int32_t id = m.FindOrAddGroup(name);
    return m.SetGroupShare(id, static_cast<float>(share));
}

bool MoveUserToGroup(Model& m, const Text& userName, const Text& groupName) {
    const int32_t id = m.FindGroupIdByName(groupName);
    if (id <= 0) return false;
    const int32_t u = m.FindUserByName(userName);
    if (u < 0) return false;
    m.User(u).UserGrID = id;
    m.RecountGroupUsers();
    return true;
}

bool RemoveUserFromGroup(Model& m, const Text& userName) {
    const int32_t u = m.FindUserByName(userName);
    if (u < 0) return false;
    m.User(u).UserGrID = 0;
    m.RecountGroupUsers();
    return true;
}

bool DeleteGroupByName(Model& m, const Text& groupName) {
    const int32_t id = m.FindGroupIdByName(groupName);
    if (id <= 0) return false;
    DeleteGroup(m, id);
    return true;
}

void DeleteGroup(Model& m, int32_t id) {
    if (id < 1) return;
    const int32_t index = m.FindGroupIndex(id);
    if (index < 0) return;
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        CTiUserData& u = m.User(i);
        if (u.UserGrID == id) u.UserGrID = 0;
        if (u.UserGrID > id) --u.UserGrID;
    }
    m.Groups.erase(m.Groups.begin() + index);
    --m.NumGroups;
    for (int32_t g = index; g < m.NumGroups; ++g) --m.Groups[g].GroupID;
}

LimitEditorFields LimitFieldsFromUser(const CTiUserData& u) {
    LimitEditorFields f;
    f.UserName = u.UserName;
    f.CurIn = u.LimitIn;
    f.CurOut = u.LimitOut;
    f.NewIn = u.LimitIn;
    f.NewOut = u.LimitOut;
    f.KTraff = u.UserKTraff;
    f.MaxIn = u.UserLimitMaxIn;
    f.MaxOut = u.UserLimitMaxOut;
    return f;
}

void ApplyLimitFields(const LimitEditorFields& f, CTiUserData& u) {
    if (f.NewIn != f.CurIn || f.NewOut != f.CurOut) {
        u.NewLimitIn = f.NewIn;
        u.NewLimitOut = f.NewOut;
    }
    if (f.KTraff != static_cast<double>(u.UserKTraff)) u.UserKTraff = static_cast<float>(f.KTraff);
    u.UserLimitMaxIn = f.MaxIn;
    u.UserLimitMaxOut = f.MaxOut;
}

bool ApplyLimitRequest(Model& m, const LimitRequest& r) {
    Model::Guard g(m);
    const int32_t index = m.FindUserById(r.userId);
    if (index < 0) return false;
    ApplyLimitFields(r.fields, m.User(index));
    return true;
}

AddUserOutcome AddUserNamed(Model& m, const Text& name) {
    AddUserOutcome out;
    if (name.empty()) return out;
    Model::Guard g(m);
    if (m.AddUserByName(name) == Model::kAlreadyPresent) {
        out.result = AddUserResult::kAlreadyPresent;
        out.message = name + u" уже есть в списке";
    } else {
        out.result = AddUserResult::kAdded;
    }
    return out;
}

void DeleteUsersById(Model& m, const std::vector<uint64_t>& ids) {
    Model::Guard g(m);
    for (uint64_t id : ids) {
        const int32_t index = m.FindUserById(id);
        if (index >= 0) m.RemoveUser(index);
    }
}

void ApplyEditedSettings(Model& m, const Settings& edited) {
    Model::Guard g(m);
    ApplyEditedSettingsLocked(m, edited);
}

void ApplyEditedSettingsLocked(Model& m, const Settings& edited) {
    for (const auto& pages : {MainPageBindings(), TrafficPageBindings()})
        for (const Binding<Settings>& b : pages) {
            if (b.showOnly) continue;
            std::visit([&](auto member) { m.settings.*member = edited.*member; }, b.member);
        }
}

}  // namespace movra
