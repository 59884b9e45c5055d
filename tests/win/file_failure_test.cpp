// File failures as a Windows program meets them, under Wine: a file held open by another handle
// with no sharing (a backup program or a scanner), a folder where a file is expected, and a full
// disk (Wine's drive Z: reaches the system's /dev/full, which takes no byte). Each must be
// reported as what it is: never taken for a missing file, never for a success. (Wine does not
// enforce byte-range locks on writes, so a locked file cannot stand in for a full disk here.)
#include <windows.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <filesystem>
#include <string>

#include "config/config_file.h"
#include "config/config_test_util.h"
#include "core/file_system.h"
#include "core/textfile.h"
#include "log/event_log.h"
#include "recording_link.h"

namespace movra {
namespace {

using testing::RecordingLink;

// An open handle on a file, as another program holds it; closed when the object goes.
class Holder {
  public:
    // share 0: nobody else may open the file at all.
    explicit Holder(const wchar_t* name, DWORD share = 0)
        : h_(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~Holder() { Release(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    bool Held() const { return h_ != INVALID_HANDLE_VALUE; }
    void Release() {
        if (Held()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE h_;
};

class FileFailureTest : public testing::ScratchDirTest {
  protected:
    void SetLogFile(const Text& name) {
        Model::Guard g(model);
        model.settings.LogFileName = name;
    }
    Text LogFile() {
        Model::Guard g(model);
        return model.settings.LogFileName;
    }
    // Logs one line and returns the lines the event list got (the line and any complaint).
    std::vector<Text> LogOne() {
        std::vector<Text> out;
        for (const EventLine& l : log.OnLogLine(LOG_INFO, u"строка").added) out.push_back(l.text);
        return out;
    }

    // A device that refuses every byte with "disk full", as a file name.
    static constexpr const char16_t* kFullDisk = u"Z:\\dev\\full";

    Model model;
    EventLog log{model, SystemClock()};
    RecordingLink link;
};

// ---- Reading: held is not missing ----

TEST_F(FileFailureTest, AFileHeldWithoutSharingIsUnreadableWithTheSystemsReasonNotMissing) {
    WriteConfig(u"GridSize: 9\n");
    Holder holder(L"Movra.cfg");
    ASSERT_TRUE(holder.Held());
    const FileRead held = SystemFileSystem().ReadWhole(u"Movra.cfg");
    EXPECT_EQ(held.status, FileRead::Status::kUnreadable);
    EXPECT_FALSE(held.reason.empty());
    EXPECT_EQ(SystemFileSystem().ReadWhole(u"Другой.cfg").status, FileRead::Status::kMissing);
    holder.Release();
    EXPECT_EQ(SystemFileSystem().ReadWhole(u"Movra.cfg").status, FileRead::Status::kRead);
}

// Start-up meets Movra.cfg held by another program: it says so, and no save replaces the file
// unasked; once the file can be read again, a load makes it the program's own.
TEST_F(FileFailureTest, AConfigurationHeldAtStartupIsReportedAndGuardedUntilItIsLoaded) {
    WriteConfig(u"GridSize: 9\n");
    const std::string administrators = ReadBytes("Movra.cfg");
    Holder holder(L"Movra.cfg");
    ASSERT_TRUE(holder.Held());
    const FileRead held = SystemFileSystem().ReadWhole(u"Movra.cfg");

    ConfigFileState state;
    EXPECT_FALSE(state.LoadAtStartup(model, link));
    const Text reported = UnreadConfigText(u"Movra.cfg", held.reason);
    EXPECT_EQ(link.Messages(), std::vector<Text>{reported});
    EXPECT_EQ(state.TakeStartupLine(), reported);
    std::printf("reported: %s\n", ToUtf8(reported).c_str());

    std::vector<Text> asked;
    bool reply = false;
    const AskYesNo ask = [&](const Text& q) {
        asked.push_back(q);
        return reply;
    };
    EXPECT_FALSE(state.Save(model, link, ask));  // No
    reply = true;
    EXPECT_FALSE(state.Save(model, link, ask));  // Yes, but the holder keeps it in place
    EXPECT_EQ(asked, std::vector<Text>(2, u"Movra.cfg не был прочитан при запуске. Заменить его?"));
    EXPECT_EQ(link.Messages(), (std::vector<Text>{reported, u"Ошибка создания файла Movra.cfg"}));
    holder.Release();
    EXPECT_EQ(ReadBytes("Movra.cfg"), administrators);

    link.Clear();
    EXPECT_TRUE(state.Load(model, link));
    EXPECT_TRUE(link.Events().empty());
    EXPECT_TRUE(state.Save(model, link, ask));
    EXPECT_EQ(asked.size(), 2u);  // not asked again
    EXPECT_NE(ReadConfig().find(u"GridSize: 9\r\n"), Text::npos);
}

// ---- Writing: a failure is reported, never taken for success ----

TEST_F(FileFailureTest, ALogFileThatCannotBeOpenedOrWrittenIsReportedAndTurnedOff) {
    struct Case {
        const char* what;
        Text file;
        Text complaint;
    };
    const Case cases[] = {
        {"held without sharing", u"held.log", u"Ошибка открытия \"held.log\""},
        {"a folder of that name", u"folder.log", u"Ошибка открытия \"folder.log\""},
        {"a full disk", kFullDisk, u"Ошибка записи \"" + Text(kFullDisk) + u"\""},
    };
    std::filesystem::create_directory("folder.log");
    Holder held(L"held.log");
    ASSERT_TRUE(held.Held());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLogFile(c.file);
        const std::vector<Text> added = LogOne();
        ASSERT_EQ(added.size(), 2u);
        EXPECT_EQ(added[1], c.complaint + u" Отключаю запись в лог файл");
        EXPECT_EQ(LogFile(), u"");
        EXPECT_EQ(LogOne().size(), 1u);  // no file, no further complaint
    }
}

// The platform's own port with a disk that fills while the temporary file is written: the
// stream's bytes go to a device that refuses them.
class FillingDisk : public PlatformFileSystem {
  public:
    bool FlushAndClose(std::FILE* f) override {
        const int full = _wopen(L"Z:\\dev\\full", _O_WRONLY | _O_BINARY);
        if (full < 0 || _dup2(full, _fileno(f)) != 0) ADD_FAILURE() << "no full device";
        if (full >= 0) _close(full);
        return PlatformFileSystem::FlushAndClose(f);
    }
};

TEST_F(FileFailureTest, AConfigurationTargetThatCannotBeReplacedOrWrittenIsReported) {
    // Held without sharing: the new file cannot take its place; the old one stays.
    WriteConfig(u"GridSize: 9\n");
    const std::string old = ReadBytes("Movra.cfg");
    {
        Holder holder(L"Movra.cfg");
        ASSERT_TRUE(holder.Held());
        EXPECT_FALSE(SaveConfig(model, link));
    }
    EXPECT_EQ(ReadBytes("Movra.cfg"), old);
    EXPECT_FALSE(std::filesystem::exists("Movra.cfg.tmp"));

    // The disk fills while the new file is written.
    FillingDisk filling;
    EXPECT_FALSE(SaveConfig(model, link, filling));
    EXPECT_EQ(ReadBytes("Movra.cfg"), old);
    EXPECT_FALSE(std::filesystem::exists("Movra.cfg.tmp"));

    // A folder where the file should be.
    std::filesystem::remove("Movra.cfg");
    std::filesystem::create_directory("Movra.cfg");
    EXPECT_FALSE(SaveConfig(model, link));
    EXPECT_TRUE(std::filesystem::is_directory("Movra.cfg"));
    EXPECT_EQ(link.Messages(),
              (std::vector<Text>{u"Ошибка создания файла Movra.cfg", u"Ошибка записи в Movra.cfg",
                                 u"Ошибка создания файла Movra.cfg"}));
}

// The port's own flush: buffered bytes that the disk refuses make it fail.
TEST_F(FileFailureTest, AFlushThatTheDiskRefusesFails) {
    FILE* f = OpenFile(kFullDisk, "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite("data", 1, 4, f), 4u);
    EXPECT_FALSE(SystemFileSystem().FlushAndClose(f));
}

}  // namespace
}  // namespace movra
