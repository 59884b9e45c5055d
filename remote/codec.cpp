#include "remote/codec.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

#include <nlohmann/json.hpp>

namespace movra::remote {
namespace {

using Json = nlohmann::json;

// Every message is a map whose "t" names it; the numbers are the messages' places in Message.
template <class T, class V>
struct PlaceIn;
template <class T, class... Ts>
struct PlaceIn<T, std::variant<Ts...>> {
    static constexpr uint64_t value = [] {
        uint64_t i = 0;
        (void)((std::is_same_v<T, Ts> ? true : (++i, false)) || ...);
        return i;
    }();
};
template <class T>
constexpr uint64_t TagOf() {
    return PlaceIn<T, Message>::value;
}
static_assert(std::variant_size_v<Message> == 9 && TagOf<Reply>() == 8,
              "a new message needs its tag and codec");
static_assert(std::variant_size_v<RequestBody> == 15, "a new request needs its codec");

// No message nests deeper than six levels (a reply's history: message, history, seconds, second,
// figures, figure); a deeper input is refused before the parser recurses into it.
constexpr size_t kMaxDepth = 8;

// ---- Writing ----
//
// The writer is our own, not nlohmann's to_cbor: that one writes every NaN as the one canonical
// half-float, losing its sign and payload ("-nan" would come back as "nan"), and builds a tree
// first. Its output is plain RFC 8949 CBOR, which the library reads back.

uint16_t HalfBitsOf(float f, bool& exact) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    const uint16_t sign = static_cast<uint16_t>((b >> 16) & 0x8000u);
    const uint32_t exp = (b >> 23) & 0xFFu;
    const uint32_t man = b & 0x7FFFFFu;
    exact = true;
    if (exp == 0xFF) return static_cast<uint16_t>(sign | 0x7C00u);  // an infinity (NaN never here)
    if (exp == 0 && man == 0) return sign;
    const int e = static_cast<int>(exp) - 127;
    if (exp != 0 && e <= 15 && e >= -14 && (man & 0x1FFFu) == 0)
        return static_cast<uint16_t>(sign | ((e + 15) << 10) | (man >> 13));
    if (exp != 0 && e < -14 && e >= -24) {
        // A half subnormal: the whole significand shifted down must lose no bit.
        const uint32_t full = man | 0x800000u;
        const int shift = -(e + 1);
        if ((full & ((1u << shift) - 1)) == 0) return static_cast<uint16_t>(sign | (full >> shift));
    }
    exact = false;
    return 0;
}

class Writer {
  public:
    explicit Writer(std::vector<uint8_t>& out) : out_(out) {}

    void Uint(uint64_t v) { Head(0, v); }
    void Int(int64_t v) {
        if (v >= 0)
            Head(0, static_cast<uint64_t>(v));
        else
            Head(1, static_cast<uint64_t>(-(v + 1)));
    }
    void Bool(bool v) { out_.push_back(v ? 0xF5 : 0xF4); }
    // The shortest of half, single and double precision that holds the value exactly; a NaN
    // keeps its bits in double precision.
    void Double(double v) {
        if (!std::isnan(v) && std::fabs(v) <= std::numeric_limits<float>::max() &&
            static_cast<double>(static_cast<float>(v)) == v) {
            Float(static_cast<float>(v));
            return;
        }
        if (std::isinf(v)) {
            Float(static_cast<float>(v));
            return;
        }
        uint64_t b;
        std::memcpy(&b, &v, 8);
        out_.push_back(0xFB);
        Be(b, 8);
    }
    void Float(float v) {
        if (!std::isnan(v)) {
            bool exact = false;
            const uint16_t h = HalfBitsOf(v, exact);
            if (exact) {
                out_.push_back(0xF9);
                Be(h, 2);
                return;
            }
        }
        uint32_t b;
        std::memcpy(&b, &v, 4);
        out_.push_back(0xFA);
        Be(b, 4);
    }
    // UTF-8 as CBOR wants it. A lone surrogate has no UTF-8 form, so a text holding one travels
    // as a byte string of its UTF-16LE code units, and comes back exactly as it was.
    void Text(const movra::Text& t) {
        bool lone = false;
        for (size_t i = 0; i < t.size() && !lone; ++i) {
            const char16_t c = t[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 &&
                t[i + 1] <= 0xDFFF)
                ++i;
            else if (c >= 0xD800 && c <= 0xDFFF)
                lone = true;
        }
        if (lone) {
            Head(2, t.size() * 2);
            for (char16_t c : t) {
                out_.push_back(static_cast<uint8_t>(c & 0xFF));
                out_.push_back(static_cast<uint8_t>(c >> 8));
            }
            return;
        }
        const std::string s = ToUtf8(t);
        Head(3, s.size());
        out_.insert(out_.end(), s.begin(), s.end());
    }
    void Key(std::string_view k) {
        Head(3, k.size());
        out_.insert(out_.end(), k.begin(), k.end());
    }
    void Array(size_t n) { Head(4, n); }
    void Map(size_t n) { Head(5, n); }

  private:
    void Head(uint8_t major, uint64_t v) {
        const uint8_t m = static_cast<uint8_t>(major << 5);
        if (v < 24) {
            out_.push_back(static_cast<uint8_t>(m | v));
        } else if (v <= 0xFF) {
            out_.push_back(m | 24);
            Be(v, 1);
        } else if (v <= 0xFFFF) {
            out_.push_back(m | 25);
            Be(v, 2);
        } else if (v <= 0xFFFFFFFFu) {
            out_.push_back(m | 26);
            Be(v, 4);
        } else {
            out_.push_back(m | 27);
            Be(v, 8);
        }
    }
    void Be(uint64_t v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }

    std::vector<uint8_t>& out_;
};

// A user row: a positional array, since a State carries thousands of them.
constexpr size_t kUserFields = 26;
void Put(Writer& w, const SystemTime& t) {
    w.Array(8);
    for (uint16_t v :
         {t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds})
        w.Uint(v);
}
void Put(Writer& w, const CTiUserData& u) {
    w.Array(kUserFields);
    w.Int(u.ActivityClass);
    w.Int(u.UserLimitMaxOut);
    w.Int(u.UserLimitMaxIn);
    w.Int(u.UserGrID);
    w.Text(u.UserName);
    w.Float(u.UserKTraff);
    w.Int(u.Online);
    for (double v : {u.RxTotal, u.TxTotal, u.Balance, u.RxSpeed, u.TxSpeed, u.RxLoad, u.TxLoad})
        w.Double(v);
    Put(w, u.LastActivity);
    w.Text(u.IP);
    w.Double(u.TiRxSpeed);
    w.Double(u.TiTxSpeed);
    for (int32_t v :
         {u.LimitIn, u.LimitOut, u.StartLimitIn, u.StartLimitOut, u.NewLimitIn, u.NewLimitOut})
        w.Int(v);
    w.Uint(u.Id);
    w.Uint(u.StartLimitsRun);
}

constexpr size_t kGroupFields = 10;
void Put(Writer& w, const Group& g) {
    w.Array(kGroupFields);
    w.Text(g.GroupName);
    for (int32_t v : {g.GroupID, g.UserCount, g.ActiveCount, g.SleepCount, g.WeakCount}) w.Int(v);
    for (float v : {g.KTraffSum, g.KTraffLeft, g.GroupMaxIn}) w.Float(v);
    w.Uint(g.Key);
}

// The settings record: a map with short keys, one per field (ConfigFileName included).
constexpr size_t kSettingsFields = 31;
void Put(Writer& w, const Settings& s) {
    w.Map(kSettingsFields);
    auto i = [&](const char* k, int64_t v) {
        w.Key(k);
        w.Int(v);
    };
    auto d = [&](const char* k, double v) {
        w.Key(k);
        w.Double(v);
    };
    auto t = [&](const char* k, const movra::Text& v) {
        w.Key(k);
        w.Text(v);
    };
    i("srvMB", s.SrvLimTraff_MB);
    i("slMode", s.SpeedLimTraff_Mode);
    i("slSafe", s.SpeedLimTraff_SefeTraff);
    i("slMax", s.SpeedLimTraff_MaxTraff);
    d("slStartK", s.SpeedLimTraff_StartKoeff);
    d("slEndK", s.SpeedLimTraff_EndKoeff);
    i("slDno", s.SpeedLimTraff_DnoLimitKbits);
    i("quit", s.BeforeQuit);
    i("userMax", s.UserMAXSpeedLimits);
    i("reuse", s.ReUseFreeChanal);
    i("kBytes", s.DisplaySpeed_in_kBytes_s);
    i("autoM", s.AutoMeasure);
    i("autoC", s.UseAutoChanalWithCorrection);
    i("zamerRx", s.AutoZamer_minRXchanal);
    i("sleepTr", s.UserSleepTraffic);
    t("logFile", s.LogFileName);
    i("logMax", s.LogMaxSize);
    i("grid", s.GridSize);
    t("server", s.Server);
    t("pass", s.AutoLoginPass);
    i("storePw", s.StorePassword);
    i("refresh", s.RefreshTimer_msec);
    i("mode", s.TrafficSpeedAutoControll);
    i("rxMax", s.RXMAXkbit);
    i("txMax", s.TXMAXkbit);
    t("dlUser", s.DOWNLOADER_USERNAME);
    i("sleepTo", s.UserSleep_TimeOut_sec);
    i("useSleep", s.Use_Sleepers_Traffic);
    i("borrow", s.ChanalBorrowing);
    i("startMin", s.StartMinimized);
    t("cfgFile", s.ConfigFileName);
}

void Put(Writer& w, const AppSnapshot& s) {
    w.Map(6);
    w.Key("u");
    w.Array(s.users.size());
    for (const CTiUserData& u : s.users) Put(w, u);
    w.Key("g");
    w.Array(s.groups.size());
    for (const Group& g : s.groups) Put(w, g);
    w.Key("sr");
    Put(w, s.serverRow);
    w.Key("st");
    w.Array(s.serverRowTexts.size());
    for (const movra::Text& t : s.serverRowTexts) w.Text(t);
    w.Key("cfg");
    Put(w, s.settings);
    w.Key("c");
    w.Uint(s.connState);
}

constexpr size_t kGroupFigureFields = 6;
void Put(Writer& w, const CycleSummary& s) {
    w.Map(11);
    w.Key("at");
    w.Array(2);
    w.Int(s.at.steady);
    w.Int(s.at.local);
    w.Key("g");
    w.Array(s.groups.size());
    for (const GroupCycleFigures& g : s.groups) {
        w.Array(kGroupFigureFields);
        w.Uint(g.key);
        w.Text(g.name);
        for (double v : {g.rxSpeed, g.txSpeed, g.limitIn, g.limitOut}) w.Double(v);
    }
    w.Key("wi");
    w.Double(s.widthIn);
    w.Key("wo");
    w.Double(s.widthOut);
    w.Key("ma");
    w.Bool(s.measuredArmed);
    w.Key("mi");
    w.Double(s.measuredIn);
    w.Key("on");
    w.Int(s.online);
    w.Key("ac");
    w.Int(s.active);
    w.Key("wk");
    w.Int(s.weak);
    w.Key("sl");
    w.Int(s.sleeping);
    w.Key("run");
    w.Uint(s.run);
}

// The history: positional records, since a full one holds thousands of seconds and minutes.
constexpr size_t kSecondFields = 8, kFigureFields = 3, kMinuteFields = 8, kMinuteFigureFields = 8;
void Put(Writer& w, const chart::HistoryData& h) {
    w.Map(3);
    w.Key("k");
    w.Array(h.keys.size());
    for (const chart::HistoryKey& k : h.keys) {
        w.Array(2);
        w.Uint(k.key);
        w.Text(k.name);
    }
    w.Key("s");
    w.Array(h.seconds.size());
    for (const chart::HistorySecond& s : h.seconds) {
        w.Array(kSecondFields);
        w.Int(s.time);
        w.Int(s.offset);
        w.Bool(s.afterBreak);
        w.Bool(s.measured);
        w.Double(s.widthIn);
        w.Double(s.widthOut);
        w.Double(s.measuredIn);
        w.Array(s.figures.size());
        for (const chart::HistoryFigure& f : s.figures) {
            w.Array(kFigureFields);
            w.Uint(f.key);
            w.Float(f.in);
            w.Float(f.out);
        }
    }
    w.Key("m");
    w.Array(h.minutes.size());
    for (const chart::HistoryMinute& m : h.minutes) {
        w.Array(kMinuteFields);
        w.Int(m.minute);
        w.Int(m.offset);
        w.Int(m.seconds);
        w.Int(m.measuredSeconds);
        w.Double(m.measuredSum);
        w.Double(m.widthIn);
        w.Double(m.widthOut);
        w.Array(m.figures.size());
        for (const chart::HistoryMinuteFigure& f : m.figures) {
            w.Array(kMinuteFigureFields);
            w.Uint(f.key);
            w.Uint(f.seconds);
            for (float v : {f.minIn, f.maxIn, f.sumIn, f.minOut, f.maxOut, f.sumOut}) w.Float(v);
        }
    }
}

// A request's body: a map of its own fields ("b"), empty for the requests that carry none.
void PutBody(Writer& w, const Connect&) {
    w.Map(0);
}
void PutBody(Writer& w, const Disconnect&) {
    w.Map(0);
}
void PutBody(Writer& w, const SetMode& r) {
    w.Map(1);
    w.Key("mode");
    w.Int(r.mode);
}
void PutBody(Writer& w, const Import& r) {
    w.Map(1);
    w.Key("kinds");
    w.Int(r.kinds);
}
void PutBody(Writer& w, const Save& r) {
    w.Map(1);
    w.Key("ok");
    w.Bool(r.confirmed);
}
void PutBody(Writer& w, const Load&) {
    w.Map(0);
}
void PutBody(Writer& w, const ClearLogFile&) {
    w.Map(0);
}
void PutBody(Writer& w, const ApplySettings& r) {
    w.Map(2);
    w.Key("cfg");
    Put(w, r.edited);
    w.Key("base");
    w.Uint(r.base);
}
void PutBody(Writer& w, const EditGroups& r) {
    w.Map(4);
    w.Key("k");
    w.Uint(static_cast<uint64_t>(r.request.kind));
    w.Key("g");
    w.Text(r.request.group);
    w.Key("sh");
    w.Double(r.request.share);
    w.Key("u");
    w.Text(r.request.user);
}
void PutBody(Writer& w, const SetUserLimits& r) {
    const LimitEditorFields& f = r.request.fields;
    w.Map(9);
    w.Key("id");
    w.Uint(r.request.userId);
    w.Key("n");
    w.Text(f.UserName);
    w.Key("ci");
    w.Int(f.CurIn);
    w.Key("co");
    w.Int(f.CurOut);
    w.Key("ni");
    w.Int(f.NewIn);
    w.Key("no");
    w.Int(f.NewOut);
    w.Key("kt");
    w.Double(f.KTraff);
    w.Key("xi");
    w.Int(f.MaxIn);
    w.Key("xo");
    w.Int(f.MaxOut);
}
void PutBody(Writer& w, const AddUser& r) {
    w.Map(1);
    w.Key("n");
    w.Text(r.name);
}
void PutBody(Writer& w, const DeleteUsers& r) {
    w.Map(1);
    w.Key("ids");
    w.Array(r.ids.size());
    for (uint64_t id : r.ids) w.Uint(id);
}
void PutBody(Writer& w, const CheckGroups&) {
    w.Map(0);
}
void PutBody(Writer& w, const ReadLog& r) {
    w.Map(2);
    w.Key("new");
    w.Bool(r.restart);
    w.Key("n");
    w.Uint(r.count);
}
void PutBody(Writer& w, const ReadHistory&) {
    w.Map(0);
}

void PutMessage(Writer& w, const Message& message) {
    std::visit(
        [&](const auto& m) {
            using T = std::decay_t<decltype(m)>;
            auto tag = [&](size_t fields) {
                w.Map(fields + 1);
                w.Key("t");
                w.Uint(TagOf<T>());
            };
            // The first exchange keeps this layout in every protocol version, so that each
            // side can read the other's version and refuse in words.
            if constexpr (std::is_same_v<T, Hello>) {
                tag(2);
                w.Key("v");
                w.Uint(m.version);
                w.Key("c");
                w.Text(m.client);
            } else if constexpr (std::is_same_v<T, Welcome>) {
                tag(1);
                w.Key("v");
                w.Uint(m.version);
            } else if constexpr (std::is_same_v<T, Refusal>) {
                tag(2);
                w.Key("v");
                w.Uint(m.version);
                w.Key("x");
                w.Text(m.text);
            } else if constexpr (std::is_same_v<T, State>) {
                tag(4);
                w.Key("s");
                Put(w, m.snapshot);
                w.Key("r");
                w.Uint(m.settingsRevision);
                w.Key("w");
                w.Bool(m.workerRunning);
                w.Key("e");
                w.Bool(m.exitBegun);
            } else if constexpr (std::is_same_v<T, LogLine>) {
                tag(2);
                w.Key("f");
                w.Uint(m.flags);
                w.Key("x");
                w.Text(m.text);
            } else if constexpr (std::is_same_v<T, Summary>) {
                tag(1);
                w.Key("s");
                Put(w, m.summary);
            } else if constexpr (std::is_same_v<T, Notice>) {
                tag(1);
                w.Key("x");
                w.Text(m.text);
            } else if constexpr (std::is_same_v<T, Request>) {
                tag(3);
                w.Key("i");
                w.Uint(m.id);
                w.Key("k");
                w.Uint(m.body.index());
                w.Key("b");
                std::visit([&](const auto& body) { PutBody(w, body); }, m.body);
            } else {
                static_assert(std::is_same_v<T, Reply>);
                tag(7);
                w.Key("i");
                w.Uint(m.id);
                w.Key("o");
                w.Uint(static_cast<uint64_t>(m.outcome));
                w.Key("x");
                w.Text(m.text);
                w.Key("a");
                w.Uint(static_cast<uint64_t>(m.added));
                w.Key("l");
                w.Array(m.lines.size());
                for (const movra::Text& t : m.lines) w.Text(t);
                w.Key("e");
                w.Bool(m.end);
                w.Key("h");
                Put(w, m.history);
            }
        },
        message);
}

// ---- Reading ----
//
// nlohmann's CBOR reader parses into a tree through this builder, which refuses early what no
// message holds: nesting beyond kMaxDepth (the reader recurses per level), a list announcing
// more entries than the body has bytes, indefinite lengths, duplicate keys, negative integers
// beyond 64 bits (the library folds those into wrong values), and a tree that would cost more
// than kMaxTreeBytes: a tree costs up to ~80 bytes of memory per byte of CBOR (a list of empty
// texts), where real messages cost at most ~18 (a history's seconds), and a full history of 200
// groups, near the frame limit, about 15.
constexpr size_t kMaxTreeBytes = 256u << 20;

class TreeBuilder {
  public:
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    TreeBuilder(Json& root, size_t bodyBytes, std::string& why)
        : root_(root), bodyBytes_(bodyBytes), why_(why) {}

    bool null() { return Put(Json(nullptr)); }
    bool boolean(bool v) { return Put(Json(v)); }
    bool number_integer(Json::number_integer_t v) {
        // The reader hands only negative CBOR integers here; one below -2^63 arrives folded.
        if (v >= 0) return Fail("integer out of range");
        return Put(Json(v));
    }
    bool number_unsigned(Json::number_unsigned_t v) { return Put(Json(v)); }
    bool number_float(Json::number_float_t v, const string_t&) { return Put(Json(v)); }
    bool string(string_t& v) {
        // The string's own block, and its heap buffer beyond the short-string room.
        if (!Spend(48 + (v.size() > 15 ? v.size() + 16 : 0))) return false;
        return Put(Json(std::move(v)));
    }
    bool binary(binary_t& v) {
        if (!Spend(64 + v.size())) return false;
        return Put(Json::binary(std::move(v)));
    }
    bool start_object(size_t n) {
        if (n == static_cast<size_t>(-1)) return Fail("indefinite length");
        if (n > bodyBytes_ / 2) return Fail("map longer than the frame");
        return Open(Json::object());
    }
    bool key(string_t& k) {
        key_ = std::move(k);
        return true;
    }
    bool end_object() { return Close(); }
    bool start_array(size_t n) {
        if (n == static_cast<size_t>(-1)) return Fail("indefinite length");
        if (n > bodyBytes_) return Fail("list longer than the frame");
        return Open(Json::array());
    }
    bool end_array() { return Close(); }
    bool parse_error(size_t, const std::string&, const nlohmann::detail::exception& e) {
        // 110: the input ended inside a value, or went on after a whole one.
        if (done_) return Fail("bytes after the message");
        return Fail(e.id == 110 ? "truncated CBOR" : "malformed CBOR");
    }

  private:
    bool Fail(const char* why) {
        if (why_.empty()) why_ = why;
        return false;
    }
    // An estimate of what the tree holds, kept below kMaxTreeBytes.
    bool Spend(size_t bytes) {
        cost_ += bytes;
        return cost_ <= kMaxTreeBytes || Fail("message too costly to take apart");
    }
    Json* Place(Json&& v) {
        // A list's slot, with room for the list's growth; or a map's node and its key.
        const bool inMap = !stack_.empty() && stack_.back()->is_object();
        if (!Spend(inMap ? 96 + (key_.size() > 15 ? key_.size() + 16 : 0) : 32)) return nullptr;
        if (stack_.empty()) {
            root_ = std::move(v);
            done_ = !root_.is_structured();
            return &root_;
        }
        Json& top = *stack_.back();
        if (top.is_array()) {
            auto& a = top.get_ref<Json::array_t&>();
            a.push_back(std::move(v));
            return &a.back();
        }
        auto [it, fresh] = top.get_ref<Json::object_t&>().emplace(std::move(key_), std::move(v));
        if (!fresh) {
            Fail("duplicate key");
            return nullptr;
        }
        return &it->second;
    }
    bool Put(Json&& v) { return Place(std::move(v)) != nullptr; }
    bool Close() {
        stack_.pop_back();
        done_ = stack_.empty();
        return true;
    }
    bool Open(Json&& v) {
        if (stack_.size() >= kMaxDepth) return Fail("nested too deep");
        if (!Spend(48)) return false;
        Json* p = Place(std::move(v));
        if (!p) return false;
        stack_.push_back(p);
        return true;
    }

    Json& root_;
    size_t bodyBytes_;
    std::string& why_;
    std::vector<Json*> stack_;
    string_t key_;
    bool done_ = false;  // the top-level value is complete
    size_t cost_ = 0;
};

bool ValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t c;
        if ((b & 0xE0) == 0xC0) {
            len = 2;
            c = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
            c = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
            c = b & 0x07;
        } else {
            return false;
        }
        if (s.size() - i < len) return false;
        for (size_t k = 1; k < len; ++k) {
            const unsigned char cb = static_cast<unsigned char>(s[i + k]);
            if ((cb & 0xC0) != 0x80) return false;
            c = (c << 6) | (cb & 0x3F);
        }
        static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

// Reads typed values out of the tree; the first failure is kept as the reason.
class Reader {
  public:
    explicit Reader(std::string& why) : why_(why) {}

    bool Fail(std::string_view what, const char* field) {
        if (why_.empty()) {
            why_ = what;
            if (field) {
                why_ += ": ";
                why_ += field;
            }
        }
        return false;
    }

    bool Get(const Json& j, uint64_t& out, const char* f) {
        if (j.type() != Json::value_t::number_unsigned) return Fail("not an unsigned integer", f);
        out = j.get<uint64_t>();
        return true;
    }
    bool Get(const Json& j, int64_t& out, const char* f) {
        if (j.type() == Json::value_t::number_integer) {
            out = j.get<int64_t>();
            return true;
        }
        uint64_t u = 0;
        if (!Get(j, u, f)) return false;
        if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return Fail("out of range", f);
        out = static_cast<int64_t>(u);
        return true;
    }
    template <class T>
    bool Ranged(const Json& j, T& out, const char* f, int64_t lo, int64_t hi) {
        int64_t v = 0;
        if (!Get(j, v, f)) return false;
        if (v < lo || v > hi) return Fail("out of range", f);
        out = static_cast<T>(v);
        return true;
    }
    bool Get(const Json& j, int32_t& out, const char* f) {
        return Ranged(j, out, f, std::numeric_limits<int32_t>::min(),
                      std::numeric_limits<int32_t>::max());
    }
    bool Get(const Json& j, uint32_t& out, const char* f) {
        return Ranged(j, out, f, 0, std::numeric_limits<uint32_t>::max());
    }
    bool Get(const Json& j, uint16_t& out, const char* f) {
        return Ranged(j, out, f, 0, std::numeric_limits<uint16_t>::max());
    }
    bool Get(const Json& j, bool& out, const char* f) {
        if (!j.is_boolean()) return Fail("not a boolean", f);
        out = j.get<bool>();
        return true;
    }
    bool Get(const Json& j, double& out, const char* f) {
        if (!j.is_number_float()) return Fail("not a float", f);
        out = j.get<double>();
        return true;
    }
    bool Get(const Json& j, float& out, const char* f) {
        double d = 0;
        if (!Get(j, d, f)) return false;
        // Single-precision fields take only what single precision holds exactly.
        if (!std::isnan(d) && !std::isinf(d) &&
            (std::fabs(d) > std::numeric_limits<float>::max() ||
             static_cast<double>(static_cast<float>(d)) != d))
            return Fail("not a single-precision value", f);
        out = static_cast<float>(d);
        return true;
    }
    bool Get(const Json& j, movra::Text& out, const char* f) {
        if (j.is_string()) {
            const std::string& s = j.get_ref<const std::string&>();
            if (!ValidUtf8(s)) return Fail("invalid UTF-8", f);
            out = FromUtf8(s);
            return true;
        }
        if (j.is_binary()) {
            const Json::binary_t& b = j.get_binary();
            if (b.has_subtype() || b.size() % 2 != 0) return Fail("not UTF-16 units", f);
            out.resize(b.size() / 2);
            for (size_t i = 0; i < out.size(); ++i)
                out[i] = static_cast<char16_t>(b[2 * i] | (b[2 * i + 1] << 8));
            return true;
        }
        return Fail("not a text", f);
    }
    // An enumeration sent as its number, refused beyond its last value.
    template <class E>
    bool Enum(const Json& j, E& out, E last, const char* f) {
        uint64_t v = 0;
        if (!Get(j, v, f)) return false;
        if (v > static_cast<uint64_t>(last)) return Fail("unknown value", f);
        out = static_cast<E>(v);
        return true;
    }
    const Json::array_t* List(const Json& j, const char* f) {
        if (!j.is_array()) {
            Fail("not a list", f);
            return nullptr;
        }
        return &j.get_ref<const Json::array_t&>();
    }

  private:
    std::string& why_;
};

// One record: a map read by key, or a positional array read in order. Every field must be there
// with its type, and nothing else.
class Record {
  public:
    Record(Reader& r, const Json& j, size_t fields, bool positional, const char* what) : r_(r) {
        if (positional) {
            if (!j.is_array())
                r_.Fail("not a list", what);
            else if (j.size() != fields)
                r_.Fail("wrong field count", what);
            else
                array_ = &j.get_ref<const Json::array_t&>();
        } else {
            if (!j.is_object())
                r_.Fail("not a map", what);
            else if (j.size() != fields)
                r_.Fail("wrong field count", what);
            else
                map_ = &j.get_ref<const Json::object_t&>();
        }
    }
    bool ok() const { return array_ || map_; }

    // The next field (by position) or the field `key` (by name).
    const Json* Field(const char* key) {
        if (array_) {
            if (next_ < array_->size()) return &(*array_)[next_++];
            r_.Fail("wrong field count", key);
            return nullptr;
        }
        if (!map_) return nullptr;
        auto it = map_->find(key);
        if (it == map_->end()) {
            r_.Fail("missing field", key);
            return nullptr;
        }
        return &it->second;
    }
    template <class T>
    bool operator()(const char* key, T& out) {
        const Json* j = Field(key);
        return j && r_.Get(*j, out, key);
    }

  private:
    Reader& r_;
    const Json::array_t* array_ = nullptr;
    const Json::object_t* map_ = nullptr;
    size_t next_ = 0;
};

bool Read(Reader& r, const Json& j, SystemTime& t) {
    Record f(r, j, 8, true, "time");
    return f.ok() && f("wYear", t.wYear) && f("wMonth", t.wMonth) &&
           f("wDayOfWeek", t.wDayOfWeek) && f("wDay", t.wDay) && f("wHour", t.wHour) &&
           f("wMinute", t.wMinute) && f("wSecond", t.wSecond) &&
           f("wMilliseconds", t.wMilliseconds);
}

bool Read(Reader& r, const Json& j, CTiUserData& u) {
    Record f(r, j, kUserFields, true, "user");
    if (!(f.ok() && f("ActivityClass", u.ActivityClass) &&
          f("UserLimitMaxOut", u.UserLimitMaxOut) && f("UserLimitMaxIn", u.UserLimitMaxIn) &&
          f("UserGrID", u.UserGrID) && f("UserName", u.UserName) && f("UserKTraff", u.UserKTraff) &&
          f("Online", u.Online) && f("RxTotal", u.RxTotal) && f("TxTotal", u.TxTotal) &&
          f("Balance", u.Balance) && f("RxSpeed", u.RxSpeed) && f("TxSpeed", u.TxSpeed) &&
          f("RxLoad", u.RxLoad) && f("TxLoad", u.TxLoad)))
        return false;
    const Json* t = f.Field("LastActivity");
    return t && Read(r, *t, u.LastActivity) && f("IP", u.IP) && f("TiRxSpeed", u.TiRxSpeed) &&
           f("TiTxSpeed", u.TiTxSpeed) && f("LimitIn", u.LimitIn) && f("LimitOut", u.LimitOut) &&
           f("StartLimitIn", u.StartLimitIn) && f("StartLimitOut", u.StartLimitOut) &&
           f("NewLimitIn", u.NewLimitIn) && f("NewLimitOut", u.NewLimitOut) && f("Id", u.Id) &&
           f("StartLimitsRun", u.StartLimitsRun);
}

bool Read(Reader& r, const Json& j, Group& g) {
    Record f(r, j, kGroupFields, true, "group");
    return f.ok() && f("GroupName", g.GroupName) && f("GroupID", g.GroupID) &&
           f("UserCount", g.UserCount) && f("ActiveCount", g.ActiveCount) &&
           f("SleepCount", g.SleepCount) && f("WeakCount", g.WeakCount) &&
           f("KTraffSum", g.KTraffSum) && f("KTraffLeft", g.KTraffLeft) &&
           f("GroupMaxIn", g.GroupMaxIn) && f("Key", g.Key);
}

bool Read(Reader& r, const Json& j, Settings& s) {
    Record f(r, j, kSettingsFields, false, "settings");
    return f.ok() && f("srvMB", s.SrvLimTraff_MB) && f("slMode", s.SpeedLimTraff_Mode) &&
           f("slSafe", s.SpeedLimTraff_SefeTraff) && f("slMax", s.SpeedLimTraff_MaxTraff) &&
           f("slStartK", s.SpeedLimTraff_StartKoeff) && f("slEndK", s.SpeedLimTraff_EndKoeff) &&
           f("slDno", s.SpeedLimTraff_DnoLimitKbits) && f("quit", s.BeforeQuit) &&
           f("userMax", s.UserMAXSpeedLimits) && f("reuse", s.ReUseFreeChanal) &&
           f("kBytes", s.DisplaySpeed_in_kBytes_s) && f("autoM", s.AutoMeasure) &&
           f("autoC", s.UseAutoChanalWithCorrection) && f("zamerRx", s.AutoZamer_minRXchanal) &&
           f("sleepTr", s.UserSleepTraffic) && f("logFile", s.LogFileName) &&
           f("logMax", s.LogMaxSize) && f("grid", s.GridSize) && f("server", s.Server) &&
           f("pass", s.AutoLoginPass) && f("storePw", s.StorePassword) &&
           f("refresh", s.RefreshTimer_msec) && f("mode", s.TrafficSpeedAutoControll) &&
           f("rxMax", s.RXMAXkbit) && f("txMax", s.TXMAXkbit) &&
           f("dlUser", s.DOWNLOADER_USERNAME) && f("sleepTo", s.UserSleep_TimeOut_sec) &&
           f("useSleep", s.Use_Sleepers_Traffic) && f("borrow", s.ChanalBorrowing) &&
           f("startMin", s.StartMinimized) && f("cfgFile", s.ConfigFileName);
}

// A list whose every element `read` takes.
template <class T, class ReadOne>
bool ReadList(Reader& r, const Json* j, std::vector<T>& out, const char* what, ReadOne read) {
    if (!j) return false;
    const Json::array_t* a = r.List(*j, what);
    if (!a) return false;
    out.clear();
    out.resize(a->size());
    for (size_t i = 0; i < a->size(); ++i)
        if (!read((*a)[i], out[i])) return false;
    return true;
}

bool Read(Reader& r, const Json& j, AppSnapshot& s) {
    Record f(r, j, 6, false, "snapshot");
    if (!f.ok()) return false;
    auto user = [&](const Json& e, CTiUserData& u) { return Read(r, e, u); };
    auto group = [&](const Json& e, Group& g) { return Read(r, e, g); };
    if (!ReadList(r, f.Field("u"), s.users, "u", user) ||
        !ReadList(r, f.Field("g"), s.groups, "g", group))
        return false;
    const Json* row = f.Field("sr");
    if (!row || !Read(r, *row, s.serverRow)) return false;
    const Json* texts = f.Field("st");
    if (!texts) return false;
    Record t(r, *texts, s.serverRowTexts.size(), true, "st");
    if (!t.ok()) return false;
    for (movra::Text& x : s.serverRowTexts)
        if (!t("st", x)) return false;
    const Json* cfg = f.Field("cfg");
    return cfg && Read(r, *cfg, s.settings) && f("c", s.connState);
}

bool Read(Reader& r, const Json& j, CycleSummary& s) {
    Record f(r, j, 11, false, "summary");
    if (!f.ok()) return false;
    const Json* at = f.Field("at");
    if (!at) return false;
    Record a(r, *at, 2, true, "at");
    if (!(a.ok() && a("at", s.at.steady) && a("at", s.at.local))) return false;
    auto group = [&](const Json& e, GroupCycleFigures& g) {
        Record x(r, e, kGroupFigureFields, true, "figures");
        return x.ok() && x("key", g.key) && x("name", g.name) && x("rxSpeed", g.rxSpeed) &&
               x("txSpeed", g.txSpeed) && x("limitIn", g.limitIn) && x("limitOut", g.limitOut);
    };
    return ReadList(r, f.Field("g"), s.groups, "g", group) && f("wi", s.widthIn) &&
           f("wo", s.widthOut) && f("ma", s.measuredArmed) && f("mi", s.measuredIn) &&
           f("on", s.online) && f("ac", s.active) && f("wk", s.weak) && f("sl", s.sleeping) &&
           f("run", s.run);
}

bool Read(Reader& r, const Json& j, chart::HistoryData& h) {
    Record f(r, j, 3, false, "history");
    if (!f.ok()) return false;
    auto key = [&](const Json& e, chart::HistoryKey& k) {
        Record x(r, e, 2, true, "key");
        return x.ok() && x("key", k.key) && x("name", k.name);
    };
    auto figure = [&](const Json& e, chart::HistoryFigure& g) {
        Record x(r, e, kFigureFields, true, "figure");
        return x.ok() && x("key", g.key) && x("in", g.in) && x("out", g.out);
    };
    auto second = [&](const Json& e, chart::HistorySecond& s) {
        Record x(r, e, kSecondFields, true, "second");
        return x.ok() && x("time", s.time) && x("offset", s.offset) &&
               x("afterBreak", s.afterBreak) && x("measured", s.measured) &&
               x("widthIn", s.widthIn) && x("widthOut", s.widthOut) &&
               x("measuredIn", s.measuredIn) &&
               ReadList(r, x.Field("figures"), s.figures, "figures", figure);
    };
    auto minuteFigure = [&](const Json& e, chart::HistoryMinuteFigure& g) {
        Record x(r, e, kMinuteFigureFields, true, "figure");
        return x.ok() && x("key", g.key) && x("seconds", g.seconds) && x("minIn", g.minIn) &&
               x("maxIn", g.maxIn) && x("sumIn", g.sumIn) && x("minOut", g.minOut) &&
               x("maxOut", g.maxOut) && x("sumOut", g.sumOut);
    };
    auto minute = [&](const Json& e, chart::HistoryMinute& m) {
        Record x(r, e, kMinuteFields, true, "minute");
        return x.ok() && x("minute", m.minute) && x("offset", m.offset) &&
               x("seconds", m.seconds) && x("measuredSeconds", m.measuredSeconds) &&
               x("measuredSum", m.measuredSum) && x("widthIn", m.widthIn) &&
               x("widthOut", m.widthOut) &&
               ReadList(r, x.Field("figures"), m.figures, "figures", minuteFigure);
    };
    return ReadList(r, f.Field("k"), h.keys, "k", key) &&
           ReadList(r, f.Field("s"), h.seconds, "s", second) &&
           ReadList(r, f.Field("m"), h.minutes, "m", minute);
}

// The body of a request of kind `kind`, a map of exactly its fields.
bool ReadBody(Reader& r, const Json& j, uint64_t kind, RequestBody& out) {
    auto empty = [&](auto body) {
        Record f(r, j, 0, false, "request");
        if (!f.ok()) return false;
        out = body;
        return true;
    };
    switch (kind) {
        case 0:
            return empty(Connect{});
        case 1:
            return empty(Disconnect{});
        case 2: {
            SetMode m;
            Record f(r, j, 1, false, "request");
            if (!(f.ok() && f("mode", m.mode))) return false;
            out = m;
            return true;
        }
        case 3: {
            Import m;
            Record f(r, j, 1, false, "request");
            if (!(f.ok() && f("kinds", m.kinds))) return false;
            out = m;
            return true;
        }
        case 4: {
            Save m;
            Record f(r, j, 1, false, "request");
            if (!(f.ok() && f("ok", m.confirmed))) return false;
            out = m;
            return true;
        }
        case 5:
            return empty(Load{});
        case 6:
            return empty(ClearLogFile{});
        case 7: {
            ApplySettings m;
            Record f(r, j, 2, false, "request");
            if (!f.ok()) return false;
            const Json* cfg = f.Field("cfg");
            if (!(cfg && Read(r, *cfg, m.edited) && f("base", m.base))) return false;
            out = std::move(m);
            return true;
        }
        case 8: {
            EditGroups m;
            Record f(r, j, 4, false, "request");
            if (!f.ok()) return false;
            const Json* k = f.Field("k");
            if (!(k && r.Enum(*k, m.request.kind, GroupsRequest::Kind::kRecount, "k") &&
                  f("g", m.request.group) && f("sh", m.request.share) && f("u", m.request.user)))
                return false;
            out = std::move(m);
            return true;
        }
        case 9: {
            SetUserLimits m;
            LimitEditorFields& x = m.request.fields;
            Record f(r, j, 9, false, "request");
            if (!(f.ok() && f("id", m.request.userId) && f("n", x.UserName) && f("ci", x.CurIn) &&
                  f("co", x.CurOut) && f("ni", x.NewIn) && f("no", x.NewOut) && f("kt", x.KTraff) &&
                  f("xi", x.MaxIn) && f("xo", x.MaxOut)))
                return false;
            out = std::move(m);
            return true;
        }
        case 10: {
            AddUser m;
            Record f(r, j, 1, false, "request");
            if (!(f.ok() && f("n", m.name))) return false;
            out = std::move(m);
            return true;
        }
        case 11: {
            DeleteUsers m;
            Record f(r, j, 1, false, "request");
            if (!f.ok()) return false;
            auto id = [&](const Json& e, uint64_t& v) { return r.Get(e, v, "ids"); };
            if (!ReadList(r, f.Field("ids"), m.ids, "ids", id)) return false;
            out = std::move(m);
            return true;
        }
        case 12:
            return empty(CheckGroups{});
        case 13: {
            ReadLog m;
            Record f(r, j, 2, false, "request");
            if (!(f.ok() && f("new", m.restart) && f("n", m.count))) return false;
            out = m;
            return true;
        }
        case 14:
            return empty(ReadHistory{});
        default:
            return r.Fail("unknown request kind", nullptr);
    }
}

bool ReadMessage(Reader& r, const Json& j, Message& out) {
    if (!j.is_object()) return r.Fail("not a map", "message");
    auto t = j.find("t");
    if (t == j.end()) return r.Fail("missing field", "t");
    uint64_t tag = 0;
    if (!r.Get(*t, tag, "t")) return false;
    // The tag is one more field of the message's map.
    auto record = [&](size_t fields) { return Record(r, j, fields + 1, false, "message"); };
    switch (tag) {
        case TagOf<Hello>(): {
            Hello m;
            Record f = record(2);
            if (!(f.ok() && f("v", m.version) && f("c", m.client))) return false;
            out = std::move(m);
            return true;
        }
        case TagOf<Welcome>(): {
            Welcome m;
            Record f = record(1);
            if (!(f.ok() && f("v", m.version))) return false;
            out = m;
            return true;
        }
        case TagOf<Refusal>(): {
            Refusal m;
            Record f = record(2);
            if (!(f.ok() && f("v", m.version) && f("x", m.text))) return false;
            out = std::move(m);
            return true;
        }
        case TagOf<State>(): {
            State m;
            Record f = record(4);
            if (!f.ok()) return false;
            const Json* s = f.Field("s");
            if (!(s && Read(r, *s, m.snapshot) && f("r", m.settingsRevision) &&
                  f("w", m.workerRunning) && f("e", m.exitBegun)))
                return false;
            out = std::move(m);
            return true;
        }
        case TagOf<LogLine>(): {
            LogLine m;
            Record f = record(2);
            if (!(f.ok() && f("f", m.flags) && f("x", m.text))) return false;
            out = std::move(m);
            return true;
        }
        case TagOf<Summary>(): {
            Summary m;
            Record f = record(1);
            if (!f.ok()) return false;
            const Json* s = f.Field("s");
            if (!(s && Read(r, *s, m.summary))) return false;
            out = std::move(m);
            return true;
        }
        case TagOf<Notice>(): {
            Notice m;
            Record f = record(1);
            if (!(f.ok() && f("x", m.text))) return false;
            out = std::move(m);
            return true;
        }
        case TagOf<Request>(): {
            Request m;
            Record f = record(3);
            if (!f.ok()) return false;
            uint64_t kind = 0;
            const Json* b;
            if (!(f("i", m.id) && f("k", kind) && (b = f.Field("b")) != nullptr &&
                  ReadBody(r, *b, kind, m.body)))
                return false;
            out = std::move(m);
            return true;
        }
        case TagOf<Reply>(): {
            Reply m;
            Record f = record(7);
            if (!f.ok()) return false;
            const Json* o = f.Field("o");
            const Json* a = o ? f.Field("a") : nullptr;
            auto line = [&](const Json& e, movra::Text& t) { return r.Get(e, t, "l"); };
            const Json* h;
            if (!(f("i", m.id) && o && r.Enum(*o, m.outcome, Outcome::kAsk, "o") && a &&
                  r.Enum(*a, m.added, AddUserResult::kAlreadyPresent, "a") && f("x", m.text) &&
                  ReadList(r, f.Field("l"), m.lines, "l", line) && f("e", m.end) &&
                  (h = f.Field("h")) != nullptr && Read(r, *h, m.history)))
                return false;
            out = std::move(m);
            return true;
        }
        default:
            return r.Fail("unknown message", nullptr);
    }
}

}  // namespace

std::vector<uint8_t> EncodeBody(const Message& message) {
    std::vector<uint8_t> out;
    Writer w(out);
    PutMessage(w, message);
    return out;
}

std::vector<uint8_t> EncodeFrame(const Message& message) {
    std::vector<uint8_t> out(4);
    Writer w(out);
    PutMessage(w, message);
    const size_t n = out.size() - 4;
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(n >> (8 * i));
    return out;
}

std::optional<Message> DecodeBody(std::span<const uint8_t> body, DecodeError& error) {
    error.what.clear();
    try {
        Json tree;
        TreeBuilder builder(tree, body.size(), error.what);
        if (!Json::sax_parse(body.data(), body.data() + body.size(), &builder,
                             Json::input_format_t::cbor, true)) {
            if (error.what.empty()) error.what = "malformed CBOR";
            return std::nullopt;
        }
        Reader r(error.what);
        Message m;
        if (!ReadMessage(r, tree, m)) return std::nullopt;
        return m;
    } catch (const std::bad_alloc&) {
        error.what = "out of memory";
    } catch (...) {
        error.what = "malformed message";
    }
    return std::nullopt;
}

FrameReader::FrameReader(uint32_t maxFrameBytes) : max_(maxFrameBytes) {}

void FrameReader::Feed(std::span<const uint8_t> bytes) {
    if (broken_) return;
    // What earlier frames left behind goes first, so the buffer holds about one frame.
    if (start_ > 0 && start_ * 2 >= buf_.size()) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
}

FrameReader::Status FrameReader::Next(Message& out, DecodeError& error) {
    if (broken_) {
        error.what = "stream already broken";
        return Status::kError;
    }
    const size_t have = buf_.size() - start_;
    if (have < 4) return Status::kNeedMore;
    const uint8_t* p = buf_.data() + start_;
    const uint32_t len = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    if (len == 0 || len > max_) {
        broken_ = true;
        error.what = len == 0 ? "empty frame" : "frame longer than the limit";
        buf_.clear();
        start_ = 0;
        return Status::kError;
    }
    if (have - 4 < len) return Status::kNeedMore;
    std::optional<Message> m = DecodeBody(std::span<const uint8_t>(p + 4, len), error);
    if (!m) {
        broken_ = true;
        buf_.clear();
        start_ = 0;
        return Status::kError;
    }
    start_ += 4 + static_cast<size_t>(len);
    if (start_ == buf_.size()) {
        buf_.clear();
        start_ = 0;
    }
    out = std::move(*m);
    return Status::kMessage;
}

size_t FrameReader::Wanted() const {
    if (broken_) return 0;
    const size_t have = buf_.size() - start_;
    if (have < 4) return 4 - have;
    const uint8_t* p = buf_.data() + start_;
    const uint32_t len = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    // A length Next will refuse: one more read lets it say so.
    if (len == 0 || len > max_) return 0;
    return have - 4 >= len ? 0 : len - (have - 4);
}

}  // namespace movra::remote
