#include "core/settings.h"

namespace movra {

Text ValidateSettings(const Settings& s) {
    if (s.AutoLoginPass.empty()) return u"Введите пароль!";
    if (s.Server.empty()) return u"Укажите сервер TI!";
    if (s.TrafficSpeedAutoControll == kModeFreeChannel && s.DOWNLOADER_USERNAME.empty())
        return u"Задайте имя пользователя, канал которого должен расширятся";
    return Text();
}

}  // namespace movra
