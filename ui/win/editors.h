#pragma once
// What the main window calls to run the settings sheet and the editors. Every entry point runs
// modally on the window's thread and takes the model's lock only around its own reads and
// writes, never across a dialog or a message box.
#include <windows.h>

#include <functional>
#include <optional>
#include <vector>

#include "core/model.h"
#include "core/text.h"
#include "ui/editors_model.h"

namespace movra {

// Callbacks into the main window. An empty one makes its button do nothing. None is called with
// the model's lock held, and each takes the lock itself as it needs.
struct EditorHooks {
    // Writes Movra.cfg from the record and the lists; shows its own failure messages.
    std::function<void()> SaveConfig;
    // Reads Movra.cfg into the record and the lists, then lets the main window re-create its
    // gauges, fit its height and refresh the table.
    std::function<void()> LoadConfig;
    // Empties the file named by the record's LogFileName and logs the outcome.
    std::function<void()> ClearLogFile;
    // Starts the import worker for the groups (kImportGroups); returns at once.
    std::function<void()> StartGroupsImport;
    // True while a worker started by StartGroupsImport is still running; the groups editor
    // polls it to recount and redraw once the import has ended.
    std::function<bool()> ImportRunning;
};

// Runs the two-page sheet "Настройки Movra" modally, main page first. True when it ended with
// OK; the caller then applies the display consequences (speed unit, ServerRow, gauges, height
// if GridSize changed, LogWindow).
bool ShowSettings(HWND owner, Model& model, const EditorHooks& hooks);

// GroupsEditorState (ui/editors_model.h) is owned by the main window, so that the name and
// share typed last are shown again next time.
// Runs "Редактор групп" modally. The caller runs RecountGroupUsers before (and handles its
// failure) and refreshes its table after.
void ShowGroupsEditor(HWND owner, Model& model, GroupsEditorState& state, const EditorHooks& hooks);

// Runs the user limit editor for each name in turn: the first-column texts of the selected rows,
// first row first. An empty name ends the command; a name that is not monitored is skipped.
void EditUserLimits(HWND owner, Model& model, const std::vector<Text>& selectedNames);

// Runs the add-user dialog. The name as typed (possibly empty) when closed with OK; nothing when
// cancelled. The caller adds the user and shows " уже есть в списке" itself.
std::optional<Text> ShowAddUserDialog(HWND owner);

}  // namespace movra
