#pragma once
// The file-system calls whose failure a save must see: pushing a written file to the disk and
// putting it in place of another in one step. Behind an interface so that tests can make each
// of them fail. File names are UTF-16 (wide names on Windows, UTF-8 on other systems).
#include <cstdio>

#include "core/text.h"

namespace movra {

class FileSystem {
  public:
    virtual ~FileSystem() = default;
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
    bool FlushAndClose(std::FILE* f) override;
    bool ReplaceExisting(const Text& from, const Text& to) override;
};

PlatformFileSystem& SystemFileSystem();

}  // namespace movra
