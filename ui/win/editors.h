#pragma once
// What the main window calls to run the settings sheet and the editors. Every entry point runs
// modally on the window's thread; the editors read snapshots of the application and hand every
// change back to it as one request, never holding its live lists.
#include <windows.h>

#include <functional>
#include <optional>
#include <vector>

#include "app/app_port.h"
#include "core/text.h"
#include "ui/editors_model.h"

namespace movra {

// Callbacks into the main window, for what also changes the window. An empty one makes its
// button do nothing.
struct EditorHooks {
    // Writes Movra.cfg from the record and the lists; shows its own failure messages.
    std::function<void()> SaveConfig;
    // Reads Movra.cfg into the record and the lists, then lets the main window re-create its
    // gauges, fit its height and refresh the table.
    std::function<void()> LoadConfig;
    // Starts the groups import; returns at once. The groups editor waits for the application's
    // worker to end to recount and redraw.
    std::function<void()> StartGroupsImport;
};

// Runs the two-page sheet "Настройки Movra" modally, main page first. True when it ended with
// OK; the caller then applies the display consequences (speed unit, ServerRow, gauges, height
// if GridSize changed, LogWindow).
bool ShowSettings(HWND owner, AppPort& app, const EditorHooks& hooks);

// GroupsEditorState (ui/editors_model.h) is owned by the main window, so that the name and
// share typed last are shown again next time.
// Runs "Редактор групп" modally. The caller runs the recount before (and handles its failure)
// and refreshes its table after.
void ShowGroupsEditor(HWND owner, AppPort& app, GroupsEditorState& state, const EditorHooks& hooks);

// Runs the user limit editor for each name in turn: the first-column texts of the selected rows,
// first row first. An empty name ends the command; a name that is not monitored is skipped.
void EditUserLimits(HWND owner, AppPort& app, const std::vector<Text>& selectedNames);

// Runs the add-user dialog. The name as typed (possibly empty) when closed with OK; nothing when
// cancelled. The caller adds the user and shows " уже есть в списке" itself.
std::optional<Text> ShowAddUserDialog(HWND owner);

}  // namespace movra
