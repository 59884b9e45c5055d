#include "ui/win/win_util.h"

#include <string>

namespace movra {

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
    for (size_t i = 0; i < columns.size(); ++i) {
        LVCOLUMNW c = {};
        c.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        c.fmt = LVCFMT_LEFT;
        c.cx = columns[i].width;
        c.pszText = const_cast<wchar_t*>(columns[i].title);
        c.iSubItem = static_cast<int>(i);
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&c));
    }
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
