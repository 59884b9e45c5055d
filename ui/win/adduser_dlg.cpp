// CAddUserDlg: one edit for a TI user name, taken exactly as typed.
#include <windows.h>

#include "ui/win/dialog_controls.h"
#include "ui/win/editors.h"
#include "ui/editors_res.h"

namespace movra {

namespace {

INT_PTR CALLBACK AddUserProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* name = reinterpret_cast<Text*>(GetWindowLongPtrW(dlg, GWLP_USERDATA));
    switch (msg) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dlg, GWLP_USERDATA, lp);
            return TRUE;
        case WM_PAINT:
            // The edit takes the keyboard at every paint, so typing always goes to it.
            SetFocus(GetDlgItem(dlg, IDC_ADD_NAME));
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK && name) {
                *name = WindowText(GetDlgItem(dlg, IDC_ADD_NAME));
                EndDialog(dlg, IDOK);
                return TRUE;
            }
            if (LOWORD(wp) == IDCANCEL) {
                EndDialog(dlg, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

std::optional<Text> ShowAddUserDialog(HWND owner) {
    Text name;
    INT_PTR r = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ADDUSER), owner,
                                AddUserProc, reinterpret_cast<LPARAM>(&name));
    if (r != IDOK) return std::nullopt;
    return name;
}

}  // namespace movra
