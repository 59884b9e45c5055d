#pragma once
// Movra.cfg: the settings, the monitored users and the groups in one UTF-16LE text file.
//
// Writing is locale-independent (always a decimal point) and safe: the text goes to a temporary
// file beside Movra.cfg, which replaces the old file in one step only once every byte is written
// and on the disk.
// Reading follows a UTF-16LE or UTF-8 byte-order mark (none means UTF-16LE), reads numbers with a
// decimal point or comma, and never fails on any input: over-long words are cut, values that are
// not numbers are left for the next key, and a flood of faults shows only the first messages.
#include <cstdint>
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
// the old file then stays as it was.
void SaveConfig(Model& m, MessagePort& messages, FileSystem& fs = SystemFileSystem());

// Reads the whole file into the model (settings, users, groups). Takes the lock itself and shows
// the messages, in file order, only after the lock is let go. Returns false when the file could
// not be opened (after showing "Ошибка открытия файла <name>"; nothing changes), true otherwise.
// The caller then refreshes its views. A group already listed keeps its identifier, and a
// user's UserGrID: n (the n-th GroupName: of the file) becomes that group's identifier.
bool LoadConfig(Model& m, MessagePort& messages);

// Start-up: loads the file as LoadConfig does when it can be opened, and otherwise leaves every
// default in place without any message. Returns whether it loaded. It does not validate: the
// caller runs ValidateSettings afterwards.
bool LoadConfigAtStartup(Model& m, MessagePort& messages);

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
