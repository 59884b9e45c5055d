#include "log/event_log.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace movra {
namespace {

using testing::TempDir;
using testing::Utf16Bytes;

const std::string kBom = "\xFF\xFE";

class EventLogTest : public ::testing::Test {
  protected:
    EventLogTest() { SetFile(dir.File("Movra.log")); }

    void SetFile(const Text& name) {
        Model::Guard g(model);
        model.settings.LogFileName = name;
    }
    Text FileName() {
        Model::Guard g(model);
        return model.settings.LogFileName;
    }
    void SetMode(int32_t mode) {
        Model::Guard g(model);
        model.settings.TrafficSpeedAutoControll = mode;
    }
    void SetMaxSize(uint32_t n) {
        Model::Guard g(model);
        model.settings.LogMaxSize = n;
    }
    std::string FileBytes(const Text& name) { return ReadFileBytes(name).value_or("<none>"); }

    TempDir dir;
    // 7 December 2026, 9:05:03 (local time of the manual clock is UTC).
    ManualClock clock{ManualClock::UtcToUnix({2026, 12, 0, 7, 9, 5, 3, 0})};
    Model model{clock};
    EventLog log{model, clock};
};

TEST(LogLineTest, TimestampHasFullYearAndUnpaddedHour) {
    EXPECT_EQ(LogTimestamp({2026, 12, 0, 7, 9, 5, 3, 0}), u"07.12.2026 9:05:03");
    EXPECT_EQ(LogTimestamp({2027, 1, 0, 31, 23, 59, 0, 0}), u"31.01.2027 23:59:00");
    EXPECT_EQ(LogTimestamp({2026, 3, 0, 1, 0, 0, 9, 0}), u"01.03.2026 0:00:09");
}

TEST(LogLineTest, ErrorWinsThenWarningThenLimit) {
    EXPECT_EQ(LogClass(LOG_ERROR | LOG_WARN | LOG_LIMIT), 0);
    EXPECT_EQ(LogClass(LOG_ERROR | LOG_DISCONNECTED), 0);
    EXPECT_EQ(LogClass(LOG_WARN | LOG_LIMIT), 1);
    EXPECT_EQ(LogClass(LOG_WARN | LOG_AUX), 1);
    EXPECT_EQ(LogClass(LOG_LIMIT | LOG_AUX), 2);
    EXPECT_EQ(LogClass(LOG_INFO), 3);
    EXPECT_EQ(LogClass(0), 3);
    EXPECT_EQ(LogClass(LOG_CONNECTED | LOG_INFO | LOG_AUX), 3);
    EXPECT_EQ(LogClass(LOG_MODE), 3);
}

TEST(LogLineTest, TrayTipIsCutAt127WithoutSplittingAPair) {
    EXPECT_EQ(CutTrayTip(Text(127, u'a')).size(), 127u);
    EXPECT_EQ(CutTrayTip(Text(300, u'a')), Text(127, u'a'));
    Text pair = Text(126, u'a') + u"\U0001F600" + u"zz";
    EXPECT_EQ(CutTrayTip(pair), Text(126, u'a'));
}

TEST_F(EventLogTest, LoggedLineIsTimestampBlankTextInListAndFile) {
    LogEffects fx = log.OnLogLine(LOG_WARN | LOG_AUX, u"Пользователь спит");
    Text line = u"07.12.2026 9:05:03 Пользователь спит";
    ASSERT_EQ(fx.added.size(), 1u);
    EXPECT_EQ(fx.added[0], (EventLine{line, 1}));
    EXPECT_EQ(fx.select, 0);
    EXPECT_EQ(fx.removedFromTop, 0);
    EXPECT_FALSE(fx.status);
    EXPECT_FALSE(fx.title);
    EXPECT_FALSE(fx.modifyTray);
    EXPECT_FALSE(fx.refreshTable);
    EXPECT_FALSE(fx.close);
    EXPECT_EQ(FileBytes(FileName()), kBom + Utf16Bytes(line + u"\r\n"));
    EXPECT_EQ(log.ConnState(), LOG_DISCONNECTED);
}

TEST_F(EventLogTest, StatusLineOnlyChangesStatusFieldAndTooltip) {
    log.OnLogLine(LOG_INFO, u"первая");
    std::string before = FileBytes(FileName());

    LogEffects fx = log.OnLogLine(LOG_STATUS, u"Активных: 3");
    EXPECT_EQ(fx.status, Text(u"Активных: 3"));
    EXPECT_TRUE(fx.modifyTray);
    EXPECT_EQ(fx.tooltip, u"Movra:Активных: 3");
    EXPECT_EQ(fx.icon, TrayIcon::kDisconnected);
    EXPECT_TRUE(fx.added.empty());
    EXPECT_EQ(fx.select, -1);
    EXPECT_FALSE(fx.title);
    EXPECT_FALSE(fx.refreshTable);
    EXPECT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(FileBytes(FileName()), before);
    EXPECT_EQ(log.StatusText(), u"Активных: 3");

    // State bits travelling with a status line change nothing either.
    fx = log.OnLogLine(LOG_STATUS | LOG_CONNECTED, u"x");
    EXPECT_EQ(log.ConnState(), LOG_DISCONNECTED);
    EXPECT_FALSE(fx.title);
}

TEST_F(EventLogTest, LongStatusTooltipKeepsMovraAnd121Characters) {
    Text text;
    for (int i = 0; i < 200; ++i) text += static_cast<char16_t>(u'А' + i % 32);
    LogEffects fx = log.OnLogLine(LOG_STATUS, text);
    EXPECT_EQ(fx.status, text);
    EXPECT_EQ(fx.tooltip, u"Movra:" + text.substr(0, 121));
    EXPECT_EQ(log.TrayTip().size(), 127u);
}

TEST_F(EventLogTest, TrimmingKeepsNewestLinesWithTheirOwnClasses) {
    SetMaxSize(3);
    const uint32_t flags[5] = {LOG_ERROR, LOG_WARN, LOG_LIMIT, LOG_INFO, LOG_ERROR};
    int removed = 0;
    LogEffects fx;
    for (int i = 0; i < 5; ++i) {
        clock.Advance(1);
        fx = log.OnLogLine(flags[i], Fmt(u"line %d", i));
        removed += fx.removedFromTop;
    }
    EXPECT_EQ(removed, 2);
    ASSERT_EQ(log.Lines().size(), 3u);
    EXPECT_EQ(log.Lines()[0], (EventLine{u"07.12.2026 9:05:06 line 2", 2}));
    EXPECT_EQ(log.Lines()[1], (EventLine{u"07.12.2026 9:05:07 line 3", 3}));
    EXPECT_EQ(log.Lines()[2], (EventLine{u"07.12.2026 9:05:08 line 4", 0}));
    EXPECT_EQ(fx.select, 2);
    // The color indexes moved with their lines.
    for (int32_t row = 0; row < 3; ++row)
        EXPECT_EQ(log.EventColors().ItemColor(row), log.Lines()[row].cls) << row;
    EXPECT_EQ(log.EventColors().RowColors(0), kEventClassColors[2]);
    EXPECT_EQ(log.EventColors().RowColors(2), kEventClassColors[0]);

    // The file is not limited.
    Text all = DecodeText(FileBytes(FileName()));
    for (int i = 0; i < 5; ++i) EXPECT_NE(all.find(Fmt(u"line %d\r\n", i)), Text::npos) << i;
}

TEST_F(EventLogTest, ShrinkingTheLimitTrimsSeveralLinesAtOnce) {
    for (int i = 0; i < 10; ++i) log.OnLogLine(LOG_INFO, u"x");
    SetMaxSize(4);
    LogEffects fx = log.OnLogLine(LOG_WARN, u"new");
    EXPECT_EQ(fx.removedFromTop, 7);
    EXPECT_EQ(log.Lines().size(), 4u);
    EXPECT_EQ(fx.select, 3);
    EXPECT_EQ(log.EventColors().ItemColor(3), 1);
    EXPECT_EQ(log.EventColors().ItemColor(2), 3);
}

TEST_F(EventLogTest, ZeroLimitNeverTrims) {
    SetMaxSize(0);
    for (int i = 0; i < 120; ++i) EXPECT_EQ(log.OnLogLine(LOG_INFO, u"x").removedFromTop, 0);
    EXPECT_EQ(log.Lines().size(), 120u);
}

TEST_F(EventLogTest, FileIsUtf16WithOneBomAndCrLfPerLine) {
    log.OnLogLine(LOG_INFO, u"один");
    log.OnLogLine(LOG_INFO, u"два\nтри");
    EXPECT_EQ(FileBytes(FileName()),
              kBom + Utf16Bytes(u"07.12.2026 9:05:03 один\r\n07.12.2026 9:05:03 два\r\nтри\r\n"));
}

TEST_F(EventLogTest, AppendsToExistingFilesInTheirOwnEncoding) {
    Text utf16 = dir.File("old16.log");
    testing::WriteBytes(utf16, kBom + Utf16Bytes(u"старая\r\n"));
    SetFile(utf16);
    log.OnLogLine(LOG_INFO, u"новая");
    EXPECT_EQ(FileBytes(utf16), kBom + Utf16Bytes(u"старая\r\n07.12.2026 9:05:03 новая\r\n"));

    Text utf8 = dir.File("old8.log");
    testing::WriteBytes(utf8, "\xEF\xBB\xBFold\r\n");
    SetFile(utf8);
    log.OnLogLine(LOG_INFO, u"новая");
    EXPECT_EQ(FileBytes(utf8),
              "\xEF\xBB\xBFold\r\n07.12.2026 9:05:03 " + ToUtf8(u"новая") + "\r\n");
}

TEST_F(EventLogTest, UnopenableFileTurnsFileLoggingOffWithOneLine) {
    Text bad = dir.File("missing") + u"/Movra.log";
    SetFile(bad);
    LogEffects fx = log.OnLogLine(LOG_INFO, u"первая");
    ASSERT_EQ(fx.added.size(), 2u);
    EXPECT_EQ(fx.added[0].text, u"07.12.2026 9:05:03 первая");
    EXPECT_EQ(fx.added[1].text, u"Ошибка открытия \"" + bad + u"\" Отключаю запись в лог файл");
    EXPECT_EQ(fx.added[1].cls, kLogClassError);
    EXPECT_EQ(fx.select, 0);  // the logged line stays selected
    EXPECT_TRUE(FileName().empty());
    EXPECT_EQ(log.EventColors().ItemColor(1), kLogClassError);

    fx = log.OnLogLine(LOG_INFO, u"вторая");
    EXPECT_EQ(fx.added.size(), 1u);
    EXPECT_EQ(FileBytes(bad), "<none>");
    EXPECT_EQ(log.Lines().size(), 3u);

    // A name set again switches file logging back on.
    SetFile(dir.File("again.log"));
    log.OnLogLine(LOG_INFO, u"третья");
    EXPECT_EQ(FileBytes(dir.File("again.log")),
              kBom + Utf16Bytes(u"07.12.2026 9:05:03 третья\r\n"));
}

#ifdef __linux__
// A full disk: the file opens, but the line never reaches it.
TEST_F(EventLogTest, AFileThatTakesNoLineTurnsFileLoggingOffLikeOneThatCannotBeOpened) {
    SetFile(u"/dev/full");
    LogEffects fx = log.OnLogLine(LOG_INFO, u"первая");
    ASSERT_EQ(fx.added.size(), 2u);
    EXPECT_EQ(fx.added[1].text, u"Ошибка записи \"/dev/full\" Отключаю запись в лог файл");
    EXPECT_EQ(fx.added[1].cls, kLogClassError);
    EXPECT_EQ(log.EventColors().ItemColor(1), kLogClassError);
    EXPECT_TRUE(FileName().empty());
    EXPECT_EQ(log.OnLogLine(LOG_INFO, u"вторая").added.size(), 1u);
}
#endif

TEST_F(EventLogTest, EmptyFileNameWritesNothing) {
    SetFile(u"");
    LogEffects fx = log.OnLogLine(LOG_ERROR, u"x");
    EXPECT_EQ(fx.added.size(), 1u);
    EXPECT_TRUE(FileName().empty());
}

TEST_F(EventLogTest, ErrorThatEndsConnectionShowsDisconnected) {
    log.OnLogLine(LOG_CONNECTED | LOG_INFO | LOG_AUX, u"Подключено");
    LogEffects fx = log.OnLogLine(LOG_ERROR | LOG_DISCONNECTED, u"Ошибка связи");
    ASSERT_EQ(fx.added.size(), 1u);
    EXPECT_EQ(fx.added[0].cls, kLogClassError);
    EXPECT_EQ(fx.title, Text(u"Movra - Отключен"));
    EXPECT_TRUE(fx.modifyTray);
    EXPECT_EQ(fx.icon, TrayIcon::kDisconnected);
    EXPECT_EQ(fx.tooltip, u"Movra - Отключен");
    EXPECT_TRUE(fx.refreshTable);
    EXPECT_FALSE(fx.close);
    EXPECT_EQ(log.ConnState(), 0x50u);
}

TEST_F(EventLogTest, ConnectedIconFollowsTheMode) {
    {
        Model::Guard g(model);
        model.settings.Server = u"ti.example";
    }
    EXPECT_EQ(log.Title(), u"");
    EXPECT_EQ(log.TrayTip(), u"Movra");
    SetMode(0);
    LogEffects fx = log.OnLogLine(0x29, u"Вход выполнен");
    EXPECT_EQ(fx.title, Text(u"Movra - Подключен к ti.example"));
    EXPECT_EQ(fx.tooltip, u"Movra - Подключен к ti.example");
    EXPECT_EQ(fx.icon, TrayIcon::kMonitoring);
    EXPECT_TRUE(fx.modifyTray);
    EXPECT_FALSE(fx.refreshTable);
    EXPECT_EQ(log.ConnState(), 0x29u);

    SetMode(3);
    fx = log.OnLogLine(0x29, u"Вход выполнен");
    EXPECT_EQ(fx.icon, TrayIcon::kRegulating);

    // A status line keeps the state's icon.
    fx = log.OnLogLine(LOG_STATUS, u"s");
    EXPECT_EQ(fx.icon, TrayIcon::kRegulating);
}

TEST_F(EventLogTest, ModeLineReshowsStateWithoutChangingIt) {
    SetMode(0);
    log.OnLogLine(0x29, u"Вход выполнен");
    SetMode(3);
    LogEffects fx = log.OnLogLine(LOG_MODE, u"Режим 3");
    EXPECT_EQ(fx.added.size(), 1u);
    EXPECT_EQ(fx.icon, TrayIcon::kRegulating);
    EXPECT_TRUE(fx.modifyTray);
    EXPECT_EQ(log.ConnState(), 0x29u);

    // Even with a state bit, a mode line never replaces the state.
    log.OnLogLine(LOG_MODE | LOG_DISCONNECTED, u"Режим 0");
    EXPECT_EQ(log.ConnState(), 0x29u);
    EXPECT_EQ(log.Icon(), TrayIcon::kRegulating);

    // While disconnected a mode line re-shows the disconnected state.
    log.OnLogLine(LOG_DISCONNECTED | LOG_WARN, u"Отключено");
    fx = log.OnLogLine(LOG_MODE, u"Режим 1");
    EXPECT_EQ(fx.title, Text(u"Movra - Отключен"));
    EXPECT_TRUE(fx.refreshTable);
}

TEST_F(EventLogTest, PendingExitClosesOnTheNextStateLineOnly) {
    log.OnLogLine(0x29, u"Вход выполнен");
    log.SetExitPending();
    EXPECT_EQ(log.ConnState(), EXIT_PENDING);

    EXPECT_FALSE(log.OnLogLine(LOG_INFO, u"Жду завершения потока...").close);
    LogEffects fx = log.OnLogLine(LOG_MODE, u"Режим 3");
    EXPECT_FALSE(fx.close);
    EXPECT_FALSE(fx.modifyTray);  // the pending state shows nothing
    EXPECT_EQ(log.ConnState(), EXIT_PENDING);

    fx = log.OnLogLine(LOG_DISCONNECTED | LOG_WARN, u"Поток завершён");
    EXPECT_TRUE(fx.close);
    EXPECT_EQ(log.ConnState(), 0x12u);
    EXPECT_FALSE(log.OnLogLine(LOG_DISCONNECTED, u"again").close);
}

TEST_F(EventLogTest, LongServerNameCutsTheTooltipButNotTheTitle) {
    {
        Model::Guard g(model);
        model.settings.Server = Text(200, u's');
    }
    LogEffects fx = log.OnLogLine(LOG_CONNECTED, u"ok");
    EXPECT_EQ(fx.title->size(), 20u + 200u);
    EXPECT_EQ(fx.tooltip.size(), 127u);
}

TEST_F(EventLogTest, ClearLogFileEmptiesTheFileAndReportsIt) {
    log.OnLogLine(LOG_INFO, u"x");
    LogRequest r = log.ClearLogFile();
    EXPECT_EQ(r, (LogRequest{LOG_INFO, FileName() + u" Очищен"}));
    EXPECT_EQ(FileBytes(FileName()), kBom);
    EXPECT_EQ(log.Lines().size(), 1u);

    // The next line continues the emptied file without a second mark.
    log.OnLogLine(LOG_INFO, u"y");
    EXPECT_EQ(FileBytes(FileName()), kBom + Utf16Bytes(u"07.12.2026 9:05:03 y\r\n"));
}

TEST_F(EventLogTest, ClearLogFileFailureIsAWarningWithoutClosingQuote) {
    Text bad = dir.File("missing") + u"/Movra.log";
    SetFile(bad);
    EXPECT_EQ(log.ClearLogFile(), (LogRequest{LOG_WARN, u"Ошибка очистки \"" + bad}));
    SetFile(u"");
    EXPECT_EQ(log.ClearLogFile(), (LogRequest{LOG_WARN, u"Ошибка очистки \""}));
}

}  // namespace
}  // namespace movra
