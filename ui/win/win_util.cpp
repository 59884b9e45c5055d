#include "ui/win/win_util.h"

#include <string>

#include "ui/win/dpi.h"

namespace movra {

namespace {

// The property that keeps with a list the DPI its columns were last sized for. An atom of its
// own: a property named by a string would take one more reference to the atom for every list.
const wchar_t* ListDpiProp() {
    static const ATOM atom = GlobalAddAtomW(L"MovraListDpi");
    return MAKEINTATOM(atom);
}

}  // namespace

Text WindowText(HWND h) {
    if (!h) return {};
    int n = GetWindowTextLengthW(h);
    std::wstring buf(static_cast<size_t>(n) + 1, L'\0');
    int got = GetWindowTextW(h, buf.data(), n + 1);
    return FromWide(buf.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

void ShowMessageBox(HWND owner, const Text& text, BoxIcon icon) {
    UINT flags = MB_OK | static_cast<UINT>(icon);
    if (!owner) flags |= MB_SETFOREGROUND | MB_TOPMOST;
    MessageBoxW(owner, W(text), L"Movra", flags);
}

bool AskYesNoBox(HWND owner, const Text& text) {
    UINT flags = MB_YESNO | MB_ICONQUESTION;
    if (!owner) flags |= MB_SETFOREGROUND | MB_TOPMOST;
    return MessageBoxW(owner, W(text), L"Movra", flags) == IDYES;
}

void SetListColumns(HWND list, std::span<const ListColumn> columns) {
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    while (SendMessageW(list, LVM_DELETECOLUMN, 0, 0)) {
    }
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
                 LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    const int dpi = DpiOf(list);
    for (size_t i = 0; i < columns.size(); ++i) {
        LVCOLUMNW c = {};
        c.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        c.fmt = LVCFMT_LEFT;
        c.cx = Scale(columns[i].width, dpi);
        c.pszText = const_cast<wchar_t*>(columns[i].title);
        c.iSubItem = static_cast<int>(i);
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&c));
    }
    SetPropW(list, ListDpiProp(), reinterpret_cast<HANDLE>(static_cast<INT_PTR>(dpi)));
}

void RescaleListColumns(HWND list, int dpi) {
    const int was = static_cast<int>(reinterpret_cast<INT_PTR>(GetPropW(list, ListDpiProp())));
    if (!list || was <= 0 || was == dpi) return;
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int n = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    for (int c = 0; c < n; ++c) {
        const int w = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0));
        SendMessageW(list, LVM_SETCOLUMNWIDTH, c, MulDiv(w, dpi, was));
    }
    SetPropW(list, ListDpiProp(), reinterpret_cast<HANDLE>(static_cast<INT_PTR>(dpi)));
}

LRESULT DrawRowColors(NMLVCUSTOMDRAW& cd, const ColorIndexStore& colors) {
    switch (cd.nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT: {
            std::optional<ColorPair> p = colors.RowColors(static_cast<int32_t>(cd.nmcd.dwItemSpec));
            if (p) {
                cd.clrText = p->text;
                cd.clrTextBk = p->back;
            }
            return CDRF_NEWFONT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

}  // namespace movra
