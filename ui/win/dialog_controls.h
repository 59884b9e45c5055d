#pragma once
// The field exchange's view of a dialog's controls, and the modal message the dialogs show.
#include <windows.h>

#include "config/field_exchange.h"
#include "core/text.h"

namespace movra {

inline std::wstring ToWide(const Text& t) {
    return std::wstring(t.begin(), t.end());
}
inline Text FromWide(const wchar_t* s, size_t n) {
    return Text(s, s + n);
}

inline Text WindowText(HWND h) {
    if (!h) return {};
    int n = GetWindowTextLengthW(h);
    std::wstring buf(static_cast<size_t>(n) + 1, L'\0');
    int got = GetWindowTextW(h, buf.data(), n + 1);
    return FromWide(buf.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

// Modal, with an OK button; never called with the model's lock held.
inline void ShowMessageBox(HWND owner, const Text& text) {
    MessageBoxW(owner, ToWide(text).c_str(), L"Movra", MB_OK | MB_ICONEXCLAMATION);
}

class DlgControls : public ControlAccess {
  public:
    explicit DlgControls(HWND dlg) : dlg_(dlg) {}
    Text GetText(int id) override { return WindowText(GetDlgItem(dlg_, id)); }
    void SetText(int id, const Text& text) override {
        SetDlgItemTextW(dlg_, id, ToWide(text).c_str());
    }
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
    ShowMessageBox(dlg, r.message);
    c.Focus(r.failedId);
    return false;
}

}  // namespace movra
