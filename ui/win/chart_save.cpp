#include "ui/win/chart_save.h"

#include <commdlg.h>

#include "ui/win/win_util.h"

namespace movra {

Text AskChartCsvPath(HWND owner) {
    wchar_t file[MAX_PATH] = L"channel.csv";
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = L"CSV (*.csv)\0*.csv\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = L"csv";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!GetSaveFileNameW(&ofn)) return {};
    return FromWide(file);
}

bool SaveCsvOrReport(HWND owner, const std::string& bytes, const Text& path,
                     const ChartCsvWriter& write) {
    Text error;
    if (write && write(bytes, path, error)) return true;
    ShowMessageBox(owner, error.empty() ? Fmt(u"Не удалось записать файл %s", path) : error,
                   BoxIcon::kExclamation);
    return false;
}

}  // namespace movra
