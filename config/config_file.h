#pragma once
// Movra.cfg: the settings, the monitored users and the groups in one UTF-16LE text file.
//
// Writing is locale-independent (always a decimal point) and safe: the text goes to a temporary
// file beside Movra.cfg, which replaces the old file in one step only once every byte is written
// and on the disk.
// Reading follows a UTF-16LE or UTF-8 byte-order mark (none means UTF-16LE), reads numbers with a
// decimal point or comma, and never fails on any input: over-long words are cut, values that are
// not numbers are left for the next key, and a flood of faults shows only the first messages.
//
// Failures in the configuration: nothing here throws on purpose. A file that cannot be read or
// written is shown through the MessagePort, after the lock is let go, and the call's result
// says so (a bool, ConfigRead); the field exchange hands back a value or nothing, and a refused
// text's message.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/file_system.h"
#include "core/model.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/window_link.h"

namespace movra {

// Writes the whole configuration to settings.ConfigFileName. Takes the model's lock itself to
// copy what it writes, writes without the lock, and shows a failure through `messages` after the
// lock is let go: "Ошибка создания файла <name>" when the file cannot be made (or the old one
// cannot be replaced), "Ошибка записи в <name>" when writing or flushing it to the disk fails;
// the old file then stays as it was. Returns whether the file was written.
bool SaveConfig(Model& m, MessagePort& messages, FileSystem& fs = SystemFileSystem());

// What reading the configuration file found: its name and, when it could not be read, whether
// it is missing or is there with the system's reason.
struct ConfigRead {
    Text name;
    FileRead::Status status = FileRead::Status::kMissing;
    Text reason;
};

// Reads the whole file into the model (settings, users, groups) when it can be read, showing
// the reader's messages; shows nothing when it cannot. Takes the lock itself and shows the
// messages, in file order, only after the lock is let go. A group already listed keeps its
// identifier, and a user's UserGrID: n (the n-th GroupName: of the file) becomes that group's
// identifier.
ConfigRead ReadConfigFile(Model& m, MessagePort& messages, FileSystem& fs = SystemFileSystem());

// ReadConfigFile, showing "Ошибка открытия файла <name>" when the file could not be read
// (nothing changes then). Returns whether it read the file; the caller then refreshes its views.
bool LoadConfig(Model& m, MessagePort& messages, FileSystem& fs = SystemFileSystem());

// Asks a Yes/No question modally; true for Yes.
using AskYesNo = std::function<bool(const Text& question)>;

// "Не удалось прочитать файл <name>: <reason>. Movra работает с настройками по умолчанию."
Text UnreadConfigText(const Text& name, const Text& reason);
// "<name> не был прочитан при запуске. Заменить его?"
Text ReplaceUnreadConfigQuestion(const Text& name);

// The configuration file as the program last met it. A file that is there but could not be read
// at start-up (held by a backup or a scanner) left the program on its defaults: it is remembered,
// so that a save never replaces the administrator's file without asking. Used on the window's
// thread only.
class ConfigFileState {
  public:
    // Start-up: loads the file when it can be read; leaves every default in place without any
    // message when it is missing. A file that is there but cannot be read is shown
    // (UnreadConfigText) and remembered, and the same text waits in TakeStartupLine for the
    // event log. Returns whether it loaded; the caller validates afterwards.
    bool LoadAtStartup(Model& m, MessagePort& messages, FileSystem& fs = SystemFileSystem());
    // The load command and button (LoadConfig). A load that read the remembered file forgets it.
    bool Load(Model& m, MessagePort& messages, FileSystem& fs = SystemFileSystem());
    // The save command and button (SaveConfig). While the file being saved is remembered, first
    // asks ReplaceUnreadConfigQuestion; No saves nothing. A save that wrote the file forgets it,
    // a failed one keeps it. Returns whether the file was written.
    bool Save(Model& m, MessagePort& messages, const AskYesNo& ask,
              FileSystem& fs = SystemFileSystem());
    // The start-up problem as an error line for the event log, given once.
    std::optional<Text> TakeStartupLine();
    // Whether a save would ask first.
    bool Unread() const { return unread_.has_value(); }

  private:
    std::optional<Text> unread_;  // the name of the file start-up could not read
    std::optional<Text> startupLine_;
};

// ---- The pieces below serve tests, the benchmark and the fuzz target. ----

// What a save writes, copied out of the model so that formatting needs no lock.
struct ConfigSnapshot {
    struct UserValues {
        Text UserName;
        float UserKTraff = 1.0f;
        int32_t UserGrID = 0;
        int32_t UserLimitMaxIn = 0;
        int32_t UserLimitMaxOut = 0;
    };
    struct GroupValues {
        Text GroupName;
        float GroupMaxIn = 0.0f;
    };
    Settings settings;
    std::vector<UserValues> users;    // users 0 .. NumUsers - 1
    std::vector<GroupValues> groups;  // groups 1 .. NumGroups - 1
};

// The caller holds the model's lock.
ConfigSnapshot TakeConfigSnapshot(const Model& m);

// The file's text, lines ending in "\n" (the file turns them into CR LF after a BOM).
Text ConfigText(const ConfigSnapshot& s);

// Reads decoded file text into the model as LoadConfig does once the file is open (reset step
// included). The caller holds the model's lock. Returns the messages to show, in file order.
std::vector<Text> ReadConfigText(Model& m, TextView text);

// Words longer than this are cut to it (the rest of the word is skipped).
constexpr size_t kMaxConfigWord = 255;
// At most this many messages are shown for one load; one more message then says that the
// rest were left out, so that a binary file cannot bury the user under message boxes.
constexpr size_t kMaxConfigMessages = 50;

}  // namespace movra
