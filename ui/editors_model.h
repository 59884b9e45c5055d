#pragma once
// The logic of the settings pages and the editors, apart from their windows: binding tables,
// list cells and captions, and the limit editor's walk over the selected users. Editors read a
// snapshot of the application (never the live lists) and hand each change back through AppPort
// as one request (app/edits.h says what a request does).
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "app/app_port.h"
#include "app/edits.h"
#include "config/field_exchange.h"
#include "config/settings_pages.h"
#include "core/model.h"
#include "core/settings.h"
#include "core/text.h"
#include "ui/table_model.h"

namespace movra {

// ---- Groups editor ----

// The editor's own members; they live in the main window and persist between showings.
struct GroupsEditorState {
    Text groupName;
    double share = 0.0;
};

// The "Группа" and share edits of the editor.
std::vector<Binding<GroupsEditorState>> GroupsEditorBindings();

struct GroupRow {
    int32_t index;
    Text cells[5];  // "Ид.", "Имя", "Ограничение на прием", "Кол-во польз.", "Сумм.коефф."
};
struct UserRow {
    int32_t index;
    Text name;
    Text koeff;
};
struct GroupsView {
    std::vector<GroupRow> groups;
    std::vector<UserRow> members;  // users of the group named by the editor's name
    std::vector<UserRow> free;     // users without a group
    Text sumCaption;
};

// "25.00% (250.0 кбит/с max)"
Text GroupLimitCell(float share, uint32_t rxMaxKbit, const ui::DisplayUnit& unit);
// "Макс. канал на прием: 256.0 кбит/с"
Text MaxChannelCaption(uint32_t rxMaxKbit, const ui::DisplayUnit& unit);
// "1.10 из 1.0 использовано под группы. Остаток: -0.10"
Text GroupsSumCaption(double sum);

GroupsView BuildGroupsView(const AppSnapshot& s, const Text& groupName);
Text MaxChannelCaption(const Settings& s);

// Selecting a row of the groups list: copies the name cell into the state; the share becomes
// the group's GroupMaxIn (0 when its id names no group; unchanged when no group has the name).
void SelectGroupRow(const AppSnapshot& s, const Text& nameCell, GroupsEditorState& state);
// ---- User limit editor ----

inline constexpr double kMaxKTraff = 1000000.0;

std::vector<Binding<LimitEditorFields>> LimitEditorBindings();
// The command over the selected rows: for each name in turn, an empty name ends it, an
// unmonitored one is skipped, otherwise `runDialog` gets the fields of the user as a fresh
// snapshot shows them and returns the edited ones on OK or nothing on Cancel; each OK goes back
// to the same user, by its identity, as one request (skipped if it was removed meanwhile).
// Returns the number of users written back.
int EditLimitsLoop(
    AppPort& app, const std::vector<Text>& names,
    const std::function<std::optional<LimitEditorFields>(const LimitEditorFields&)>& runDialog);

}  // namespace movra
