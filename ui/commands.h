#pragma once
// The main window's commands: which id is which command, which may run while a dialog of the
// window is open, and the request each one that is a request makes of the application. What a
// command does in the window itself (its dialogs, the table, the tray) stays with the window.
#include "app/app_port.h"
#include "ui/command_ids.h"

namespace movra::ui {

enum class Command {
    kNone,  // not a command (Escape and the dialog's OK among them: the window stays)
    kConnect,
    kDisconnect,
    kImportUsers,
    kImportGroups,
    kGroupsEditor,
    kAddUser,
    kEditUsers,
    kDeleteUsers,
    kToggleUnauthorised,
    kShowOrHide,
    kModeMonitor,
    kModeDivide,
    kViewLog,
    kSettings,
    kSave,
    kLoad,
    kAbout,
    kShowChart,
    kExit,
};

Command CommandOf(int id);

// While a modal dialog of the window is open, only commands that open nothing and close
// nothing run; the others bring that dialog forward.
bool RunsWhileModal(Command c);

// Makes the request of a command that is one (connect, disconnect, the imports, the modes, save
// with `ask`, load) and returns what the application answered (false only for a save or load
// that wrote or read nothing). Makes none and returns false for the window's own commands.
bool Request(Command c, AppPort& app, const AskYesNo& ask);

}  // namespace movra::ui
