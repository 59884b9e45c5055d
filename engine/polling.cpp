#include "engine/polling.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "core/log_flags.h"
#include "engine/activity.h"
#include "engine/division.h"
#include "engine/limits.h"
#include "engine/measurement.h"

namespace movra {

namespace {

constexpr size_t kInfoName = 0, kInfoOnline = 10, kInfoBalance = 19, kInfoRx = 20, kInfoTx = 21,
                 kInfoIp = 24, kInfoRxSpeed = 33, kInfoTxSpeed = 34;

// What one user's server calls returned, gathered without the lock.
struct Readings {
    Variant info;
    bool haveOut = false, haveIn = false, haveActivity = false, failed = false;
    int32_t out = 0, in = 0;
    Variant activity;
};

// A byte counter: a real when the server sends one, otherwise its 32-bit integer. `keep` when
// the value cannot be read at all.
double Counter(const Variant& v, double keep) {
    switch (v.type) {
        case VarType::R8:
            return v.d;
        case VarType::I4:
        case VarType::Int:
        case VarType::Empty:
            return v.i;
        default:
            try {
                return ToReal(v);
            } catch (const ConversionError&) {
                return keep;
            }
    }
}

int32_t Integer(const Variant& v, int32_t keep) {
    if (v.type == VarType::I4 || v.type == VarType::Int) return v.i;
    try {
        return ToInt32(v);
    } catch (const ConversionError&) {
        return keep;
    }
}

SystemTime EmptyDate() {
    SystemTime t;
    if (!OleDateToSystemTime(0.0, t)) t = SystemTime{1899, 12, 6, 30, 0, 0, 0, 0};
    return t;
}

}  // namespace

ActivityTime ConvertActivity(const Variant* value, const Clock& clock) {
    ActivityTime r;
    double date = 0.0;
    if (value) {
        try {
            date = ToReal(*value);
        } catch (const ConversionError&) {
            date = 0.0;
        }
    }
    if (!OleDateToSystemTime(date, r.local)) r.local = EmptyDate();
    // Before 1970 there are no seconds to count from: such a user has been idle for ever.
    if (r.local.wYear >= 1970) {
        int64_t s = clock.LocalToUnix(r.local);
        r.seconds = s < 0 ? 0 : s;
    }
    return r;
}

static bool PollOne(RunContext& ctx, CycleState& cycle, UserWalk& walk, Text& failedKey) {
    Model& m = ctx.model;
    Text key;
    uint64_t id = 0;
    int32_t index = -1;
    {
        Model::Guard g(m);
        index = walk.Next(m);
        if (index < 0) return false;
        key = m.User(index).UserName;
        id = m.User(index).Id;
    }
    if (key.empty()) return true;

    ApplyManualChange(ctx, id, index);

    Readings r;
    if (FailureOf([&] {
            r.info = ctx.server->GetUserInfo(key);
            InfoElement(r.info, kInfoTxSpeed);  // an answer too short to read counts as a failure
        })) {
        failedKey = key;
        return false;
    }
    if (ctx.run.firstCycle && FailureOf([&] {
            ctx.server->SetProperty(kKindUser, key, PropNumber(kPropDefaultLimits),
                                    Variant::Int(0));
        }))
        ctx.window.LogLine(LOG_WARN, u"Не получилось снять галку у \"" + key + u"\"");
    // Name, address, balance, online state, counters and speeds from what GetUserInfo said;
    // their lines go out before the limits are read, so the log and the server see the same
    // order as a user's turn has.
    std::vector<std::pair<uint32_t, Text>> lines;
    double rxSpeed = 0.0, txSpeed = 0.0;
    {
        Model::Guard g(m);
        int32_t i = m.FindUserById(id, index);
        if (i < 0) return true;  // deleted from the window meanwhile
        index = i;
        CTiUserData& u = m.Users[i];
        const Settings& s = m.settings;
        const Variant& info = r.info;

        if (InfoElement(info, kInfoName).type == VarType::BStr)
            u.UserName = InfoElement(info, kInfoName).s;

        const Variant& ipv = InfoElement(info, kInfoIp);
        if (ipv.type == VarType::BStr && ipv.s != u"0.0.0.0") {
            if (!u.IP.empty() && u.IP != ipv.s)
                lines.emplace_back(LOG_WARN,
                                   u.UserName + u"Сменил IP адрес с " + u.IP + u"на " + ipv.s);
            u.IP = ipv.s;
        }

        try {
            u.Balance = ToReal(InfoElement(info, kInfoBalance));
        } catch (const ConversionError&) {
        }

        int32_t online = Integer(InfoElement(info, kInfoOnline), u.Online);
        if (online != u.Online) {
            lines.emplace_back(LOG_INFO, u.UserName + (u.Online ? u" - Отключился" : u" - ОнЛайн"));
            u.Online = online;
        }

        double rx = Counter(InfoElement(info, kInfoRx), u.RxTotal);
        double tx = Counter(InfoElement(info, kInfoTx), u.TxTotal);
        // With no pause there is no interval to divide by: the speed is then 0.
        double interval = s.RefreshTimer_msec / 1000.0 * 1024.0;
        rxSpeed = u.RxTotal > 0 && interval > 0 ? (rx - u.RxTotal) / interval * 8 : 0.0;
        txSpeed = u.TxTotal > 0 && interval > 0 ? (tx - u.TxTotal) / interval * 8 : 0.0;
        u.RxTotal = rx;
        u.TxTotal = tx;
        u.TiRxSpeed = Integer(InfoElement(info, kInfoRxSpeed), 0) * 8.0 / 1024.0;
        u.TiTxSpeed = Integer(InfoElement(info, kInfoTxSpeed), 0) * 8.0 / 1024.0;
        AddMeasuredSpeed(cycle, rxSpeed);
    }
    for (auto& [flags, text] : lines) ctx.window.LogLine(flags, text);
    lines.clear();

    // What was read before a failure is kept.
    r.failed =
        FailureOf([&] {
            r.out = ToInt32(ctx.server->GetProperty(kKindUser, key, PropName(kPropNameLimitOut)));
            r.haveOut = true;
            r.in = ToInt32(ctx.server->GetProperty(kKindUser, key, PropName(kPropNameLimitIn)));
            r.haveIn = true;
            r.activity = ctx.server->GetProperty(kKindUser, key, PropNumber(kPropLastActivity));
            r.haveActivity = true;
        }).has_value();

    {
        Model::Guard g(m);
        int32_t i = m.FindUserById(id, index);
        if (i < 0) return true;  // deleted from the window meanwhile
        index = i;
        CTiUserData& u = m.Users[i];
        const Settings& s = m.settings;

        if (r.haveOut) u.LimitOut = r.out;
        if (r.haveIn) u.LimitIn = r.in;
        if (r.failed) lines.emplace_back(LOG_WARN, u"Сбой при обращении к серверу");
        // Start limits are those this run really read, at the user's first poll in the run.
        if (r.haveOut && r.haveIn && u.StartLimitsRun != ctx.run.runNumber) {
            u.StartLimitOut = u.LimitOut;
            u.StartLimitIn = u.LimitIn;
            u.StartLimitsRun = ctx.run.runNumber;
        }

        ActivityTime act = ConvertActivity(r.haveActivity ? &r.activity : nullptr, m.clock());

        u.RxSpeed = rxSpeed;
        u.TxSpeed = txSpeed;
        cycle.rxSum += u.RxTotal;
        cycle.txSum += u.TxTotal;

        const ActivityClassValue c =
            ClassifyActivity({u.Online, act.seconds, u.RxSpeed}, s, m.clock().Now());
        if (c == kSleeping && u.ActivityClass != kSleeping) {
            const SystemTime& t = act.local;
            const ClockStyle style{
                .padDay = false, .padHour = false, .padYear = false, .afterDate = u'/'};
            lines.emplace_back(LOG_SLEEP, Fmt(u"%s спит (последня активность: %s", u.UserName,
                                              ClockText(t, style)));
        } else if (c != kSleeping && c != kOffline && u.ActivityClass == kSleeping) {
            lines.emplace_back(LOG_SLEEP, Fmt(u"%s Проснулся!", u.UserName));
        }
        CountActivity(m, cycle, u, c);
        u.ActivityClass = c;
        u.LastActivity = act.local;

        if (s.TrafficSpeedAutoControll == kModeFreeChannel)
            AccumulateFreeChannel(m, i, cycle, ctx.run);

        // A limit of 0 means no limit: nothing to measure the load against, so it shows 0.
        CTiUserData& v = m.Users[i];
        v.RxLoad = v.LimitIn != 0 ? std::max(v.RxSpeed, v.TiRxSpeed) / v.LimitIn * 100 : 0.0;
        v.TxLoad = v.LimitOut != 0 ? std::max(v.TxSpeed, v.TiTxSpeed) / v.LimitOut * 100 : 0.0;
    }
    for (auto& [flags, text] : lines) ctx.window.LogLine(flags, text);
    return true;
}

bool PollUsers(RunContext& ctx, CycleState& cycle, Text& failedKey) {
    std::optional<UserWalk> walk;
    {
        Model::Guard g(ctx.model);
        walk.emplace(ctx.model);
    }
    for (;;) {
        failedKey.clear();
        if (!PollOne(ctx, cycle, *walk, failedKey)) return failedKey.empty();
    }
}

}  // namespace movra
