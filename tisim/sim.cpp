// The simulated server: users, groups and the channel, moved forward in time piece by piece
// (rates are constant between two changes, so counters integrate exactly). Users are found by
// name through a hash map, and the rates are recomputed only when something reads them after
// a change, so a cycle that writes many limits costs one recomputation, not one per write.
#include "tisim/sim.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <limits>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_map>

#include "core/textfile.h"

namespace tisim {

namespace {

using movra::TiError;

constexpr double kBytesPerKbit = 1024.0 / 8.0;
constexpr double kInf = std::numeric_limits<double>::infinity();

// Max-min fair shares of `width` among wishes `caps`: nobody gets more than it wants, and
// what the small wishes leave is split evenly among the rest.
std::vector<double> WaterFill(const std::vector<double>& caps, double width) {
    std::vector<double> out(caps.size(), 0.0);
    std::vector<size_t> order(caps.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return caps[a] < caps[b]; });
    double left = std::max(width, 0.0);
    size_t n = order.size();
    for (size_t k = 0; k < order.size(); ++k, --n) {
        const double share = left / static_cast<double>(n);
        const double give = std::min(caps[order[k]], share);
        out[order[k]] = give;
        left = std::max(left - give, 0.0);
    }
    return out;
}

Refusal RefusalOf(const FaultSwitch& f) {
    return {f.user, f.property, f.kind == FaultSwitch::Kind::Get, f.kind == FaultSwitch::Kind::Set};
}

}  // namespace

void Faults::Set(const FaultSwitch& f, bool on) {
    using K = FaultSwitch::Kind;
    // Lists keep each entry once, so a fault switched on by a repeating schedule stays listed
    // once.
    auto list = [on](auto& entries, const auto& entry) {
        std::erase(entries, entry);
        if (on) entries.push_back(entry);
    };
    switch (f.kind) {
        case K::Create:
            createFails = on;
            break;
        case K::Login:
            loginFails = on;
            break;
        case K::List:
            listUsersFails = on;
            break;
        case K::Info:
            list(infoFailsFor, f.user);
            break;
        case K::Get:
        case K::Set:
            list(refusals, RefusalOf(f));
            break;
        case K::CountersI4:
            countersAsI4 = on;
            break;
        case K::ShortInfo:
            shortInfo = on ? f.shortInfo : 0;
            break;
        case K::Delay:
            delayMs = on ? f.delayMs : 0;
            break;
        case K::Hang:
            list(hangs, f.call);
            break;
    }
}

struct Simulator::Impl {
    struct UserRec {
        UserState s;
        double nextRandom = kInf;  // when the generator changes the demand next
    };

    mutable std::mutex mu;
    Scenario sc;
    std::vector<UserRec> users;  // in the order they were added: ListUsers and account numbers
    std::unordered_map<Text, size_t> byName;  // position in `users`
    // The rates no longer follow the wishes, limits, groups or channel: recompute before use.
    bool ratesStale = false;
    std::vector<GroupSetup> groups;
    std::mt19937_64 rng;
    double now = 0;
    double oleStart = 0;
    // Schedule cursor: event `nextEvent` of repetition `cycle`.
    size_t nextEvent = 0;
    uint64_t cycle = 0;
    // The newest lines only (sc.journalMemory), so a demo running for days keeps its memory;
    // the file has all.
    std::deque<std::string> journal;
    uint64_t seq = 0;
    FILE* journalFile = nullptr;

    ~Impl() {
        if (journalFile) std::fclose(journalFile);
    }
    int sessions = 0;
    std::condition_variable hangsReleased;
    bool released = false;
    std::chrono::steady_clock::time_point realStart = std::chrono::steady_clock::now();

    UserRec* FindUser(const Text& name) {
        const auto it = byName.find(name);
        return it == byName.end() ? nullptr : &users[it->second];
    }
    void Forget(const Text& name) {
        const auto it = byName.find(name);
        if (it == byName.end()) return;
        const size_t at = it->second;
        byName.erase(it);
        users.erase(users.begin() + static_cast<std::ptrdiff_t>(at));
        for (size_t i = at; i < users.size(); ++i) byName[users[i].s.name] = i;
    }
    GroupSetup* FindGroup(const Text& name) {
        for (auto& g : groups)
            if (g.name == name) return &g;
        return nullptr;
    }
    void EnsureGroup(const Text& name) {
        if (!name.empty() && !FindGroup(name)) groups.push_back({name, 0});
    }

    double Uniform(double lo, double hi) {
        const double u = static_cast<double>(rng() >> 11) * 0x1.0p-53;
        return lo + (hi - lo) * u;
    }

    // A new wish for a user on the generator: idle, browsing, a download or an upload.
    void RandomChange(UserRec& u) {
        const double p = Uniform(0, 1);
        double duration = 0;
        if (p < 0.35) {
            u.s.demand = {0, 0};
            duration = Uniform(10, 90);
        } else if (p < 0.75) {
            u.s.demand = {Uniform(16, 160), Uniform(4, 32)};
            duration = Uniform(5, 40);
        } else if (p < 0.95) {
            u.s.demand = {Uniform(256, 4096), Uniform(16, 64)};
            duration = Uniform(15, 120);
        } else {
            u.s.demand = {Uniform(16, 64), Uniform(128, 1024)};
            duration = Uniform(10, 60);
        }
        u.nextRandom = now + duration;
    }

    int32_t EnforcedIn(const UserRec& u) const {
        return u.s.defaultLimits ? sc.defaultLimitIn : u.s.limitIn;
    }
    int32_t EnforcedOut(const UserRec& u) const {
        return u.s.defaultLimits ? sc.defaultLimitOut : u.s.limitOut;
    }

    void RatesChanged() { ratesStale = true; }
    // Every reader of rateIn/rateOut (and of what they integrate into) calls this first.
    void FreshRates() {
        if (!ratesStale) return;
        Reallocate();
        ratesStale = false;
    }

    // Delivered rates from wishes, the server's limits, the groups' sums and the channel.
    void Reallocate() {
        std::vector<double> in(users.size()), out(users.size());
        for (size_t i = 0; i < users.size(); ++i) {
            const UserRec& u = users[i];
            if (!u.s.online) continue;
            const int32_t li = EnforcedIn(u), lo = EnforcedOut(u);
            in[i] = std::max(0.0, std::min(u.s.demand.in, li > 0 ? li : kInf));
            out[i] = std::max(0.0, std::min(u.s.demand.out, lo > 0 ? lo : kInf));
        }
        // A group's summed incoming limit is shared fairly among its members first. Members
        // are gathered in one pass over the users, in list order.
        std::unordered_map<Text, std::vector<size_t>> membersOf;
        for (const GroupSetup& g : groups)
            if (g.limitIn > 0) membersOf.try_emplace(g.name);
        if (!membersOf.empty()) {
            for (size_t i = 0; i < users.size(); ++i) {
                const auto it = membersOf.find(users[i].s.group);
                if (it != membersOf.end()) it->second.push_back(i);
            }
        }
        for (const GroupSetup& g : groups) {
            if (g.limitIn <= 0) continue;
            const std::vector<size_t>& members = membersOf[g.name];
            std::vector<double> caps;
            caps.reserve(members.size());
            for (size_t i : members) caps.push_back(in[i]);
            const std::vector<double> got = WaterFill(caps, g.limitIn);
            for (size_t k = 0; k < members.size(); ++k) in[members[k]] = got[k];
        }
        const std::vector<double> gotIn = WaterFill(in, sc.channelIn);
        const std::vector<double> gotOut = WaterFill(out, sc.channelOut);
        for (size_t i = 0; i < users.size(); ++i) {
            users[i].s.rateIn = gotIn[i];
            users[i].s.rateOut = gotOut[i];
        }
    }

    double NextEventTime() const {
        if (sc.schedule.empty()) return kInf;
        if (nextEvent >= sc.schedule.size()) {
            if (sc.schedulePeriod <= 0) return kInf;
            return static_cast<double>(cycle + 1) * sc.schedulePeriod + sc.schedule[0].at;
        }
        return static_cast<double>(cycle) * sc.schedulePeriod + sc.schedule[nextEvent].at;
    }

    void ApplyEvent(const ScheduledEvent& e) {
        if (e.kind == ScheduledEvent::Kind::Fault) return sc.faults.Switch(e.fault);
        if (e.kind == ScheduledEvent::Kind::Clear) return sc.faults.Clear(e.fault);
        UserRec* u = FindUser(e.user);
        if (!u) return;  // removed meanwhile
        switch (e.kind) {
            case ScheduledEvent::Kind::Demand:
                u->s.demand = e.demand;
                u->s.randomDemand = false;
                u->nextRandom = kInf;
                break;
            case ScheduledEvent::Kind::Random:
                u->s.randomDemand = true;
                RandomChange(*u);
                break;
            case ScheduledEvent::Kind::Online:
                u->s.online = true;
                break;
            case ScheduledEvent::Kind::Offline:
                u->s.online = false;
                break;
            case ScheduledEvent::Kind::Ip:
                u->s.ip = e.ip;
                break;
            case ScheduledEvent::Kind::Fault:
            case ScheduledEvent::Kind::Clear:
                break;
        }
    }

    // Moves the world to simulated time `target`.
    void AdvanceTo(double target) {
        while (now < target) {
            FreshRates();
            double next = std::min(target, NextEventTime());
            for (const auto& u : users) next = std::min(next, u.nextRandom);
            if (next < now) next = now;
            const double dt = next - now;
            if (dt > 0) {
                for (auto& u : users) {
                    u.s.rxBytes += u.s.rateIn * kBytesPerKbit * dt;
                    u.s.txBytes += u.s.rateOut * kBytesPerKbit * dt;
                    if (u.s.online) {
                        u.s.wantedRxBytes += u.s.demand.in * kBytesPerKbit * dt;
                        u.s.wantedTxBytes += u.s.demand.out * kBytesPerKbit * dt;
                    }
                    if (u.s.rateIn > 0 || u.s.rateOut > 0) u.s.lastActivity = OleAt(next);
                }
            }
            now = next;
            bool changed = false;
            while (NextEventTime() <= now) {
                if (nextEvent >= sc.schedule.size()) {
                    nextEvent = 0;
                    ++cycle;
                }
                ApplyEvent(sc.schedule[nextEvent++]);
                changed = true;
            }
            for (auto& u : users) {
                if (u.nextRandom <= now) {
                    RandomChange(u);
                    changed = true;
                }
            }
            if (changed) RatesChanged();
        }
    }

    // Test access: changes one user under the lock and recomputes the rates.
    template <class F>
    void WithUser(const Text& name, F&& change) {
        std::lock_guard lock(mu);
        UserRec* u = FindUser(name);
        if (!u) throw std::invalid_argument("no such user: " + movra::ToUtf8(name));
        change(*u);
        RatesChanged();
    }

    double OleAt(double t) const { return oleStart + t / 86400.0; }

    void CatchUpRealTime() {
        if (sc.time != TimeMode::RealTime) return;
        const double t =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
        AdvanceTo(t);
    }

    void Append(const std::string& text) {
        char head[64];
        std::snprintf(head, sizeof head, "%llu %.3f ", static_cast<unsigned long long>(++seq), now);
        std::string line = head + text;
        if (journalFile) {
            std::fputs((line + "\n").c_str(), journalFile);
            std::fflush(journalFile);
        }
        journal.push_back(std::move(line));
        while (journal.size() > sc.journalMemory) journal.pop_front();
    }
};

Simulator::Simulator(Scenario scenario, const movra::Clock& wallClock)
    : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.sc = std::move(scenario);
    m.rng.seed(m.sc.seed);
    m.oleStart = movra::SystemTimeToOleDate(wallClock.LocalNow());
    m.groups = m.sc.groups;
    for (const UserSetup& s : m.sc.users) AddUser(s);
    std::stable_sort(m.sc.schedule.begin(), m.sc.schedule.end(),
                     [](const ScheduledEvent& a, const ScheduledEvent& b) { return a.at < b.at; });
    if (!m.sc.journalPath.empty()) {
        m.journalFile = movra::OpenFile(m.sc.journalPath, "ab");
        if (!m.journalFile)
            throw ScenarioError(0,
                                "cannot open the journal file " + movra::ToUtf8(m.sc.journalPath));
    }
    // Events at time 0 take effect at once.
    while (m.NextEventTime() <= 0) m.ApplyEvent(m.sc.schedule[m.nextEvent++]);
    m.RatesChanged();
}

Simulator::~Simulator() = default;

bool Simulator::CheckPassword(const Variant& password) const {
    std::lock_guard lock(impl_->mu);
    return !impl_->sc.faults.loginFails && password.type == VarType::BStr &&
           password.s == impl_->sc.password;
}

Variant Simulator::ListUsers() const {
    std::lock_guard lock(impl_->mu);
    if (impl_->sc.faults.listUsersFails) throw TiError(kE_FAIL, "ListUsers fault");
    Text t = u"<Users>\r\n";
    for (const auto& u : impl_->users) {
        t += movra::Fmt(
            u"<User Login=\"%s\" DisplayName=\"%s\" Group=\"%s\" Online=\"%d\" "
            u"Balance=\"%.2f\"/>\r\n",
            u.s.name, u.s.name, u.s.group, u.s.online ? 1 : 0, u.s.balance);
    }
    t += u"</Users>";
    return Variant::BStr(t);
}

Variant Simulator::GetUserInfo(const Text& name) const {
    std::lock_guard lock(impl_->mu);
    const Faults& f = impl_->sc.faults;
    if (std::find(f.infoFailsFor.begin(), f.infoFailsFor.end(), name) != f.infoFailsFor.end())
        throw TiError(kE_FAIL, "GetUserInfo fault");
    const Impl::UserRec* u = impl_->FindUser(name);
    if (!u) throw TiError(kE_INVALIDARG, "no such user");
    impl_->FreshRates();
    const UserState& s = u->s;
    std::vector<Variant> a(kInfoSize);
    for (size_t i = 0; i < a.size(); ++i) a[i] = Variant::I4(0);
    a[0] = Variant::BStr(s.name);
    a[1] = Variant::BStr(s.name);  // full name
    a[2] = Variant::BStr(s.group);
    a[3] = Variant::I4(static_cast<int32_t>(u - impl_->users.data()) + 1);  // account number
    a[10] = Variant::I4(s.online ? 1 : 0);
    a[11] = Variant::Date(s.lastActivity);
    a[19] = Variant::R8(s.balance);
    if (f.countersAsI4) {
        // A 32-bit counter wraps like the server's own would.
        a[20] = Variant::I4(
            static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(s.rxBytes))));
        a[21] = Variant::I4(
            static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(s.txBytes))));
    } else {
        a[20] = Variant::R8(std::floor(s.rxBytes));
        a[21] = Variant::R8(std::floor(s.txBytes));
    }
    // The server knows no address of a user who is not connected.
    a[24] = Variant::BStr(s.online ? s.ip : Text(u"0.0.0.0"));
    a[31] = Variant::I4(s.limitIn);
    a[32] = Variant::I4(s.limitOut);
    a[33] = Variant::I4(static_cast<int32_t>(std::lround(s.rateIn * kBytesPerKbit)));
    a[34] = Variant::I4(static_cast<int32_t>(std::lround(s.rateOut * kBytesPerKbit)));
    a[35] = Variant::I4(s.defaultLimits ? 1 : 0);
    if (f.shortInfo > 0 && f.shortInfo < a.size()) a.resize(f.shortInfo);
    return Variant::Array(std::move(a));
}

namespace {

bool Refused(const Faults& f, const Text& object, int32_t property, bool set) {
    for (const Refusal& r : f.refusals) {
        if (!(set ? r.set : r.get)) continue;
        if (!r.user.empty() && r.user != object) continue;
        if (r.property != 0 && r.property != property) continue;
        return true;
    }
    return false;
}

}  // namespace

Variant Simulator::GetProperty(int32_t kind, const Text& object, int32_t property) const {
    std::lock_guard lock(impl_->mu);
    if (kind != movra::kKindUser && kind != movra::kKindGroup)
        throw TiError(kE_INVALIDARG, "unknown object kind");
    if (Refused(impl_->sc.faults, object, property, false))
        throw TiError(kE_FAIL, "GetProperty fault");
    if (kind == movra::kKindGroup) {
        const GroupSetup* g = impl_->FindGroup(object);
        if (!g) throw TiError(kE_INVALIDARG, "no such group");
        if (property != kPropGroupLimitIn) throw TiError(kDISP_E_UNKNOWNNAME, "unknown property");
        return Variant::I4(g->limitIn);
    }
    const Impl::UserRec* u = impl_->FindUser(object);
    if (!u) throw TiError(kE_INVALIDARG, "no such user");
    switch (property) {
        case kPropLimitIn:
            return Variant::I4(u->s.limitIn);
        case kPropLimitOut:
            return Variant::I4(u->s.limitOut);
        case kPropDefaultLimits:
            return Variant::I4(u->s.defaultLimits ? 1 : 0);
        case kPropLastActivity:
            return Variant::Date(u->s.lastActivity);
        case kPropGroupName:
            return Variant::BStr(u->s.group);
        default:
            throw TiError(kDISP_E_UNKNOWNNAME, "unknown property");
    }
}

void Simulator::SetProperty(int32_t kind, const Text& object, int32_t property,
                            const Variant& value) {
    std::lock_guard lock(impl_->mu);
    Impl& m = *impl_;
    if (kind != movra::kKindUser && kind != movra::kKindGroup)
        throw TiError(kE_INVALIDARG, "unknown object kind");
    if (Refused(m.sc.faults, object, property, true)) throw TiError(kE_FAIL, "SetProperty fault");
    auto number = [&]() -> int32_t {
        if (value.type != VarType::I4 && value.type != VarType::Int)
            throw TiError(kDISP_E_TYPEMISMATCH, "value is not an integer");
        return value.i;
    };
    if (kind == movra::kKindGroup) {
        GroupSetup* g = m.FindGroup(object);
        if (!g) throw TiError(kE_INVALIDARG, "no such group");
        if (property != kPropGroupLimitIn) throw TiError(kDISP_E_UNKNOWNNAME, "unknown property");
        const int32_t v = number();
        if (v < 0) throw TiError(kE_INVALIDARG, "negative limit");
        g->limitIn = v;
        m.RatesChanged();
        return;
    }
    Impl::UserRec* u = m.FindUser(object);
    if (!u) throw TiError(kE_INVALIDARG, "no such user");
    switch (property) {
        case kPropLimitIn:
        case kPropLimitOut: {
            const int32_t v = number();
            if (v < 0) throw TiError(kE_INVALIDARG, "negative limit");
            (property == kPropLimitIn ? u->s.limitIn : u->s.limitOut) = v;
            break;
        }
        case kPropDefaultLimits:
            u->s.defaultLimits = number() != 0;
            break;
        case kPropGroupName:
            if (value.type != VarType::BStr)
                throw TiError(kDISP_E_TYPEMISMATCH, "group name is not a text");
            u->s.group = value.s;
            m.EnsureGroup(value.s);
            break;
        case kPropLastActivity:
            throw TiError(kE_ACCESSDENIED, "read-only property");
        default:
            throw TiError(kDISP_E_UNKNOWNNAME, "unknown property");
    }
    m.RatesChanged();
}

void Simulator::Advance(double seconds) {
    if (!(seconds > 0)) return;
    std::lock_guard lock(impl_->mu);
    impl_->AdvanceTo(impl_->now + seconds);
}

double Simulator::Now() const {
    std::lock_guard lock(impl_->mu);
    return impl_->now;
}

double Simulator::OleDateAt(double t) const {
    std::lock_guard lock(impl_->mu);
    return impl_->OleAt(t);
}

std::optional<UserState> Simulator::User(const Text& name) const {
    std::lock_guard lock(impl_->mu);
    const Impl::UserRec* u = impl_->FindUser(name);
    if (!u) return std::nullopt;
    impl_->FreshRates();
    return u->s;
}

std::vector<UserState> Simulator::Users() const {
    std::lock_guard lock(impl_->mu);
    impl_->FreshRates();
    std::vector<UserState> out;
    out.reserve(impl_->users.size());
    for (const auto& u : impl_->users) out.push_back(u.s);
    return out;
}

std::optional<int32_t> Simulator::GroupLimit(const Text& group) const {
    std::lock_guard lock(impl_->mu);
    const GroupSetup* g = impl_->FindGroup(group);
    if (!g) return std::nullopt;
    return g->limitIn;
}

void Simulator::AddUser(const UserSetup& setup) {
    std::lock_guard lock(impl_->mu);
    Impl& m = *impl_;
    if (m.FindUser(setup.name))
        throw std::invalid_argument("user exists: " + movra::ToUtf8(setup.name));
    Impl::UserRec r;
    UserState& s = r.s;
    s.name = setup.name;
    s.group = setup.group;
    s.online = setup.online;
    s.ip = setup.ip;
    s.balance = setup.balance;
    s.rxBytes = setup.rxBytes;
    s.txBytes = setup.txBytes;
    s.limitIn = setup.limitIn;
    s.limitOut = setup.limitOut;
    s.defaultLimits = setup.defaultLimits;
    s.demand = setup.demand;
    s.randomDemand = setup.randomDemand;
    s.lastActivity = m.OleAt(m.now - setup.lastActiveAgo);
    m.EnsureGroup(s.group);
    m.byName.emplace(s.name, m.users.size());
    m.users.push_back(std::move(r));
    if (setup.randomDemand) m.RandomChange(m.users.back());
    m.RatesChanged();
}

bool Simulator::RemoveUser(const Text& name) {
    std::lock_guard lock(impl_->mu);
    if (!impl_->FindUser(name)) return false;
    impl_->Forget(name);
    impl_->RatesChanged();
    return true;
}

void Simulator::SetLimits(const Text& name, int32_t in, int32_t out) {
    impl_->WithUser(name, [&](Impl::UserRec& u) {
        u.s.limitIn = in;
        u.s.limitOut = out;
    });
}
void Simulator::SetOnline(const Text& name, bool online) {
    impl_->WithUser(name, [&](Impl::UserRec& u) { u.s.online = online; });
}
void Simulator::SetIp(const Text& name, const Text& ip) {
    impl_->WithUser(name, [&](Impl::UserRec& u) { u.s.ip = ip; });
}
void Simulator::SetDemand(const Text& name, Demand demand) {
    impl_->WithUser(name, [&](Impl::UserRec& u) {
        u.s.demand = demand;
        u.s.randomDemand = false;
        u.nextRandom = kInf;
    });
}
void Simulator::SetRandomDemand(const Text& name) {
    impl_->WithUser(name, [&](Impl::UserRec& u) {
        u.s.randomDemand = true;
        impl_->RandomChange(u);
    });
}
void Simulator::SetDefaultLimits(const Text& name, bool on) {
    impl_->WithUser(name, [&](Impl::UserRec& u) { u.s.defaultLimits = on; });
}
void Simulator::SetLastActivity(const Text& name, double oleDate) {
    impl_->WithUser(name, [&](Impl::UserRec& u) { u.s.lastActivity = oleDate; });
}

void Simulator::SetGroupLimit(const Text& group, int32_t limitIn) {
    std::lock_guard lock(impl_->mu);
    impl_->EnsureGroup(group);
    if (GroupSetup* g = impl_->FindGroup(group)) g->limitIn = limitIn;
    impl_->RatesChanged();
}

void Simulator::SetChannel(double in, double out) {
    std::lock_guard lock(impl_->mu);
    impl_->sc.channelIn = in;
    impl_->sc.channelOut = out;
    impl_->RatesChanged();
}

Faults Simulator::GetFaults() const {
    std::lock_guard lock(impl_->mu);
    return impl_->sc.faults;
}

void Simulator::SetFaults(const Faults& faults) {
    std::lock_guard lock(impl_->mu);
    impl_->sc.faults = faults;
}

Demand Simulator::Delivered() const {
    std::lock_guard lock(impl_->mu);
    impl_->FreshRates();
    Demand d;
    for (const auto& u : impl_->users) d.in += u.s.rateIn, d.out += u.s.rateOut;
    return d;
}

Demand Simulator::Channel() const {
    std::lock_guard lock(impl_->mu);
    return {impl_->sc.channelIn, impl_->sc.channelOut};
}

std::vector<std::string> Simulator::Journal() const {
    std::lock_guard lock(impl_->mu);
    return {impl_->journal.begin(), impl_->journal.end()};
}

void Simulator::ClearJournal() {
    std::lock_guard lock(impl_->mu);
    impl_->journal.clear();
}

void Simulator::Record(const std::string& text) {
    std::lock_guard lock(impl_->mu);
    impl_->Append(text);
}

int Simulator::NextSessionId() {
    std::lock_guard lock(impl_->mu);
    return ++impl_->sessions;
}

void Simulator::BeginCall() {
    int delay = 0;
    {
        // The clock first: a timed delay that has begun (or ended) by now decides this call.
        std::lock_guard lock(impl_->mu);
        impl_->CatchUpRealTime();
        delay = impl_->sc.faults.delayMs;
    }
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    std::lock_guard lock(impl_->mu);
    impl_->CatchUpRealTime();
}

void Simulator::HangIfFaulted(ServerCall call, const std::string& journalLine) {
    std::unique_lock lock(impl_->mu);
    const auto& hangs = impl_->sc.faults.hangs;
    if (std::find(hangs.begin(), hangs.end(), call) == hangs.end()) return;
    impl_->Append(journalLine + " -> HANG");
    impl_->hangsReleased.wait(lock, [this] { return impl_->released; });
    throw TiError(kE_FAIL, "hung call released");
}

void Simulator::ReleaseHangs() {
    {
        std::lock_guard lock(impl_->mu);
        impl_->released = true;
    }
    impl_->hangsReleased.notify_all();
}

}  // namespace tisim
