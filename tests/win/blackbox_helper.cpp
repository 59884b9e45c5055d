// Drives Movra.exe from outside for the black-box tests, as an administrator would:
//   blackbox_helper box <ms> [yes|no|cancel]  wait for a message box, print its text (UTF-8),
//                                   press OK (or Yes, No or Cancel of a question)
//   blackbox_helper command <id>... post commands to Movra's main window
//   blackbox_helper visible         print 1 when the main window is visible, else 0
//   blackbox_helper rows            print the number of rows in the user table
//   blackbox_helper title           print the main window's title (UTF-8)
//   blackbox_helper start <exe>     start a program in the current folder, print its process id
//   blackbox_helper close           post WM_CLOSE to the main window (the close box)
//   blackbox_helper find <id> <ms>  wait for a visible button, print its top window's title
//   blackbox_helper gone <id> <ms>  wait until no visible button has this id
//   blackbox_helper click <id>      click a visible button (BM_CLICK)
//   blackbox_helper settext <id> <text>  set the text of a visible edit field (ASCII: the
//                                   arguments arrive in the ANSI code page)
//   blackbox_helper checked <id>    print 1 when that button is checked, else 0
//   blackbox_helper sheet-ok <id>   press OK of the property sheet that holds the control
//   blackbox_helper ended <ms>      wait for the process (pid=) to end
//   blackbox_helper kill            end the process (pid=) at once
//   blackbox_helper chart <ms> [beside]  wait for the visible top-level window "Movra - график
//                                   канала", print 1; with "beside", move it right of the main
//                                   window
//   blackbox_helper dismiss <ms> [ok]  wait for any dialog or message box besides the main
//                                   window and close every one that is up (a property sheet
//                                   with Cancel, or OK when asked); print a line for each
//   blackbox_helper hold <file> <flag> <ms>  open the file with no sharing, as a backup program
//                                   would, print "held", and keep it so until the file <flag>
//                                   exists or <ms> have passed
// A first argument pid=<n> limits every search to the windows of that process, so that tests
// running side by side in one Wine prefix never drive each other's windows.
// Exit code 0 on success, 1 when the window was not found in time, 2 on bad arguments.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

DWORD onlyPid = 0;  // 0: windows of any process

bool Ours(HWND h) {
    if (onlyPid == 0) return true;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid == onlyPid;
}

HWND FindMainWindow() {
    HWND found = nullptr;
    EnumWindows(
        [](HWND h, LPARAM lp) -> BOOL {
            if (!Ours(h)) return TRUE;
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
            if (!Ours(h)) return TRUE;
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

// A visible button with this id anywhere below a visible top window (property pages included);
// the pages that are not shown are hidden, so only the active page's buttons are found.
HWND FindControl(int id, const wchar_t* cls = L"Button") {
    struct Search {
        int id;
        const wchar_t* cls;
        HWND found;
    } search{id, cls, nullptr};
    EnumWindows(
        [](HWND top, LPARAM lp) -> BOOL {
            if (!Ours(top) || !IsWindowVisible(top)) return TRUE;
            EnumChildWindows(
                top,
                [](HWND h, LPARAM lp2) -> BOOL {
                    auto* s = reinterpret_cast<Search*>(lp2);
                    wchar_t cls[16] = {};
                    GetClassNameW(h, cls, 16);
                    if (GetDlgCtrlID(h) == s->id && IsWindowVisible(h) &&
                        _wcsicmp(cls, s->cls) == 0) {
                        s->found = h;
                        return FALSE;
                    }
                    return TRUE;
                },
                lp);
            return reinterpret_cast<Search*>(lp)->found ? FALSE : TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForControl(int id, DWORD limit) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND h = FindControl(id)) return h;
        if (GetTickCount() - start >= limit) return nullptr;
        Sleep(50);
    }
}

// A visible dialog of ours that is not the main window: a message box, an editor, the log
// window or the settings sheet.
HWND FindDialog() {
    HWND found = nullptr;
    EnumWindows(
        [](HWND h, LPARAM lp) -> BOOL {
            if (!Ours(h) || !IsWindowVisible(h)) return TRUE;
            wchar_t cls[64] = {};
            GetClassNameW(h, cls, 64);
            if (wcscmp(cls, L"#32770") == 0 && !(GetDlgItem(h, 1001) && GetDlgItem(h, 1053))) {
                *reinterpret_cast<HWND*>(lp) = h;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string Utf8(const wchar_t* s);

std::wstring Wide(const char* s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s, -1, out.data(), n);
    return out;
}

// Closes one dialog and describes it: "title: text of its first unnamed static" (the text of
// a message box). A sheet is told to press its button; every other dialog gets IDCANCEL, which
// message boxes with only OK also accept.
std::string CloseDialog(HWND h, bool ok) {
    wchar_t title[256] = {}, text[1024] = {};
    GetWindowTextW(h, title, 256);
    if (HWND label = GetDlgItem(h, 0xFFFF))
        SendMessageW(label, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    if (FindWindowExW(h, nullptr, L"SysTabControl32", nullptr))
        PostMessageW(h, PSM_PRESSBUTTON, ok ? PSBTN_OK : PSBTN_CANCEL, 0);
    else
        PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
    std::string line = Utf8(title);
    if (text[0]) line += ": " + Utf8(text);
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    return line;
}

std::string Utf8(const wchar_t* s) {
    int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s, -1, out.data(), n, nullptr, nullptr);
    return out;
}

// Puts `w` to the right of the main window, at least as tall as it, in what is left of the
// screen.
void PlaceBeside(HWND w) {
    HWND main = FindMainWindow();
    if (!main) return;
    RECT m;
    GetWindowRect(main, &m);
    const int screen = GetSystemMetrics(SM_CXSCREEN);
    const int width = std::max(560, static_cast<int>(screen - m.right));
    const int x = std::min(static_cast<int>(m.right), screen - width);
    const int height = std::max(640, static_cast<int>(m.bottom - m.top));
    SetWindowPos(w, nullptr, x, m.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strncmp(argv[1], "pid=", 4) == 0) {
        onlyPid = std::strtoul(argv[1] + 4, nullptr, 10);
        --argc;
        ++argv;
    }
    if (argc < 2) return 2;
    std::string what = argv[1];
    const DWORD ms = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 0;
    const int id = argc > 2 ? std::atoi(argv[2]) : 0;
    if (what == "start" && argc > 2) {
        std::string cmd = std::string("\"") + argv[2] + "\"";
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi))
            return 1;
        std::printf("%lu\n", static_cast<unsigned long>(pi.dwProcessId));
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return 0;
    }
    if (what == "hold" && argc > 4) {
        const std::wstring file = Wide(argv[2]), flag = Wide(argv[3]);
        HANDLE h = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return 1;
        std::printf("held\n");
        std::fflush(stdout);
        const DWORD limit = std::strtoul(argv[4], nullptr, 10), start = GetTickCount();
        while (GetFileAttributesW(flag.c_str()) == INVALID_FILE_ATTRIBUTES &&
               GetTickCount() - start < limit)
            Sleep(50);
        CloseHandle(h);
        return 0;
    }
    if ((what == "ended" || what == "kill") && onlyPid != 0) {
        HANDLE p = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, onlyPid);
        if (!p) return 0;  // already gone
        if (what == "kill") TerminateProcess(p, 1);
        const DWORD r = WaitForSingleObject(p, what == "kill" ? 5000 : ms);
        CloseHandle(p);
        return r == WAIT_OBJECT_0 ? 0 : 1;
    }
    if (what == "find" && argc > 3) {
        HWND h = WaitForControl(id, std::strtoul(argv[3], nullptr, 10));
        if (!h) return 1;
        wchar_t title[256] = {};
        GetWindowTextW(GetAncestor(h, GA_ROOT), title, 256);
        std::printf("%s\n", Utf8(title).c_str());
        return 0;
    }
    if (what == "gone" && argc > 3) {
        const DWORD limit = std::strtoul(argv[3], nullptr, 10), start = GetTickCount();
        while (FindControl(id)) {
            if (GetTickCount() - start >= limit) return 1;
            Sleep(50);
        }
        return 0;
    }
    if (what == "settext" && argc > 3) {
        HWND h = FindControl(id, L"Edit");
        if (!h) return 1;
        const std::wstring text = Wide(argv[3]);
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                 SMTO_NORMAL, 5000, &result))
            return 1;
        return 0;
    }
    if (what == "click" || what == "checked" || what == "sheet-ok") {
        HWND h = argc > 2 ? FindControl(id) : nullptr;
        if (!h) return 1;
        if (what == "checked") {
            std::printf("%d\n", SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
        } else if (what == "click") {
            // Sent, so that the click is complete when the helper returns; a message box that
            // the click opens makes the send time out instead of hanging the test.
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutW(h, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &result)) return 1;
        } else {
            PostMessageW(GetAncestor(h, GA_ROOT), PSM_PRESSBUTTON, PSBTN_OK, 0);
        }
        return 0;
    }
    if (what == "dismiss") {
        const bool ok = argc > 3 && std::strcmp(argv[3], "ok") == 0;
        const DWORD begin = GetTickCount();
        DWORD start = begin, limit = ms;
        HWND last = nullptr;
        int closed = 0;
        // A window that will not close must not hold the caller forever.
        while (GetTickCount() - start < limit && GetTickCount() - begin < ms + 15000) {
            HWND h = FindDialog();
            if (!h) {
                Sleep(50);
                continue;
            }
            // The same window still up: its close is on its way.
            if (h != last) {
                std::printf("%s\n", CloseDialog(h, ok).c_str());
                std::fflush(stdout);
                ++closed;
                last = h;
            }
            Sleep(100);
            // After a close, look a little longer for what comes next (a message box that a
            // worker shows while the dialog was up).
            start = GetTickCount();
            limit = 500;
        }
        return closed > 0 ? 0 : 1;
    }
    if (what == "chart") {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < ms) {
            for (HWND h = nullptr;
                 (h = FindWindowExW(nullptr, h, nullptr, L"Movra - график канала")) != nullptr;) {
                if (Ours(h) && IsWindowVisible(h)) {
                    if (argc > 3 && std::strcmp(argv[3], "beside") == 0) PlaceBeside(h);
                    std::printf("1\n");
                    return 0;
                }
            }
            Sleep(50);
        }
        return 1;
    }
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
                WPARAM answer = IDOK;
                if (argc > 3)
                    answer = std::strcmp(argv[3], "yes") == 0      ? IDYES
                             : std::strcmp(argv[3], "cancel") == 0 ? IDCANCEL
                                                                   : IDNO;
                PostMessageW(box, WM_COMMAND, answer, 0);
                return 0;
            }
            Sleep(50);
        }
        return 1;
    }
    HWND main = FindMainWindow();
    if (!main) return 1;
    if (what == "title") {
        wchar_t title[512] = {};
        GetWindowTextW(main, title, 512);
        std::printf("%s\n", Utf8(title).c_str());
        return 0;
    }
    if (what == "command" && argc > 2) {
        // Several ids are posted back to back, as fast as a user cannot click.
        for (int i = 2; i < argc; ++i) PostMessageW(main, WM_COMMAND, std::atoi(argv[i]), 0);
        return 0;
    }
    if (what == "close") {
        PostMessageW(main, WM_CLOSE, 0, 0);
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
