// CAddUserDlg: one edit for a TI user name, taken exactly as typed.
#include <windows.h>

#include "ui/editors_res.h"
#include "ui/win/dialog_controls.h"
#include "ui/win/editors.h"

namespace movra {

namespace {

INT_PTR HandleAddUser(HWND dlg, UINT msg, WPARAM wp, LPARAM, Text& name) {
    switch (msg) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_PAINT:
            // The edit takes the keyboard at every paint, so typing always goes to it.
            SetFocus(GetDlgItem(dlg, IDC_ADD_NAME));
            return FALSE;
        case WM_COMMAND:
            return EndOnOkOrCancel(dlg, wp, [&] {
                name = WindowText(GetDlgItem(dlg, IDC_ADD_NAME));
                return true;
            });
        default:
            return FALSE;
    }
}

}  // namespace

std::optional<Text> ShowAddUserDialog(HWND owner) {
    Text name;
    INT_PTR r = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ADDUSER), owner,
                                DialogProc<Text, HandleAddUser>, reinterpret_cast<LPARAM>(&name));
    if (r != IDOK) return std::nullopt;
    return name;
}

}  // namespace movra
