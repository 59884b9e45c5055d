#include "core/settings.h"

#include <gtest/gtest.h>

namespace movra {
namespace {

TEST(ValidateSettings, DefaultsPass) {
    EXPECT_EQ(ValidateSettings(Settings()), u"");
}

TEST(ValidateSettings, OnlyTheFirstFailingCheckIsReported) {
    Settings s;
    s.AutoLoginPass.clear();
    s.Server.clear();
    s.TrafficSpeedAutoControll = 1;
    EXPECT_EQ(ValidateSettings(s), u"Введите пароль!");
    s.AutoLoginPass = u"p";
    EXPECT_EQ(ValidateSettings(s), u"Укажите сервер TI!");
    s.Server = u"h";
    EXPECT_EQ(ValidateSettings(s), u"Задайте имя пользователя, канал которого должен расширятся");
    s.DOWNLOADER_USERNAME = u"u";
    EXPECT_EQ(ValidateSettings(s), u"");
}

TEST(ValidateSettings, TheDownloadUserMattersOnlyInModeOne) {
    Settings s;
    for (int mode : {0, 2, 3}) {
        s.TrafficSpeedAutoControll = mode;
        EXPECT_EQ(ValidateSettings(s), u"") << mode;
    }
}

}  // namespace
}  // namespace movra
