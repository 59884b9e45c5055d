// The main window's commands: each id is its own command and makes the request it names of the
// application, and only the harmless ones run while a dialog is open.
#include "ui/commands.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/recording_app_port.h"

namespace movra::ui {
namespace {

struct Case {
    int id;
    Command command;
    std::vector<std::string> requests;  // what it asks of the application
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {IDC_CONNECT, Command::kConnect, {"Connect"}},
        {IDC_DISCONNECT, Command::kDisconnect, {"Disconnect"}},
        {IDC_IMPORT_USERS, Command::kImportUsers, {"Import 1"}},
        {ID_IMPORT_GROUPS, Command::kImportGroups, {"Import 2"}},
        {ID_MODE_MONITOR, Command::kModeMonitor, {"SetMode 0"}},
        {ID_MODE_DIVIDE, Command::kModeDivide, {"SetMode 3"}},
        {ID_SAVE_CONFIG, Command::kSave, {"Save"}},
        {ID_LOAD_CONFIG, Command::kLoad, {"Load"}},
        // The window's own: dialogs, the table, the tray, the chart, the exit.
        {IDC_GROUPS, Command::kGroupsEditor, {}},
        {ID_ADD_USER, Command::kAddUser, {}},
        {ID_EDIT_USER, Command::kEditUsers, {}},
        {ID_DELETE_USER, Command::kDeleteUsers, {}},
        {ID_TOGGLE_UNAUTHORISED, Command::kToggleUnauthorised, {}},
        {ID_SHOW_HIDE, Command::kShowOrHide, {}},
        {IDC_VIEW_LOG, Command::kViewLog, {}},
        {IDC_OPTIONS, Command::kSettings, {}},
        {IDM_ABOUTBOX, Command::kAbout, {}},
        {ID_SHOW_CHART, Command::kShowChart, {}},
        {ID_EXIT, Command::kExit, {}},
    };
    return cases;
}

TEST(Commands, EachIdIsItsOwnCommandAndMakesItsRequest) {
    std::set<Command> seen;
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(CommandOf(c.id), c.command);
        EXPECT_TRUE(seen.insert(c.command).second);
        testing::RecordingAppPort app;
        int asked = 0;
        const bool answered = Request(CommandOf(c.id), app, [&](const Text&) {
            ++asked;
            return true;
        });
        EXPECT_EQ(app.requests, c.requests);
        EXPECT_EQ(answered, !c.requests.empty());
        // Only a save may ask before it replaces a file.
        EXPECT_EQ(asked, c.command == Command::kSave ? 1 : 0);
    }
    // Escape and the dialog's OK (IDCANCEL, IDOK) and anything unknown are no command.
    for (int id : {0, 1, 2, 1001, 65535}) EXPECT_EQ(CommandOf(id), Command::kNone) << id;
    testing::RecordingAppPort app;
    EXPECT_FALSE(Request(Command::kNone, app, {}));
    EXPECT_TRUE(app.requests.empty());
}

TEST(Commands, ASaveOrLoadThatDidNothingSaysSo) {
    testing::RecordingAppPort app;
    app.saveResult = app.loadResult = false;
    EXPECT_FALSE(Request(Command::kSave, app, {}));
    EXPECT_FALSE(Request(Command::kLoad, app, {}));
    EXPECT_EQ(app.requests, (std::vector<std::string>{"Save", "Load"}));
}

// While a dialog of the window is open, only commands that open nothing and close nothing run.
TEST(Commands, OnlyHarmlessCommandsRunWhileADialogIsOpen) {
    const std::set<Command> harmless = {Command::kShowOrHide, Command::kModeMonitor,
                                        Command::kModeDivide, Command::kConnect,
                                        Command::kDisconnect, Command::kShowChart};
    for (const Case& c : Cases())
        EXPECT_EQ(RunsWhileModal(c.command), harmless.count(c.command) == 1) << c.id;
    EXPECT_FALSE(RunsWhileModal(Command::kNone));
}

}  // namespace
}  // namespace movra::ui
