// The file-system port on POSIX systems (the native build).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "core/file_system.h"

namespace movra {

namespace {

FileRead Unreadable(int error) {
    FileRead r;
    r.status = FileRead::Status::kUnreadable;
    r.reason = FromUtf8(std::generic_category().message(error));
    return r;
}

}  // namespace

FileRead PlatformFileSystem::ReadWhole(const Text& name) {
    FILE* f = std::fopen(ToUtf8(name).c_str(), "rb");
    if (!f) {
        const int error = errno;
        // A missing folder on the way means the file is not there either.
        if (error == ENOENT || error == ENOTDIR) return {};
        return Unreadable(error);
    }
    FileRead r;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) r.bytes.append(buf, n);
    // A folder opens but cannot be read (EISDIR).
    const int error = std::ferror(f) ? errno : 0;
    std::fclose(f);
    if (error != 0) return Unreadable(error);
    r.status = FileRead::Status::kRead;
    return r;
}

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
