// Drives Movra.exe from outside for the black-box tests, as an administrator would:
//   blackbox_helper box <ms>        wait for a message box, print its text (UTF-8), press OK
//   blackbox_helper command <id>    post a command to Movra's main window
//   blackbox_helper visible         print 1 when the main window is visible, else 0
//   blackbox_helper rows            print the number of rows in the user table
// Exit code 0 on success, 1 when the window was not found in time, 2 on bad arguments.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

HWND FindMainWindow() {
    HWND found = nullptr;
    EnumWindows(
        [](HWND h, LPARAM lp) -> BOOL {
            HWND table = GetDlgItem(h, 1001);
            HWND connect = GetDlgItem(h, 1053);
            if (table && connect) {
                *reinterpret_cast<HWND*>(lp) = h;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND FindMessageBox() {
    HWND found = nullptr;
    EnumWindows(
        [](HWND h, LPARAM lp) -> BOOL {
            wchar_t cls[64] = {};
            GetClassNameW(h, cls, 64);
            if (wcscmp(cls, L"#32770") == 0 && IsWindowVisible(h) && GetDlgItem(h, 0xFFFF) &&
                !GetDlgItem(h, 1001)) {
                *reinterpret_cast<HWND*>(lp) = h;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string Utf8(const wchar_t* s) {
    int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s, -1, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string what = argv[1];
    if (what == "box") {
        DWORD limit = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
        DWORD start = GetTickCount();
        while (GetTickCount() - start < limit) {
            if (HWND box = FindMessageBox()) {
                wchar_t text[1024] = {};
                SendMessageW(GetDlgItem(box, 0xFFFF), WM_GETTEXT, 1024,
                             reinterpret_cast<LPARAM>(text));
                std::printf("%s\n", Utf8(text).c_str());
                std::fflush(stdout);
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return 0;
            }
            Sleep(50);
        }
        return 1;
    }
    HWND main = FindMainWindow();
    if (!main) return 1;
    if (what == "command" && argc > 2) {
        PostMessageW(main, WM_COMMAND, std::atoi(argv[2]), 0);
        return 0;
    }
    if (what == "visible") {
        std::printf("%d\n", IsWindowVisible(main) ? 1 : 0);
        return 0;
    }
    if (what == "rows") {
        std::printf("%d\n",
                    static_cast<int>(SendMessageW(GetDlgItem(main, 1001), LVM_GETITEMCOUNT, 0, 0)));
        return 0;
    }
    return 2;
}
