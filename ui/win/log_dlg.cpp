#include "ui/win/log_dlg.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "log/color_index.h"
#include "log/log_reader.h"
#include "ui/table_model.h"
#include "ui/win/resource.h"
#include "ui/win/win_util.h"

namespace movra {

namespace {

// The first batch fills the window at once; the rest follows in timer ticks, so a long file
// never freezes the window.
constexpr size_t kFirstBatch = 400;
constexpr size_t kBatch = 20000;
constexpr UINT_PTR kLoadTimer = 1;

// Where the window's lines come from: the next older lines, and whether any is left.
struct LineSource {
    std::function<std::vector<Text>(size_t count)> next;
    std::function<bool()> atEnd;
};

class CLogDlg {
  public:
    explicit CLogDlg(LineSource source) : reader_(std::move(source)) {
        colors_.SetColors(kLogWindowColors);
    }

    static INT_PTR CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
        CLogDlg* self = DialogObject<CLogDlg>(h, msg, lp);
        if (!self) return FALSE;
        if (msg == WM_INITDIALOG) self->hwnd_ = h;
        return GuardDialog([&] { return self->Handle(msg, wp, lp); });
    }

  private:
    INT_PTR Handle(UINT msg, WPARAM wp, LPARAM lp) {
        switch (msg) {
            case WM_INITDIALOG: {
                list_ = GetDlgItem(hwnd_, IDC_LOG_LIST);
                SetListColumns(list_, {{L"События", 650}});
                SendMessageW(list_, LVM_SETBKCOLOR, 0, kLogWindowColors[0].back);
                Load(kFirstBatch);
                if (!reader_.atEnd()) SetTimer(hwnd_, kLoadTimer, 1, nullptr);
                return TRUE;
            }
            case WM_TIMER:
                if (wp == kLoadTimer) {
                    Load(kBatch);
                    if (reader_.atEnd()) KillTimer(hwnd_, kLoadTimer);
                    return TRUE;
                }
                return FALSE;
            case WM_NOTIFY: {
                auto* hdr = reinterpret_cast<NMHDR*>(lp);
                if (hdr->idFrom != IDC_LOG_LIST) return FALSE;
                if (hdr->code == LVN_GETDISPINFOW) {
                    auto* di = reinterpret_cast<NMLVDISPINFOW*>(lp);
                    if ((di->item.mask & LVIF_TEXT) && di->item.iItem >= 0 &&
                        static_cast<size_t>(di->item.iItem) < lines_.size()) {
                        di->item.pszText = WMutable(lines_[di->item.iItem]);
                    }
                    return TRUE;
                }
                if (hdr->code == NM_CUSTOMDRAW)
                    return DialogResult(
                        hwnd_, DrawRowColors(*reinterpret_cast<NMLVCUSTOMDRAW*>(lp), colors_));
                return FALSE;
            }
            case WM_COMMAND:
                return EndOnOkOrCancel(hwnd_, wp);
            case WM_DPICHANGED:
                // The dialog manager scales the dialog itself; the column is ours.
                RescaleListColumns(list_, HIWORD(wp));
                return FALSE;
            case WM_CLOSE:
                EndDialog(hwnd_, IDCANCEL);
                return TRUE;
            case WM_DESTROY:
                KillTimer(hwnd_, kLoadTimer);
                return FALSE;
        }
        return FALSE;
    }

    void Load(size_t count) {
        std::vector<Text> more = reader_.next(count);
        if (more.empty()) return;
        // Newest first: older lines are appended below, so rows already shown keep their place.
        for (Text& t : more) lines_.push_back(std::move(t));
        SendMessageW(list_, LVM_SETITEMCOUNT, lines_.size(),
                     LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
        InvalidateRect(list_, nullptr, FALSE);
    }

    LineSource reader_;
    ColorIndexStore colors_;
    std::vector<Text> lines_;
    HWND hwnd_ = nullptr;
    HWND list_ = nullptr;
};

}  // namespace

void ShowLogFile(HINSTANCE inst, HWND owner, const Text& logFileName, MessagePort& messages) {
    LogFileReader reader;
    if (logFileName.empty() || !reader.Open(logFileName)) {
        messages.ShowMessage(LogViewOpenErrorText(logFileName));
        return;
    }
    CLogDlg dlg({[&reader](size_t n) { return reader.NextLines(n); },
                 [&reader] { return reader.AtEnd(); }});
    DialogBoxParamW(inst, MAKEINTRESOURCEW(IDD_LOG_DIALOG), owner, CLogDlg::Proc,
                    reinterpret_cast<LPARAM>(&dlg));
    reader.Close();
}

void ShowLogPages(HINSTANCE inst, HWND owner, const LogPager& pager, MessagePort& messages) {
    LogPageRead first = pager(true, static_cast<uint32_t>(kFirstBatch));
    if (first.error) {
        messages.ShowMessage(*first.error);
        return;
    }
    bool end = first.end;
    std::vector<Text> pending = std::move(first.lines);
    auto next = [&](size_t n) {
        if (!pending.empty()) return std::exchange(pending, {});
        if (end) return std::vector<Text>{};
        LogPageRead page = pager(false, static_cast<uint32_t>(std::min<size_t>(n, UINT32_MAX)));
        end = page.end || page.error.has_value() || page.lines.empty();
        return std::move(page.lines);
    };
    CLogDlg dlg({next, [&] { return end && pending.empty(); }});
    DialogBoxParamW(inst, MAKEINTRESOURCEW(IDD_LOG_DIALOG), owner, CLogDlg::Proc,
                    reinterpret_cast<LPARAM>(&dlg));
}

}  // namespace movra
