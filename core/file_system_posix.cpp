// The file-system port on POSIX systems (the native build).
#include <unistd.h>

#include <cstdio>

#include "core/file_system.h"

namespace movra {

bool PlatformFileSystem::FlushAndClose(std::FILE* f) {
    bool ok = std::fflush(f) == 0;
    ok = std::ferror(f) == 0 && ok;
    ok = fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

bool PlatformFileSystem::ReplaceExisting(const Text& from, const Text& to) {
    // rename replaces an existing target in one step.
    return std::rename(ToUtf8(from).c_str(), ToUtf8(to).c_str()) == 0;
}

PlatformFileSystem& SystemFileSystem() {
    static PlatformFileSystem fs;
    return fs;
}

}  // namespace movra
