// The scenario reader: one directive per line, blanks between words, "double quotes" around
// words with blanks, '#' starts a comment. Every error names its line.
#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/textfile.h"
#include "tisim/sim.h"

namespace tisim {

namespace {

struct Line {
    int number = 0;
    std::vector<std::string> words;
};

std::vector<std::string> SplitWords(std::string_view line, int number) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (char c : line) {
        if (quoted) {
            if (c == '"')
                quoted = false;
            else
                word += c;
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == '#') {
            break;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (inWord) words.push_back(std::move(word)), word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) throw ScenarioError(number, "unterminated quote");
    if (inWord) words.push_back(std::move(word));
    return words;
}

double Number(const std::string& s, int line, const char* what) {
    double v = 0;
    const char* end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, v);
    if (ec != std::errc() || p != end || !std::isfinite(v))
        throw ScenarioError(line, std::string(what) + " is not a number: '" + s + "'");
    return v;
}

double NonNegative(const std::string& s, int line, const char* what) {
    const double v = Number(s, line, what);
    if (v < 0) throw ScenarioError(line, std::string(what) + " must not be negative");
    return v;
}

// A number at most `max`; the range is checked before anything converts it.
double AtMost(const std::string& s, int line, const char* what, double max, const char* unit) {
    const double v = NonNegative(s, line, what);
    if (v > max) {
        char text[32];
        std::snprintf(text, sizeof text, "%.0f", max);
        throw ScenarioError(line, std::string(what) + " above " + text + " " + unit);
    }
    return v;
}

double Whole(const std::string& s, int line, const char* what, double max, const char* unit) {
    const double v = AtMost(s, line, what, max, unit);
    if (v != std::floor(v))
        throw ScenarioError(line, std::string(what) + " must be a whole number of " + unit);
    return v;
}

int32_t Limit(const std::string& s, int line, const char* what) {
    return static_cast<int32_t>(Whole(s, line, what, 2147483647.0, "kbit/s"));
}

// Delivered speeds are reported in bytes per second as 32-bit integers, so the channel (which
// bounds every speed) must keep them in range: 16777215 kbit/s = 2147483520 bytes/s.
double Channel(const std::string& s, int line, const char* what) {
    return AtMost(s, line, what, 16777215.0, "kbit/s");
}

// Counters are whole in a double up to 2^53; from there, even at the widest channel, they need
// centuries to reach 2^64, past which the `counters-i4` fault could not convert them.
double Counter(const std::string& s, int line, const char* what) {
    return AtMost(s, line, what, 9007199254740992.0, "bytes");
}

bool Flag(const std::string& s, int line, const char* what) {
    if (s == "1" || s == "yes" || s == "on") return true;
    if (s == "0" || s == "no" || s == "off") return false;
    throw ScenarioError(line, std::string(what) + " must be 0 or 1");
}

Demand DemandPair(const std::string& s, int line) {
    const size_t slash = s.find('/');
    if (slash == std::string::npos)
        throw ScenarioError(line, "demand must be 'random' or <in>/<out> in kbit/s");
    return {NonNegative(s.substr(0, slash), line, "incoming demand"),
            NonNegative(s.substr(slash + 1), line, "outgoing demand")};
}

Text Name(const std::string& s, int line, const char* what) {
    if (s.empty()) throw ScenarioError(line, std::string(what) + " is empty");
    // Movra reads a name from the user list up to the next double quote.
    if (s.find('"') != std::string::npos)
        throw ScenarioError(line, std::string(what) + " must not contain a double quote");
    return movra::FromUtf8(s);
}

int32_t PropertyWord(const std::string& s, int line) {
    if (s == "*") return 0;
    if (s == "User_InBandwidth") return kPropLimitIn;
    if (s == "User_OutBandwidth") return kPropLimitOut;
    const double v = Number(s, line, "property");
    if (v < 1 || v > 1000 || v != static_cast<double>(static_cast<int>(v)))
        throw ScenarioError(line, "property must be a name, a number or *");
    return static_cast<int32_t>(v);
}

void Need(const Line& l, size_t min, size_t max, const char* usage) {
    if (l.words.size() < min || l.words.size() > max)
        throw ScenarioError(l.number, std::string("expected: ") + usage);
}

void ParseUser(const Line& l, Scenario& sc) {
    if (l.words.size() < 2) throw ScenarioError(l.number, "expected: user <name> [key=value ...]");
    UserSetup u;
    u.name = Name(l.words[1], l.number, "user name");
    for (const auto& s : sc.users)
        if (s.name == u.name) throw ScenarioError(l.number, "user '" + l.words[1] + "' twice");
    for (size_t i = 2; i < l.words.size(); ++i) {
        const std::string& w = l.words[i];
        const size_t eq = w.find('=');
        if (eq == std::string::npos)
            throw ScenarioError(l.number, "expected key=value, got '" + w + "'");
        const std::string key = w.substr(0, eq), v = w.substr(eq + 1);
        const int n = l.number;
        if (key == "group") {
            u.group = v.empty() ? Text() : Name(v, n, "group name");
        } else if (key == "online") {
            u.online = Flag(v, n, "online");
        } else if (key == "ip") {
            u.ip = movra::FromUtf8(v);
        } else if (key == "balance") {
            u.balance = Number(v, n, "balance");
        } else if (key == "rx") {
            u.rxBytes = Counter(v, n, "rx");
        } else if (key == "tx") {
            u.txBytes = Counter(v, n, "tx");
        } else if (key == "in") {
            u.limitIn = Limit(v, n, "in");
        } else if (key == "out") {
            u.limitOut = Limit(v, n, "out");
        } else if (key == "default") {
            u.defaultLimits = Flag(v, n, "default");
        } else if (key == "idle") {
            u.lastActiveAgo = NonNegative(v, n, "idle");
        } else if (key == "demand") {
            if (v == "random")
                u.randomDemand = true;
            else
                u.demand = DemandPair(v, n);
        } else {
            throw ScenarioError(n, "unknown user key '" + key + "'");
        }
    }
    sc.users.push_back(std::move(u));
}

// The words of a fault from `first` on (`create`, `info <user>`, ...), for a `fault` line and
// for the `at <t> fault|clear` lines, which take the same words. `verb` heads the usage text.
FaultSwitch ParseFaultWords(const Line& l, size_t first, const std::string& verb) {
    const size_t extra = l.words.size() - first;  // words from the fault's name on
    const int n = l.number;
    if (extra < 1) throw ScenarioError(n, "expected: " + verb + " <what> ...");
    auto need = [&](size_t min, size_t max, const char* usage) {
        if (extra < min || extra > max) throw ScenarioError(n, "expected: " + verb + " " + usage);
    };
    const std::string& what = l.words[first];
    const auto arg = [&](size_t i) -> const std::string& { return l.words[first + i]; };
    FaultSwitch f;
    using K = FaultSwitch::Kind;
    if (what == "create" || what == "login" || what == "list" || what == "counters-i4") {
        need(1, 1, what.c_str());
        f.kind = what == "create"  ? K::Create
                 : what == "login" ? K::Login
                 : what == "list"  ? K::List
                                   : K::CountersI4;
    } else if (what == "info") {
        need(2, 2, "info <user>");
        f.kind = K::Info;
        f.user = Name(arg(1), n, "user name");
    } else if (what == "get" || what == "set") {
        need(3, 3, "get|set <user or *> <property or *>");
        f.kind = what == "get" ? K::Get : K::Set;
        if (arg(1) != "*") f.user = Name(arg(1), n, "user name");
        f.property = PropertyWord(arg(2), n);
    } else if (what == "short-info") {
        need(1, 2, "short-info [elements]");
        f.kind = K::ShortInfo;
        f.shortInfo = 20;
        if (extra == 2) {
            const double v = NonNegative(arg(1), n, "elements");
            if (v < 1 || v >= static_cast<double>(kInfoSize) || v != static_cast<int>(v))
                throw ScenarioError(n, "short-info must be 1 to " + std::to_string(kInfoSize - 1));
            f.shortInfo = static_cast<size_t>(v);
        }
    } else if (what == "delay") {
        need(2, 2, "delay <milliseconds>");
        f.kind = K::Delay;
        const double v = NonNegative(arg(1), n, "delay");
        if (v > 60000) throw ScenarioError(n, "delay above 60000 ms");
        f.delayMs = static_cast<int>(v);
    } else if (what == "hang") {
        need(2, 2, "hang create|login|list|info|get|set");
        f.kind = K::Hang;
        const std::string& call = arg(1);
        using C = ServerCall;
        if (call == "create")
            f.call = C::Create;
        else if (call == "login")
            f.call = C::Login;
        else if (call == "list")
            f.call = C::List;
        else if (call == "info")
            f.call = C::Info;
        else if (call == "get")
            f.call = C::Get;
        else if (call == "set")
            f.call = C::Set;
        else
            throw ScenarioError(n, "unknown call '" + call + "' to hang");
    } else {
        throw ScenarioError(n, "unknown fault '" + what + "'");
    }
    return f;
}

bool IsUserEvent(const std::string& w) {
    return w == "demand" || w == "random" || w == "online" || w == "offline" || w == "ip";
}

void ParseAt(const Line& l, Scenario& sc, std::vector<int>& eventLines) {
    if (l.words.size() < 4)
        throw ScenarioError(l.number,
                            "expected: at <seconds> <user> demand <in> <out> | random | online | "
                            "offline | ip <address>, or at <seconds> fault|clear <what> ...");
    ScheduledEvent e;
    e.at = NonNegative(l.words[1], l.number, "time");
    const std::string& what = l.words[3];
    // A user may be called "fault" or "clear": the word after the name tells them apart.
    if ((l.words[2] == "fault" || l.words[2] == "clear") && !IsUserEvent(what)) {
        e.kind = l.words[2] == "fault" ? ScheduledEvent::Kind::Fault : ScheduledEvent::Kind::Clear;
        e.fault = ParseFaultWords(l, 3, "at <seconds> " + l.words[2]);
        sc.schedule.push_back(std::move(e));
        eventLines.push_back(l.number);
        return;
    }
    e.user = Name(l.words[2], l.number, "user name");
    if (what == "demand") {
        Need(l, 6, 6, "at <seconds> <user> demand <in> <out>");
        e.kind = ScheduledEvent::Kind::Demand;
        e.demand = {NonNegative(l.words[4], l.number, "incoming demand"),
                    NonNegative(l.words[5], l.number, "outgoing demand")};
    } else if (what == "random") {
        Need(l, 4, 4, "at <seconds> <user> random");
        e.kind = ScheduledEvent::Kind::Random;
    } else if (what == "online" || what == "offline") {
        Need(l, 4, 4, "at <seconds> <user> online|offline");
        e.kind = what == "online" ? ScheduledEvent::Kind::Online : ScheduledEvent::Kind::Offline;
    } else if (what == "ip") {
        Need(l, 5, 5, "at <seconds> <user> ip <address>");
        e.kind = ScheduledEvent::Kind::Ip;
        e.ip = movra::FromUtf8(l.words[4]);
    } else {
        throw ScenarioError(l.number, "unknown event '" + what + "'");
    }
    sc.schedule.push_back(std::move(e));
    eventLines.push_back(l.number);
}

Text JoinPath(const Text& base, const Text& path) {
    const bool absolute = (!path.empty() && (path[0] == u'/' || path[0] == u'\\')) ||
                          (path.size() > 1 && path[1] == u':');
    if (absolute || base.empty()) return path;
    const char16_t last = base.back();
    return (last == u'/' || last == u'\\') ? base + path : base + u"/" + path;
}

}  // namespace

Scenario ParseScenario(std::string_view text, const Text& baseDir) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    Scenario sc;
    sc.groups.clear();
    std::vector<int> eventLines;
    int periodLine = 0;
    int number = 0;
    for (size_t pos = 0; pos < text.size();) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        const std::string_view raw = text.substr(pos, nl - pos);
        pos = nl + 1;
        ++number;
        Line l{number, SplitWords(raw, number)};
        if (l.words.empty()) continue;
        const std::string& d = l.words[0];
        if (d == "password") {
            Need(l, 2, 2, "password <text>");
            sc.password = movra::FromUtf8(l.words[1]);
        } else if (d == "channel") {
            Need(l, 3, 3, "channel <in kbit/s> <out kbit/s>");
            sc.channelIn = Channel(l.words[1], number, "channel in");
            sc.channelOut = Channel(l.words[2], number, "channel out");
        } else if (d == "defaults") {
            Need(l, 3, 3, "defaults <in kbit/s> <out kbit/s>");
            sc.defaultLimitIn = Limit(l.words[1], number, "default in");
            sc.defaultLimitOut = Limit(l.words[2], number, "default out");
        } else if (d == "seed") {
            Need(l, 2, 2, "seed <number>");
            uint64_t seed = 0;
            const std::string& w = l.words[1];
            auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), seed);
            if (ec != std::errc() || p != w.data() + w.size())
                throw ScenarioError(number, "seed must be a whole number");
            sc.seed = seed;
        } else if (d == "time") {
            Need(l, 2, 2, "time manual|real");
            if (l.words[1] == "manual")
                sc.time = TimeMode::Manual;
            else if (l.words[1] == "real")
                sc.time = TimeMode::RealTime;
            else
                throw ScenarioError(number, "time must be 'manual' or 'real'");
        } else if (d == "journal") {
            Need(l, 2, 2, "journal <path>");
            sc.journalPath = JoinPath(baseDir, movra::FromUtf8(l.words[1]));
        } else if (d == "journal-memory") {
            Need(l, 2, 2, "journal-memory <lines>");
            sc.journalMemory =
                static_cast<size_t>(Whole(l.words[1], number, "journal-memory", 1e9, "lines"));
        } else if (d == "period") {
            Need(l, 2, 2, "period <seconds>");
            sc.schedulePeriod = NonNegative(l.words[1], number, "period");
            // A tiny period would make every step of time replay the schedule many times.
            if (sc.schedulePeriod > 0 && sc.schedulePeriod < 1)
                throw ScenarioError(number, "period must be 0 (no repetition) or at least 1 s");
            periodLine = number;
        } else if (d == "group") {
            Need(l, 2, 3, "group <name> [summed incoming limit]");
            GroupSetup g{Name(l.words[1], number, "group name"), 0};
            if (l.words.size() == 3) g.limitIn = Limit(l.words[2], number, "group limit");
            for (const auto& o : sc.groups)
                if (o.name == g.name)
                    throw ScenarioError(number, "group '" + l.words[1] + "' twice");
            sc.groups.push_back(std::move(g));
        } else if (d == "user") {
            ParseUser(l, sc);
        } else if (d == "at") {
            ParseAt(l, sc, eventLines);
        } else if (d == "fault") {
            sc.faults.Switch(ParseFaultWords(l, 1, "fault"));
        } else {
            throw ScenarioError(number, "unknown directive '" + d + "'");
        }
    }
    for (size_t i = 0; i < sc.schedule.size(); ++i) {
        const ScheduledEvent& e = sc.schedule[i];
        bool known = e.user.empty();  // a fault names no user of the schedule
        for (const auto& u : sc.users) known = known || u.name == e.user;
        if (!known) throw ScenarioError(eventLines[i], "no user '" + movra::ToUtf8(e.user) + "'");
        if (sc.schedulePeriod > 0 && e.at >= sc.schedulePeriod)
            throw ScenarioError(eventLines[i], "event at or after the period (line " +
                                                   std::to_string(periodLine) + ")");
    }
    return sc;
}

Scenario LoadScenarioFile(const Text& path) {
    const auto bytes = movra::ReadFileBytes(path);
    if (!bytes) throw ScenarioError(0, "cannot read scenario file " + movra::ToUtf8(path));
    Text base;
    const size_t slash = path.find_last_of(u"/\\");
    if (slash != Text::npos) base = path.substr(0, slash);
    return ParseScenario(*bytes, base);
}

}  // namespace tisim
