// The settings sheet "Настройки Movra": the main page CSettDlg and the traffic page
// CSpeedTraffPg. The pages hold no values of their own: they show the application's record when
// they become active, and what they take back when left or confirmed goes to the application as
// one request, so that the sheet never holds the live record.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include "core/settings.h"
#include "ui/editors_model.h"
#include "ui/editors_res.h"
#include "ui/win/dialog_controls.h"
#include "ui/win/editors.h"

namespace movra {

namespace {

struct SheetContext {
    AppPort& app;
    const EditorHooks& hooks;
    std::vector<Binding<Settings>> main = MainPageBindings();
    std::vector<Binding<Settings>> traffic = TrafficPageBindings();
    bool confirmed = false;
    uint64_t base = 0;  // the revision of the record the pages show
};

void ShowValues(HWND page, SheetContext& ctx, const std::vector<Binding<Settings>>& b) {
    const SettingsEdit edit = ctx.app.BeginSettingsEdit();
    ctx.base = edit.base;
    DlgControls c(page);
    ShowFields(b, edit.settings, c);
}

// What the page gives is handed back even when a later field is refused, as the fields before
// it were taken. A record changed meanwhile in another window takes nothing: the page shows it.
bool TakeValues(HWND page, SheetContext& ctx, const std::vector<Binding<Settings>>& b) {
    bool stale = false;
    const bool taken = TakeAndReport(page, Shapes(b), [&](const TakeResult& r) {
        Settings edited = ctx.app.CurrentSettings();
        StoreFields(b, r, edited);
        if (ctx.app.ApplySettings(edited, ctx.base))
            ++ctx.base;
        else
            stale = true;
    });
    if (!stale) return taken;
    ShowValues(page, ctx, b);
    return false;
}

// 1040 and 1045 follow the record's auto-measurement flag.
void EnableAutoMeasureControls(HWND page, const AppPort& app) {
    const bool on = app.CurrentSettings().AutoMeasure != 0;
    EnableWindow(GetDlgItem(page, IDC_SETT_MIN_RX), on);
    EnableWindow(GetDlgItem(page, IDC_SETT_CORRECTION), on);
}

void ShowMainPage(HWND page, SheetContext& ctx) {
    ShowValues(page, ctx, ctx.main);
    EnableAutoMeasureControls(page, ctx.app);
}

void OnMainCommand(HWND page, SheetContext& ctx, int id) {
    switch (id) {
        case IDC_SETT_AUTOMEASURE:
            TakeValues(page, ctx, ctx.main);
            EnableAutoMeasureControls(page, ctx.app);
            break;
        case IDC_SETT_RESTORE:
            ShowMainPage(page, ctx);
            break;
        case IDC_SETT_SAVE:
            if (TakeValues(page, ctx, ctx.main) && ctx.hooks.SaveConfig) ctx.hooks.SaveConfig();
            break;
        case IDC_SETT_LOAD:
            if (ctx.hooks.LoadConfig) ctx.hooks.LoadConfig();
            ShowMainPage(page, ctx);
            break;
        case IDC_SETT_CLEAR_LOG:
            // The record's file name, not the text being typed into 1036.
            ctx.app.ClearLogFile();
            break;
        default:
            break;
    }
}

// The two pages differ in their bindings, and in what the main page does besides: its buttons,
// the auto-measurement controls, and the check of the whole record on the sheet's OK.
struct PageContext {
    SheetContext& sheet;
    const std::vector<Binding<Settings>>& bindings;
    bool main;
};

INT_PTR HandlePage(HWND page, UINT msg, WPARAM wp, LPARAM lp, PageContext& p) {
    SheetContext& ctx = p.sheet;
    switch (msg) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (!p.main) return FALSE;
            if (HIWORD(wp) == BN_CLICKED) OnMainCommand(page, ctx, LOWORD(wp));
            return TRUE;
        case WM_NOTIFY:
            switch (reinterpret_cast<NMHDR*>(lp)->code) {
                case PSN_SETACTIVE:
                    // A page shows the record when it becomes active.
                    if (p.main)
                        ShowMainPage(page, ctx);
                    else
                        ShowValues(page, ctx, p.bindings);
                    return DialogResult(page, 0);
                case PSN_KILLACTIVE:
                    // Leaving takes the values back; a refused one keeps the page open.
                    return DialogResult(page, TakeValues(page, ctx, p.bindings) ? FALSE : TRUE);
                case PSN_APPLY:
                    if (p.main) {
                        // The sheet's OK: the record must be usable before the sheet closes.
                        const Text problem = ValidateSettings(ctx.app.CurrentSettings());
                        if (!problem.empty()) {
                            ShowMessageBox(page, problem, BoxIcon::kExclamation);
                            return DialogResult(page, PSNRET_INVALID);
                        }
                        ctx.confirmed = true;
                    }
                    return DialogResult(page, PSNRET_NOERROR);
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

}  // namespace

bool ShowSettings(HWND owner, AppPort& app, const EditorHooks& hooks) {
    SheetContext ctx{app, hooks};
    PageContext mainPage{ctx, ctx.main, true};
    PageContext trafficPage{ctx, ctx.traffic, false};
    HINSTANCE inst = GetModuleHandleW(nullptr);
    PROPSHEETPAGEW pages[2] = {};
    pages[0].dwSize = sizeof(PROPSHEETPAGEW);
    pages[0].hInstance = inst;
    pages[0].pszTemplate = MAKEINTRESOURCEW(IDD_SETT_MAIN);
    pages[0].pfnDlgProc = PageProc<PageContext, HandlePage>;
    pages[0].lParam = reinterpret_cast<LPARAM>(&mainPage);
    pages[1] = pages[0];
    pages[1].pszTemplate = MAKEINTRESOURCEW(IDD_SPEED_TRAFF);
    pages[1].lParam = reinterpret_cast<LPARAM>(&trafficPage);

    PROPSHEETHEADERW h = {};
    h.dwSize = sizeof(h);
    h.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_NOCONTEXTHELP;
    h.hwndParent = owner;
    h.hInstance = inst;
    h.pszCaption = L"Настройки Movra";
    h.nPages = 2;
    h.nStartPage = 0;
    h.ppsp = pages;
    PropertySheetW(&h);
    return ctx.confirmed;
}

}  // namespace movra
