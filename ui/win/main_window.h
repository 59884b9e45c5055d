#pragma once
// CmovraDlg: the main window, a view of the application. It owns the tray icon, the user table
// (UserTableView) and the event list, turns buttons, menus and tray clicks into requests of the
// application (AppPort), and is the view link through which the workers' calls reach it
// (SendMessageW to LogWindow, then the application is called back on this thread).
#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "app/app_port.h"
#include "core/clock.h"
#include "log/color_index.h"
#include "log/event_log.h"
#include "ui/commands.h"
#include "ui/editors_model.h"
#include "ui/table_model.h"
#include "ui/win/chart_window.h"
#include "ui/win/log_dlg.h"
#include "ui/win/user_table_view.h"

namespace movra {

constexpr UINT WM_TRAYNOTIFY = WM_USER + 1;
constexpr UINT WM_REFRESHTABLE = WM_USER + 106;
constexpr UINT WM_LOGLINE = WM_USER + 107;
constexpr UINT WM_USERSCHANGED = WM_USER + 108;
constexpr UINT WM_CYCLESUMMARY = WM_USER + 109;
constexpr UINT WM_SERVICELOST = WM_USER + 110;
constexpr UINT kTrayIconId = 1234;

class CmovraDlg : public ViewLink {
  public:
    // Attaches itself to `app` as its view until destroyed.
    explicit CmovraDlg(AppPort& app, const Clock& clock = SystemClock());
    ~CmovraDlg() override;
    CmovraDlg(const CmovraDlg&) = delete;
    CmovraDlg& operator=(const CmovraDlg&) = delete;

    // Runs the window modally; returns when it has closed.
    INT_PTR RunModal(HINSTANCE inst);
    // Creates the window without a modal loop (tests pump messages themselves).
    HWND CreateModeless(HINSTANCE inst);

    // ---- Window link (any thread). ----
    void LogLine(uint32_t flags, const Text& text) override;
    void RefreshTable() override;
    void UsersChanged() override;
    void ShowMessage(const Text& text) override;
    void CycleSummaryReady(const CycleSummary& summary) override;
    void ShowLogEffects(const LogEffects& fx) override;
    void ProcessEnding() override;

    // ---- The window's own operations (window thread). ----
    void OnLogLine(uint32_t flags, const Text& text);
    // A cycle's figures into the chart's history; an open chart shows them with its next redraw.
    void OnCycleSummary(const CycleSummary& summary);
    // Rewrites the table from the lists (window thread).
    void RefreshTableNow();
    // One gauge per user in the lists.
    void RebuildGauges();
    void FitHeight();
    void LayOut(int w, int h);
    // Runs a command from a button, a menu, the tray or the system menu. While a modal dialog of
    // the window is open, only commands that open nothing and close nothing run.
    void RunCommand(int id);
    void ShowLogWindow();
    // Opens the channel chart, or brings it forward.
    void ShowChart();
    // The dialog of this window that is open now (null: none), which refused commands bring
    // forward; never the chart, which is no dialog of the window.
    HWND ModalDialog() const;

    // The window of the service (before it is created): "Остановить службу" in the table's and
    // the tray's menus asks, then runs `stopService`, true when the stop was asked for; the log
    // window reads the service's log through `readLog`.
    void ShowService(std::function<bool(HWND)> stopService, LogPager readLog);
    // Any thread: the conversation with the service is over. The window says `why` (unless it
    // asked for the stop itself) and closes.
    void ServiceLost(const Text& why);

    HWND Hwnd() const { return hwnd_; }
    // The DPI the window lays itself out for.
    int Dpi() const { return dpi_; }
    const UserTableView& UserTable() const { return table_; }
    HWND EventList() const { return eventList_; }
    HWND StatusField() const { return status_; }
    uint32_t ConnState() const { return app_.ConnState(); }
    const EventLog& Log() const { return app_.Log(); }
    bool TrayIconShown() const { return trayShown_; }
    const Text& TrayTip() const { return trayTip_; }
    HICON TrayIconHandle() const { return trayIcon_; }
    HICON IconHandle(TrayIcon which) const;
    bool HideAgain() const { return hideAgain_; }
    // The window published for the workers (null before the first paint).
    HWND LogWindow() const { return logWindow_.load(); }
    const chart::ChannelHistory& History() const { return app_.History(); }
    ChartWindow& Chart() { return chart_; }

  private:
    static INT_PTR CALLBACK DlgProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR Handle(UINT msg, WPARAM wp, LPARAM lp);
    // Whether a WM_COMMAND is a command (menu, accelerator, button click) and not a control's
    // notification.
    bool IsCommand(WPARAM wp, LPARAM lp) const;
    void OnInitDialog();
    void AfterFirstPaint();
    INT_PTR OnNotify(NMHDR* hdr);
    // The table's menu at the cursor.
    void TableMenu();
    void OnDrawEventItem(DRAWITEMSTRUCT* di);
    // Moved to a screen of another DPI (`suggested`: the rectangle Windows proposes there).
    void OnDpiChanged(int dpi, LPARAM suggested);
    // The caption's icons in the sizes of the window's DPI.
    void LoadCaptionIcons();
    void OnTrayNotify(WPARAM id, LPARAM mouse);
    void OnClose();
    void CloseNow();
    void StopService();
    // Where ServiceLost posts (null: nowhere yet, or no more); a loss already known is posted.
    void SetLostTarget(HWND target);
    void OnServiceLost();
    // Windows asks whether the session may end, then ends it: the exit path runs within the
    // session's bound before the answer, so before the session may go.
    void OnQueryEndSession();
    void OnEndSession();
    void RemoveTrayIcon();
    void ModifyTray(TrayIcon icon, const Text& tip);
    // The tray tip that the exit has begun, on the icon shown now.
    void ShowExitInTray();

    void Connect();
    void Disconnect();
    void StartImport(ui::Command import);
    void ImportGroups();
    void GroupsEditor();
    void AddUser();
    void EditUsers();
    void DeleteUsers();
    void ToggleUnauthorised();
    void ShowOrHide();
    void Settings();
    void SaveConfiguration();
    void LoadConfiguration();
    // A Yes/No box over the window the administrator works in (the settings sheet, when open).
    bool Ask(const Text& question);
    void About();
    bool ModalOpen() const;
    bool ReportOrphanGroups();
    // The one place the lists are copied for the table.
    void TakeSnapshot();
    ui::DisplayUnit ChartUnit() const;

    AppPort& app_;
    const Clock& clock_;
    std::atomic<HWND> logWindow_{nullptr};
    DWORD uiThread_ = 0;

    HINSTANCE inst_ = nullptr;
    bool modal_ = false;
    HWND hwnd_ = nullptr;
    UserTableView table_;
    // What the table's next refresh shows; kept to reuse its storage.
    AppSnapshot snapshot_;
    HWND eventList_ = nullptr;
    HWND status_ = nullptr;
    int dpi_ = kBaseDpi;
    HICON icons_[3] = {};         // regulating, monitoring, disconnected (the tray's size)
    HICON captionIcons_[2] = {};  // big, small
    HMENU tableMenu_ = nullptr;
    HMENU trayMenu_ = nullptr;

    bool trayShown_ = false;
    HICON trayIcon_ = nullptr;
    Text trayTip_ = u"Movra";

    bool firstPaintDone_ = false;
    bool hideAgain_ = false;
    bool closing_ = false;
    bool usersChangedPending_ = false;
    int64_t usersChangedSince_ = 0;  // Clock::SteadyMs when the burst began
    RECT lastSizing_ = {};
    GroupsEditorState groupsState_;
    // The window that shows the application's channel history.
    ChartWindow chart_;
    // The service's window: its stop, and the end of the conversation (any thread).
    std::function<bool(HWND)> stopService_;
    LogPager readLog_;
    bool stopAsked_ = false;
    std::mutex lostLock_;
    HWND lostTarget_ = nullptr;
    std::optional<Text> lost_;
};

}  // namespace movra
