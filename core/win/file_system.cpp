// The file-system port on Windows.
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <string>

#include "core/file_system.h"

namespace movra {

namespace {

// The system's own words for an error (in the user's language), without the line end and the
// full stop FormatMessage puts after them.
Text SystemErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    Text text;
    if (n > 0 && buffer) text.assign(buffer, buffer + n);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ' ||
                             text.back() == u'.'))
        text.pop_back();
    if (text.empty()) {
        const std::string code = std::to_string(error);
        text = u"код ошибки " + Text(code.begin(), code.end());
    }
    return text;
}

FileRead Unreadable(DWORD error) {
    FileRead r;
    r.status = FileRead::Status::kUnreadable;
    r.reason = SystemErrorText(error);
    return r;
}

}  // namespace

FileRead PlatformFileSystem::ReadWhole(const Text& name) {
    const std::wstring wname(name.begin(), name.end());
    // Others may go on reading and writing it meanwhile, as the C runtime lets them.
    HANDLE h = CreateFileW(wname.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
        return Unreadable(error);
    }
    FileRead r;
    char buf[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(h, buf, sizeof buf, &got, nullptr)) {
            const DWORD error = GetLastError();
            CloseHandle(h);
            return Unreadable(error);
        }
        if (got == 0) break;
        r.bytes.append(buf, got);
    }
    CloseHandle(h);
    r.status = FileRead::Status::kRead;
    return r;
}

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
