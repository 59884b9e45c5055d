// The data folder and the event source.
#include "service/win/service_setup.h"

#include <aclapi.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <vector>

#include "service/win/win_text.h"

namespace movra::service {

namespace {

// The folder's security descriptor, freed on leaving.
struct FolderSecurity {
    PSECURITY_DESCRIPTOR sd = nullptr;
    FolderSecurity() {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kDataFolderSddl, SDDL_REVISION_1,
                                                                  &sd, nullptr)) {
            ThrowLastError(u"не удалось составить права папки данных");
        }
    }
    ~FolderSecurity() { LocalFree(sd); }
    FolderSecurity(const FolderSecurity&) = delete;
    FolderSecurity& operator=(const FolderSecurity&) = delete;
};

Text FolderWhat(const Text& what, const std::wstring& path) {
    return what + FromWide(path.c_str());
}

}  // namespace

std::wstring DataFolderPath() {
    wchar_t* base = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &base);
    if (FAILED(hr)) {
        CoTaskMemFree(base);
        ThrowError(u"не удалось найти папку ProgramData", static_cast<DWORD>(hr));
    }
    std::wstring path = std::wstring(base) + L"\\Movra";
    CoTaskMemFree(base);
    return path;
}

bool CreateDataFolder(const std::wstring& path) {
    FolderSecurity security;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), security.sd, FALSE};
    if (CreateDirectoryW(path.c_str(), &sa)) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return false;
    ThrowError(FolderWhat(u"не удалось создать папку данных ", path), error);
}

void ProtectDataFolder(const std::wstring& path) {
    FolderSecurity security;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    GetSecurityDescriptorDacl(security.sd, &present, &dacl, &defaulted);
    GetSecurityDescriptorOwner(security.sd, &owner, &defaulted);
    // SetNamedSecurityInfoW, unlike SetFileSecurityW, also recomputes what the folder's files
    // and subfolders inherit.
    const DWORD error =
        SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                  PROTECTED_DACL_SECURITY_INFORMATION,
                              owner, nullptr, dacl, nullptr);
    if (error != ERROR_SUCCESS) {
        ThrowError(FolderWhat(u"не удалось задать права папки данных ", path), error);
    }
}

void EnterDataFolder() {
    const std::wstring folder = DataFolderPath();
    CreateDataFolder(folder);
    if (!SetCurrentDirectoryW(folder.c_str())) {
        ThrowLastError(u"не удалось открыть папку данных " + FromWide(folder.c_str()));
    }
}

void WriteEventSource(HKEY root, const wchar_t* key, const std::wstring& exe) {
    HKEY k = nullptr;
    LSTATUS r = RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr);
    if (r != ERROR_SUCCESS) ThrowError(u"не удалось зарегистрировать источник событий Movra", r);
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    r = RegSetValueExW(k, L"EventMessageFile", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(exe.c_str()),
                       static_cast<DWORD>((exe.size() + 1) * sizeof(wchar_t)));
    if (r == ERROR_SUCCESS) {
        r = RegSetValueExW(k, L"TypesSupported", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&types), sizeof(types));
    }
    RegCloseKey(k);
    if (r != ERROR_SUCCESS) ThrowError(u"не удалось зарегистрировать источник событий Movra", r);
}

void DeleteEventSource(HKEY root, const wchar_t* key) {
    const LSTATUS r = RegDeleteKeyW(root, key);
    if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) {
        ThrowError(u"не удалось удалить источник событий Movra", r);
    }
}

std::wstring ThisProgramPath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) ThrowLastError(u"не удалось узнать путь программы");
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace movra::service
