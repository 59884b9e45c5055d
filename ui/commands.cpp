#include "ui/commands.h"

#include "core/settings.h"

namespace movra::ui {

Command CommandOf(int id) {
    switch (id) {
        case IDC_CONNECT:
            return Command::kConnect;
        case IDC_DISCONNECT:
            return Command::kDisconnect;
        case IDC_IMPORT_USERS:
            return Command::kImportUsers;
        case ID_IMPORT_GROUPS:
            return Command::kImportGroups;
        case IDC_GROUPS:
            return Command::kGroupsEditor;
        case ID_ADD_USER:
            return Command::kAddUser;
        case ID_EDIT_USER:
            return Command::kEditUsers;
        case ID_DELETE_USER:
            return Command::kDeleteUsers;
        case ID_TOGGLE_UNAUTHORISED:
            return Command::kToggleUnauthorised;
        case ID_SHOW_HIDE:
            return Command::kShowOrHide;
        case ID_MODE_MONITOR:
            return Command::kModeMonitor;
        case ID_MODE_DIVIDE:
            return Command::kModeDivide;
        case IDC_VIEW_LOG:
            return Command::kViewLog;
        case IDC_OPTIONS:
            return Command::kSettings;
        case ID_SAVE_CONFIG:
            return Command::kSave;
        case ID_LOAD_CONFIG:
            return Command::kLoad;
        case IDM_ABOUTBOX:
            return Command::kAbout;
        case ID_SHOW_CHART:
            return Command::kShowChart;
        case ID_EXIT:
            return Command::kExit;
        default:
            return Command::kNone;
    }
}

bool RunsWhileModal(Command c) {
    switch (c) {
        case Command::kShowOrHide:
        case Command::kModeMonitor:
        case Command::kModeDivide:
        case Command::kConnect:
        case Command::kDisconnect:
        case Command::kShowChart:
            return true;
        default:
            return false;
    }
}

bool Request(Command c, AppPort& app, const AskYesNo& ask) {
    switch (c) {
        case Command::kConnect:
            app.Connect();
            return true;
        case Command::kDisconnect:
            app.Disconnect();
            return true;
        case Command::kImportUsers:
            app.Import(kImportUsers);
            return true;
        case Command::kImportGroups:
            app.Import(kImportGroups);
            return true;
        case Command::kModeMonitor:
            app.SetMode(kModeMonitoring);
            return true;
        case Command::kModeDivide:
            app.SetMode(kModeDivision);
            return true;
        case Command::kSave:
            return app.Save(ask);
        case Command::kLoad:
            return app.Load();
        default:
            return false;
    }
}

}  // namespace movra::ui
