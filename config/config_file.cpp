#include "config/config_file.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>

#include "config/settings_keys.h"
#include "core/textfile.h"

namespace movra {

namespace {

// ---- Keys ----

enum class Kind {
    kSetting,     // a row of the settings table
    kUser,        // rest of the line; opens a user's block
    kUserKTraff,  // per-user float
    kUserInt,     // per-user signed integer
    kGroupName,   // rest of the line; opens a group's block
    kGroupMaxIn,  // per-group float
};

struct KeyInfo {
    Kind kind;
    const SettingKey* setting = nullptr;
    int32_t CTiUserData::*ui = nullptr;
};

const std::unordered_map<Text, KeyInfo>& Keys() {
    static const std::unordered_map<Text, KeyInfo> keys = [] {
        std::unordered_map<Text, KeyInfo> k;
        for (const SettingKey& row : SettingKeys()) k[row.name] = {Kind::kSetting, &row};
        k[kUserKey] = {Kind::kUser};
        k[kUserKTraffKey] = {Kind::kUserKTraff};
        k[kUserGrIDKey] = {Kind::kUserInt, nullptr, &CTiUserData::UserGrID};
        k[kUserLimitMaxInKey] = {Kind::kUserInt, nullptr, &CTiUserData::UserLimitMaxIn};
        k[kUserLimitMaxOutKey] = {Kind::kUserInt, nullptr, &CTiUserData::UserLimitMaxOut};
        k[kGroupNameKey] = {Kind::kGroupName};
        k[kGroupMaxInKey] = {Kind::kGroupMaxIn};
        return k;
    }();
    return keys;
}

// ---- Reading ----

class Scanner {
  public:
    enum Result { kOk, kNotNumber, kEnd };

    explicit Scanner(TextView t) : t_(t) {}

    // The next whitespace-separated word, cut to kMaxConfigWord; false at the end of the text.
    bool Word(Text& out) {
        SkipSpace();
        if (pos_ >= t_.size()) return false;
        size_t b = pos_;
        while (pos_ < t_.size() && !Space(t_[pos_])) ++pos_;
        out.assign(t_.substr(b, std::min(pos_ - b, kMaxConfigWord)));
        return true;
    }

    // Like Word, but the word is left unread when `unless` holds for it; then `out` is empty.
    template <class Pred>
    bool WordUnless(Text& out, Pred unless) {
        size_t start = pos_;
        if (!Word(out)) return false;
        if (unless(out)) {
            pos_ = start;
            out.clear();
        }
        return true;
    }

    // The rest of the current line without its line end, trimmed; false at the end of the text.
    // Only a real line end is dropped, so a value of any length and a last line without a line
    // end keep every character.
    bool RestOfLine(Text& out) {
        if (pos_ >= t_.size()) return false;
        size_t e = t_.find(u'\n', pos_);
        if (e == TextView::npos) e = t_.size();
        out = TrimBlanks(t_.substr(pos_, e - pos_));
        pos_ = e < t_.size() ? e + 1 : e;
        return true;
    }

    // A decimal integer in [lo, hi] with an optional sign. Anything else (no digits, a value
    // out of range) is a kNotNumber and stays unread, so that it is taken as the next key.
    Result Integer(int64_t lo, int64_t hi, int64_t& v) {
        SkipSpace();
        if (pos_ >= t_.size()) return kEnd;
        size_t p = pos_;
        bool neg = false;
        if (t_[p] == u'+' || t_[p] == u'-') neg = t_[p++] == u'-';
        size_t digits = p;
        int64_t value = 0;
        bool big = false;
        while (p < t_.size() && t_[p] >= u'0' && t_[p] <= u'9') {
            if (value > (int64_t{1} << 40))
                big = true;
            else
                value = value * 10 + (t_[p] - u'0');
            ++p;
        }
        if (p == digits || big) return kNotNumber;
        if (neg) value = -value;
        if (value < lo || value > hi) return kNotNumber;
        v = value;
        pos_ = p;
        return kOk;
    }

    // A finite decimal number with a point or a comma and an optional exponent.
    Result Real(double& v) {
        SkipSpace();
        if (pos_ >= t_.size()) return kEnd;
        size_t p = pos_;
        std::string s;
        auto digits = [&]() {
            size_t n = 0;
            for (; p < t_.size() && t_[p] >= u'0' && t_[p] <= u'9'; ++p, ++n)
                s += static_cast<char>(t_[p]);
            return n;
        };
        if (t_[p] == u'+' || t_[p] == u'-') {
            if (t_[p] == u'-') s += '-';
            ++p;
        }
        size_t n = digits();
        if (p < t_.size() && (t_[p] == u'.' || t_[p] == u',')) {
            // "5." and ".5" are numbers here; spell them out in full for from_chars.
            s += n == 0 ? "0." : ".";
            ++p;
            size_t fraction = digits();
            if (fraction == 0) s += '0';
            n += fraction;
        }
        if (n == 0) return kNotNumber;
        if (p < t_.size() && (t_[p] == u'e' || t_[p] == u'E')) {
            size_t q = p + 1;
            if (q < t_.size() && (t_[q] == u'+' || t_[q] == u'-')) ++q;
            if (q < t_.size() && t_[q] >= u'0' && t_[q] <= u'9') {
                s += 'e';
                if (t_[p + 1] == u'-') s += '-';
                p = q;
                digits();
            }
        }
        double d = 0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), d);
        if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(d))
            return kNotNumber;
        v = d;
        pos_ = p;
        return kOk;
    }

  private:
    static bool Space(char16_t c) {
        return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
    }
    void SkipSpace() {
        while (pos_ < t_.size() && Space(t_[pos_])) ++pos_;
    }

    TextView t_;
    size_t pos_ = 0;
};

// The messages of one load, in file order, capped so that a binary file cannot produce
// thousands of message boxes.
class LoadMessages {
  public:
    explicit LoadMessages(const Text& fileName) : fileName_(fileName) {}
    void Add(Text text) {
        ++count_;
        if (count_ <= kMaxConfigMessages)
            out_.push_back(std::move(text));
        else if (count_ == kMaxConfigMessages + 1)
            out_.push_back(Fmt(
                u"Ошибка в %s: слишком много ошибок, остальные сообщения не показаны", fileName_));
    }
    std::vector<Text> Take() { return std::move(out_); }

  private:
    const Text& fileName_;
    size_t count_ = 0;
    std::vector<Text> out_;
};

bool IsKey(const Text& word) {
    return Keys().count(word) != 0;
}

bool ToFloat(double d, float& f) {
    if (std::fabs(d) > FLT_MAX) return false;
    f = static_cast<float>(d);
    return true;
}

// Reads one settings key's value into `s`. Returns false when the text ended first. A number
// that cannot be read stays unread (it is taken as the next key) and changes nothing.
bool ReadSetting(Scanner& sc, const SettingKey& k, Settings& s) {
    auto setNumber = [&](auto v) {
        std::visit(
            [&](auto m) {
                using T = std::decay_t<decltype(s.*m)>;
                if constexpr (std::is_arithmetic_v<T>) s.*m = static_cast<T>(v);
            },
            k.field);
    };
    auto setText = [&](const Text& v) {
        std::visit(
            [&](auto m) {
                if constexpr (std::is_same_v<std::decay_t<decltype(s.*m)>, Text>) s.*m = v;
            },
            k.field);
    };
    int64_t n = 0;
    double d = 0;
    Text value;
    switch (k.value) {
        case KeyValue::kInt:
        case KeyValue::kSwitch:
        case KeyValue::kUInt: {
            // An unsigned key takes a negative number as the same bits, which is how it is
            // written above 2^31 - 1.
            const int64_t hi = k.value == KeyValue::kUInt ? UINT32_MAX : INT32_MAX;
            auto r = sc.Integer(INT32_MIN, hi, n);
            if (r == Scanner::kEnd) return false;
            if (r == Scanner::kOk) setNumber(n);
            break;
        }
        case KeyValue::kReal: {
            auto r = sc.Real(d);
            if (r == Scanner::kEnd) return false;
            if (r == Scanner::kOk) setNumber(d);
            break;
        }
        case KeyValue::kWord:
            // A key never becomes a one-word value: "Server: " saved with an empty server
            // would otherwise swallow the key after it.
            if (!sc.WordUnless(value, IsKey)) return false;
            setText(value);
            break;
        case KeyValue::kMark:
            if (!sc.WordUnless(value, IsKey)) return false;
            setNumber(1);
            break;
        case KeyValue::kLine:
            if (!sc.RestOfLine(value)) return false;
            setText(value);
            break;
    }
    if (k.flag) s.*k.flag = 1;
    return true;
}

// What a file without the key leaves: the reset step of a load.
void ClearAbsent(const SettingKey& k, Settings& s) {
    if (k.absent != KeyAbsent::kClears) return;
    if (k.flag) {
        s.*k.flag = 0;
        return;
    }
    std::visit([&](auto m) { s.*m = {}; }, k.field);
}

// ---- Writing ----

bool Written(const SettingKey& k, const Settings& s) {
    switch (k.written) {
        case KeyWritten::kAlways:
            return true;
        case KeyWritten::kUnlessEmpty:
            return std::visit(
                [&](auto m) {
                    if constexpr (std::is_same_v<std::decay_t<decltype(s.*m)>, Text>)
                        return !(s.*m).empty();
                    else
                        return true;
                },
                k.field);
        case KeyWritten::kWhileOn:
            if (k.flag) return s.*k.flag != 0;
            return std::visit([&](auto m) { return s.*m != std::decay_t<decltype(s.*m)>{}; },
                              k.field);
    }
    return true;
}

// One settings line, "<key> <value>\n".
void WriteSetting(const SettingKey& k, const Settings& s, Text& out) {
    std::visit(
        [&](auto m) {
            using T = std::decay_t<decltype(s.*m)>;
            const T& v = s.*m;
            switch (k.value) {
                case KeyValue::kMark:
                    out += Fmt(u"%s %s\n", k.name, u"TRUE");
                    return;
                case KeyValue::kSwitch:
                    out += Fmt(u"%s %d\n", k.name, 1);
                    return;
                default:
                    break;
            }
            if constexpr (std::is_same_v<T, Text>) {
                out += Fmt(u"%s %s\n", k.name, v);
            } else if constexpr (std::is_floating_point_v<T>) {
                out += Fmt(u"%s %.4f\n", k.name, static_cast<double>(v));
            } else {
                // Unsigned fields are written as "%d" too: see KeyValue::kUInt.
                out += Fmt(u"%s %d\n", k.name, static_cast<int32_t>(v));
            }
        },
        k.field);
}

// The file as UTF-16LE with a byte-order mark, written so that a failed save never destroys
// the previous one. Returns the message to show, or nothing on success.
std::optional<Text> WriteConfigFile(const Text& name, const Text& text, FileSystem& fs) {
    return WriteFileReplacing(name, "\xFF\xFE" + EncodeUtf16Lines(text), fs);
}

}  // namespace

ConfigSnapshot TakeConfigSnapshot(const Model& m) {
    ConfigSnapshot s;
    s.settings = m.settings;
    s.users.reserve(static_cast<size_t>(m.NumUsers));
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        const CTiUserData& u = m.User(i);
        s.users.push_back(
            {u.UserName, u.UserKTraff, u.UserGrID, u.UserLimitMaxIn, u.UserLimitMaxOut});
    }
    for (int32_t g = 1; g < m.NumGroups; ++g) {
        const Group& gr = m.GroupAt(g);
        s.groups.push_back({gr.GroupName, gr.GroupMaxIn});
    }
    return s;
}

Text ConfigText(const ConfigSnapshot& c) {
    const Settings& s = c.settings;
    Text out;
    out.reserve(1500 + c.users.size() * 120 + c.groups.size() * 50);
    auto i = [&out](const char16_t* key, int32_t v) { out += Fmt(u"%s %d\n", key, v); };
    auto t = [&out](const char16_t* key, const Text& v) { out += Fmt(u"%s %s\n", key, v); };

    for (const SettingKey& k : SettingKeys())
        if (Written(k, s)) WriteSetting(k, s, out);

    for (const auto& user : c.users) {
        t(kUserKey, user.UserName);
        out += Fmt(u"%s %f\n", kUserKTraffKey, user.UserKTraff);
        i(kUserGrIDKey, user.UserGrID);
        i(kUserLimitMaxInKey, user.UserLimitMaxIn);
        i(kUserLimitMaxOutKey, user.UserLimitMaxOut);
    }
    for (const auto& g : c.groups) {
        t(kGroupNameKey, g.GroupName);
        out += Fmt(u"%s %f\n", kGroupMaxInKey, g.GroupMaxIn);
    }
    return out;
}

std::vector<Text> ReadConfigText(Model& m, TextView text) {
    Settings& s = m.settings;
    const Text fileName = s.ConfigFileName;
    LoadMessages messages(fileName);

    // Reset: what a file without a key leaves. The group list stays as it is.
    for (const SettingKey& k : SettingKeys()) ClearAbsent(k, s);
    // A user who is still in the file keeps its record (identity, polled and regulation state);
    // everyone else starts from a built record.
    std::unordered_map<Text, CTiUserData> previous;
    previous.reserve(static_cast<size_t>(m.NumUsers));
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        CTiUserData& u = m.User(i);
        Text name = u.UserName;
        previous.emplace(std::move(name), std::move(u));
    }
    m.ClearUsers();

    std::unordered_map<Text, int32_t> loaded;  // names read so far -> index
    int32_t currentUser = -1;
    bool haveGroup = false;
    int32_t currentGroup = 0;
    // The identifier each GroupName: of the file has in the list, in file order. Users name
    // their group by its place in the file, which is its identifier only when the file was
    // loaded into an empty list with distinct names.
    std::vector<int32_t> fileGroupIds;
    float lastShare = 1.0f;  // a share that cannot be read takes the last one read

    Scanner sc(text);
    Text key;
    Text value;
    for (;;) {
        if (!sc.Word(key)) break;
        auto found = Keys().find(key);
        if (found == Keys().end()) {
            messages.Add(u"Ошибка в " + fileName + u" неизвестный параметр: " + key);
            continue;
        }
        const KeyInfo& k = found->second;
        int64_t n = 0;
        double d = 0;
        bool end = false;
        switch (k.kind) {
            case Kind::kSetting:
                end = !ReadSetting(sc, *k.setting, s);
                break;
            case Kind::kUser: {
                if (!sc.RestOfLine(value)) {
                    end = true;
                    break;
                }
                auto seen = loaded.find(value);
                if (seen != loaded.end()) {
                    currentUser = seen->second;
                    break;
                }
                // The list was emptied at the reset step and `loaded` holds every name added
                // since, so the name is new: skip AddUserByName's scan over every user.
                int32_t index = m.AppendNewUser(value);
                auto old = previous.find(value);
                if (old != previous.end()) {
                    CTiUserData& u = m.User(index);
                    u = std::move(old->second);
                    previous.erase(old);
                    // The stored values come from the file alone: one that the block leaves
                    // out is the built value, as for a user loaded for the first time.
                    const CTiUserData built;
                    u.UserKTraff = built.UserKTraff;
                    u.UserGrID = built.UserGrID;
                    u.UserLimitMaxIn = built.UserLimitMaxIn;
                    u.UserLimitMaxOut = built.UserLimitMaxOut;
                }
                loaded.emplace(value, index);
                currentUser = index;
                break;
            }
            case Kind::kUserKTraff:
            case Kind::kUserInt: {
                if (currentUser < 0) {
                    messages.Add(u"Ошибка в " + fileName + u" " + key.substr(0, key.size() - 1) +
                                 u" должен идти после User ");
                    break;
                }
                CTiUserData& u = m.User(currentUser);
                if (k.kind == Kind::kUserInt) {
                    auto r = sc.Integer(INT32_MIN, INT32_MAX, n);
                    if (r == Scanner::kEnd) end = true;
                    if (r == Scanner::kOk) u.*k.ui = static_cast<int32_t>(n);
                } else {
                    auto r = sc.Real(d);
                    float f = 0.0f;
                    if (r == Scanner::kEnd) {
                        end = true;
                        break;
                    }
                    // A rating that cannot be read becomes 0.
                    u.UserKTraff = r == Scanner::kOk && ToFloat(d, f) ? f : 0.0f;
                }
                break;
            }
            case Kind::kGroupName:
                if (!sc.RestOfLine(value)) {
                    end = true;
                    break;
                }
                currentGroup = m.FindOrAddGroup(value);
                fileGroupIds.push_back(currentGroup);
                haveGroup = true;
                break;
            case Kind::kGroupMaxIn: {
                if (!haveGroup) {
                    messages.Add(u"Ошибка в " + fileName +
                                 u" GroupMaxIn должен идти после GroupName: ");
                    break;
                }
                auto r = sc.Real(d);
                if (r == Scanner::kEnd) {
                    end = true;
                    break;
                }
                float f = 0.0f;
                if (r == Scanner::kOk && ToFloat(d, f)) lastShare = f;
                m.SetGroupShare(currentGroup, lastShare);
                break;
            }
        }
        if (end) break;
    }
    // Users come before groups in the file, so their groups are known only now. An id that
    // names no place in the file is kept as it is.
    const auto places = static_cast<int32_t>(fileGroupIds.size());
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        int32_t& id = m.User(i).UserGrID;
        if (id >= 1 && id <= places) id = fileGroupIds[static_cast<size_t>(id - 1)];
    }
    return messages.Take();
}

bool SaveConfig(Model& m, MessagePort& messages, FileSystem& fs) {
    ConfigSnapshot snapshot;
    {
        Model::Guard g(m);
        snapshot = TakeConfigSnapshot(m);
    }
    const Text text = ConfigText(snapshot);
    std::optional<Text> failure = WriteConfigFile(snapshot.settings.ConfigFileName, text, fs);
    if (failure) messages.ShowMessage(*failure);
    return !failure;
}

ConfigRead ReadConfigFile(Model& m, MessagePort& messages, FileSystem& fs) {
    ConfigRead result;
    {
        Model::Guard g(m);
        result.name = m.settings.ConfigFileName;
    }
    FileRead file = fs.ReadWhole(result.name);
    result.status = file.status;
    result.reason = std::move(file.reason);
    if (file.status != FileRead::Status::kRead) return result;
    const Text text = DecodeText(file.bytes);
    file.bytes = std::string();
    std::vector<Text> shown;
    {
        Model::Guard g(m);
        shown = ReadConfigText(m, text);
    }
    for (const Text& t : shown) messages.ShowMessage(t);
    return result;
}

namespace {

// ReadConfigFile with the load commands' message when the file could not be read.
ConfigRead LoadOrSay(Model& m, MessagePort& messages, FileSystem& fs) {
    ConfigRead r = ReadConfigFile(m, messages, fs);
    if (r.status != FileRead::Status::kRead)
        messages.ShowMessage(u"Ошибка открытия файла " + r.name);
    return r;
}

}  // namespace

bool LoadConfig(Model& m, MessagePort& messages, FileSystem& fs) {
    return LoadOrSay(m, messages, fs).status == FileRead::Status::kRead;
}

// ---- The file as start-up met it ----

Text UnreadConfigText(const Text& name, const Text& reason) {
    return u"Не удалось прочитать файл " + name + u": " + reason +
           u". Movra работает с настройками по умолчанию.";
}

Text ReplaceUnreadConfigQuestion(const Text& name) {
    return name + u" не был прочитан при запуске. Заменить его?";
}

bool ConfigFileState::LoadAtStartup(Model& m, MessagePort& messages, FileSystem& fs) {
    const ConfigRead r = ReadConfigFile(m, messages, fs);
    if (r.status == FileRead::Status::kUnreadable) {
        unread_ = r.name;
        const Text text = UnreadConfigText(r.name, r.reason);
        startupLine_ = text;
        messages.ShowMessage(text);
    }
    return r.status == FileRead::Status::kRead;
}

bool ConfigFileState::Load(Model& m, MessagePort& messages, FileSystem& fs) {
    const ConfigRead r = LoadOrSay(m, messages, fs);
    if (r.status != FileRead::Status::kRead) return false;
    // What is in memory now came from that file: saving over it loses nothing.
    if (unread_ == r.name) unread_.reset();
    return true;
}

bool ConfigFileState::Save(Model& m, MessagePort& messages, const AskYesNo& ask, FileSystem& fs) {
    Text name;
    {
        Model::Guard g(m);
        name = m.settings.ConfigFileName;
    }
    if (unread_ == name && !ask(ReplaceUnreadConfigQuestion(name))) return false;
    if (!SaveConfig(m, messages, fs)) return false;
    // The file is now the one this program wrote; asking again would guard nothing.
    if (unread_ == name) unread_.reset();
    return true;
}

std::optional<Text> ConfigFileState::TakeStartupLine() {
    std::optional<Text> line = std::move(startupLine_);
    startupLine_.reset();
    return line;
}

}  // namespace movra
