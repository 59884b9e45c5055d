#pragma once
// A scripted TI server for engine tests: users with counters and limits, a journal of every
// call, and a hook that can refuse any call. Its state outlives the objects the connector makes,
// so tests can look at it after a run has released its object.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/tiserver.h"

namespace movra::testing {

struct FakeUser {
    Text displayName;  // element 0; the key when empty
    int32_t online = 1;
    Text ip = u"10.0.0.1";
    double balance = 0;
    Variant rx = Variant::R8(0), tx = Variant::R8(0);
    int32_t rxRate = 0, txRate = 0;  // bytes per second (elements 33/34)
    int32_t limitIn = 100, limitOut = 50;
    Variant activity = Variant::Date(0);
    Variant group = Variant::BStr(u"");
    int32_t defaultFlag = 1;
};

struct Call {
    enum Op { kList, kLogin, kInfo, kGet, kSet } op = kList;
    int32_t kind = 0;
    Text object;
    Variant property;
    Variant value;
};

class FakeState {
  public:
    std::mutex m;
    std::map<Text, FakeUser> users;
    std::map<Text, int32_t> groupLimits;
    Variant listText;
    size_t infoSize = 35;
    std::vector<Call> journal;
    // Returns true to refuse the call.
    std::function<bool(const Call&)> refuse;
    bool keepJournal = true;  // off for long runs
    bool connectFails = false;
    int connects = 0, released = 0;

    std::vector<Call> Journal() {
        std::lock_guard<std::mutex> l(m);
        return journal;
    }
    std::vector<Call> Sets() {
        std::vector<Call> r;
        for (auto& c : Journal())
            if (c.op == Call::kSet) r.push_back(c);
        return r;
    }
    void Clear() {
        std::lock_guard<std::mutex> l(m);
        journal.clear();
    }
    FakeUser& U(const Text& name) { return users[name]; }
};

class FakeServer : public TiServer {
  public:
    explicit FakeServer(std::shared_ptr<FakeState> s) : s_(std::move(s)) {}
    ~FakeServer() override {
        std::lock_guard<std::mutex> l(s_->m);
        ++s_->released;
    }
    Variant ListUsers() override {
        std::lock_guard<std::mutex> l(s_->m);
        Record(MakeCall(Call::kList));
        return s_->listText;
    }
    void Login(const Text& password) override {
        std::lock_guard<std::mutex> l(s_->m);
        Record(MakeCall(Call::kLogin, 0, password));
    }
    Variant GetUserInfo(const Text& name) override {
        std::lock_guard<std::mutex> l(s_->m);
        Record(MakeCall(Call::kInfo, 0, name));
        auto it = s_->users.find(name);
        if (it == s_->users.end()) throw TiError(-1);
        const FakeUser& u = it->second;
        std::vector<Variant> a(s_->infoSize);
        auto put = [&](size_t i, Variant v) {
            if (i < a.size()) a[i] = std::move(v);
        };
        put(0, Variant::BStr(u.displayName.empty() ? name : u.displayName));
        put(10, Variant::I4(u.online));
        put(19, Variant::R8(u.balance));
        put(20, u.rx);
        put(21, u.tx);
        put(24, Variant::BStr(u.ip));
        put(33, Variant::I4(u.rxRate));
        put(34, Variant::I4(u.txRate));
        return Variant::Array(std::move(a));
    }
    Variant GetProperty(int32_t kind, const Text& object, const Variant& property) override {
        std::lock_guard<std::mutex> l(s_->m);
        Record(MakeCall(Call::kGet, kind, object, property));
        if (kind == kKindGroup) {
            auto it = s_->groupLimits.find(object);
            if (it == s_->groupLimits.end()) throw TiError(-2);
            return Variant::I4(it->second);
        }
        auto it = s_->users.find(object);
        if (it == s_->users.end()) throw TiError(-2);
        const FakeUser& u = it->second;
        int n = Number(property);
        if (n == 31) return Variant::I4(u.limitIn);
        if (n == 32) return Variant::I4(u.limitOut);
        if (n == 78) return u.activity;
        if (n == 8) return u.group;
        throw TiError(-3);
    }
    void SetProperty(int32_t kind, const Text& object, const Variant& property,
                     const Variant& value) override {
        std::lock_guard<std::mutex> l(s_->m);
        Record(MakeCall(Call::kSet, kind, object, property, value));
        auto it = s_->users.find(object);
        if (it == s_->users.end()) throw TiError(-2);
        int n = Number(property);
        if (n == 31) it->second.limitIn = value.i;
        if (n == 32) it->second.limitOut = value.i;
        if (n == 30) it->second.defaultFlag = value.i;
    }

    static int Number(const Variant& p) {
        if (p.type == VarType::Int) return p.i;
        if (p.s == u"User_InBandwidth") return 31;
        if (p.s == u"User_OutBandwidth") return 32;
        return -1;
    }

  private:
    static Call MakeCall(Call::Op op, int32_t kind = 0, const Text& object = {},
                         const Variant& property = {}, const Variant& value = {}) {
        Call c;
        c.op = op;
        c.kind = kind;
        c.object = object;
        c.property = property;
        c.value = value;
        return c;
    }
    // Called with the lock held; throws when the test refuses the call.
    void Record(Call c) {
        if (s_->keepJournal) s_->journal.push_back(c);
        if (s_->refuse && s_->refuse(c)) throw TiError(-100);
    }
    std::shared_ptr<FakeState> s_;
};

class FakeConnector : public TiConnector {
  public:
    std::shared_ptr<FakeState> state = std::make_shared<FakeState>();
    Text lastHost;
    std::unique_ptr<TiServer> Connect(const Text& host) override {
        std::lock_guard<std::mutex> l(state->m);
        lastHost = host;
        if (state->connectFails) throw TiError(-5);
        ++state->connects;
        return std::make_unique<FakeServer>(state);
    }
};

}  // namespace movra::testing
