#pragma once
// What the editors' requests do to the live lists and settings. Each entry point that names no
// lock takes the model's lock itself, for the whole request, so that a request is applied in
// one step; the functions marked "lock held" are its parts and expect a live Model::Guard.
#include <cstdint>
#include <vector>

#include "app/app_port.h"
#include "core/model.h"
#include "core/settings.h"
#include "core/text.h"

namespace movra {

// ---- Groups ----

// One change of the groups editor; false when it changed nothing.
bool ApplyGroupsRequest(Model& m, const GroupsRequest& request);

// "Добавить (изменить)": an empty name or one of blanks alone does nothing; otherwise sets the
// share of the group of that name, creating it when absent. Returns whether anything changed.
// Lock held.
bool AddOrChangeGroup(Model& m, const Text& name, double share);
// "Добавить в группу": puts the user into the group named `groupName` (not group 0). Lock held.
bool MoveUserToGroup(Model& m, const Text& userName, const Text& groupName);
// "Удалить из группы". Lock held.
bool RemoveUserFromGroup(Model& m, const Text& userName);
// "Удалить группу": deletes the group of that name (not group 0). Lock held.
bool DeleteGroupByName(Model& m, const Text& groupName);
// Deletes the group with id k >= 1 so that every GroupID stays equal to its index: its members
// go to group 0 and later ids move down one. UserCount is not recounted. Lock held.
void DeleteGroup(Model& m, int32_t id);

// ---- Users ----

// What the limit editor shows for a user.
LimitEditorFields LimitFieldsFromUser(const CTiUserData& u);
// What OK writes back: a pending change of both limits (NewLimitIn first) only when a new limit
// differs from the current one shown; the coefficient when it differs; the maxima always.
void ApplyLimitFields(const LimitEditorFields& f, CTiUserData& u);
// The limit editor's OK, written to the user of that identity; false when it is gone.
bool ApplyLimitRequest(Model& m, const LimitRequest& request);

// Adds a user by name: nothing for an empty name, the " уже есть в списке" message when a
// user of exactly that name exists.
AddUserOutcome AddUserNamed(Model& m, const Text& name);
// Removes the users with these identities; those already gone are skipped.
void DeleteUsersById(Model& m, const std::vector<uint64_t>& ids);

// ---- Settings ----

// The settings sheet's result: every field the sheet's pages bind is taken from `edited`; the
// rest of the live record (what the program itself keeps there) stays.
void ApplyEditedSettings(Model& m, const Settings& edited);
// The same with the lock held, so that what follows from the settings can change in that hold.
void ApplyEditedSettingsLocked(Model& m, const Settings& edited);

}  // namespace movra
