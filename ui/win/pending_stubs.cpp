// Placeholders for pieces of the program that are not in the build yet (see ui/CMakeLists.txt).
// Each group compiles only while its real source is missing.
#include "config/config_file.h"
#include "engine/workers.h"
#include "ui/editors.h"

namespace movra {

#ifdef MOVRA_PENDING_WORKERS
struct Workers::Impl {};
Workers::Workers(Model&, WindowLink&, TiConnector&, WorkerEvents&) : impl_(nullptr) {}
Workers::~Workers() = default;
void Workers::StartControl() {}
void Workers::StartImport(int32_t) {}
void Workers::JoinAll() {}
#endif

#ifdef MOVRA_PENDING_CONFIG
void SaveConfig(Model&, MessagePort&) {}
bool LoadConfig(Model&, MessagePort&) {
    return false;
}
bool LoadConfigAtStartup(Model&, MessagePort&) {
    return false;
}
#endif

#ifdef MOVRA_PENDING_EDITORS
bool ShowSettings(HWND, Model&, const EditorHooks&) {
    return false;
}
void ShowGroupsEditor(HWND, Model&, GroupsEditorState&, const EditorHooks&) {}
void EditUserLimits(HWND, Model&, const std::vector<Text>&) {}
std::optional<Text> ShowAddUserDialog(HWND) {
    return std::nullopt;
}
#endif

// Keeps the library non-empty once every piece has arrived.
void PendingPiecesLinked() {}

}  // namespace movra
