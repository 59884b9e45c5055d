#include "engine/run_context.h"

#include "core/log_flags.h"

namespace movra {

ConnectResult ConnectAndLogIn(RunContext& ctx, TiConnector& connector, uint32_t connectedFlags) {
    Text server, password;
    {
        Model::Guard g(ctx.model);
        server = ctx.model.settings.Server;
        password = ctx.model.settings.AutoLoginPass;
    }
    ctx.window.LogLine(LOG_INFO, u"Подключаюсь к" + server);
    if (FailureOf([&] { ctx.server = connector.Connect(server); })) ctx.server.reset();
    if (!ctx.server) {
        // The line first, then the box.
        Text text = u"Ошибка подключения к " + server;
        ctx.window.LogLine(LOG_FATAL, text);
        ctx.window.ShowMessage(text);
        return ConnectResult::kConnectFailed;
    }
    ctx.window.LogLine(connectedFlags, u"Подключаюсь к" + server + u"...OK");
    ctx.window.LogLine(LOG_INFO, u"Авторизация пользователя TI");
    if (FailureOf([&] { ctx.server->Login(password); })) {
        // The box first, then the line.
        Text text = u"Ошибка авторизации. Проверьте пароль ТI на " + server;
        ctx.window.ShowMessage(text);
        ctx.window.LogLine(LOG_FATAL, text);
        return ConnectResult::kLoginFailed;
    }
    ctx.window.LogLine(LOG_OK_CONNECTED, u"Авторизация пользователя TI...OK");
    return ConnectResult::kConnected;
}

}  // namespace movra
