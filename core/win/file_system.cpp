// The file-system port on Windows.
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <string>

#include "core/file_system.h"

namespace movra {

bool PlatformFileSystem::FlushAndClose(std::FILE* f) {
    bool ok = std::fflush(f) == 0;
    ok = std::ferror(f) == 0 && ok;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    ok = handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

bool PlatformFileSystem::ReplaceExisting(const Text& from, const Text& to) {
    const std::wstring wfrom(from.begin(), from.end());
    const std::wstring wto(to.begin(), to.end());
    // One step: a remove followed by a rename could lose the old file when the rename fails.
    return MoveFileExW(wfrom.c_str(), wto.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

PlatformFileSystem& SystemFileSystem() {
    static PlatformFileSystem fs;
    return fs;
}

}  // namespace movra
