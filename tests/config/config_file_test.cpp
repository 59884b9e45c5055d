#include "config/config_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <sys/resource.h>
#include <csignal>
#endif

#include "comma_locale.h"
#include "config_test_util.h"
#include "core/textfile.h"
#include "recording_link.h"

namespace movra {
namespace {

using testing::RecordingLink;

const Text kDefaultSettingsText =
    u"SrvLimTraff_MB: 0\n"
    u"SpeedLimTraff_Mode: 0\n"
    u"SpeedLimTraff_SefeTraff: 100\n"
    u"SpeedLimTraff_MaxTraff: 500\n"
    u"SpeedLimTraff_StartKoeff: 100.0000\n"
    u"SpeedLimTraff_EndKoeff: 25.0000\n"
    u"SpeedLimTraff_DnoLimitKbits: 0\n"
    u"BeforeQuit: 2\n"
    u"UserMAXSpeedLimits: 1\n"
    u"ReUseFreeChanal: 1\n"
    u"DisplaySpeed_in_kBytes_s: 0\n"
    u"AutoZamer_minRXchanal: 64\n"
    u"UserSleepTraffic: 0\n"
    u"LogFileName: Movra.log\n"
    u"LogMaxSize: 50\n"
    u"GridSize: 4\n"
    u"Server: 192.168.0.1\n"
    u"RefreshTimer_msec: 1500\n"
    u"TrafficSpeedAutoControll: 0\n"
    u"RXMAXkbit: 256\n"
    u"TXMAXkbit: 64\n"
    u"UserSleep_TimeOut_sec: 20\n"
    u"Use_Sleepers_Traffic: 1\n";

class ConfigFileTest : public testing::ScratchDirTest {
  protected:
    // Loads `text` (written as the program writes it) into `model`.
    bool Load(TextView text) {
        WriteConfig(text);
        return LoadConfig(model, link);
    }
    std::vector<Text> Messages() const { return link.Messages(); }
    Text ErrIn(TextView rest) const { return u"Ошибка в Movra.cfg" + Text(rest); }
    CTiUserData& U(int32_t i) { return model.User(i); }

    ManualClock clock;
    Model model{clock};
    RecordingLink link;
};

// ---- The exact bytes of a saved file ----

TEST_F(ConfigFileTest, SavedDefaultsAreUtf16WithBomCrLfInKeyOrder) {
    SaveConfig(model, link);
    EXPECT_TRUE(Messages().empty());
    std::string bytes = ReadBytes("Movra.cfg");
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(bytes, Utf16File(kDefaultSettingsText));
    EXPECT_NE(bytes.find(std::string("\r\0\n\0", 4)), std::string::npos);
}

TEST_F(ConfigFileTest, ConditionalLinesUsersAndGroupsAreWrittenInPlace) {
    {
        Model::Guard g(model);
        Settings& s = model.settings;
        s.AutoMeasure = 1;
        s.UseAutoChanalWithCorrection = 3000000000u;  // above 2^31 - 1: written as %d
        s.StorePassword = 1;
        s.AutoLoginPass = u"pa ss";
        s.DOWNLOADER_USERNAME = u"dl";
        s.StartMinimized = 1;
        s.SpeedLimTraff_StartKoeff = 12.34567;
        model.AddUserByName(u"Иван Петров");
        model.User(0).UserKTraff = 2.5f;
        model.User(0).UserGrID = 1;
        model.User(0).UserLimitMaxIn = 128;
        model.User(0).UserLimitMaxOut = -7;
        int32_t id = model.FindOrAddGroup(u"Офис 1");
        model.SetGroupShare(id, 0.25f);
    }
    SaveConfig(model, link);
    EXPECT_TRUE(Messages().empty());
    const Text expected =
        u"SrvLimTraff_MB: 0\n"
        u"SpeedLimTraff_Mode: 0\n"
        u"SpeedLimTraff_SefeTraff: 100\n"
        u"SpeedLimTraff_MaxTraff: 500\n"
        u"SpeedLimTraff_StartKoeff: 12.3457\n"
        u"SpeedLimTraff_EndKoeff: 25.0000\n"
        u"SpeedLimTraff_DnoLimitKbits: 0\n"
        u"BeforeQuit: 2\n"
        u"UserMAXSpeedLimits: 1\n"
        u"ReUseFreeChanal: 1\n"
        u"DisplaySpeed_in_kBytes_s: 0\n"
        u"UseAutoChanalWithCorrection: -1294967296\n"
        u"AutoZamer_minRXchanal: 64\n"
        u"UserSleepTraffic: 0\n"
        u"LogFileName: Movra.log\n"
        u"LogMaxSize: 50\n"
        u"GridSize: 4\n"
        u"Server: 192.168.0.1\n"
        u"AutoLoginPass: pa ss\n"
        u"RefreshTimer_msec: 1500\n"
        u"TrafficSpeedAutoControll: 0\n"
        u"RXMAXkbit: 256\n"
        u"TXMAXkbit: 64\n"
        u"DOWNLOADER_USERNAME: dl\n"
        u"UserSleep_TimeOut_sec: 20\n"
        u"Use_Sleepers_Traffic: 1\n"
        u"StartMinimized: TRUE\n"
        u"User: Иван Петров\n"
        u"UserKTraff: 2.500000\n"
        u"UserGrID: 1\n"
        u"UserLimitMaxIn: 128\n"
        u"UserLimitMaxOut: -7\n"
        u"GroupName: Офис 1\n"
        u"GroupMaxIn: 0.250000\n";
    EXPECT_EQ(ReadBytes("Movra.cfg"), Utf16File(expected));
}

TEST_F(ConfigFileTest, EmptyLogFileNameIsNotWritten) {
    {
        Model::Guard g(model);
        model.settings.LogFileName.clear();
    }
    SaveConfig(model, link);
    EXPECT_EQ(ReadConfig().find(u"LogFileName:"), Text::npos);
}

// ---- Round trip ----

TEST_F(ConfigFileTest, EveryFieldSurvivesSaveAndLoad) {
    Settings s;
    s.SrvLimTraff_MB = 5000;
    s.SpeedLimTraff_Mode = 1;
    s.SpeedLimTraff_SefeTraff = -3;
    s.SpeedLimTraff_MaxTraff = 2147483647;
    s.SpeedLimTraff_StartKoeff = 77.125;
    s.SpeedLimTraff_EndKoeff = -0.5;
    s.SpeedLimTraff_DnoLimitKbits = 33;
    s.BeforeQuit = 0;
    s.UserMAXSpeedLimits = 0;
    s.ReUseFreeChanal = 0;
    s.DisplaySpeed_in_kBytes_s = 1;
    s.AutoMeasure = 1;
    s.UseAutoChanalWithCorrection = 4294967295u;
    s.AutoZamer_minRXchanal = -2147483647 - 1;
    s.UserSleepTraffic = 2147483648u;
    s.LogFileName = u"журнал.log";
    s.LogMaxSize = 0;
    s.GridSize = 500;
    s.Server = u"ti.example";
    s.AutoLoginPass = u"  inner  blanks kept ";
    s.StorePassword = 1;
    s.RefreshTimer_msec = 250;
    s.TrafficSpeedAutoControll = 3;
    s.RXMAXkbit = 100000;
    s.TXMAXkbit = 1;
    s.DOWNLOADER_USERNAME = u"Вася";
    s.UserSleep_TimeOut_sec = 60;
    s.Use_Sleepers_Traffic = 0;
    s.StartMinimized = 1;
    {
        Model::Guard g(model);
        model.settings = s;
        model.FindOrAddGroup(u"A B");
        model.FindOrAddGroup(u"Второй");
        model.SetGroupShare(1, 0.125f);
        model.SetGroupShare(2, 0.875f);
        model.AddUserByName(u"u 1");
        model.AddUserByName(u"пользователь");
        model.User(0).UserKTraff = 0.333333f;
        model.User(0).UserGrID = 2;
        model.User(0).UserLimitMaxIn = 64;
        model.User(0).UserLimitMaxOut = 32;
        model.User(1).UserKTraff = 1000.5f;
        model.User(1).UserGrID = 1;
    }
    SaveConfig(model, link);

    ManualClock c2;
    Model fresh(c2);
    EXPECT_TRUE(LoadConfig(fresh, link));
    EXPECT_TRUE(Messages().empty());
    Model::Guard g(fresh);
    const Settings& r = fresh.settings;
    EXPECT_EQ(r.SrvLimTraff_MB, 5000);
    EXPECT_EQ(r.SpeedLimTraff_Mode, 1);
    EXPECT_EQ(r.SpeedLimTraff_SefeTraff, -3);
    EXPECT_EQ(r.SpeedLimTraff_MaxTraff, 2147483647);
    EXPECT_EQ(r.SpeedLimTraff_StartKoeff, 77.125);
    EXPECT_EQ(r.SpeedLimTraff_EndKoeff, -0.5);
    EXPECT_EQ(r.SpeedLimTraff_DnoLimitKbits, 33);
    EXPECT_EQ(r.BeforeQuit, 0);
    EXPECT_EQ(r.UserMAXSpeedLimits, 0);
    EXPECT_EQ(r.ReUseFreeChanal, 0);
    EXPECT_EQ(r.DisplaySpeed_in_kBytes_s, 1);
    EXPECT_EQ(r.AutoMeasure, 1);
    EXPECT_EQ(r.UseAutoChanalWithCorrection, 4294967295u);
    EXPECT_EQ(r.AutoZamer_minRXchanal, -2147483647 - 1);
    EXPECT_EQ(r.UserSleepTraffic, 2147483648u);
    EXPECT_EQ(r.LogFileName, u"журнал.log");
    EXPECT_EQ(r.LogMaxSize, 0u);
    EXPECT_EQ(r.GridSize, 500u);
    EXPECT_EQ(r.Server, u"ti.example");
    EXPECT_EQ(r.AutoLoginPass, u"inner  blanks kept");  // the rest of a line is trimmed
    EXPECT_EQ(r.StorePassword, 1);
    EXPECT_EQ(r.RefreshTimer_msec, 250u);
    EXPECT_EQ(r.TrafficSpeedAutoControll, 3);
    EXPECT_EQ(r.RXMAXkbit, 100000u);
    EXPECT_EQ(r.TXMAXkbit, 1u);
    EXPECT_EQ(r.DOWNLOADER_USERNAME, u"Вася");
    EXPECT_EQ(r.UserSleep_TimeOut_sec, 60);
    EXPECT_EQ(r.Use_Sleepers_Traffic, 0);
    EXPECT_EQ(r.StartMinimized, 1);

    ASSERT_EQ(fresh.NumUsers, 2);
    EXPECT_EQ(fresh.User(0).UserName, u"u 1");
    EXPECT_FLOAT_EQ(fresh.User(0).UserKTraff, 0.333333f);
    EXPECT_EQ(fresh.User(0).UserGrID, 2);
    EXPECT_EQ(fresh.User(0).UserLimitMaxIn, 64);
    EXPECT_EQ(fresh.User(0).UserLimitMaxOut, 32);
    EXPECT_EQ(fresh.User(1).UserName, u"пользователь");
    EXPECT_EQ(fresh.User(1).UserKTraff, 1000.5f);
    EXPECT_EQ(fresh.User(1).UserGrID, 1);
    ASSERT_EQ(fresh.NumGroups, 3);
    EXPECT_EQ(fresh.GroupAt(1).GroupName, u"A B");
    EXPECT_EQ(fresh.GroupAt(1).GroupID, 1);
    EXPECT_EQ(fresh.GroupAt(1).GroupMaxIn, 0.125f);
    EXPECT_EQ(fresh.GroupAt(2).GroupName, u"Второй");
    EXPECT_EQ(fresh.GroupAt(2).GroupMaxIn, 0.875f);
}

TEST_F(ConfigFileTest, SavingTwiceGivesTheSameFileAndLeavesNoTemporaryFile) {
    {
        Model::Guard g(model);
        model.AddUserByName(u"a");
        model.FindOrAddGroup(u"g");
    }
    SaveConfig(model, link);
    std::string first = ReadBytes("Movra.cfg");
    SaveConfig(model, link);
    EXPECT_EQ(ReadBytes("Movra.cfg"), first);
    EXPECT_FALSE(std::filesystem::exists("Movra.cfg.tmp"));
    EXPECT_TRUE(Messages().empty());
}

// ---- Encodings and separators ----

TEST_F(ConfigFileTest, ReadsUtf16WithOrWithoutBomAndUtf8WithBom) {
    const Text text = u"Server: сервер\nUser: Пётр\nUserGrID: 0\n";
    const std::string utf8 = "\xEF\xBB\xBF" + ToUtf8(text);
    const std::string noBom = EncodeUtf16Lines(text);
    for (const std::string& bytes : {Utf16File(text), noBom, utf8}) {
        WriteBytes("Movra.cfg", bytes);
        ASSERT_TRUE(LoadConfig(model, link));
        Model::Guard g(model);
        EXPECT_EQ(model.settings.Server, u"сервер");
        ASSERT_EQ(model.NumUsers, 1);
        EXPECT_EQ(model.User(0).UserName, u"Пётр");
    }
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ConfigFileTest, KeysAndValuesMaySitOnSeparateLinesButRestOfLineValuesMayNot) {
    // LF-only line ends, tabs and blank lines between keys and values.
    std::string bytes = "\xFF\xFE";
    for (char16_t c : Text(u"GridSize:\n\n\t 7\tRXMAXkbit:   512 User:\nname\n"))
        bytes += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    WriteBytes("Movra.cfg", bytes);
    ASSERT_TRUE(LoadConfig(model, link));
    Model::Guard g(model);
    EXPECT_EQ(model.settings.GridSize, 7u);
    EXPECT_EQ(model.settings.RXMAXkbit, 512u);
    // "User:" takes the rest of its own line (empty); "name" is then an unknown key.
    ASSERT_EQ(model.NumUsers, 1);
    EXPECT_EQ(model.User(0).UserName, u"");
    EXPECT_EQ(Messages(), std::vector<Text>{ErrIn(u" неизвестный параметр: name")});
}

// ---- Messages ----

TEST_F(ConfigFileTest, OpenFailureShowsMessageAndChangesNothing) {
    {
        Model::Guard g(model);
        model.AddUserByName(u"stays");
        model.settings.StorePassword = 1;
    }
    EXPECT_FALSE(LoadConfig(model, link));
    EXPECT_EQ(Messages(), std::vector<Text>{u"Ошибка открытия файла Movra.cfg"});
    Model::Guard g(model);
    EXPECT_EQ(model.NumUsers, 1);
    EXPECT_EQ(model.settings.StorePassword, 1);
    EXPECT_EQ(model.settings.LogFileName, u"Movra.log");
}

AskYesNo NeverAsked() {
    return [](const Text& q) {
        ADD_FAILURE() << "asked: " << ToUtf8(q);
        return false;
    };
}

TEST_F(ConfigFileTest, StartupWithoutFileIsSilentAndKeepsDefaults) {
    ConfigFileState state;
    EXPECT_FALSE(state.LoadAtStartup(model, link));
    EXPECT_TRUE(link.Events().empty());
    EXPECT_EQ(state.TakeStartupLine(), std::nullopt);
    {
        Model::Guard g(model);
        EXPECT_EQ(model.settings.AutoLoginPass, u"48213");
        EXPECT_EQ(model.settings.Server, u"192.168.0.1");
        EXPECT_EQ(model.settings.LogFileName, u"Movra.log");
    }
    // Nothing was there to lose: the first save writes without asking.
    EXPECT_TRUE(state.Save(model, link, NeverAsked()));
    EXPECT_EQ(ReadBytes("Movra.cfg"), Utf16File(kDefaultSettingsText));
}

TEST_F(ConfigFileTest, StartupWithFileLoadsAndReportsFaults) {
    WriteConfig(u"GridSize: 9\nBogus: 1\n");
    ConfigFileState state;
    EXPECT_TRUE(state.LoadAtStartup(model, link));
    EXPECT_EQ(Messages(), (std::vector<Text>{ErrIn(u" неизвестный параметр: Bogus:"),
                                             ErrIn(u" неизвестный параметр: 1")}));
    Model::Guard g(model);
    EXPECT_EQ(model.settings.GridSize, 9u);
}

// The real file system, except that reading Movra.cfg fails (a backup or a scanner holds it)
// while `unreadable` is set, and that replacing it fails while `failReplace` is set.
class HeldFileSystem : public PlatformFileSystem {
  public:
    bool unreadable = true;
    bool failReplace = false;
    FileRead ReadWhole(const Text& name) override {
        if (!unreadable) return PlatformFileSystem::ReadWhole(name);
        FileRead r;
        r.status = FileRead::Status::kUnreadable;
        r.reason = u"Процесс не может получить доступ к файлу";
        return r;
    }
    bool ReplaceExisting(const Text& from, const Text& to) override {
        return !failReplace && PlatformFileSystem::ReplaceExisting(from, to);
    }
};

const Text kUnreadAtStart =
    u"Не удалось прочитать файл Movra.cfg: Процесс не может получить доступ к файлу. "
    u"Movra работает с настройками по умолчанию.";
const Text kReplaceQuestion = u"Movra.cfg не был прочитан при запуске. Заменить его?";

// Answers the save's question as told and keeps what was asked.
struct Answers {
    explicit Answers(std::vector<bool> r) : replies(std::move(r)) {}
    std::vector<bool> replies;
    std::vector<Text> asked;
    AskYesNo Ask() {
        return [this](const Text& q) {
            asked.push_back(q);
            const bool yes = replies.at(asked.size() - 1);
            return yes;
        };
    }
};

TEST_F(ConfigFileTest, AFileThatCannotBeReadAtStartupIsReportedAndNotReplacedWithoutAsking) {
    WriteConfig(u"GridSize: 9\nUser: anna\n");
    const std::string administrators = ReadBytes("Movra.cfg");
    HeldFileSystem fs;
    ConfigFileState state;
    EXPECT_FALSE(state.LoadAtStartup(model, link, fs));
    EXPECT_EQ(Messages(), std::vector<Text>{kUnreadAtStart});
    EXPECT_EQ(state.TakeStartupLine(), kUnreadAtStart);
    EXPECT_EQ(state.TakeStartupLine(), std::nullopt);  // logged once
    {
        Model::Guard g(model);
        EXPECT_EQ(model.settings.GridSize, 4u);
        EXPECT_EQ(model.NumUsers, 0);
    }

    // No: nothing is written, and the next save asks again.
    fs.unreadable = false;  // the holder has let go; the question still comes
    Answers answers({false, false, true, true});
    EXPECT_FALSE(state.Save(model, link, answers.Ask(), fs));
    EXPECT_FALSE(state.Save(model, link, answers.Ask(), fs));
    EXPECT_EQ(ReadBytes("Movra.cfg"), administrators);
    EXPECT_FALSE(std::filesystem::exists("Movra.cfg.tmp"));

    // Yes, but the save fails: the file stays, and so does the question.
    fs.failReplace = true;
    EXPECT_FALSE(state.Save(model, link, answers.Ask(), fs));
    EXPECT_EQ(ReadBytes("Movra.cfg"), administrators);
    // Yes, and it is written: from now on the file is the program's own.
    fs.failReplace = false;
    EXPECT_TRUE(state.Save(model, link, answers.Ask(), fs));
    EXPECT_EQ(ReadBytes("Movra.cfg"), Utf16File(kDefaultSettingsText));
    EXPECT_TRUE(state.Save(model, link, answers.Ask(), fs));
    EXPECT_EQ(answers.asked, std::vector<Text>(4, kReplaceQuestion));
    EXPECT_EQ(Messages(), (std::vector<Text>{kUnreadAtStart, u"Ошибка создания файла Movra.cfg"}));
}

TEST_F(ConfigFileTest, OnlyALoadThatReadsTheFileForgetsThatItWasNotRead) {
    WriteConfig(u"GridSize: 9\n");
    HeldFileSystem fs;
    ConfigFileState state;
    state.LoadAtStartup(model, link, fs);
    link.Clear();
    // Still held: the load command fails as any failed load does, and the save still asks.
    EXPECT_FALSE(state.Load(model, link, fs));
    EXPECT_EQ(Messages(), std::vector<Text>{u"Ошибка открытия файла Movra.cfg"});
    Answers no({false});
    EXPECT_FALSE(state.Save(model, link, no.Ask(), fs));
    EXPECT_EQ(no.asked.size(), 1u);

    fs.unreadable = false;
    EXPECT_TRUE(state.Load(model, link, fs));
    {
        Model::Guard g(model);
        EXPECT_EQ(model.settings.GridSize, 9u);
    }
    EXPECT_FALSE(state.Unread());
    EXPECT_TRUE(state.Save(model, link, NeverAsked(), fs));
}

TEST_F(ConfigFileTest, OrderingAndUnknownKeyMessagesComeInFileOrder) {
    ASSERT_TRUE(
        Load(u"UserKTraff: 2\nUserGrID: 1\nUserLimitMaxIn: 5\nUserLimitMaxOut: 6\n"
             u"GroupMaxIn: 0.5\nКлюч: x\n"));
    const std::vector<Text> expected = {
        ErrIn(u" UserKTraff должен идти после User "),
        ErrIn(u" неизвестный параметр: 2"),
        ErrIn(u" UserGrID должен идти после User "),
        ErrIn(u" неизвестный параметр: 1"),
        ErrIn(u" UserLimitMaxIn должен идти после User "),
        ErrIn(u" неизвестный параметр: 5"),
        ErrIn(u" UserLimitMaxOut должен идти после User "),
        ErrIn(u" неизвестный параметр: 6"),
        ErrIn(u" GroupMaxIn должен идти после GroupName: "),
        ErrIn(u" неизвестный параметр: 0.5"),
        ErrIn(u" неизвестный параметр: Ключ:"),
        ErrIn(u" неизвестный параметр: x"),
    };
    EXPECT_EQ(Messages(), expected);
}

TEST_F(ConfigFileTest, KeysAreCaseSensitiveAndNeedTheirColon) {
    ASSERT_TRUE(Load(u"gridsize: 3 GridSize 4\n"));
    EXPECT_EQ(Messages(),
              (std::vector<Text>{
                  ErrIn(u" неизвестный параметр: gridsize:"), ErrIn(u" неизвестный параметр: 3"),
                  ErrIn(u" неизвестный параметр: GridSize"), ErrIn(u" неизвестный параметр: 4")}));
}

// A port that takes the model's lock while a message is shown: it would hang if the loader
// still held the lock, and it sees the finished load.
class LockingPort : public MessagePort {
  public:
    explicit LockingPort(Model& m) : m_(m) {}
    void ShowMessage(const Text&) override {
        Model::Guard g(m_);
        usersSeen.push_back(m_.NumUsers);
    }
    std::vector<int32_t> usersSeen;

  private:
    Model& m_;
};

TEST_F(ConfigFileTest, MessagesAreShownAfterTheLockIsLetGo) {
    WriteConfig(u"Bad: User: a\nUser: b\n");
    LockingPort port(model);
    ASSERT_TRUE(LoadConfig(model, port));
    EXPECT_EQ(port.usersSeen, (std::vector<int32_t>{2}));
    std::filesystem::create_directory("Movra.cfg.tmp");  // the temporary file cannot be made
    SaveConfig(model, port);
    EXPECT_EQ(port.usersSeen, (std::vector<int32_t>{2, 2}));
}

TEST_F(ConfigFileTest, MessagesNameTheConfiguredFile) {
    std::filesystem::create_directory("sub");
    {
        Model::Guard g(model);
        model.settings.ConfigFileName = u"sub/My.cfg";
    }
    WriteBytes("sub/My.cfg", Utf16File(u"Nope:\n"));
    ASSERT_TRUE(LoadConfig(model, link));
    EXPECT_EQ(Messages(), std::vector<Text>{u"Ошибка в sub/My.cfg неизвестный параметр: Nope:"});
}

TEST_F(ConfigFileTest, AFloodOfFaultsShowsOnlyTheFirstMessages) {
    Text text;
    for (int i = 0; i < 500; ++i) text += u"junk ";
    ASSERT_TRUE(Load(text));
    std::vector<Text> m = Messages();
    ASSERT_EQ(m.size(), kMaxConfigMessages + 1);
    EXPECT_EQ(m[0], ErrIn(u" неизвестный параметр: junk"));
    EXPECT_EQ(m.back(),
              u"Ошибка в Movra.cfg: слишком много ошибок, остальные сообщения не показаны");
}

// ---- Reset step and presence flags ----

TEST_F(ConfigFileTest, LoadingResetsFlagsLogNameAndUsersButKeepsTheRest) {
    {
        Model::Guard g(model);
        Settings& s = model.settings;
        s.StorePassword = 1;
        s.AutoLoginPass = u"secret";
        s.StartMinimized = 1;
        s.AutoMeasure = 1;
        s.UseAutoChanalWithCorrection = 9;
        s.Server = u"keep";
        model.AddUserByName(u"gone");
        model.FindOrAddGroup(u"kept group");
    }
    ASSERT_TRUE(Load(u"GridSize: 6\n"));
    EXPECT_TRUE(Messages().empty());
    Model::Guard g(model);
    const Settings& s = model.settings;
    EXPECT_EQ(s.StorePassword, 0);
    EXPECT_EQ(s.AutoLoginPass, u"secret");  // the password stays in memory
    EXPECT_EQ(s.StartMinimized, 0);
    EXPECT_EQ(s.LogFileName, u"");  // no LogFileName: line turns the log file off
    EXPECT_EQ(s.AutoMeasure, 1);    // not reset
    EXPECT_EQ(s.UseAutoChanalWithCorrection, 9u);
    EXPECT_EQ(s.Server, u"keep");
    EXPECT_EQ(s.GridSize, 6u);
    EXPECT_EQ(model.NumUsers, 0);
    ASSERT_EQ(model.NumGroups, 2);
    EXPECT_EQ(model.GroupAt(1).GroupName, u"kept group");
}

TEST_F(ConfigFileTest, PresenceLinesTurnTheirFlagsOn) {
    ASSERT_TRUE(
        Load(u"StartMinimized: FALSE\nUseAutoChanalWithCorrection: 5\nAutoLoginPass: p w\n"));
    Model::Guard g(model);
    EXPECT_EQ(model.settings.StartMinimized, 1);  // whatever word follows
    EXPECT_EQ(model.settings.AutoMeasure, 1);
    EXPECT_EQ(model.settings.UseAutoChanalWithCorrection, 5u);
    EXPECT_EQ(model.settings.StorePassword, 1);
    EXPECT_EQ(model.settings.AutoLoginPass, u"p w");
}

TEST_F(ConfigFileTest, BorrowingLineIsWrittenOnlyWhenOnAndAFileWithoutItTurnsItOff) {
    {
        Model::Guard g(model);
        model.settings.ChanalBorrowing = 1;
    }
    SaveConfig(model, link);
    Text expected = kDefaultSettingsText;
    expected.insert(expected.find(u"Use_Sleepers_Traffic: 1\n") + 24, u"ChanalBorrowing: 1\n");
    EXPECT_EQ(ReadBytes("Movra.cfg"), Utf16File(expected));

    ASSERT_TRUE(LoadConfig(model, link));
    EXPECT_EQ(model.settings.ChanalBorrowing, 1);
    ASSERT_TRUE(Load(u"ChanalBorrowing: 0\n"));
    EXPECT_EQ(model.settings.ChanalBorrowing, 0);
    {
        Model::Guard g(model);
        model.settings.ChanalBorrowing = 1;
    }
    ASSERT_TRUE(Load(u"GridSize: 4\n"));
    EXPECT_EQ(model.settings.ChanalBorrowing, 0);
    EXPECT_TRUE(Messages().empty());
}

// ---- Users and groups ----

TEST_F(ConfigFileTest, UserNamesKeepInnerBlanksAndLoseOuterOnes) {
    ASSERT_TRUE(Load(u"User: \t  Иван  Иванович \t \nGroupName:   Отдел  продаж  \n"));
    Model::Guard g(model);
    ASSERT_EQ(model.NumUsers, 1);
    EXPECT_EQ(model.User(0).UserName, u"Иван  Иванович");
    ASSERT_EQ(model.NumGroups, 2);
    EXPECT_EQ(model.GroupAt(1).GroupName, u"Отдел  продаж");
}

TEST_F(ConfigFileTest, RepeatedUserNameAddsNoSecondEntryAndTakesTheLaterValues) {
    ASSERT_TRUE(
        Load(u"User: a\nUserGrID: 1\nUser: b\nUser: a\nUserLimitMaxIn: 77\n"
             u"User: A\n"));
    Model::Guard g(model);
    ASSERT_EQ(model.NumUsers, 3);  // names compare case-sensitively
    EXPECT_EQ(model.User(0).UserName, u"a");
    EXPECT_EQ(model.User(0).UserGrID, 1);
    EXPECT_EQ(model.User(0).UserLimitMaxIn, 77);
    EXPECT_EQ(model.User(1).UserLimitMaxIn, 0);
    EXPECT_EQ(model.User(2).UserName, u"A");
}

TEST_F(ConfigFileTest, UnsetUserValuesTakeBuiltDefaults) {
    ASSERT_TRUE(Load(u"User: x\n"));
    Model::Guard g(model);
    const CTiUserData& u = model.User(0);
    EXPECT_EQ(u.UserKTraff, 1.0f);
    EXPECT_EQ(u.NewLimitIn, -1);
    EXPECT_EQ(u.NewLimitOut, -1);
    EXPECT_EQ(u.LastActivity, clock.LocalNow());
    EXPECT_EQ(u.UserGrID, 0);
}

TEST_F(ConfigFileTest, GroupsAlreadyListedKeepTheirIdsAndNewOnesAreAppended) {
    {
        Model::Guard g(model);
        model.FindOrAddGroup(u"one");
        model.FindOrAddGroup(u"two");
    }
    ASSERT_TRUE(
        Load(u"GroupName: new\nGroupMaxIn: 0.3\nGroupName: two\nGroupMaxIn: 0.6\n"
             u"GroupName:\nGroupMaxIn: 0.1\n"));
    Model::Guard g(model);
    ASSERT_EQ(model.NumGroups, 4);
    EXPECT_EQ(model.GroupAt(2).GroupName, u"two");
    EXPECT_FLOAT_EQ(model.GroupAt(2).GroupMaxIn, 0.6f);
    EXPECT_EQ(model.GroupAt(3).GroupName, u"new");
    EXPECT_EQ(model.GroupAt(3).GroupID, 3);
    EXPECT_FLOAT_EQ(model.GroupAt(3).GroupMaxIn, 0.3f);
    // An empty group name is group 0, whose share the file may set.
    EXPECT_FLOAT_EQ(model.GroupAt(0).GroupMaxIn, 0.1f);
}

// The file names groups by their place in it; the list may hold them in another order (a groups
// import, a deleted group), and users must still land in the group their file names.
TEST_F(ConfigFileTest, UsersKeepTheGroupTheirFileNamesWhateverTheListOrder) {
    {
        Model::Guard g(model);
        model.FindOrAddGroup(u"B");  // as a groups import from the server leaves them
        model.FindOrAddGroup(u"A");
    }
    const Text file =
        u"User: a1\nUserGrID: 1\nUser: b1\nUserGrID: 2\nUser: none\nUserGrID: 0\n"
        u"User: far\nUserGrID: 7\nUser: a1\nUserLimitMaxIn: 5\n"
        u"GroupName: A\nGroupMaxIn: 0.7\nGroupName: B\nGroupMaxIn: 0.2\n";
    ASSERT_TRUE(Load(file));
    auto groupOf = [this](int32_t user) {
        Text name;
        model.GetGroupName(model.User(user).UserGrID, name);
        return name;
    };
    {
        Model::Guard g(model);
        ASSERT_EQ(model.NumGroups, 3);
        EXPECT_EQ(model.GroupAt(1).GroupName, u"B");  // listed groups keep their ids
        EXPECT_FLOAT_EQ(model.GroupAt(2).GroupMaxIn, 0.7f);
        EXPECT_EQ(groupOf(0), u"A");
        EXPECT_EQ(groupOf(1), u"B");
        EXPECT_EQ(model.User(2).UserGrID, 0);
        EXPECT_EQ(model.User(3).UserGrID, 7);  // beyond the file's groups: kept as it is
    }

    // Saved in the list's order, the file names the same groups when loaded afresh.
    SaveConfig(model, link);
    ManualClock otherClock;
    Model fresh{otherClock};
    ASSERT_TRUE(LoadConfig(fresh, link));
    Model::Guard g(fresh);
    Text name;
    fresh.GetGroupName(fresh.User(0).UserGrID, name);
    EXPECT_EQ(name, u"A");
    fresh.GetGroupName(fresh.User(1).UserGrID, name);
    EXPECT_EQ(name, u"B");
    EXPECT_TRUE(Messages().empty());
}

// Into an empty list a file is read as written; names that collapse on trimming, or a blank
// name (group 0), still leave each user in the group its position names.
TEST_F(ConfigFileTest, GroupPositionsThatCollapseOnLoadingKeepTheirUsers) {
    const Text plain = kDefaultSettingsText +
                       u"User: u\nUserKTraff: 1.000000\nUserGrID: 2\nUserLimitMaxIn: 0\n"
                       u"UserLimitMaxOut: 0\nGroupName: A\nGroupMaxIn: 0.100000\n"
                       u"GroupName: B\nGroupMaxIn: 0.200000\n";
    WriteConfig(plain);
    const std::string bytes = ReadBytes("Movra.cfg");
    ASSERT_TRUE(LoadConfig(model, link));
    SaveConfig(model, link);
    EXPECT_EQ(ReadBytes("Movra.cfg"), bytes);

    ManualClock otherClock;
    Model m2{otherClock};
    WriteConfig(
        u"User: c\nUserGrID: 4\nUser: a\nUserGrID: 2\nUser: z\nUserGrID: 3\n"
        u"GroupName: A\nGroupName: A \nGroupName:  \nGroupName: C\n");
    ASSERT_TRUE(LoadConfig(m2, link));
    Model::Guard g(m2);
    ASSERT_EQ(m2.NumGroups, 3);
    EXPECT_EQ(m2.User(0).UserGrID, 2);  // C
    EXPECT_EQ(m2.User(1).UserGrID, 1);  // A
    EXPECT_EQ(m2.User(2).UserGrID, 0);  // the blank name is group 0
}

// Loading while users exist (the load command while connected).
TEST_F(ConfigFileTest, AUserWhoStaysKeepsItsRecordAndANewOneStartsBuilt) {
    uint64_t keptId = 0;
    {
        Model::Guard g(model);
        model.AddUserByName(u"leaves");
        model.AddUserByName(u"stays");
        CTiUserData& leaving = model.User(0);
        leaving.RxTotal = 111;
        leaving.LimitIn = 11;
        leaving.StartLimitIn = 12;
        leaving.ActivityClass = kActive;
        CTiUserData& staying = model.User(1);
        staying.RxTotal = 222;
        staying.LimitIn = 22;
        staying.StartLimitOut = 23;
        staying.NewLimitIn = 24;
        staying.IP = u"10.0.0.2";
        staying.UserKTraff = 9.0f;
        staying.UserLimitMaxIn = 300;
        staying.UserLimitMaxOut = 30;
        keptId = staying.Id;
    }
    clock.Advance(3600);
    // The new user takes position 0, where "leaves" used to be.
    ASSERT_TRUE(Load(u"User: newcomer\nUser: stays\nUserGrID: 4\n"));
    Model::Guard g(model);
    ASSERT_EQ(model.NumUsers, 2);
    const CTiUserData& fresh = model.User(0);
    EXPECT_EQ(fresh.UserName, u"newcomer");
    EXPECT_EQ(fresh.RxTotal, 0.0);
    EXPECT_EQ(fresh.LimitIn, 0);
    EXPECT_EQ(fresh.StartLimitIn, 0);
    EXPECT_EQ(fresh.ActivityClass, kOffline);
    EXPECT_EQ(fresh.LastActivity, clock.LocalNow());
    EXPECT_NE(fresh.Id, keptId);
    EXPECT_NE(fresh.Id, 0u);

    const CTiUserData& kept = model.User(1);
    EXPECT_EQ(kept.UserName, u"stays");
    EXPECT_EQ(kept.Id, keptId);
    EXPECT_EQ(model.FindUserById(keptId), 1);
    EXPECT_EQ(kept.RxTotal, 222.0);
    EXPECT_EQ(kept.LimitIn, 22);
    EXPECT_EQ(kept.StartLimitOut, 23);
    EXPECT_EQ(kept.NewLimitIn, 24);
    EXPECT_EQ(kept.IP, u"10.0.0.2");
    // The stored values are the file's: what its block leaves out is the built value.
    EXPECT_EQ(kept.UserKTraff, 1.0f);
    EXPECT_EQ(kept.UserLimitMaxIn, 0);
    EXPECT_EQ(kept.UserLimitMaxOut, 0);
    EXPECT_EQ(kept.UserGrID, 4);
    // Spare records beyond the list hold nobody's data.
    for (size_t i = 2; i < model.Users.size(); ++i) {
        EXPECT_EQ(model.Users[i].Id, 0u);
        EXPECT_EQ(model.Users[i].RxTotal, 0.0);
    }
}

TEST_F(ConfigFileTest, LoadingBumpsUsersGenerationAndNotifiesTheWindowUnlocked) {
    uint64_t before;
    {
        Model::Guard g(model);
        before = model.UsersGeneration;
    }
    model.SetWindow(&link);
    ASSERT_TRUE(Load(u"User: a\nUser: b\n"));
    model.SetWindow(nullptr);
    EXPECT_GE(link.Count(testing::LinkEvent::kUsersChanged), 1);
    Model::Guard g(model);
    EXPECT_GT(model.UsersGeneration, before);
}

// A worker that finds its users by identity while the window loads and saves over and over
// must always find the same user, never another one's record.
TEST_F(ConfigFileTest, LoadAndSaveBesideAWorkerKeepIdentitiesApart) {
    std::vector<std::pair<uint64_t, Text>> ids;
    {
        Model::Guard g(model);
        for (const char16_t* n : {u"a", u"b"})
            ids.push_back({model.User(model.AddUserByName(n)).Id, n});
    }
    WriteConfig(u"User: b\nUser: c\nUser: a\n");
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0}, missing{0};
    std::thread worker([&] {
        while (!stop) {
            for (const auto& [id, name] : ids) {
                Model::Guard g(model);
                int32_t i = model.FindUserById(id);
                if (i < 0) {
                    ++missing;
                    continue;
                }
                if (model.User(i).UserName != name) ++wrong;
                model.User(i).RxTotal += 1;
            }
        }
    });
    for (int k = 0; k < 100; ++k) {
        LoadConfig(model, link);
        SaveConfig(model, link);
    }
    stop = true;
    worker.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(missing, 0);
    EXPECT_TRUE(Messages().empty());
    Model::Guard g(model);
    EXPECT_EQ(model.NumUsers, 3);
    EXPECT_GT(model.User(model.FindUserByName(u"a")).RxTotal, 0.0);
}

// ---- Values that are not numbers, and ranges ----

TEST_F(ConfigFileTest, AValueThatIsNotANumberIsTakenAsTheNextKey) {
    {
        Model::Guard g(model);
        model.settings.GridSize = 12;
        model.settings.SpeedLimTraff_EndKoeff = 3.5;
    }
    ASSERT_TRUE(
        Load(u"GridSize: abc\nSpeedLimTraff_EndKoeff: RXMAXkbit: 99\n"
             u"UserSleep_TimeOut_sec: -\n"));
    EXPECT_EQ(Messages(), (std::vector<Text>{ErrIn(u" неизвестный параметр: abc"),
                                             ErrIn(u" неизвестный параметр: -")}));
    Model::Guard g(model);
    EXPECT_EQ(model.settings.GridSize, 12u);
    EXPECT_EQ(model.settings.SpeedLimTraff_EndKoeff, 3.5);
    EXPECT_EQ(model.settings.RXMAXkbit, 99u);
    EXPECT_EQ(model.settings.UserSleep_TimeOut_sec, 20);
}

TEST_F(ConfigFileTest, UnreadableRatingIsZeroAndUnreadableShareIsTheLastShareRead) {
    ASSERT_TRUE(
        Load(u"User: a\nUserKTraff: x\nUserLimitMaxIn: y\n"
             u"GroupName: first\nGroupMaxIn: ?\n"
             u"GroupName: second\nGroupMaxIn: 0.4\n"
             u"GroupName: third\nGroupMaxIn: ?\n"
             u"User: b\nUserKTraff: 1e99\n"));
    Model::Guard g(model);
    EXPECT_EQ(model.User(0).UserKTraff, 0.0f);
    EXPECT_EQ(model.User(0).UserLimitMaxIn, 0);
    EXPECT_EQ(model.GroupAt(1).GroupMaxIn, 1.0f);  // none read yet
    EXPECT_FLOAT_EQ(model.GroupAt(2).GroupMaxIn, 0.4f);
    EXPECT_FLOAT_EQ(model.GroupAt(3).GroupMaxIn, 0.4f);
    EXPECT_EQ(model.User(1).UserKTraff, 0.0f);  // too big for a float
    EXPECT_EQ(Messages().size(), 4u);
}

TEST_F(ConfigFileTest, IntegersTakeTheSameBitsInTheirRangeAndRejectTheRest) {
    {
        Model::Guard g(model);
        model.settings.RXMAXkbit = 7;
        model.settings.TXMAXkbit = 8;
        model.settings.GridSize = 9;
        model.settings.SrvLimTraff_MB = 10;
        model.settings.BeforeQuit = 1;
    }
    ASSERT_TRUE(
        Load(u"LogMaxSize: -1\nRefreshTimer_msec: 4294967295\nUserSleepTraffic: "
             u"-2147483648\nSpeedLimTraff_Mode: -2147483648\nSpeedLimTraff_MaxTraff: "
             u"+2147483647\n"
             u"RXMAXkbit: 4294967296\nTXMAXkbit: -2147483649\nSrvLimTraff_MB: "
             u"2147483648\nGridSize: 99999999999999999999999\nBeforeQuit: 1.5\n"));
    Model::Guard g(model);
    const Settings& s = model.settings;
    EXPECT_EQ(s.LogMaxSize, 4294967295u);
    EXPECT_EQ(s.RefreshTimer_msec, 4294967295u);
    EXPECT_EQ(s.UserSleepTraffic, 2147483648u);
    EXPECT_EQ(s.SpeedLimTraff_Mode, -2147483647 - 1);
    EXPECT_EQ(s.SpeedLimTraff_MaxTraff, 2147483647);
    EXPECT_EQ(s.RXMAXkbit, 7u);
    EXPECT_EQ(s.TXMAXkbit, 8u);
    EXPECT_EQ(s.SrvLimTraff_MB, 10);
    EXPECT_EQ(s.GridSize, 9u);
    // The integer part is read; what follows is the next word.
    EXPECT_EQ(s.BeforeQuit, 1);
    EXPECT_EQ(Messages(), (std::vector<Text>{ErrIn(u" неизвестный параметр: 4294967296"),
                                             ErrIn(u" неизвестный параметр: -2147483649"),
                                             ErrIn(u" неизвестный параметр: 2147483648"),
                                             ErrIn(u" неизвестный параметр: "
                                                   u"99999999999999999999999"),
                                             ErrIn(u" неизвестный параметр: .5")}));
}

TEST_F(ConfigFileTest, RealsReadAPointOrAComma) {
    ASSERT_TRUE(
        Load(u"SpeedLimTraff_StartKoeff: 12,5\nSpeedLimTraff_EndKoeff: -0.25\n"
             u"User: a\nUserKTraff: 3,\nGroupName: g\nGroupMaxIn: ,75\n"
             u"User: b\nUserKTraff: 2e1\n"));
    EXPECT_TRUE(Messages().empty());
    Model::Guard g(model);
    EXPECT_EQ(model.settings.SpeedLimTraff_StartKoeff, 12.5);
    EXPECT_EQ(model.settings.SpeedLimTraff_EndKoeff, -0.25);
    EXPECT_EQ(model.User(0).UserKTraff, 3.0f);
    EXPECT_EQ(model.GroupAt(1).GroupMaxIn, 0.75f);
    EXPECT_EQ(model.User(1).UserKTraff, 20.0f);
}

// ---- End of file ----

TEST_F(ConfigFileTest, AKeyOrValueAtTheEndOfTheFileStopsReading) {
    {
        Model::Guard g(model);
        model.settings.GridSize = 3;
    }
    for (Text text : {Text(u"GridSize:"), Text(u"GridSize: \n\t"), Text(u"Server:"),
                      Text(u"StartMinimized:"), Text(u"AutoLoginPass:"), Text(u"User:")}) {
        WriteBytes("Movra.cfg", "\xFF\xFE" + EncodeUtf16Lines(text));
        ASSERT_TRUE(LoadConfig(model, link)) << ToUtf8(text);
        Model::Guard g(model);
        EXPECT_EQ(model.settings.GridSize, 3u);
        EXPECT_EQ(model.settings.Server, u"192.168.0.1");
        EXPECT_EQ(model.settings.StartMinimized, 0);
        EXPECT_EQ(model.settings.StorePassword, 0);
        EXPECT_EQ(model.NumUsers, 0);
    }
    EXPECT_TRUE(Messages().empty());
    ASSERT_TRUE(Load(Text()));  // an empty file still resets
    Model::Guard g(model);
    EXPECT_EQ(model.settings.LogFileName, u"");
}

// ---- Mended faults ----

TEST_F(ConfigFileTest, RestOfLineValuesLoseNoCharacter) {
    Text v251(251, u'a'), v252(252, u'b'), v1000(1000, u'c');
    v1000[500] = u' ';
    ASSERT_TRUE(Load(u"User: " + v251 + u"\nUser: " + v252 + u"\nGroupName: " + v1000 +
                     u"\nAutoLoginPass: last line without end"));
    EXPECT_TRUE(Messages().empty());
    Model::Guard g(model);
    ASSERT_EQ(model.NumUsers, 2);
    EXPECT_EQ(model.User(0).UserName, v251);
    EXPECT_EQ(model.User(1).UserName, v252);
    ASSERT_EQ(model.NumGroups, 2);
    EXPECT_EQ(model.GroupAt(1).GroupName, v1000);
    EXPECT_EQ(model.settings.AutoLoginPass, u"last line without end");
}

TEST_F(ConfigFileTest, LongWordsAreCutWithoutOverflow) {
    Text server(100000, u's');
    Text key(70000, u'k');
    ASSERT_TRUE(Load(u"Server: " + server + u"\n" + key + u"\nGridSize: 8\n"));
    EXPECT_EQ(Messages(),
              std::vector<Text>{ErrIn(u" неизвестный параметр: ") + Text(kMaxConfigWord, u'k')});
    Model::Guard g(model);
    EXPECT_EQ(model.settings.Server, Text(kMaxConfigWord, u's'));
    EXPECT_EQ(model.settings.GridSize, 8u);
}

TEST_F(ConfigFileTest, BinaryFilesLoadWithoutCrashing) {
    std::string bytes;
    uint32_t x = 12345;
    for (int i = 0; i < 200000; ++i) {
        x = x * 1103515245 + 12345;
        bytes += static_cast<char>(x >> 16);
    }
    for (const std::string& b : {bytes, std::string(1, '\xFF'), std::string("\xEF\xBB\xBF\xFF"),
                                 std::string(4096, '\0'), "\xFF\xFE" + bytes}) {
        WriteBytes("Movra.cfg", b);
        EXPECT_TRUE(LoadConfig(model, link));
        EXPECT_LE(Messages().size(), kMaxConfigMessages + 1);
        link.Clear();
    }
}

TEST_F(ConfigFileTest, AOneWordValueNeverSwallowsTheNextKey) {
    {
        Model::Guard g(model);
        model.settings.Server.clear();
    }
    SaveConfig(model, link);
    ASSERT_NE(ReadConfig().find(u"Server: \r\n"), Text::npos);
    {
        Model::Guard g(model);
        model.settings.RefreshTimer_msec = 1;
    }
    ASSERT_TRUE(LoadConfig(model, link));
    EXPECT_TRUE(Messages().empty());
    Model::Guard g(model);
    EXPECT_EQ(model.settings.Server, u"");
    EXPECT_EQ(model.settings.RefreshTimer_msec, 1500u);
}

TEST_F(ConfigFileTest, FailedCreationReportsAndKeepsTheOldFile) {
    WriteConfig(u"GridSize: 5\n");
    const std::string old = ReadBytes("Movra.cfg");
    // The temporary file cannot be made.
    std::filesystem::create_directory("Movra.cfg.tmp");
    SaveConfig(model, link);
    EXPECT_EQ(Messages(), std::vector<Text>{u"Ошибка создания файла Movra.cfg"});
    EXPECT_EQ(ReadBytes("Movra.cfg"), old);
}

TEST_F(ConfigFileTest, AFileThatCannotBeReplacedIsReportedAndNoTemporaryFileStays) {
    std::filesystem::create_directory("Movra.cfg");
    SaveConfig(model, link);
    EXPECT_EQ(Messages(), std::vector<Text>{u"Ошибка создания файла Movra.cfg"});
    EXPECT_TRUE(std::filesystem::is_directory("Movra.cfg"));
    EXPECT_FALSE(std::filesystem::exists("Movra.cfg.tmp"));
}

TEST_F(ConfigFileTest, AMissingFolderIsACreationError) {
    {
        Model::Guard g(model);
        model.settings.ConfigFileName = u"no such folder/Movra.cfg";
    }
    SaveConfig(model, link);
    EXPECT_EQ(Messages(), std::vector<Text>{u"Ошибка создания файла no such folder/Movra.cfg"});
}

// The real file system, failing where a test asks, with a journal of the calls a save made.
class FaultyFileSystem : public PlatformFileSystem {
  public:
    bool failFlush = false;
    bool failReplace = false;
    std::vector<std::string> calls;

    bool FlushAndClose(std::FILE* f) override {
        calls.push_back("flush");
        return PlatformFileSystem::FlushAndClose(f) && !failFlush;
    }
    bool ReplaceExisting(const Text& from, const Text& to) override {
        calls.push_back("replace " + ToUtf8(from) + " " + ToUtf8(to));
        return !failReplace && PlatformFileSystem::ReplaceExisting(from, to);
    }
};

TEST_F(ConfigFileTest, TheNewFileIsOnTheDiskBeforeItReplacesTheOldOne) {
    WriteConfig(u"GridSize: 5\n");
    FaultyFileSystem fs;
    SaveConfig(model, link, fs);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(fs.calls, (std::vector<std::string>{"flush", "replace Movra.cfg.tmp Movra.cfg"}));
    EXPECT_EQ(ReadBytes("Movra.cfg"), Utf16File(kDefaultSettingsText));
}

TEST_F(ConfigFileTest, AFailedFlushOrReplaceIsReportedAndKeepsThePreviousFile) {
    WriteConfig(u"GridSize: 5\n");
    const std::string old = ReadBytes("Movra.cfg");
    FaultyFileSystem flush;
    flush.failFlush = true;
    SaveConfig(model, link, flush);
    EXPECT_EQ(flush.calls, std::vector<std::string>{"flush"});  // never replaces after it
    FaultyFileSystem replace;
    replace.failReplace = true;
    SaveConfig(model, link, replace);
    EXPECT_EQ(Messages(), (std::vector<Text>{u"Ошибка записи в Movra.cfg",
                                             u"Ошибка создания файла Movra.cfg"}));
    EXPECT_EQ(ReadBytes("Movra.cfg"), old);
    EXPECT_FALSE(std::filesystem::exists("Movra.cfg.tmp"));
}

#ifdef _WIN32
// A virus scanner that holds the new file for a moment makes the replace fail; the old file must
// still be there afterwards (the C runtime opens files without sharing their deletion).
TEST_F(ConfigFileTest, AHeldNewFileLeavesTheOldFileInPlace) {
    WriteConfig(u"GridSize: 5\n");
    const std::string old = ReadBytes("Movra.cfg");
    FILE* scanner = _wfopen(L"Movra.cfg.tmp", L"wb");
    ASSERT_NE(scanner, nullptr);
    SaveConfig(model, link);
    std::fclose(scanner);
    EXPECT_EQ(Messages(), std::vector<Text>{u"Ошибка создания файла Movra.cfg"});
    EXPECT_EQ(ReadBytes("Movra.cfg"), old);
}
#endif

#ifndef _WIN32
// A write that fails part-way (the file size limit stands in for a full disk).
TEST_F(ConfigFileTest, AWriteThatFailsPartWayKeepsThePreviousFile) {
    WriteConfig(u"GridSize: 5\n");
    const std::string old = ReadBytes("Movra.cfg");
    {
        Model::Guard g(model);
        for (int i = 0; i < 100; ++i) model.AddUserByName(u"user" + FromUtf8(std::to_string(i)));
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    SaveConfig(model, link);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(Messages(), std::vector<Text>{u"Ошибка записи в Movra.cfg"});
    EXPECT_EQ(ReadBytes("Movra.cfg"), old);
    EXPECT_FALSE(std::filesystem::exists("Movra.cfg.tmp"));
}
#endif

// ---- Locale ----

TEST_F(ConfigFileTest, NumbersDoNotDependOnTheLocale) {
    testing::CommaLocale comma;
    if (!comma.ok()) GTEST_SKIP() << "no locale with a decimal comma on this machine";
    {
        Model::Guard g(model);
        model.settings.SpeedLimTraff_StartKoeff = 1.5;
        model.AddUserByName(u"a");
        model.User(0).UserKTraff = 0.25f;
    }
    SaveConfig(model, link);
    const Text saved = ReadConfig();
    EXPECT_NE(saved.find(u"SpeedLimTraff_StartKoeff: 1.5000\r\n"), Text::npos);
    EXPECT_NE(saved.find(u"UserKTraff: 0.250000\r\n"), Text::npos);

    ASSERT_TRUE(
        Load(u"SpeedLimTraff_StartKoeff: 2.5\nSpeedLimTraff_EndKoeff: 7,25\n"
             u"User: a\nUserKTraff: 0,5\n"));
    EXPECT_TRUE(Messages().empty());
    Model::Guard g(model);
    EXPECT_EQ(model.settings.SpeedLimTraff_StartKoeff, 2.5);
    EXPECT_EQ(model.settings.SpeedLimTraff_EndKoeff, 7.25);
    EXPECT_EQ(model.User(0).UserKTraff, 0.5f);
}

}  // namespace
}  // namespace movra
