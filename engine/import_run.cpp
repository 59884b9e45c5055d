#include "engine/import_run.h"

#include <optional>

#include "core/log_flags.h"
#include "engine/workers.h"

namespace movra {

namespace {

Text ImportFailureLine(const char* what) {
    if (!what) return u"Внутренняя ошибка потока импорта. Отключение от сервера.";
    return u"Внутренняя ошибка потока импорта: " + FromUtf8(what) + u". Отключение от сервера.";
}

}  // namespace

ImportRun::ImportRun(Model& model, WindowLink& window, TiConnector& connector, WorkerEvents& events,
                     int32_t request, uint64_t ticket)
    : WorkerRun(model, window, events, ticket), connector_(connector), request_(request) {}

int ImportRun::End(int code) {
    Finish();
    return code;
}

int ImportRun::Run() {
    int code = -1;  // stays when an unexpected failure ends the run
    Guarded(ImportFailureLine, [&] { code = RunJobs(); });
    return code;
}

int ImportRun::RunJobs() {
    if (!Claim(u"Поток завершен.")) return End(-1);

    if (ConnectAndLogIn(ctx_, connector_, LOG_OK_CONNECTED) != ConnectResult::kConnected)
        return End(-1);

    if ((request_ & kImportUsers) && !Quitting()) {
        if (!UsersJob()) {
            ctx_.window.LogLine(LOG_FATAL, u"Ошибка.");
            return End(-1);
        }
    }
    if ((request_ & kImportGroups) && !Quitting()) GroupsJob();

    ctx_.window.LogLine(LOG_DONE, u"Отключился от сервера.");
    ctx_.window.UsersChanged();
    return End(1);
}

bool ImportRun::UsersJob() {
    ctx_.window.LogLine(LOG_INFO, u"Получение списка пользователей TI");
    Variant list;
    if (FailureOf([&] { list = ctx_.server->ListUsers(); })) return false;
    if (Quitting()) return true;
    const Text text = list.type == VarType::BStr ? list.s : Text();
    const TextView marker = u"DisplayName=\"";
    size_t pos = 0;
    while ((pos = text.find(marker, pos)) != Text::npos) {
        size_t begin = pos + marker.size();
        size_t end = text.find(u'"', begin);
        // A value cut off at the end of the text is not a name: taking it could add a wrong
        // user.
        if (end == Text::npos) break;
        {
            Model::Guard g(ctx_.model);
            ctx_.model.AddUserByName(text.substr(begin, end - begin));
        }  // the guard delivers the users-changed notice after unlocking
        ctx_.window.LogLine(LOG_INFO, u"Список получен.");
        pos = end;
    }
    return true;
}

void ImportRun::GroupsJob() {
    Model& m = ctx_.model;
    ctx_.window.LogLine(LOG_INFO, u"Получение списка групп TI");
    std::optional<UserWalk> walk;
    {
        Model::Guard g(m);
        walk.emplace(m);
    }
    while (!Quitting()) {
        Text name;
        uint64_t id = 0;
        int32_t i = -1;
        {
            Model::Guard g(m);
            i = walk->Next(m);
            if (i < 0) break;
            name = m.Users[i].UserName;
            id = m.Users[i].Id;
        }
        Text group;
        bool haveGroup = false;
        // A failed call leaves the user without a name, as an answer of another kind does.
        FailureOf([&] {
            Variant v = ctx_.server->GetProperty(kKindUser, name, PropNumber(kPropGroupName));
            if (v.type == VarType::BStr) {
                group = v.s;
                haveGroup = true;
            } else if (v.type == VarType::Empty) {
                haveGroup = true;  // no group on the server
            }
        });
        if (Quitting()) break;
        if (!haveGroup) {
            // Without a name the user keeps the group it has.
            ctx_.window.LogLine(LOG_ERROR, u"Не получилось получить имя группы для " + name);
            continue;
        }
        ctx_.window.LogLine(LOG_LIMIT_OK, u"...OK");

        int32_t groupId = 0;
        {
            Model::Guard g(m);
            int32_t at = m.FindUserById(id, i);
            if (at < 0) continue;  // deleted meanwhile
            groupId = m.FindOrAddGroup(group);
            m.Users[at].UserGrID = groupId;
        }
        if (group.empty()) continue;

        int32_t sum = 0;
        if (FailureOf([&] {
                sum = ToInt32(
                    ctx_.server->GetProperty(kKindGroup, group, PropNumber(kPropGroupLimitIn)));
            })) {
            // The share stays as it was.
            ctx_.window.LogLine(LOG_ERROR, u"Ограничения суммарной скорости на группу " + group);
            continue;
        }
        if (Quitting()) break;
        Model::Guard g(m);
        uint32_t width = m.settings.RXMAXkbit;
        // With no channel width there is nothing to take a share of: the share stays.
        if (width == 0) continue;
        int32_t gi = m.FindGroupIndex(groupId);
        if (gi >= 0) m.Groups[gi].GroupMaxIn = static_cast<float>(sum) / static_cast<float>(width);
    }
    // Counted once the import is complete, never from a half-done one.
    Model::Guard g(m);
    m.RecountGroupUsers();
}

}  // namespace movra
