// Reads what the installer test must see from inside Windows: a program's version resource, a
// shortcut's target and folder to start in, and a service's process. Prints UTF-8.
//   dist_probe version FILE   -> "<ProductVersion string> <fixed file version a.b.c.d>"
//   dist_probe link FILE.lnk  -> "<target>" and "<start in>" on two lines
//   dist_probe service NAME   -> "<state number> <process id>"
//   dist_probe hold           -> never returns: keeps a Wine session (and its services) alive
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* s) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 1 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s, -1, out.data(), n, nullptr, nullptr);
    return out;
}

int Version(const wchar_t* file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
    if (size == 0) return 1;
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(file, 0, size, data.data())) return 1;
    wchar_t* text = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(data.data(), L"\\StringFileInfo\\041904b0\\ProductVersion",
                        reinterpret_cast<void**>(&text), &len))
        return 1;
    VS_FIXEDFILEINFO* fixed = nullptr;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len)) return 1;
    std::printf("%s %u.%u.%u.%u\n", Utf8(text).c_str(), unsigned{HIWORD(fixed->dwFileVersionMS)},
                unsigned{LOWORD(fixed->dwFileVersionMS)}, unsigned{HIWORD(fixed->dwFileVersionLS)},
                unsigned{LOWORD(fixed->dwFileVersionLS)});
    return 0;
}

int Link(const wchar_t* file) {
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return 1;
    IPersistFile* persist = nullptr;
    int rc = 1;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        wchar_t target[MAX_PATH] = {}, dir[MAX_PATH] = {};
        if (SUCCEEDED(persist->Load(file, STGM_READ)) &&
            SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) &&
            SUCCEEDED(link->GetWorkingDirectory(dir, MAX_PATH))) {
            std::printf("%s\n%s\n", Utf8(target).c_str(), Utf8(dir).c_str());
            rc = 0;
        }
        persist->Release();
    }
    link->Release();
    return rc;
}

int Service(const wchar_t* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return 1;
    int rc = 1;
    if (SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                 sizeof status, &needed)) {
            std::printf("%lu %lu\n", status.dwCurrentState, status.dwProcessId);
            rc = 0;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return rc;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) == L"hold") Sleep(INFINITE);
    if (argc != 3) return 2;
    const std::wstring what = argv[1];
    if (what == L"service") return Service(argv[2]);
    if (what == L"version") return Version(argv[2]);
    if (what == L"link") {
        CoInitialize(nullptr);
        const int rc = Link(argv[2]);
        CoUninitialize();
        return rc;
    }
    return 2;
}
