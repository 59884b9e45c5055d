#pragma once
// The file-system calls whose failure the program must see: reading a whole file (telling a
// missing file from one that is there but cannot be read), pushing a written file to the disk
// and putting it in place of another in one step. Behind an interface so that tests can make
// each of them fail. File names are UTF-16 (wide names on Windows, UTF-8 on other systems).
#include <cstdio>
#include <string>

#include "core/text.h"

namespace movra {

// What reading a whole file found.
struct FileRead {
    enum class Status { kRead, kMissing, kUnreadable };
    Status status = Status::kMissing;
    std::string bytes;  // kRead: the file's bytes
    Text reason;        // kUnreadable: the system's words for why (no full stop at the end)
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // Reads a whole file. kMissing only when neither the file nor its folder exists; a file that
    // is there but cannot be opened or read (held by another program, no access, a folder of
    // that name) is kUnreadable with the system's reason.
    virtual FileRead ReadWhole(const Text& name) = 0;
    // Writes the stream's buffers and the system's cache of the file to the disk and closes the
    // stream (always). False when any of it failed.
    virtual bool FlushAndClose(std::FILE* f) = 0;
    // Puts `from` in place of `to` in one step, also when `to` exists. On failure both files are
    // as they were: there is never a moment without `to`.
    virtual bool ReplaceExisting(const Text& from, const Text& to) = 0;
};

// The machine's own file system; each platform has its file (win/file_system.cpp on Windows).
class PlatformFileSystem : public FileSystem {
  public:
    FileRead ReadWhole(const Text& name) override;
    bool FlushAndClose(std::FILE* f) override;
    bool ReplaceExisting(const Text& from, const Text& to) override;
};

PlatformFileSystem& SystemFileSystem();

}  // namespace movra
