#pragma once
// The Win32 chores every window of the program shares: text conversion, the message box, where a
// dialog keeps its object, the catch-all at every procedure, list-view columns and row colors.
//
// Failures in the windows: no exception ever leaves a window or dialog procedure. Each runs its
// body through GuardDialog, GuardWindow or GuardSubclass, which log what escapes as an error line
// in the event log and give the message its neutral answer; failures that the administrator must
// act on (a file that cannot be written, a value refused) are shown by the code that meets them.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <initializer_list>
#include <span>
#include <utility>

#include "core/text.h"
#include "log/color_index.h"
#include "ui/window_failure.h"

namespace movra {

// Text is UTF-16 like the wide API, so a view needs no copy; valid while `t` lives unchanged.
inline const wchar_t* W(const char16_t* s) {
    return reinterpret_cast<const wchar_t*>(s);
}
inline const wchar_t* W(const Text& t) {
    return W(t.c_str());
}
// The same for list-view records, whose text members are not const (the list only reads them).
inline wchar_t* WMutable(const Text& t) {
    return const_cast<wchar_t*>(W(t));
}
inline Text FromWide(const wchar_t* s, size_t n) {
    return Text(s, s + n);
}
inline Text FromWide(const wchar_t* s) {
    return FromWide(s, wcslen(s));
}

// The whole text of a window or control; empty for no window.
Text WindowText(HWND h);

enum class BoxIcon : UINT { kNone = 0, kExclamation = MB_ICONEXCLAMATION };
// The program's message box: titled "Movra", with an OK button; never called with the model's
// lock held. A box without an owner comes to the front on its own, as nothing else brings it.
void ShowMessageBox(HWND owner, const Text& text, BoxIcon icon);
// The program's Yes/No question, titled "Movra"; true for Yes. The same rules as above.
bool AskYesNoBox(HWND owner, const Text& text);

// The catch-alls of the procedures (ui/window_failure.h). A dialog procedure answers FALSE after a
// failure, so the dialog manager does its default.
template <class Body>
INT_PTR GuardDialog(Body&& body) {
    return GuardProcedure(std::forward<Body>(body), [] { return INT_PTR{FALSE}; });
}
// A window procedure hands the message to the default procedure, which also validates a paint
// that the failure left undone (an invalid window would be painted, and fail, again and again).
template <class Body>
LRESULT GuardWindow(HWND h, UINT msg, WPARAM wp, LPARAM lp, Body&& body) {
    return GuardProcedure(std::forward<Body>(body), [&] { return DefWindowProcW(h, msg, wp, lp); });
}
// A subclassed control's procedure does its own part after passing the message on, or instead of
// passing it on: after a failure it answers 0 rather than have the control handle it twice.
template <class Body>
LRESULT GuardSubclass(Body&& body) {
    return GuardProcedure(std::forward<Body>(body), [] { return LRESULT{0}; });
}

// Where a dialog procedure finds its object: the pointer passed with WM_INITDIALOG is stored
// with the dialog then and returned for every message (null for those that come before).
template <class T>
T* DialogObject(HWND dlg, UINT msg, LPARAM lp) {
    if (msg == WM_INITDIALOG) SetWindowLongPtrW(dlg, DWLP_USER, lp);
    return reinterpret_cast<T*>(GetWindowLongPtrW(dlg, DWLP_USER));
}
// The same for a property-sheet page, whose WM_INITDIALOG carries the page record.
template <class T>
T* PageObject(HWND page, UINT msg, LPARAM lp) {
    if (msg == WM_INITDIALOG) lp = reinterpret_cast<const PROPSHEETPAGEW*>(lp)->lParam;
    return DialogObject<T>(page, msg, lp);
}
// A dialog procedure made of `Handle`, a function of the dialog's object, behind GuardDialog;
// messages that come before the object (before WM_INITDIALOG) are left to the system.
template <class T, INT_PTR (*Handle)(HWND, UINT, WPARAM, LPARAM, T&)>
INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    T* self = DialogObject<T>(dlg, msg, lp);
    return self ? GuardDialog([&] { return Handle(dlg, msg, wp, lp, *self); }) : FALSE;
}
template <class T, INT_PTR (*Handle)(HWND, UINT, WPARAM, LPARAM, T&)>
INT_PTR CALLBACK PageProc(HWND page, UINT msg, WPARAM wp, LPARAM lp) {
    T* self = PageObject<T>(page, msg, lp);
    return self ? GuardDialog([&] { return Handle(page, msg, wp, lp, *self); }) : FALSE;
}

// The OK and Cancel commands of a modal dialog: Cancel ends it; OK ends it once `accept` has taken
// the values, and leaves it open when it refuses them. False for any other command.
template <class Accept>
bool EndOnOkOrCancel(HWND dlg, WPARAM wp, Accept&& accept) {
    switch (LOWORD(wp)) {
        case IDOK:
            if (accept()) EndDialog(dlg, IDOK);
            return true;
        case IDCANCEL:
            EndDialog(dlg, IDCANCEL);
            return true;
        default:
            return false;
    }
}
inline bool EndOnOkOrCancel(HWND dlg, WPARAM wp) {
    return EndOnOkOrCancel(dlg, wp, [] { return true; });
}

// A dialog procedure's answer to a message that returns a value (WM_NOTIFY and the like).
inline INT_PTR DialogResult(HWND dlg, LRESULT value) {
    SetWindowLongPtrW(dlg, DWLP_MSGRESULT, value);
    return TRUE;
}

struct ListColumn {
    const wchar_t* title;
    int width;
};
// Empties a report list and gives it these columns, left-aligned, with grid lines and full-row
// selection; the widths are 96-DPI widths, scaled to the list's DPI.
void SetListColumns(HWND list, std::span<const ListColumn> columns);
inline void SetListColumns(HWND list, std::initializer_list<ListColumn> columns) {
    SetListColumns(list, std::span<const ListColumn>(columns.begin(), columns.size()));
}
// The columns of a list made by SetListColumns, from the DPI they were last sized for to `dpi`
// (moved to another screen, it keeps their proportions, widths dragged by hand included).
void RescaleListColumns(HWND list, int dpi);

// A list's custom draw that paints each row in the colors its index store answers; rows without
// a pair keep the list's own colors.
LRESULT DrawRowColors(NMLVCUSTOMDRAW& cd, const ColorIndexStore& colors);

}  // namespace movra
