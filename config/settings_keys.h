#pragma once
// Every settings key of Movra.cfg in one table: how the file reads and writes its value, and which
// control of the settings sheet shows it. The file's reader and writer and the sheet's bindings
// are all made from this table, so a key is added or changed in one row. A field keeps the key's
// name, so that a word an administrator reads in Movra.cfg is found in the code.
//
// The defaults are the member initialisers of Settings: a fresh record is the program's defaults
// everywhere (engine, tests, the sheet), and no second copy of them can drift.
#include <cstdint>
#include <vector>

#include "config/field_exchange.h"
#include "core/settings.h"

namespace movra {

// How a key's value is read and written.
enum class KeyValue {
    kInt,     // a signed 32-bit number, "%d"
    kUInt,    // an unsigned 32-bit number, written as "%d": values above 2^31 - 1 come out
              // negative and are read back as the same bits
    kReal,    // a number with a point or a comma, written "%.4f"
    kWord,    // one word; a key is never taken as the value
    kLine,    // the rest of the line, trimmed
    kMark,    // any one word, written "TRUE"; the key's presence sets the field to 1
    kSwitch,  // a signed number, written as 1: only "on" is ever saved
};

// When a key is written.
enum class KeyWritten {
    kAlways,
    kUnlessEmpty,  // a text left empty is not written
    kWhileOn,      // only while the key's flag (without one, the field) is not 0
};

// What a load from a file without the key does.
enum class KeyAbsent {
    kKeeps,   // the value in memory stays
    kClears,  // the flag (without one, the field) becomes 0 or empty
};

enum class SettingsPage { kNone, kMain, kTraffic };

// A control of the settings sheet bound to a field.
struct PageControl {
    SettingsPage page = SettingsPage::kNone;
    // A page takes its controls in this order and stops at the first that cannot be taken,
    // which gets the focus; the ones before it are kept.
    int place = 0;
    FieldKind kind = FieldKind::kText;
    std::vector<int> ids;
};

struct SettingKey {
    const char16_t* name = u"";  // with its colon, as in the file
    KeyValue value = KeyValue::kInt;
    Binding<Settings>::Member field;
    KeyWritten written = KeyWritten::kAlways;
    KeyAbsent absent = KeyAbsent::kKeeps;
    // A flag the key's presence turns on (unless the file ends first); the key is then written
    // only while the flag is on. The flag has no key of its own.
    int32_t Settings::*flag = nullptr;
    PageControl control;      // the field's control
    PageControl flagControl;  // the flag's control, a check box
    // What the page accepts; the file takes any value of the key's kind.
    bool ranged = false;
    double lo = 0;
    double hi = 0;
};

// The settings keys in the order the writer writes them.
const std::vector<SettingKey>& SettingKeys();

// The keys of a user's and of a group's block, written after the settings in this order.
inline constexpr char16_t kUserKey[] = u"User:";
inline constexpr char16_t kUserKTraffKey[] = u"UserKTraff:";
inline constexpr char16_t kUserGrIDKey[] = u"UserGrID:";
inline constexpr char16_t kUserLimitMaxInKey[] = u"UserLimitMaxIn:";
inline constexpr char16_t kUserLimitMaxOutKey[] = u"UserLimitMaxOut:";
inline constexpr char16_t kGroupNameKey[] = u"GroupName:";
inline constexpr char16_t kGroupMaxInKey[] = u"GroupMaxIn:";

// GridSize's range on the main page.
inline constexpr uint32_t kMaxGridSize = 500;

}  // namespace movra
