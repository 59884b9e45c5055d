// The settings sheet and the editors, driven in-process under Wine: each dialog runs modally on
// the test's thread while a driver thread types into it, presses its buttons and answers its
// message boxes. Every wait has a time-out, so a missing window fails the test instead of
// hanging it.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "ui/editors_res.h"
#include "ui/model_port.h"
#include "ui/win/editors.h"

namespace movra {
namespace {

using namespace std::chrono_literals;

std::wstring GetText(HWND h) {
    wchar_t buf[1024] = {};
    SendMessageW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
    return buf;
}

struct FindBox {
    DWORD pid;
    HWND found;
};

// A message box of this process: a dialog with the static text 0xFFFF.
HWND FindMessageBox() {
    FindBox f{GetCurrentProcessId(), nullptr};
    EnumWindows(
        [](HWND h, LPARAM lp) -> BOOL {
            auto* f = reinterpret_cast<FindBox*>(lp);
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            if (pid == f->pid && IsWindowVisible(h) && GetDlgItem(h, 0xFFFF)) {
                f->found = h;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&f));
    return f.found;
}

HWND WaitFor(const std::function<HWND()>& find, std::chrono::milliseconds limit = 10s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (HWND h = find()) return h;
        std::this_thread::sleep_for(20ms);
    }
    return nullptr;
}

HWND WaitWindow(const wchar_t* title) {
    return WaitFor([&] {
        HWND h = FindWindowW(nullptr, title);
        return (h && IsWindowVisible(h)) ? h : nullptr;
    });
}

// Waits for a message box, returns its text and closes it ("" when none came).
std::wstring AnswerMessage() {
    HWND box = WaitFor(FindMessageBox);
    if (!box) return L"";
    std::wstring text = GetText(GetDlgItem(box, 0xFFFF));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    WaitFor([&] { return IsWindow(box) && IsWindowVisible(box) ? nullptr : HWND(1); });
    return text;
}

// Lets the dialog's thread handle everything posted so far.
void Settle(HWND h) {
    SendMessageW(h, WM_NULL, 0, 0);
    std::this_thread::sleep_for(50ms);
    SendMessageW(h, WM_NULL, 0, 0);
}

// Posted, as a user's click is, and handled before the next step.
void Click(HWND dlg, int id) {
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
    Settle(dlg);
}

void SetCtl(HWND dlg, int id, const wchar_t* text) {
    SendMessageW(GetDlgItem(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

std::wstring Ctl(HWND dlg, int id) {
    return GetText(GetDlgItem(dlg, id));
}

HWND FocusOf(HWND h) {
    GUITHREADINFO gi = {};
    gi.cbSize = sizeof(gi);
    GetGUIThreadInfo(GetWindowThreadProcessId(h, nullptr), &gi);
    return gi.hwndFocus;
}

// Saves a picture of a window as a BMP when MOVRA_SHOT_DIR names a folder.
void Shot(HWND h, const wchar_t* name) {
    wchar_t dir[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"MOVRA_SHOT_DIR", dir, MAX_PATH)) return;
    Settle(h);
    std::this_thread::sleep_for(300ms);
    RECT r;
    GetWindowRect(h, &r);
    const int w = r.right - r.left, ht = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = ht;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, ht, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    const DWORD stride = ((w * 3 + 3) & ~3), size = stride * ht;
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
    fh.bfSize = fh.bfOffBits + size;
    std::wstring path = std::wstring(dir) + L"\\" + name + L".bmp";
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n;
    WriteFile(f, &fh, sizeof(fh), &n, nullptr);
    WriteFile(f, &bi.bmiHeader, sizeof(bi.bmiHeader), &n, nullptr);
    WriteFile(f, bits, size, &n, nullptr);
    CloseHandle(f);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
}

// Runs `drive` on a driver thread while `run` shows a dialog on this thread. Whatever the driver
// left open (a failed expectation ends it early) is cancelled, so a failure never hangs.
template <class Run>
void Drive(Run&& run, std::function<void()> drive) {
    std::atomic<bool> done{false};
    std::thread driver([&] {
        drive();
        while (!done) {
            EnumWindows(
                [](HWND h, LPARAM) -> BOOL {
                    DWORD pid = 0;
                    GetWindowThreadProcessId(h, &pid);
                    if (pid == GetCurrentProcessId() && IsWindowVisible(h))
                        PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
                    return TRUE;
                },
                0);
            std::this_thread::sleep_for(200ms);
        }
    });
    run();
    done = true;
    driver.join();
}

class EditorsGui : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
    }
    Model m;
    test::ModelPort port{m};
    EditorHooks hooks;
    Settings Snapshot() {
        Model::Guard g(m);
        return m.settings;
    }
};

HWND CurrentPage(HWND sheet) {
    return PropSheet_GetCurrentPageHwnd(sheet);
}

TEST_F(EditorsGui, SettingsBadTextKeepsThePageAndWhatWasTakenBeforeIt) {
    bool ok = true;
    Drive([&] { ok = ShowSettings(nullptr, port, hooks); },
          [&] {
              HWND sheet = WaitWindow(L"Настройки Movra");
              ASSERT_TRUE(sheet);
              HWND page = CurrentPage(sheet);
              Shot(sheet, L"settings_main");
              SetCtl(page, IDC_SETT_RXMAX, L"2048");
              SetCtl(page, IDC_SETT_TXMAX, L"abc");
              PostMessageW(sheet, PSM_SETCURSEL, 1, 0);
              EXPECT_EQ(AnswerMessage(), L"Please enter a positive integer.");
              Settle(sheet);
              EXPECT_EQ(CurrentPage(sheet), page);
              EXPECT_EQ(FocusOf(sheet), GetDlgItem(page, IDC_SETT_TXMAX));
              EXPECT_EQ(Snapshot().RXMAXkbit, 2048u);
              // Now it goes, and Cancel keeps what the switch took.
              SetCtl(page, IDC_SETT_TXMAX, L"100");
              SetCtl(page, IDC_SETT_SERVER, L"ti.example");
              PostMessageW(sheet, PSM_SETCURSEL, 1, 0);
              Settle(sheet);
              HWND traffic = CurrentPage(sheet);
              EXPECT_NE(traffic, page);
              EXPECT_EQ(Ctl(traffic, IDC_TRAFF_START_KOEFF), L"100");
              Shot(sheet, L"settings_traffic");
              SetCtl(traffic, IDC_TRAFF_SAFE, L"777");
              PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
          });
    EXPECT_FALSE(ok);
    Settings s = Snapshot();
    EXPECT_EQ(s.Server, u"ti.example");
    EXPECT_EQ(s.TXMAXkbit, 100u);
    EXPECT_EQ(s.SpeedLimTraff_SefeTraff, 100);  // the active page is not taken on Cancel
}

TEST_F(EditorsGui, SettingsGridSizeOutOfRangeKeepsTheSheetOpenAndOkTakesMode3) {
    bool ok = false;
    Drive([&] { ok = ShowSettings(nullptr, port, hooks); },
          [&] {
              HWND sheet = WaitWindow(L"Настройки Movra");
              ASSERT_TRUE(sheet);
              HWND page = CurrentPage(sheet);
              EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_SETT_MODE2)));
              EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, IDOK)));
              EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, IDCANCEL)));
              SetCtl(page, IDC_SETT_GRIDSIZE, L"600");
              PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
              EXPECT_EQ(AnswerMessage(), L"Please enter an integer between 0 and 500.");
              Settle(sheet);
              EXPECT_TRUE(IsWindow(sheet));
              SetCtl(page, IDC_SETT_GRIDSIZE, L"12");
              SendMessageW(GetDlgItem(page, IDC_SETT_MODE0), BM_SETCHECK, BST_UNCHECKED, 0);
              SendMessageW(GetDlgItem(page, IDC_SETT_MODE3), BM_SETCHECK, BST_CHECKED, 0);
              PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
          });
    EXPECT_TRUE(ok);
    EXPECT_EQ(Snapshot().GridSize, 12u);
    EXPECT_EQ(Snapshot().TrafficSpeedAutoControll, 3);
}

// Another window of the service changed the record while this sheet was open: OK takes nothing,
// the page shows the record as it is now and the sheet stays; a second OK goes through.
TEST_F(EditorsGui, SettingsChangedElsewhereAreShownNotOverwritten) {
    bool ok = false;
    Drive([&] { ok = ShowSettings(nullptr, port, hooks); },
          [&] {
              HWND sheet = WaitWindow(L"Настройки Movra");
              ASSERT_TRUE(sheet);
              HWND page = CurrentPage(sheet);
              SetCtl(page, IDC_SETT_SERVER, L"mine.host");
              {
                  Model::Guard g(m);
                  m.settings.Server = u"theirs.host";
              }
              ++port.revision;
              PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
              Settle(sheet);
              EXPECT_TRUE(IsWindow(sheet));
              EXPECT_EQ(Ctl(page, IDC_SETT_SERVER), L"theirs.host");
              EXPECT_EQ(Snapshot().Server, u"theirs.host");
              SetCtl(page, IDC_SETT_GRIDSIZE, L"14");
              PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
          });
    EXPECT_TRUE(ok);
    EXPECT_EQ(Snapshot().Server, u"theirs.host");
    EXPECT_EQ(Snapshot().GridSize, 14u);
}

TEST_F(EditorsGui, SettingsButtonsRestoreLoadClearAndAutoMeasureEnabling) {
    hooks.LoadConfig = [&] {
        Model::Guard g(m);
        m.settings.Server = u"loaded.host";
        m.settings.SpeedLimTraff_MaxTraff = 4242;
    };
    int saves = 0;
    hooks.SaveConfig = [&] { ++saves; };
    Drive([&] { ShowSettings(nullptr, port, hooks); },
          [&] {
              HWND sheet = WaitWindow(L"Настройки Movra");
              ASSERT_TRUE(sheet);
              HWND page = CurrentPage(sheet);
              // Off in the record: both disabled on first show.
              EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_SETT_MIN_RX)));
              EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_SETT_CORRECTION)));
              SendMessageW(GetDlgItem(page, IDC_SETT_AUTOMEASURE), BM_SETCHECK, BST_CHECKED, 0);
              Click(page, IDC_SETT_AUTOMEASURE);
              Settle(page);
              EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_SETT_MIN_RX)));
              EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_SETT_CORRECTION)));
              SendMessageW(GetDlgItem(page, IDC_SETT_AUTOMEASURE), BM_SETCHECK, BST_UNCHECKED, 0);
              Click(page, IDC_SETT_AUTOMEASURE);
              Settle(page);
              EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_SETT_MIN_RX)));
              EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_SETT_CORRECTION)));
              EXPECT_EQ(Snapshot().AutoMeasure, 0);

              SetCtl(page, IDC_SETT_SERVER, L"typed");
              Click(page, IDC_SETT_RESTORE);
              Settle(page);
              EXPECT_EQ(Ctl(page, IDC_SETT_SERVER), L"192.168.0.1");

              SetCtl(page, IDC_SETT_LOGFILE, L"other.log");
              Click(page, IDC_SETT_CLEAR_LOG);
              Settle(page);

              SetCtl(page, IDC_SETT_REFRESH, L"x");
              Click(page, IDC_SETT_SAVE);
              EXPECT_EQ(AnswerMessage(), L"Please enter a positive integer.");
              SetCtl(page, IDC_SETT_REFRESH, L"900");
              Click(page, IDC_SETT_SAVE);
              Settle(page);

              Click(page, IDC_SETT_LOAD);
              Settle(page);
              EXPECT_EQ(Ctl(page, IDC_SETT_SERVER), L"loaded.host");
              PostMessageW(sheet, PSM_SETCURSEL, 1, 0);
              Settle(sheet);
              EXPECT_EQ(Ctl(CurrentPage(sheet), IDC_TRAFF_MAX), L"4242");
              PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
          });
    EXPECT_EQ(port.clearedNames, std::vector<Text>{u"Movra.log"});
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(Snapshot().RefreshTimer_msec, 900u);
}

TEST_F(EditorsGui, SettingsOkRefusesAnEmptyPassword) {
    bool ok = true;
    Drive([&] { ok = ShowSettings(nullptr, port, hooks); },
          [&] {
              HWND sheet = WaitWindow(L"Настройки Movra");
              ASSERT_TRUE(sheet);
              SetCtl(CurrentPage(sheet), IDC_SETT_PASSWORD, L"");
              PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
              EXPECT_EQ(AnswerMessage(), L"Введите пароль!");
              Settle(sheet);
              EXPECT_TRUE(IsWindow(sheet));
              PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
          });
    EXPECT_FALSE(ok);
}

int Rows(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring Cell(HWND list, int row, int col) {
    wchar_t buf[256] = {};
    LVITEMW it = {};
    it.iSubItem = col;
    it.pszText = buf;
    it.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&it));
    return buf;
}

void Select(HWND list, int row) {
    LVITEMW it = {};
    it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    it.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&it));
}

TEST_F(EditorsGui, GroupsAddChangeMoveAndDelete) {
    {
        Model::Guard g(m);
        m.settings.RXMAXkbit = 1000;
        for (auto n : {u"anna", u"boris", u"vera"}) m.AddUserByName(n);
    }
    GroupsEditorState state;
    Drive([&] { ShowGroupsEditor(nullptr, port, state, hooks); },
          [&] {
              HWND dlg = WaitWindow(L"Редактор групп");
              ASSERT_TRUE(dlg);
              HWND groups = GetDlgItem(dlg, IDC_GR_LIST);
              HWND freeList = GetDlgItem(dlg, IDC_GR_FREE_USERS);
              HWND members = GetDlgItem(dlg, IDC_GR_MEMBERS);
              EXPECT_EQ(Ctl(dlg, IDC_GR_CAPTION_LEFT), L"Макс. канал на прием: 1000.0 кбит/с");
              EXPECT_EQ(Rows(freeList), 3);
              // Empty name: nothing.
              Click(dlg, IDC_GR_ADD);
              Settle(dlg);
              EXPECT_EQ(Rows(groups), 0);
              SetCtl(dlg, IDC_GR_NAME, L"office");
              SetCtl(dlg, IDC_GR_SHARE, L"0.6");
              Click(dlg, IDC_GR_ADD);
              SetCtl(dlg, IDC_GR_NAME, L"lab");
              SetCtl(dlg, IDC_GR_SHARE, L"abc");
              Click(dlg, IDC_GR_ADD);
              EXPECT_EQ(AnswerMessage(), L"Please enter a number.");
              Settle(dlg);
              EXPECT_EQ(Rows(groups), 1);
              SetCtl(dlg, IDC_GR_SHARE, L"0.5");
              Click(dlg, IDC_GR_ADD);
              Settle(dlg);
              ASSERT_EQ(Rows(groups), 2);
              EXPECT_EQ(Cell(groups, 0, 2), L"60.00% (600.0 кбит/с max)");
              EXPECT_EQ(Ctl(dlg, IDC_GR_CAPTION_RIGHT),
                        L"1.10 из 1.0 использовано под группы. Остаток: -0.10");
              // The edit's text is not re-read: "lab", entered last, is the target.
              SetCtl(dlg, IDC_GR_NAME, L"office");
              Select(freeList, 1);
              Click(dlg, IDC_GR_TO_GROUP);
              Settle(dlg);
              EXPECT_EQ(Rows(freeList), 2);
              ASSERT_EQ(Rows(members), 1);
              EXPECT_EQ(Cell(members, 0, 0), L"boris");
              EXPECT_EQ(Cell(groups, 1, 3), L"1");
              EXPECT_EQ(Cell(groups, 1, 4), L"1.00");
              // Selecting the first group shows its single-precision share.
              Select(groups, 0);
              Settle(dlg);
              EXPECT_EQ(Ctl(dlg, IDC_GR_NAME), L"office");
              EXPECT_EQ(Ctl(dlg, IDC_GR_SHARE), L"0.600000023841858");
              EXPECT_EQ(Rows(members), 0);
              Select(freeList, 0);
              Click(dlg, IDC_GR_TO_GROUP);
              Settle(dlg);
              Shot(dlg, L"groups");
              Select(members, 0);
              Click(dlg, IDC_GR_FROM_GROUP);
              Settle(dlg);
              EXPECT_EQ(Rows(members), 0);
              EXPECT_EQ(Cell(groups, 0, 3), L"0");
              // Delete "office" (id 1): "lab" becomes id 1, boris follows it.
              Click(dlg, IDC_GR_DELETE);
              Settle(dlg);
              ASSERT_EQ(Rows(groups), 1);
              EXPECT_EQ(Cell(groups, 0, 0), L"1");
              EXPECT_EQ(Cell(groups, 0, 1), L"lab");
              PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
          });
    // Every change reached the lists as one request; the refused share sent none.
    using K = GroupsRequest::Kind;
    EXPECT_EQ(port.groupRequests,
              (std::vector<K>{K::kAddOrChange, K::kAddOrChange, K::kAddOrChange, K::kMoveUser,
                              K::kMoveUser, K::kRemoveUser, K::kDeleteGroup}));
    Model::Guard g(m);
    EXPECT_EQ(m.NumGroups, 2);
    EXPECT_EQ(m.User(1).UserGrID, 1);
    EXPECT_EQ(m.User(0).UserGrID, 0);
    EXPECT_EQ(state.groupName, u"office");  // kept for the next showing
}

TEST_F(EditorsGui, GroupsImportRedrawsWhenTheImportEnds) {
    std::atomic<bool>& running = port.running;
    hooks.StartGroupsImport = [&] { running = true; };
    GroupsEditorState state;
    Drive([&] { ShowGroupsEditor(nullptr, port, state, hooks); },
          [&] {
              HWND dlg = WaitWindow(L"Редактор групп");
              ASSERT_TRUE(dlg);
              Click(dlg, IDC_GR_IMPORT);
              Settle(dlg);
              {
                  Model::Guard g(m);  // what the import thread brings meanwhile
                  m.FindOrAddGroup(u"imported");
              }
              EXPECT_EQ(Rows(GetDlgItem(dlg, IDC_GR_LIST)), 0);
              running = false;
              HWND list = GetDlgItem(dlg, IDC_GR_LIST);
              EXPECT_TRUE(WaitFor([&] { return Rows(list) == 1 ? list : nullptr; }, 5s));
              PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
          });
}

TEST_F(EditorsGui, LimitEditorValidatesTheCoefficientAndGoesRowByRow) {
    {
        Model::Guard g(m);
        for (auto n : {u"a", u"b", u"c"}) m.User(m.AddUserByName(n)).LimitIn = 64;
    }
    Drive(
        [&] {
            EditUserLimits(nullptr, port, {u"a", u"b", u"c"});
        },
        [&] {
            const wchar_t* title = L"Изменение ограничения скорости клиента";
            HWND dlg = WaitWindow(title);
            ASSERT_TRUE(dlg);
            EXPECT_EQ(Ctl(dlg, IDC_CHG_NAME), L"a");
            EXPECT_EQ(Ctl(dlg, IDC_CHG_NEW_IN), L"64");
            EXPECT_EQ(Ctl(dlg, IDC_CHG_KOEFF), L"1");
            Shot(dlg, L"limits");
            SetCtl(dlg, IDC_CHG_KOEFF, L"1000001");
            PostMessageW(dlg, WM_COMMAND, IDOK, 0);
            EXPECT_EQ(AnswerMessage(), L"Please enter a number between 0 and 1000000.");
            SetCtl(dlg, IDC_CHG_KOEFF, L"1000000");
            SetCtl(dlg, IDC_CHG_NEW_IN, L"128");
            PostMessageW(dlg, WM_COMMAND, IDOK, 0);
            HWND second = WaitFor([&] {
                HWND h = FindWindowW(nullptr, title);
                return h && h != dlg && Ctl(h, IDC_CHG_NAME) == L"b" ? h : nullptr;
            });
            ASSERT_TRUE(second);
            SetCtl(second, IDC_CHG_MAX_IN, L"5");
            PostMessageW(second, WM_COMMAND, IDCANCEL, 0);
            HWND third = WaitFor([&] {
                HWND h = FindWindowW(nullptr, title);
                return h && Ctl(h, IDC_CHG_NAME) == L"c" ? h : nullptr;
            });
            ASSERT_TRUE(third);
            SetCtl(third, IDC_CHG_MAX_OUT, L"-3");
            PostMessageW(third, WM_COMMAND, IDOK, 0);
        });
    Model::Guard g(m);
    EXPECT_EQ(m.User(0).UserKTraff, 1000000.0f);
    EXPECT_EQ(m.User(0).NewLimitIn, 128);
    EXPECT_EQ(m.User(0).NewLimitOut, 0);
    EXPECT_EQ(m.User(1).UserLimitMaxIn, 0);
    EXPECT_EQ(m.User(2).UserLimitMaxOut, -3);
    EXPECT_EQ(m.User(2).NewLimitIn, -1);  // no limit changed: nothing pending
}

TEST_F(EditorsGui, AddUserTakesTheNameAsTypedAndCancelGivesNothing) {
    std::optional<Text> name;
    Drive([&] { name = ShowAddUserDialog(nullptr); },
          [&] {
              HWND dlg = WaitWindow(L"Добавить пользователя ТИ в список мониторинга");
              ASSERT_TRUE(dlg);
              EXPECT_TRUE(GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
              Settle(dlg);
              EXPECT_EQ(FocusOf(dlg), GetDlgItem(dlg, IDC_ADD_NAME));
              SetCtl(dlg, IDC_ADD_NAME, L" bob");
              Shot(dlg, L"adduser");
              PostMessageW(dlg, WM_COMMAND, IDOK, 0);
          });
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, u" bob");
    AddUserOutcome first = AddUserNamed(m, *name);
    EXPECT_EQ(first.result, AddUserResult::kAdded);
    EXPECT_EQ(AddUserNamed(m, *name).message, u" bob уже есть в списке");

    Drive([&] { name = ShowAddUserDialog(nullptr); },
          [&] {
              HWND dlg = WaitWindow(L"Добавить пользователя ТИ в список мониторинга");
              ASSERT_TRUE(dlg);
              SetCtl(dlg, IDC_ADD_NAME, L"carl");
              PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
          });
    EXPECT_FALSE(name);
}

}  // namespace
}  // namespace movra
