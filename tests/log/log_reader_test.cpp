#include "log/log_reader.h"

#include <gtest/gtest.h>

#include "log/event_log.h"
#include "temp_dir.h"

namespace movra {
namespace {

using testing::TempDir;
using testing::Utf16Bytes;
using testing::WriteBytes;

const std::string kBom = "\xFF\xFE";

std::vector<Text> ReadAll(const Text& name, size_t batch = 2) {
    LogFileReader r;
    EXPECT_TRUE(r.Open(name));
    std::vector<Text> all;
    while (!r.AtEnd()) {
        auto part = r.NextLines(batch);
        EXPECT_LE(part.size(), batch);
        all.insert(all.end(), part.begin(), part.end());
    }
    EXPECT_FALSE(r.Failed());
    EXPECT_TRUE(r.NextLines(batch).empty());
    return all;
}

class LogReaderTest : public ::testing::Test {
  protected:
    TempDir dir;
    Text name = dir.File("Movra.log");
};

TEST_F(LogReaderTest, NewestLineComesFirst) {
    WriteBytes(name, kBom + Utf16Bytes(u"первая\r\nвторая\r\nтретья\r\n"));
    EXPECT_EQ(ReadAll(name), (std::vector<Text>{u"третья", u"вторая", u"первая"}));
    EXPECT_EQ(ReadAll(name, 1), (std::vector<Text>{u"третья", u"вторая", u"первая"}));
    EXPECT_EQ(ReadAll(name, 100), (std::vector<Text>{u"третья", u"вторая", u"первая"}));
}

TEST_F(LogReaderTest, NoCharacterIsLost) {
    // Lines around the old 253-character read, and a last line without a line end.
    Text l252(252, u'a'), l253(253, u'b'), l254(254, u'c'), l1000;
    for (int i = 0; i < 1000; ++i) l1000 += static_cast<char16_t>(u'0' + i % 10);
    WriteBytes(name, kBom + Utf16Bytes(l252 + u"\r\n" + l253 + u"\r\n" + l254 + u"\r\n" + l1000 +
                                       u"\r\nконец"));
    EXPECT_EQ(ReadAll(name), (std::vector<Text>{u"конец", l1000, l254, l253, l252}));
}

TEST_F(LogReaderTest, EmptyLinesStayAndTheFinalLineEndAddsNone) {
    WriteBytes(name, kBom + Utf16Bytes(u"\r\na\r\n\r\nb\r\n"));
    EXPECT_EQ(ReadAll(name), (std::vector<Text>{u"b", u"", u"a", u""}));
    WriteBytes(name, kBom + Utf16Bytes(u"\r\n"));
    EXPECT_EQ(ReadAll(name), (std::vector<Text>{u""}));
    WriteBytes(name, Utf16Bytes(u"x\ny"));  // bare LF, no mark
    EXPECT_EQ(ReadAll(name), (std::vector<Text>{u"y", u"x"}));
}

TEST_F(LogReaderTest, EmptyFilesHaveNoLines) {
    WriteBytes(name, "");
    EXPECT_TRUE(ReadAll(name).empty());
    WriteBytes(name, kBom);
    EXPECT_TRUE(ReadAll(name).empty());
    WriteBytes(name, "\xEF\xBB\xBF");
    EXPECT_TRUE(ReadAll(name).empty());
    WriteBytes(name, kBom + "A");  // half a character
    EXPECT_TRUE(ReadAll(name).empty());
}

TEST_F(LogReaderTest, ReadsUtf8WithItsMark) {
    WriteBytes(name, "\xEF\xBB\xBF" + ToUtf8(u"один\r\nдва"));
    EXPECT_EQ(ReadAll(name), (std::vector<Text>{u"два", u"один"}));
}

TEST_F(LogReaderTest, LinesAcrossChunkBordersAndAVeryLongLine) {
    // Lines of every length around 64 KiB chunk borders, plus one line of 300,000 characters.
    std::vector<Text> lines;
    for (int i = 0; i < 3000; ++i)
        lines.push_back(Text(static_cast<size_t>(i % 97), u'a' + i % 26));
    lines.push_back(Text(300000, u'Ж'));
    lines.push_back(u"после");
    Text body;
    for (const auto& l : lines) body += l + u"\r\n";
    WriteBytes(name, kBom + Utf16Bytes(body));
    std::vector<Text> want(lines.rbegin(), lines.rend());
    EXPECT_EQ(ReadAll(name, 7), want);
}

TEST_F(LogReaderTest, NewestLinesOfALongFileComeFirst) {
    Text body;
    for (int i = 0; i < 100000; ++i) body += Fmt(u"07.12.2026 9:05:03 строка %d\r\n", i);
    WriteBytes(name, kBom + Utf16Bytes(body));
    LogFileReader r;
    ASSERT_TRUE(r.Open(name));
    auto first = r.NextLines(2);
    EXPECT_EQ(first, (std::vector<Text>{u"07.12.2026 9:05:03 строка 99999",
                                        u"07.12.2026 9:05:03 строка 99998"}));
    size_t total = first.size();
    Text last;
    while (!r.AtEnd()) {
        auto part = r.NextLines(500);
        total += part.size();
        if (!part.empty()) last = part.back();
    }
    EXPECT_EQ(total, 100000u);
    EXPECT_EQ(last, u"07.12.2026 9:05:03 строка 0");
}

TEST_F(LogReaderTest, ReadsWhatTheEventLogWrote) {
    ManualClock clock;
    Model model(clock);
    {
        Model::Guard g(model);
        model.settings.LogFileName = name;
    }
    EventLog log(model, clock);
    log.OnLogLine(LOG_INFO, u"один");
    log.OnLogLine(LOG_WARN, u"два");
    log.OnLogLine(LOG_ERROR, Text(400, u'я'));
    EXPECT_EQ(ReadAll(name),
              (std::vector<Text>{u"01.12.2026 12:00:00 " + Text(400, u'я'),
                                 u"01.12.2026 12:00:00 два", u"01.12.2026 12:00:00 один"}));
}

TEST_F(LogReaderTest, MissingFileDoesNotOpen) {
    LogFileReader r;
    EXPECT_FALSE(r.Open(dir.File("nope.log")));
    EXPECT_TRUE(r.AtEnd());
    EXPECT_TRUE(r.NextLines(2).empty());
    EXPECT_EQ(LogViewOpenErrorText(u"Movra.log"), u"Ошибка открытия файла Movra.log");
    EXPECT_EQ(LogViewOpenErrorText(u""), u"Ошибка открытия файла ");
}

}  // namespace
}  // namespace movra
