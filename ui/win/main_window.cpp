#include "ui/win/main_window.h"

#include <commctrl.h>
#include <shellapi.h>
#include <uxtheme.h>

#include <algorithm>
#include <cwchar>

#include "app/exit_deadline.h"
#include "core/file_system.h"
#include "core/log_flags.h"
#include "ui/commands.h"
#include "ui/win/dpi.h"
#include "ui/win/editors.h"
#include "ui/win/log_dlg.h"
#include "ui/win/resource.h"
#include "ui/win/win_util.h"

namespace movra {

namespace {

constexpr UINT_PTR kUsersChangedTimer = 1;
// While an exit is pending: closes the window once no worker runs (a worker that gave up
// because of the exit logs no line to complete it on, and the last line comes before the
// release), and ends the process at the exit's bound.
constexpr UINT_PTR kExitPendingTimer = 2;
constexpr UINT kExitPendingPollMs = 100;
constexpr wchar_t kSessionEndReason[] = L"Movra восстанавливает ограничения пользователей";
// Users-changed notices closer together than this are one burst: one gauge rebuild.
constexpr UINT kUsersChangedQuietMs = 40;
// A steady stream of notices still rebuilds this often.
constexpr int64_t kUsersChangedMaxDelayMs = 300;
constexpr UINT WM_AFTERFIRSTPAINT = WM_APP + 1;
const Text kStopServiceQuestion =
    u"Остановить службу Movra? Регулирование прекратится, и будет выполнено действие при выходе.";
// After a change of DPI, once the dialog manager has given the controls their new fonts.
constexpr UINT WM_AFTERDPICHANGE = WM_APP + 2;
// The open list of the event drop-down below its field, at 96 DPI.
constexpr int kEventDropHeight = 220;

// The event list's line height at `dpi`.
UINT EventItemHeight(int dpi) {
    return static_cast<UINT>(Scale(ui::kEventItemHeight, dpi));
}

// The layout's fixed offsets and sizes are 96-DPI pixels; the parts that follow the window's
// size stay as they are. Each value is the window-dependent part (its value less its value for
// a window of size 0) plus its fixed part scaled.
ui::Layout ScaledLayOut(int w, int h, int dpi) {
    const ui::Layout fixed = ui::LayOut(0, 0), at = ui::LayOut(w, h);
    auto scale = [dpi](const ui::Box& f, const ui::Box& a) {
        return ui::Box{a.x - f.x + Scale(f.x, dpi), a.y - f.y + Scale(f.y, dpi),
                       a.w - f.w + Scale(f.w, dpi), a.h - f.h + Scale(f.h, dpi)};
    };
    return {scale(fixed.table, at.table), scale(fixed.options, at.options),
            scale(fixed.events, at.events)};
}

// The tray icon's record: the window, the icon's id and message, the icon and its tip.
NOTIFYICONDATAW TrayRecord(HWND window, HICON icon, const Text& tip) {
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof(nid);
    nid.hWnd = window;
    nid.uID = kTrayIconId;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = WM_TRAYNOTIFY;
    nid.hIcon = icon;
    const size_t n = std::min<size_t>(tip.size(), std::size(nid.szTip) - 1);
    std::copy(tip.begin(), tip.begin() + static_cast<ptrdiff_t>(n), nid.szTip);
    nid.szTip[n] = 0;
    return nid;
}

// Handles what is queued for this thread, including the messages other threads send to it.
void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool SaveChartCsv(const std::string& bytes, const Text& path, Text& error) {
    PlatformFileSystem fs;
    return chart::SaveCsv(bytes, path, fs, error);
}

}  // namespace

CmovraDlg::CmovraDlg(AppPort& app, const Clock& clock)
    : app_(app),
      clock_(clock),
      table_({[this](int id) { RunCommand(id); }, [this] { TableMenu(); },
              [this] { RefreshTableNow(); }, [this](const Text& text) { ShowMessage(text); }},
             clock_),
      chart_({&app.History(), [this] { return ChartUnit(); },
              [this] { return app_.HistoryNow(clock_); }, SaveChartCsv}) {
    uiThread_ = GetCurrentThreadId();
    app_.Attach(this);
    SetWindowFailureLink(this);
}

CmovraDlg::~CmovraDlg() {
    // The application's exit has ended before (or no worker runs): nothing calls in any more.
    SetWindowFailureLink(nullptr);
    app_.Attach(nullptr);
    logWindow_.store(nullptr);
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    for (HICON& i : icons_) {
        if (i) DestroyIcon(i);
        i = nullptr;
    }
    for (HICON& i : captionIcons_) {
        if (i) DestroyIcon(i);
        i = nullptr;
    }
    if (tableMenu_) DestroyMenu(tableMenu_);
    if (trayMenu_) DestroyMenu(trayMenu_);
}

INT_PTR CmovraDlg::RunModal(HINSTANCE inst) {
    inst_ = inst;
    modal_ = true;
    return DialogBoxParamW(inst, MAKEINTRESOURCEW(IDD_MOVRA_DIALOG), nullptr, DlgProc,
                           reinterpret_cast<LPARAM>(this));
}

HWND CmovraDlg::CreateModeless(HINSTANCE inst) {
    inst_ = inst;
    modal_ = false;
    return CreateDialogParamW(inst, MAKEINTRESOURCEW(IDD_MOVRA_DIALOG), nullptr, DlgProc,
                              reinterpret_cast<LPARAM>(this));
}

HICON CmovraDlg::IconHandle(TrayIcon which) const {
    switch (which) {
        case TrayIcon::kRegulating:
            return icons_[0];
        case TrayIcon::kMonitoring:
            return icons_[1];
        default:
            return icons_[2];
    }
}

// ---- Window link ----

void CmovraDlg::LogLine(uint32_t flags, const Text& text) {
    HWND w = logWindow_.load();
    if (w) SendMessageW(w, WM_LOGLINE, flags, reinterpret_cast<LPARAM>(&text));
}

void CmovraDlg::RefreshTable() {
    if (GetCurrentThreadId() != uiThread_) {
        HWND w = logWindow_.load();
        if (w) SendMessageW(w, WM_REFRESHTABLE, 0, 0);
        return;
    }
    RefreshTableNow();
}

void CmovraDlg::UsersChanged() {
    HWND w = logWindow_.load();
    // Workers know the window only through the published handle.
    if (!w && GetCurrentThreadId() == uiThread_) w = hwnd_;
    if (w) SendMessageW(w, WM_USERSCHANGED, 0, 0);
}

void CmovraDlg::CycleSummaryReady(const CycleSummary& summary) {
    HWND w = logWindow_.load();
    if (w) SendMessageW(w, WM_CYCLESUMMARY, 0, reinterpret_cast<LPARAM>(&summary));
}

void CmovraDlg::ShowMessage(const Text& text) {
    // On the window's thread the box is modal to the window; a worker shows its own box without
    // an owner, so that it never waits on the window's thread.
    HWND owner = (GetCurrentThreadId() == uiThread_ && hwnd_ && IsWindow(hwnd_)) ? hwnd_ : nullptr;
    ShowMessageBox(owner, text, BoxIcon::kNone);
}

// ---- Dialog plumbing ----

bool CmovraDlg::IsCommand(WPARAM wp, LPARAM lp) const {
    const int code = HIWORD(wp);
    // Menus send 0, accelerators 1, and neither names a control.
    if (lp == 0) return code == 0 || code == 1;
    // From a control only a click of one of our buttons is a command. Everything else is a
    // notification: the status line reports every text set into it, the event list its
    // selection, and none of that may run a command.
    if (code != BN_CLICKED) return false;
    HWND from = reinterpret_cast<HWND>(lp);
    if (GetParent(from) != hwnd_ || GetDlgCtrlID(from) != LOWORD(wp)) return false;
    wchar_t cls[16] = {};
    GetClassNameW(from, cls, 16);
    return _wcsicmp(cls, WC_BUTTONW) == 0;
}

INT_PTR CALLBACK CmovraDlg::DlgProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    CmovraDlg* self = DialogObject<CmovraDlg>(h, msg, lp);
    if (self && msg == WM_INITDIALOG) self->hwnd_ = h;
    if (!self) {
        if (msg == WM_MEASUREITEM) {
            auto* mi = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
            if (mi->CtlID == IDC_EVENTS) {
                mi->itemHeight = EventItemHeight(DpiOf(h));
                return TRUE;
            }
        }
        return FALSE;
    }
    return GuardDialog([&] { return self->Handle(msg, wp, lp); });
}

INT_PTR CmovraDlg::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_INITDIALOG:
            OnInitDialog();
            // The keyboard starts in the table; the read-only status line would only show a caret.
            if (table_.Hwnd()) {
                SetFocus(table_.Hwnd());
                return FALSE;
            }
            return TRUE;
        case WM_PAINT:
            if (!firstPaintDone_) {
                firstPaintDone_ = true;
                PostMessageW(hwnd_, WM_AFTERFIRSTPAINT, 0, 0);
            }
            return FALSE;  // the dialog paints itself (centred icon when minimised)
        case WM_AFTERFIRSTPAINT:
            AfterFirstPaint();
            return TRUE;
        case WM_COMMAND:
            if (!IsCommand(wp, lp)) return FALSE;
            RunCommand(LOWORD(wp));
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wp & 0xFFF0) == IDM_ABOUTBOX) {
                About();
                return TRUE;
            }
            return FALSE;
        case WM_NOTIFY:
            return OnNotify(reinterpret_cast<NMHDR*>(lp));
        case WM_MEASUREITEM: {
            auto* mi = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
            if (mi->CtlID == IDC_EVENTS) {
                mi->itemHeight = EventItemHeight(dpi_);
                return TRUE;
            }
            return FALSE;
        }
        case WM_DRAWITEM: {
            auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
            if (di->CtlID == IDC_EVENTS) {
                OnDrawEventItem(di);
                return TRUE;
            }
            return FALSE;
        }
        case WM_LOGLINE:
            if (lp) OnLogLine(static_cast<uint32_t>(wp), *reinterpret_cast<const Text*>(lp));
            return DialogResult(hwnd_, 0);
        case WM_CYCLESUMMARY:
            if (lp) OnCycleSummary(*reinterpret_cast<const CycleSummary*>(lp));
            return TRUE;
        case WM_REFRESHTABLE:
            RefreshTableNow();
            return TRUE;
        case WM_USERSCHANGED:
            // The window's clock, not the tick count: tests drive the burst's age.
            if (!usersChangedPending_) usersChangedSince_ = clock_.SteadyMs();
            usersChangedPending_ = true;
            if (clock_.SteadyMs() - usersChangedSince_ >= kUsersChangedMaxDelayMs) {
                KillTimer(hwnd_, kUsersChangedTimer);
                usersChangedPending_ = false;
                RebuildGauges();
                FitHeight();
            } else {
                SetTimer(hwnd_, kUsersChangedTimer, kUsersChangedQuietMs, nullptr);
            }
            return TRUE;
        case WM_TIMER:
            if (wp == kExitPendingTimer) {
                if (app_.CheckExit() == ExitStep::kClose) {
                    KillTimer(hwnd_, kExitPendingTimer);
                    if (!closing_) CloseNow();
                }
                return TRUE;
            }
            if (wp == kUsersChangedTimer) {
                KillTimer(hwnd_, kUsersChangedTimer);
                if (usersChangedPending_) {
                    usersChangedPending_ = false;
                    RebuildGauges();
                    FitHeight();
                }
                return TRUE;
            }
            return FALSE;
        case WM_TRAYNOTIFY:
            OnTrayNotify(wp, lp);
            return TRUE;
        case WM_SERVICELOST:
            OnServiceLost();
            return TRUE;
        case WM_ACTIVATE:
            FitHeight();
            return FALSE;
        case WM_SIZE:
            if (wp != SIZE_MINIMIZED) {
                RECT r;
                GetWindowRect(hwnd_, &r);
                LayOut(r.right - r.left, r.bottom - r.top);
            }
            return FALSE;
        case WM_SIZING: {
            const RECT* r = reinterpret_cast<const RECT*>(lp);
            if (r->right != lastSizing_.right || r->bottom != lastSizing_.bottom) {
                lastSizing_ = *r;
                LayOut(r->right - r->left, r->bottom - r->top);
            }
            return FALSE;
        }
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wp), lp);
            // The dialog manager goes on to give the controls fonts of the new size.
            return FALSE;
        case WM_AFTERDPICHANGE:
            if (eventList_) {
                SendMessageW(eventList_, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1),
                             EventItemHeight(dpi_));
                SendMessageW(eventList_, CB_SETITEMHEIGHT, 0, EventItemHeight(dpi_));
            }
            FitHeight();
            return TRUE;
        case WM_CLOSE:
            OnClose();
            return TRUE;
        case WM_QUERYENDSESSION:
            OnQueryEndSession();
            return DialogResult(hwnd_, TRUE);
        case WM_ENDSESSION:
            if (wp) {
                OnEndSession();
            } else if (app_.ExitBegun() && hwnd_) {
                // Not ending after all: the exit that began completes as after Exit (the
                // workers can no longer start, so the window must not stay behind).
                SetTimer(hwnd_, kExitPendingTimer, kExitPendingPollMs, nullptr);
            }
            return DialogResult(hwnd_, 0);
        case WM_DESTROY:
            SetLostTarget(nullptr);
            KillTimer(hwnd_, kUsersChangedTimer);
            KillTimer(hwnd_, kExitPendingTimer);
            RemoveTrayIcon();
            logWindow_.store(nullptr);
            chart_.Close();
            return FALSE;
        case WM_NCDESTROY:
            hwnd_ = nullptr;
            table_.Detach();
            eventList_ = status_ = nullptr;
            return FALSE;
    }
    return FALSE;
}

void CmovraDlg::OnInitDialog() {
    dpi_ = DpiOf(hwnd_);
    table_.Attach(GetDlgItem(hwnd_, IDC_TABLE), inst_);
    eventList_ = GetDlgItem(hwnd_, IDC_EVENTS);
    status_ = GetDlgItem(hwnd_, IDC_STATUS);

    HMENU sys = GetSystemMenu(hwnd_, FALSE);
    if (sys) {
        AppendMenuW(sys, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(sys, MF_STRING, IDM_ABOUTBOX, L"&О программе Movra...");
    }
    // The tray shows icons of the small size at the system's DPI; each size has its own image
    // in the resources, drawn for it, so none is stretched.
    const int ids[3] = {IDR_MAINFRAME, IDI_MONITORING, IDI_DISCONNECTED};
    for (int i = 0; i < 3; ++i)
        icons_[i] = static_cast<HICON>(LoadImageW(inst_, MAKEINTRESOURCEW(ids[i]), IMAGE_ICON,
                                                  GetSystemMetrics(SM_CXSMICON),
                                                  GetSystemMetrics(SM_CYSMICON), 0));
    LoadCaptionIcons();
    tableMenu_ = LoadMenuW(inst_, MAKEINTRESOURCEW(IDR_TABLE_MENU));
    trayMenu_ = LoadMenuW(inst_, MAKEINTRESOURCEW(IDR_TRAY_MENU));
    if (stopService_) {
        for (HMENU menu : {tableMenu_, trayMenu_})
            if (menu)
                InsertMenuW(GetSubMenu(menu, 0), ID_EXIT, MF_BYCOMMAND | MF_STRING, ID_STOP_SERVICE,
                            L"Остановить службу");
    }
    SetLostTarget(hwnd_);

    RebuildGauges();
    FitHeight();

    trayIcon_ = IconHandle(TrayIcon::kDisconnected);
    trayTip_ = u"Movra";
    NOTIFYICONDATAW nid = TrayRecord(hwnd_, trayIcon_, trayTip_);
    trayShown_ = Shell_NotifyIconW(NIM_ADD, &nid) != FALSE;
}

void CmovraDlg::LoadCaptionIcons() {
    const int sizes[2][2] = {{SM_CXICON, SM_CYICON}, {SM_CXSMICON, SM_CYSMICON}};
    const WPARAM kinds[2] = {ICON_BIG, ICON_SMALL};
    for (int k = 0; k < 2; ++k) {
        HICON icon = static_cast<HICON>(LoadImageW(inst_, MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                   IMAGE_ICON, MetricForDpi(sizes[k][0], dpi_),
                                                   MetricForDpi(sizes[k][1], dpi_), 0));
        SendMessageW(hwnd_, WM_SETICON, kinds[k], reinterpret_cast<LPARAM>(icon));
        if (captionIcons_[k]) DestroyIcon(captionIcons_[k]);
        captionIcons_[k] = icon;
    }
}

void CmovraDlg::OnDpiChanged(int dpi, LPARAM suggested) {
    dpi_ = dpi;
    table_.DpiChanged(dpi);
    LoadCaptionIcons();
    TakeSuggestedRect(hwnd_, suggested);
    PostMessageW(hwnd_, WM_AFTERDPICHANGE, 0, 0);
}

void CmovraDlg::AfterFirstPaint() {
    logWindow_.store(hwnd_);
    // A Movra.cfg that start-up could not read was shown in a box before the window existed.
    if (const std::optional<Text> line = app_.TakeStartupLine()) OnLogLine(LOG_ERROR, *line);
    const movra::Settings settings = app_.CurrentSettings();
    const int32_t startMinimized = settings.StartMinimized;
    const int32_t storePassword = settings.StorePassword;
    if (startMinimized) {
        FitHeight();
        ShowWindow(hwnd_, SW_MINIMIZE);
        ShowWindow(hwnd_, SW_HIDE);
        hideAgain_ = true;
    }
    if (storePassword) Connect();
}

// ---- Event log rendering ----

void CmovraDlg::OnLogLine(uint32_t flags, const Text& text) {
    ShowLogEffects(app_.TakeLogLine(flags, text));
}

void CmovraDlg::OnCycleSummary(const CycleSummary& summary) {
    app_.TakeCycleSummary(summary);
    chart_.DataArrived();
}

void CmovraDlg::ShowLogEffects(const LogEffects& fx) {
    if (fx.status && status_) SetWindowTextW(status_, W(*fx.status));
    if (eventList_) {
        for (int32_t i = 0; i < fx.removedFromTop; ++i)
            SendMessageW(eventList_, CB_DELETESTRING, 0, 0);
        for (const EventLine& l : fx.added)
            SendMessageW(eventList_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(l.text)));
        if (fx.select >= 0) SendMessageW(eventList_, CB_SETCURSEL, fx.select, 0);
        if (fx.removedFromTop || !fx.added.empty()) InvalidateRect(eventList_, nullptr, TRUE);
    }
    if (fx.title && hwnd_) SetWindowTextW(hwnd_, W(*fx.title));
    if (fx.modifyTray) ModifyTray(fx.icon, fx.tooltip);
    if (fx.refreshTable) RefreshTableNow();
    // A pending exit completes once the worker that sent this line has also released the
    // server: the exit timer closes the window when no worker runs, so that the window and its
    // tray icon stay as long as anything of the exit is left.
}

void CmovraDlg::ModifyTray(TrayIcon icon, const Text& tip) {
    trayIcon_ = IconHandle(icon);
    // Once the exit has begun the tip says so until the process ends, whatever lines come.
    trayTip_ = app_.ExitBegun() ? kExitTrayTip : tip;
    if (!trayShown_ || !hwnd_) return;
    NOTIFYICONDATAW nid = TrayRecord(hwnd_, trayIcon_, trayTip_);
    Shell_NotifyIconW(NIM_MODIFY, &nid);
}

void CmovraDlg::ShowExitInTray() {
    trayTip_ = kExitTrayTip;
    if (!trayShown_ || !hwnd_) return;
    NOTIFYICONDATAW nid = TrayRecord(hwnd_, trayIcon_, trayTip_);
    Shell_NotifyIconW(NIM_MODIFY, &nid);
}

void CmovraDlg::RemoveTrayIcon() {
    if (!trayShown_) return;
    NOTIFYICONDATAW nid = TrayRecord(hwnd_, trayIcon_, trayTip_);
    Shell_NotifyIconW(NIM_DELETE, &nid);
    trayShown_ = false;
}

void CmovraDlg::OnDrawEventItem(DRAWITEMSTRUCT* di) {
    HDC dc = di->hDC;
    RECT r = di->rcItem;
    if (di->itemID == static_cast<UINT>(-1)) {
        FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
        return;
    }
    int row = static_cast<int>(di->itemID);
    std::optional<ColorPair> pair = app_.Log().EventColors().RowColors(row);
    COLORREF text = pair ? pair->text : GetSysColor(COLOR_WINDOWTEXT);
    COLORREF back = pair ? pair->back : GetSysColor(COLOR_WINDOW);
    HBRUSH brush = CreateSolidBrush(back);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    int len = static_cast<int>(SendMessageW(di->hwndItem, CB_GETLBTEXTLEN, di->itemID, 0));
    if (len > 0) {
        std::wstring buf(static_cast<size_t>(len) + 1, L'\0');
        SendMessageW(di->hwndItem, CB_GETLBTEXT, di->itemID, reinterpret_cast<LPARAM>(buf.data()));
        SetTextColor(dc, text);
        SetBkColor(dc, back);
        SetBkMode(dc, OPAQUE);
        RECT tr = r;
        tr.left += Scale(2, dpi_);
        DrawTextW(dc, buf.c_str(), len, &tr,
                  DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    // The highlighted line of the open list is marked by a frame, so that its class colors stay.
    if ((di->itemState & ODS_SELECTED) && !(di->itemState & ODS_COMBOBOXEDIT)) {
        RECT fr = r;
        HBRUSH frame = CreateSolidBrush(text);
        FrameRect(dc, &fr, frame);
        DeleteObject(frame);
    }
    if (di->itemState & ODS_FOCUS) DrawFocusRect(dc, &r);
}

// ---- Tray ----

void CmovraDlg::OnTrayNotify(WPARAM id, LPARAM mouse) {
    if (id != kTrayIconId) return;
    switch (LOWORD(mouse)) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            ShowOrHide();
            break;
        case WM_RBUTTONDOWN: {
            if (!trayMenu_) break;
            POINT pt;
            GetCursorPos(&pt);
            SetForegroundWindow(hwnd_);
            HWND target = logWindow_.load() ? logWindow_.load() : hwnd_;
            int cmd = TrackPopupMenu(GetSubMenu(trayMenu_, 0),
                                     TPM_LEFTALIGN | TPM_LEFTBUTTON | TPM_RETURNCMD, pt.x, pt.y, 0,
                                     target, nullptr);
            PostMessageW(hwnd_, WM_NULL, 0, 0);
            if (cmd) RunCommand(cmd);
            break;
        }
    }
}

// ---- Commands ----

bool CmovraDlg::ModalOpen() const {
    return hwnd_ && !IsWindowEnabled(hwnd_);
}

HWND CmovraDlg::ModalDialog() const {
    if (!ModalOpen()) return nullptr;
    HWND popup = GetLastActivePopup(hwnd_);
    if (popup && popup != hwnd_ && popup != chart_.Hwnd()) return popup;
    // The last active window was not the dialog: look for it among the window's own.
    struct Search {
        HWND owner, skip, found;
    } s = {hwnd_, chart_.Hwnd(), nullptr};
    EnumThreadWindows(
        GetWindowThreadProcessId(hwnd_, nullptr),
        [](HWND w, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lp);
            if (w == s->skip || GetWindow(w, GW_OWNER) != s->owner || !IsWindowVisible(w) ||
                !IsWindowEnabled(w))
                return TRUE;
            s->found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

void CmovraDlg::RunCommand(int id) {
    if (id == ID_STOP_SERVICE && stopService_) {
        if (HWND dialog = ModalDialog()) {
            SetForegroundWindow(dialog);
            return;
        }
        StopService();
        return;
    }
    const ui::Command c = ui::CommandOf(id);
    if (ModalOpen() && !ui::RunsWhileModal(c)) {
        // A dialog of ours is open (the tray menu, or a command posted from outside, still
        // reaches the window): commands that would open another one or close the window under
        // it only bring that dialog forward.
        if (HWND dialog = ModalDialog()) SetForegroundWindow(dialog);
        return;
    }
    switch (c) {
        case ui::Command::kConnect:
            Connect();
            break;
        case ui::Command::kDisconnect:
            Disconnect();
            break;
        case ui::Command::kImportUsers:
            StartImport(c);
            break;
        case ui::Command::kImportGroups:
            ImportGroups();
            break;
        case ui::Command::kGroupsEditor:
            GroupsEditor();
            break;
        case ui::Command::kAddUser:
            AddUser();
            break;
        case ui::Command::kEditUsers:
            EditUsers();
            break;
        case ui::Command::kDeleteUsers:
            DeleteUsers();
            break;
        case ui::Command::kToggleUnauthorised:
            ToggleUnauthorised();
            break;
        case ui::Command::kShowOrHide:
            ShowOrHide();
            break;
        case ui::Command::kModeMonitor:
        case ui::Command::kModeDivide:
            ui::Request(c, app_, {});
            break;
        case ui::Command::kViewLog:
            ShowLogWindow();
            break;
        case ui::Command::kSettings:
            Settings();
            break;
        case ui::Command::kSave:
            SaveConfiguration();
            break;
        case ui::Command::kLoad:
            LoadConfiguration();
            break;
        case ui::Command::kAbout:
            About();
            break;
        case ui::Command::kShowChart:
            ShowChart();
            break;
        case ui::Command::kExit:
            if (hwnd_) SendMessageW(hwnd_, WM_CLOSE, 0, 0);
            break;
        // Escape and the dialog's OK would end the window without stopping regulation: the
        // window stays; only Exit (or the close box) ends the program.
        case ui::Command::kNone:
            break;
    }
}

void CmovraDlg::Connect() {
    if (app_.ExitBegun()) return;  // the exit is final
    logWindow_.store(hwnd_);
    if (hwnd_) {
        RebuildGauges();
        FitHeight();
    }
    ui::Request(ui::Command::kConnect, app_, {});
}

void CmovraDlg::Disconnect() {
    ui::Request(ui::Command::kDisconnect, app_, {});
}

void CmovraDlg::OnClose() {
    if (closing_) return;
    if (app_.RequestExit() == ExitStep::kClose) {
        CloseNow();
        return;
    }
    // The tray icon stays, saying the program is finishing: with the window hidden it is the
    // only sign of the exit, and its menu's Exit ends the process.
    ShowExitInTray();
    if (hwnd_) SetTimer(hwnd_, kExitPendingTimer, kExitPendingPollMs, nullptr);
}

void CmovraDlg::OnQueryEndSession() {
    if (app_.SessionEnding()) return;
    if (hwnd_) ShutdownBlockReasonCreate(hwnd_, kSessionEndReason);
    if (app_.BeginSessionEnd()) {
        ShowExitInTray();
        // The worker's exit action, its lines and the release first, within the session's
        // bound, before the answer: once it is given Windows may end the process at any time.
        // The timer must not close the window under this wait.
        if (hwnd_) KillTimer(hwnd_, kExitPendingTimer);
        if (!app_.WaitForWorkers(PumpMessages) && hwnd_) {
            // Given up: should the session go on after all, the timer ends the process.
            SetTimer(hwnd_, kExitPendingTimer, kExitPendingPollMs, nullptr);
        }
    }
    if (hwnd_) ShutdownBlockReasonDestroy(hwnd_);
}

void CmovraDlg::OnEndSession() {
    OnQueryEndSession();  // in case Windows did not ask first
    // The window's own end comes after the exit action.
    if (app_.WorkerRunning()) app_.EndProcess();
    if (!closing_) CloseNow();
}

void CmovraDlg::ShowService(std::function<bool(HWND)> stopService, LogPager readLog) {
    stopService_ = std::move(stopService);
    readLog_ = std::move(readLog);
}

void CmovraDlg::StopService() {
    if (!Ask(kStopServiceQuestion)) return;
    if (stopService_(hwnd_)) stopAsked_ = true;
}

void CmovraDlg::ServiceLost(const Text& why) {
    std::lock_guard<std::mutex> hold(lostLock_);
    if (lost_) return;
    lost_ = why;
    if (lostTarget_) PostMessageW(lostTarget_, WM_SERVICELOST, 0, 0);
}

void CmovraDlg::SetLostTarget(HWND target) {
    std::lock_guard<std::mutex> hold(lostLock_);
    lostTarget_ = target;
    if (target && lost_) PostMessageW(target, WM_SERVICELOST, 0, 0);
}

void CmovraDlg::OnServiceLost() {
    if (closing_ || !hwnd_) return;
    std::optional<Text> why;
    {
        std::lock_guard<std::mutex> hold(lostLock_);
        why = lost_;
    }
    if (!stopAsked_ && why) ShowMessage(*why);
    if (!closing_) CloseNow();
}

void CmovraDlg::ProcessEnding() {
    RemoveTrayIcon();
}

void CmovraDlg::CloseNow() {
    closing_ = true;
    RemoveTrayIcon();
    if (modal_)
        EndDialog(hwnd_, IDOK);
    else
        DestroyWindow(hwnd_);
}

void CmovraDlg::StartImport(ui::Command import) {
    if (app_.ExitBegun()) return;
    logWindow_.store(hwnd_);
    ui::Request(import, app_, {});
}

bool CmovraDlg::ReportOrphanGroups() {
    const std::optional<Text> orphan = app_.CheckGroups();
    if (!orphan) return false;
    ShowMessage(*orphan);
    return true;
}

void CmovraDlg::ImportGroups() {
    if (app_.ExitBegun()) return;
    StartImport(ui::Command::kImportGroups);
    ReportOrphanGroups();
}

static EditorHooks MakeHooks(std::function<void()> save, std::function<void()> load,
                             std::function<void()> import) {
    EditorHooks h;
    h.SaveConfig = std::move(save);
    h.LoadConfig = std::move(load);
    h.StartGroupsImport = std::move(import);
    return h;
}

void CmovraDlg::GroupsEditor() {
    if (ReportOrphanGroups()) return;
    EditorHooks hooks = MakeHooks([this] { SaveConfiguration(); }, [this] { LoadConfiguration(); },
                                  [this] { StartImport(ui::Command::kImportGroups); });
    ShowGroupsEditor(hwnd_, app_, groupsState_, hooks);
    RefreshTableNow();
}

void CmovraDlg::AddUser() {
    const std::optional<Text> name = ShowAddUserDialog(hwnd_);
    if (!name) return;
    const AddUserOutcome added = app_.AddUser(*name);
    if (added.result == AddUserResult::kAlreadyPresent) ShowMessage(added.message);
    if (added.result != AddUserResult::kAdded) return;
    RebuildGauges();
    FitHeight();
}

void CmovraDlg::EditUsers() {
    const std::vector<uint64_t> ids = table_.SelectedUsers();
    app_.Snapshot(snapshot_);
    std::vector<Text> names;
    for (uint64_t id : ids) {
        const auto u = std::find_if(snapshot_.users.begin(), snapshot_.users.end(),
                                    [id](const CTiUserData& x) { return x.Id == id; });
        if (u != snapshot_.users.end()) names.push_back(u->UserName);
    }
    if (names.empty()) return;
    EditUserLimits(hwnd_, app_, names);
}

void CmovraDlg::DeleteUsers() {
    // The summary row and rows whose user is gone resolve to nobody and remove nothing.
    for (uint64_t id : table_.SelectedUsers()) {
        if (!table_.RemoveUserRow(id)) continue;
        app_.DeleteUsers({id});
        RefreshTableNow();
    }
}

void CmovraDlg::ToggleUnauthorised() {
    table_.ToggleUnauthorised();
    RefreshTableNow();
}

void CmovraDlg::ShowOrHide() {
    if (!hwnd_) return;
    if (IsWindowVisible(hwnd_)) {
        ShowWindow(hwnd_, SW_MINIMIZE);
        ShowWindow(hwnd_, SW_HIDE);
    } else {
        ShowWindow(hwnd_, SW_SHOW);
        ShowWindow(hwnd_, SW_RESTORE);
    }
}

void CmovraDlg::Settings() {
    const uint32_t gridBefore = app_.CurrentSettings().GridSize;
    EditorHooks hooks = MakeHooks([this] { SaveConfiguration(); }, [this] { LoadConfiguration(); },
                                  [this] { StartImport(ui::Command::kImportGroups); });
    if (!ShowSettings(hwnd_, app_, hooks)) return;
    const movra::Settings edited = app_.CurrentSettings();
    RebuildGauges();
    if (edited.GridSize != gridBefore) FitHeight();
    logWindow_.store(hwnd_);
}

void CmovraDlg::SaveConfiguration() {
    ui::Request(ui::Command::kSave, app_, [this](const Text& question) { return Ask(question); });
}

bool CmovraDlg::Ask(const Text& question) {
    HWND owner = GetActiveWindow();
    if (!owner) owner = (hwnd_ && IsWindow(hwnd_)) ? hwnd_ : nullptr;
    return AskYesNoBox(owner, question);
}

void CmovraDlg::LoadConfiguration() {
    if (!ui::Request(ui::Command::kLoad, app_, {})) return;
    RebuildGauges();
    FitHeight();
    RefreshTableNow();
}

static INT_PTR CALLBACK AboutProc(HWND h, UINT msg, WPARAM wp, LPARAM) {
    return GuardDialog([&]() -> INT_PTR {
        if (msg == WM_INITDIALOG) return TRUE;
        if (msg == WM_COMMAND) return EndOnOkOrCancel(h, wp);
        if (msg == WM_CLOSE) {
            EndDialog(h, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    });
}

void CmovraDlg::About() {
    DialogBoxParamW(inst_, MAKEINTRESOURCEW(IDD_ABOUTBOX), hwnd_, AboutProc, 0);
}

void CmovraDlg::ShowLogWindow() {
    if (readLog_) return ShowLogPages(inst_, hwnd_, readLog_, *this);
    ShowLogFile(inst_, hwnd_, app_.CurrentSettings().LogFileName, *this);
}

void CmovraDlg::ShowChart() {
    app_.ChartOpening();
    chart_.Open(inst_);
}

ui::DisplayUnit CmovraDlg::ChartUnit() const {
    return ui::DisplayUnitFor(app_.CurrentSettings());
}

// ---- The user table ----

void CmovraDlg::TakeSnapshot() {
    app_.Snapshot(snapshot_);
}

void CmovraDlg::RefreshTableNow() {
    if (!hwnd_ || !table_.Hwnd()) return;
    if (hideAgain_) {
        ShowWindow(hwnd_, SW_MINIMIZE);
        ShowWindow(hwnd_, SW_HIDE);
        hideAgain_ = false;
    }
    TakeSnapshot();
    table_.Refresh(snapshot_);
}

void CmovraDlg::RebuildGauges() {
    if (!table_.Hwnd()) return;
    TakeSnapshot();
    table_.RebuildGauges(snapshot_.users.size());
}

INT_PTR CmovraDlg::OnNotify(NMHDR* hdr) {
    LRESULT result = 0;
    if (hdr->idFrom != IDC_TABLE || !table_.OnNotify(hdr, result)) return FALSE;
    return DialogResult(hwnd_, result);
}

void CmovraDlg::TableMenu() {
    if (!tableMenu_) return;
    POINT pt;
    GetCursorPos(&pt);
    TrackPopupMenu(GetSubMenu(tableMenu_, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd_,
                   nullptr);
}

// ---- Sizing ----

void CmovraDlg::FitHeight() {
    if (!hwnd_ || IsIconic(hwnd_)) return;
    const uint32_t grid = app_.CurrentSettings().GridSize;
    RECT r;
    GetWindowRect(hwnd_, &r);
    int h = Scale(ui::FitHeight(grid), dpi_);
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, h,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    LayOut(r.right - r.left, h);
}

void CmovraDlg::LayOut(int w, int h) {
    if (!hwnd_) return;
    ui::Layout l = ScaledLayOut(w, h, dpi_);
    auto place = [](HWND c, const ui::Box& b) {
        if (c) MoveWindow(c, b.x, b.y, std::max(0, b.w), std::max(0, b.h), TRUE);
    };
    place(table_.Hwnd(), l.table);
    place(GetDlgItem(hwnd_, IDC_OPTIONS), l.options);
    // A drop-down list's height includes its open list; the closed field keeps its own height.
    ui::Box events = l.events;
    events.h += Scale(kEventDropHeight, dpi_);
    place(eventList_, events);
    table_.PlaceGauges();
}

}  // namespace movra
