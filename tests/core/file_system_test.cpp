#include "core/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/textfile.h"
#include "log/temp_dir.h"

namespace movra {
namespace {

using testing::TempDir;

std::string Bytes(const Text& name) {
    return ReadFileBytes(name).value_or("<none>");
}

// The real calls of the platform (MoveFileExW and FlushFileBuffers under Wine).
TEST(PlatformFileSystemTest, ReplacesAnExistingFileInOneStepOrLeavesBothAsTheyWere) {
    TempDir dir;
    PlatformFileSystem& fs = SystemFileSystem();
    const Text from = dir.File("новый.tmp");
    const Text to = dir.File("старый.cfg");
    testing::WriteBytes(to, "old");
    FILE* f = OpenFile(from, "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite("new", 1, 3, f), 3u);
    EXPECT_TRUE(fs.FlushAndClose(f));

    EXPECT_TRUE(fs.ReplaceExisting(from, to));
    EXPECT_EQ(Bytes(to), "new");
    EXPECT_EQ(Bytes(from), "<none>");

    // A folder cannot be replaced by a file: nothing moves.
    const Text folder = dir.File("folder");
    std::filesystem::create_directory(std::filesystem::path(folder));
    EXPECT_FALSE(fs.ReplaceExisting(to, folder));
    EXPECT_EQ(Bytes(to), "new");
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(folder)));
}

// The reader tells a file that is not there from one that is there but cannot be read, which
// the program must not take for missing.
TEST(PlatformFileSystemTest, ReadingTellsAMissingFileFromOneThatCannotBeRead) {
    TempDir dir;
    PlatformFileSystem& fs = SystemFileSystem();
    const Text file = dir.File("файл.cfg");
    testing::WriteBytes(file, std::string("a\0b", 3));
    FileRead r = fs.ReadWhole(file);
    EXPECT_EQ(r.status, FileRead::Status::kRead);
    EXPECT_EQ(r.bytes, std::string("a\0b", 3));

    EXPECT_EQ(fs.ReadWhole(dir.File("нет.cfg")).status, FileRead::Status::kMissing);
    EXPECT_EQ(fs.ReadWhole(dir.File("нет/нет.cfg")).status, FileRead::Status::kMissing);

    const Text folder = dir.File("папка.cfg");
    std::filesystem::create_directory(std::filesystem::path(folder));
    r = fs.ReadWhole(folder);
    EXPECT_EQ(r.status, FileRead::Status::kUnreadable);
    EXPECT_FALSE(r.reason.empty());
    EXPECT_NE(r.reason.back(), u'.');
    EXPECT_NE(r.reason.back(), u'\n');
    EXPECT_EQ(ReadFileBytes(folder), std::nullopt);
}

#ifdef __linux__
// A full disk shows only when the buffered bytes are pushed out.
TEST(PlatformFileSystemTest, AFlushThatCannotReachTheDiskFails) {
    FILE* f = std::fopen("/dev/full", "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite("data", 1, 4, f), 4u);
    EXPECT_FALSE(SystemFileSystem().FlushAndClose(f));
}
#endif

}  // namespace
}  // namespace movra
