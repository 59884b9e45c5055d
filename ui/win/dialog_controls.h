#pragma once
// The field exchange's view of a dialog's controls.
#include <windows.h>

#include "config/field_exchange.h"
#include "core/text.h"
#include "ui/win/win_util.h"

namespace movra {

class DlgControls : public ControlAccess {
  public:
    explicit DlgControls(HWND dlg) : dlg_(dlg) {}
    Text GetText(int id) override { return WindowText(GetDlgItem(dlg_, id)); }
    void SetText(int id, const Text& text) override { SetDlgItemTextW(dlg_, id, W(text)); }
    bool GetCheck(int id) override { return IsDlgButtonChecked(dlg_, id) == BST_CHECKED; }
    void SetCheck(int id, bool on) override {
        CheckDlgButton(dlg_, id, on ? BST_CHECKED : BST_UNCHECKED);
    }
    void Focus(int id) override {
        HWND h = GetDlgItem(dlg_, id);
        if (!h) return;
        SendMessageW(dlg_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(h), TRUE);
        SendMessageW(h, EM_SETSEL, 0, -1);
    }

  private:
    HWND dlg_;
};

// Takes the controls in binding order; on a refused control shows its message (after the
// values before it have been stored by `store`) and leaves the focus on it.
template <class Store>
bool TakeAndReport(HWND dlg, const std::vector<FieldShape>& shapes, Store&& store) {
    DlgControls c(dlg);
    TakeResult r = TakeControls(shapes, c);
    store(r);
    if (r.ok) return true;
    ShowMessageBox(dlg, r.message, BoxIcon::kExclamation);
    c.Focus(r.failedId);
    return false;
}

}  // namespace movra
