#include "engine/limits.h"

#include <vector>

#include "core/log_flags.h"

namespace movra {

namespace {

Text ReadServerName(Model& m) {
    Model::Guard g(m);
    return m.settings.Server;
}

// A refused regulating write: the administrator has to fix the user on the server, so
// regulation stops until the mode is set again.
void SwitchToMonitoring(RunContext& ctx, TextView user) {
    Text msg = RegulationFailureText(user, ReadServerName(ctx.model));
    ctx.window.ShowMessage(msg);
    ctx.window.LogLine(LOG_ERROR, msg);
    Model::Guard g(ctx.model);
    ctx.model.settings.TrafficSpeedAutoControll = kModeMonitoring;
}

}  // namespace

Text RegulationFailureText(TextView user, TextView server) {
    Text t =
        u"Перехожу в режим наблюдения! Не получилось изменить Ограничение на прием/передачу "
        u"пользователя ";
    t += user;
    t += u" на сервере ТИ ";
    t += server;
    t += u" Проверьте свойства пользователя ";
    t += user;
    t += u" в ТИ - ограничения->прием/передача - должны быть проставлены галочки и числа > 0, а "
         u"галочка \"по умолчанию\", снята!  ";
    return t;
}

bool ApplyLimits(RunContext& ctx, const LimitWrite& w) {
    Text key, shown;
    int32_t curIn = 0, curOut = 0;
    {
        Model::Guard g(ctx.model);
        int32_t i = ctx.model.FindUserById(w.userId, w.indexHint);
        if (i < 0) return true;  // deleted from the window since the division
        const CTiUserData& u = ctx.model.Users[i];
        key = u.UserName;
        curIn = u.LimitIn;
        curOut = u.LimitOut;
        shown = w.mode == kModeFreeChannel ? ctx.model.settings.DOWNLOADER_USERNAME : u.UserName;
    }
    Text line = w.mode == kModeFreeChannel
                    ? Fmt(u"Изменение ограничения для %s с %d/%d на %d/%d кбит/с.", shown, curIn,
                          curOut, w.in, w.out)
                    : Fmt(u"Изменение ограничения для %s на %d/%d кбит/с.", shown, w.in, w.out);
    ctx.window.LogLine(LOG_LIMIT, line);

    auto value = [&](int32_t v) {
        return w.mode == kModeFreeChannel ? Variant::I4(v) : Variant::Int(v);
    };
    // Mode 3 keeps what it wrote; mode 1 reads it back in the next cycle.
    auto store = [&](bool in, int32_t v) {
        if (w.mode == kModeFreeChannel) return;
        Model::Guard g(ctx.model);
        int32_t i = ctx.model.FindUserById(w.userId, w.indexHint);
        if (i < 0) return;
        (in ? ctx.model.Users[i].LimitIn : ctx.model.Users[i].LimitOut) = v;
    };
    if (FailureOf([&] {
            if (curIn != w.in) {
                ctx.server->SetProperty(kKindUser, key, PropName(kPropNameLimitIn), value(w.in));
                store(true, w.in);
            }
            if (curOut != w.out) {
                ctx.server->SetProperty(kKindUser, key, PropName(kPropNameLimitOut), value(w.out));
                store(false, w.out);
            }
        })) {
        SwitchToMonitoring(ctx, shown);
        return false;
    }
    ctx.window.LogLine(LOG_LIMIT_OK, line + u"...OK");
    return true;
}

void ApplyManualChange(RunContext& ctx, uint64_t id, int32_t indexHint) {
    Text name;
    int32_t curIn = 0, curOut = 0, newIn = -1, newOut = -1;
    {
        Model::Guard g(ctx.model);
        int32_t i = ctx.model.FindUserById(id, indexHint);
        if (i < 0) return;
        const CTiUserData& u = ctx.model.Users[i];
        if (u.NewLimitIn == -1) return;
        name = u.UserName;
        curIn = u.LimitIn;
        curOut = u.LimitOut;
        newIn = u.NewLimitIn;
        newOut = u.NewLimitOut;
    }
    Text line = Fmt(u"Изменение ограничения для %s с %d/%d на %d/%d кбит/с.", name, curIn, curOut,
                    newIn, newOut);
    ctx.window.LogLine(LOG_LIMIT, line);
    const bool ok = !FailureOf([&] {
        if (newOut != -1)
            ctx.server->SetProperty(kKindUser, name, PropNumber(kPropLimitOut),
                                    Variant::Int(newOut));
        ctx.server->SetProperty(kKindUser, name, PropNumber(kPropLimitIn), Variant::Int(newIn));
    });
    {
        // Cleared whatever the outcome, but only if the window has not stored a newer change
        // meanwhile (it may do so while we wait for the server or for the message box).
        Model::Guard g(ctx.model);
        int32_t i = ctx.model.FindUserById(id, indexHint);
        if (i >= 0) {
            CTiUserData& u = ctx.model.Users[i];
            if (u.NewLimitIn == newIn && u.NewLimitOut == newOut) u.NewLimitIn = u.NewLimitOut = -1;
        }
    }
    if (ok)
        ctx.window.LogLine(LOG_LIMIT_OK, line + u"...OK");
    else
        SwitchToMonitoring(ctx, name);
}

void RunExitAction(RunContext& ctx) {
    struct Item {
        Text name;
        int32_t in, out;
    };
    std::vector<Item> items;
    int32_t action = 0;
    {
        Model::Guard g(ctx.model);
        Model& m = ctx.model;
        action = m.settings.BeforeQuit;
        if (action == 1 || action == 2) {
            for (int32_t i = 0; i < m.NumUsers; ++i) {
                CTiUserData& u = m.Users[i];
                if (action == 1) {
                    u.LimitOut = u.UserLimitMaxOut > 0 ? u.UserLimitMaxOut : 0;
                    u.LimitIn = u.UserLimitMaxIn > 0 ? u.UserLimitMaxIn : 0;
                } else {
                    // Never lift limits that this run did not read: a user added or reloaded
                    // after its first poll has nothing to restore.
                    if (u.StartLimitsRun == 0 || u.StartLimitsRun != ctx.run.runNumber) continue;
                    u.LimitOut = u.StartLimitOut;
                    u.LimitIn = u.StartLimitIn;
                }
                items.push_back({u.UserName, u.LimitIn, u.LimitOut});
            }
        }
    }
    Text header;
    switch (action) {
        case 0:
            header = u"Подготовка к отключению. Оставляю последние ограничения";
            break;
        case 1:
            header =
                u"Подготовка к отключению. Снимаю ограничения со всех пользователей, кроме "
                u"жестких";
            break;
        case 2:
            header =
                u"Подготовка к отключению. Выставляю первоначальные ограничения всем "
                u"пользователям";
            break;
        default:
            header =
                Fmt(u"Подготовка к отключению. Неизвестное действие при отключении (%d), "
                    u"оставляю последние ограничения",
                    action);
            break;
    }
    ctx.window.LogLine(LOG_INFO, header);
    for (const Item& it : items) {
        ctx.window.LogLine(LOG_LIMIT_OK,
                           Fmt(u"Выставляю %d/%d для пользователя ", it.in, it.out) + it.name);
        if (FailureOf([&] {
                ctx.server->SetProperty(kKindUser, it.name, PropName(kPropNameLimitIn),
                                        Variant::I4(it.in));
                ctx.server->SetProperty(kKindUser, it.name, PropName(kPropNameLimitOut),
                                        Variant::I4(it.out));
            }))
            ctx.window.LogLine(
                LOG_ERROR,
                u"Не получилось изменить Ограничение на прием/передачу пользователя " + it.name);
    }
}

}  // namespace movra
