#include "ui/win/chart_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include "ui/win/dpi.h"
#include "ui/win/resource.h"
#include "ui/win/win_util.h"

namespace movra {

namespace {

constexpr wchar_t kClassName[] = L"MovraChannelChart";
constexpr UINT_PTR kRedrawTimer = 1;
constexpr UINT kRedrawMs = 1000;
constexpr int kIdRangeFirst = 101;  // three range buttons, in Range order
constexpr int kIdSave = 104;
// Sizes at 96 DPI.
constexpr int kToolbarHeight = 36;
constexpr SIZE kInitialSize = {980, 640};
constexpr SIZE kMinimumSize = {520, 380};
constexpr int kTipOffset = 16;  // from the cursor to the tooltip

}  // namespace

ChartWindow::ChartWindow(Sources sources) : src_(std::move(sources)) {}

ChartWindow::~ChartWindow() {
    Close();
}

void ChartWindow::Open(HINSTANCE inst) {
    if (!hwnd_) {
        Create(inst);
        if (!hwnd_) return;
        ShowWindow(hwnd_, SW_SHOWNORMAL);
        Redraw();
    } else if (IsIconic(hwnd_)) {
        ShowWindow(hwnd_, SW_RESTORE);
    } else {
        ShowWindow(hwnd_, SW_SHOW);
    }
    SetForegroundWindow(hwnd_);
}

void ChartWindow::Close() {
    if (hwnd_) DestroyWindow(hwnd_);
}

void ChartWindow::Create(HINSTANCE inst) {
    static const bool registered = [inst] {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = Proc;
        wc.hInstance = inst;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hIcon = LoadIconW(inst, MAKEINTRESOURCEW(IDR_MAINFRAME));
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc) != 0;
    }();
    if (!registered) return;
    // No owner: the window lives beside the main window and its modal dialogs, not under them.
    // It opens where the system puts new windows, on the screen whose DPI is the system's.
    const int dpi = SystemDpi();
    CreateWindowExW(0, kClassName, kChartTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                    CW_USEDEFAULT, CW_USEDEFAULT, Scale(kInitialSize.cx, dpi),
                    Scale(kInitialSize.cy, dpi), nullptr, nullptr, inst, this);
}

LRESULT CALLBACK ChartWindow::Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self =
            static_cast<ChartWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = h;
        self->dpi_ = DpiOf(h);
        SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<ChartWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (!self) return DefWindowProcW(h, msg, wp, lp);
    return GuardWindow(h, msg, wp, lp, [&] { return self->Handle(msg, wp, lp); });
}

LRESULT ChartWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CREATE: {
            HINSTANCE inst = reinterpret_cast<CREATESTRUCTW*>(lp)->hInstance;
            font_ = ChartFont(dpi_);
            auto button = [&](const char16_t* text, int id, DWORD style) {
                HWND b =
                    CreateWindowExW(0, WC_BUTTONW, W(text), WS_CHILD | WS_VISIBLE | style, 0, 0, 10,
                                    10, hwnd_, reinterpret_cast<HMENU>(INT_PTR(id)), inst, nullptr);
                SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
                return b;
            };
            for (int r = 0; r < 3; ++r)
                rangeButtons_[r] =
                    button(chart::RangeName(static_cast<chart::Range>(r)), kIdRangeFirst + r,
                           BS_AUTORADIOBUTTON | BS_PUSHLIKE | (r == 0 ? WS_GROUP : 0));
            saveButton_ = button(u"Сохранить CSV...", kIdSave, BS_PUSHBUTTON | WS_GROUP);
            SendMessageW(rangeButtons_[static_cast<int>(range_)], BM_SETCHECK, BST_CHECKED, 0);

            tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                   WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, 0, 0, 0, 0, hwnd_,
                                   nullptr, inst, nullptr);
            TOOLINFOW ti = {};
            ti.cbSize = sizeof(ti);
            ti.uFlags = TTF_TRACK | TTF_ABSOLUTE;
            ti.hwnd = hwnd_;
            ti.uId = 1;
            ti.lpszText = const_cast<wchar_t*>(L"");
            SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
            SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, Scale(600, dpi_));
            SetTimer(hwnd_, kRedrawTimer, kRedrawMs, nullptr);
            LayOut();
            return 0;
        }
        case WM_COMMAND:
            if (HIWORD(wp) == BN_CLICKED) {
                const int id = LOWORD(wp);
                if (id >= kIdRangeFirst && id < kIdRangeFirst + 3)
                    SetRange(static_cast<chart::Range>(id - kIdRangeFirst));
                else if (id == kIdSave)
                    AskAndSave();
            }
            return 0;
        case WM_TIMER:
            if (wp == kRedrawTimer) Tick();
            return 0;
        case WM_SIZE:
            LayOut();
            if (wp != SIZE_MINIMIZED) Redraw();
            return 0;
        case WM_GETMINMAXINFO: {
            auto* mm = reinterpret_cast<MINMAXINFO*>(lp);
            mm->ptMinTrackSize = {Scale(kMinimumSize.cx, dpi_), Scale(kMinimumSize.cy, dpi_)};
            return 0;
        }
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wp), lp);
            return 0;
        case WM_ERASEBKGND:
            return 1;  // WM_PAINT covers everything from the back buffer
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd_, &ps);
            RECT client;
            GetClientRect(hwnd_, &client);
            RECT bar = {0, 0, client.right, Scale(kToolbarHeight, dpi_)};
            FillRect(dc, &bar, GetSysColorBrush(COLOR_BTNFACE));
            const RECT area = ChartArea();
            if (memDc_)
                BitBlt(dc, area.left, area.top, bufSize_.cx, bufSize_.cy, memDc_, 0, 0, SRCCOPY);
            EndPaint(hwnd_, &ps);
            return 0;
        }
        case WM_MOUSEMOVE:
            OnMouseMove(GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
            return 0;
        case WM_MOUSELEAVE:
            tracking_ = false;
            HideTip();
            return 0;
        case WM_DESTROY:
            KillTimer(hwnd_, kRedrawTimer);
            if (memDc_) {
                SelectObject(memDc_, oldBitmap_);
                DeleteDC(memDc_);
                DeleteObject(bitmap_);
                memDc_ = nullptr;
                bitmap_ = nullptr;
                bufSize_ = {};
            }
            return 0;
        case WM_NCDESTROY: {
            HWND h = hwnd_;
            SetWindowLongPtrW(h, GWLP_USERDATA, 0);
            hwnd_ = tip_ = saveButton_ = nullptr;
            for (HWND& b : rangeButtons_) b = nullptr;
            tracking_ = tipShown_ = false;
            tipText_.clear();
            tipPos_ = {-1, -1};
            dirty_ = true;
            return DefWindowProcW(h, msg, wp, lp);
        }
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

RECT ChartWindow::ChartArea() const {
    RECT c = {};
    if (hwnd_) GetClientRect(hwnd_, &c);
    c.top = std::min<LONG>(Scale(kToolbarHeight, dpi_), c.bottom);
    return c;
}

void ChartWindow::LayOut() {
    auto px = [this](int v) { return Scale(v, dpi_); };
    int x = px(8);
    for (HWND b : rangeButtons_) {
        if (b) MoveWindow(b, x, px(6), px(80), px(24), TRUE);
        x += px(84);
    }
    if (saveButton_) MoveWindow(saveButton_, x + px(16), px(6), px(140), px(24), TRUE);
}

void ChartWindow::OnDpiChanged(int dpi, LPARAM suggested) {
    dpi_ = dpi;
    font_ = ChartFont(dpi_);
    for (HWND b : rangeButtons_)
        if (b) SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    if (saveButton_) SendMessageW(saveButton_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    if (tip_) SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, Scale(600, dpi_));
    // A window of the same size lays out and draws anew here; another size through WM_SIZE.
    TakeSuggestedRect(hwnd_, suggested);
    LayOut();
    Redraw();
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void ChartWindow::SetRange(chart::Range r) {
    range_ = r;
    for (int i = 0; i < 3; ++i)
        if (rangeButtons_[i])
            SendMessageW(rangeButtons_[i], BM_SETCHECK,
                         i == static_cast<int>(r) ? BST_CHECKED : BST_UNCHECKED, 0);
    Redraw();
}

void ChartWindow::Tick() {
    if (!hwnd_ || IsIconic(hwnd_)) return;
    // A redraw before the picture has moved by a column shows next to nothing new: the long
    // ranges redraw less often (at least every 10 s). Without new data the picture only moves
    // when the range's slot does.
    const RECT area = ChartArea();
    const RECT plot =
        ChartPlotRects({0, 0, area.right - area.left, area.bottom - area.top}, view_, dpi_).in;
    const int64_t column = chart::RangeSeconds(range_) / std::max(1L, plot.right - plot.left);
    const int64_t every = std::clamp<int64_t>(column, 1, 10);
    // Steady seconds: a clock set back or forward changes the labels, never the schedule.
    const int64_t age = src_.now().steady - builtAt_;
    if (age >= every && (dirty_ || age >= view_.step)) Redraw();
}

void ChartWindow::Redraw() {
    if (!hwnd_ || !src_.history) return;
    unit_ = src_.unit();
    const ClockStamp now = src_.now();
    builtAt_ = now.steady;
    view_ = src_.history->Shown(range_, now);
    dirty_ = false;

    const RECT area = ChartArea();
    const SIZE size = {std::max<LONG>(1, area.right - area.left),
                       std::max<LONG>(1, area.bottom - area.top)};
    if (!memDc_ || size.cx != bufSize_.cx || size.cy != bufSize_.cy) {
        if (memDc_) {
            SelectObject(memDc_, oldBitmap_);
            DeleteObject(bitmap_);
        } else {
            memDc_ = CreateCompatibleDC(nullptr);
        }
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = size.cx;
        bi.bmiHeader.biHeight = -size.cy;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(memDc_, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        oldBitmap_ = SelectObject(memDc_, bitmap_);
        bufSize_ = size;
    }
    PaintChart(memDc_, {0, 0, size.cx, size.cy}, view_, unit_, dpi_);
    ++redraws_;
    InvalidateRect(hwnd_, &area, FALSE);
    // The tooltip follows the data under the cursor.
    if (tipShown_) {
        POINT pt;
        GetCursorPos(&pt);
        ScreenToClient(hwnd_, &pt);
        OnMouseMove(pt.x, pt.y);
    }
}

void ChartWindow::OnMouseMove(int x, int y) {
    if (!tip_) return;
    if (!tracking_) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, hwnd_, 0};
        tracking_ = TrackMouseEvent(&tme) != FALSE;
    }
    const RECT area = ChartArea();
    const ChartPlots plots =
        ChartPlotRects({0, 0, area.right - area.left, area.bottom - area.top}, view_, dpi_);
    const int cy = y - area.top;
    int index = -1;
    for (const RECT& p : {plots.in, plots.out})
        if (cy >= p.top && cy < p.bottom) index = ChartPointAt(p, view_, x - area.left);
    if (index < 0) {
        HideTip();
        return;
    }
    // The tooltip lays itself out anew on every message: send only what changed.
    Text text = chart::TooltipText(view_, static_cast<size_t>(index), unit_);
    TOOLINFOW ti = {};
    ti.cbSize = sizeof(ti);
    ti.hwnd = hwnd_;
    ti.uId = 1;
    if (text != tipText_) {
        tipText_ = std::move(text);
        ti.lpszText = WMutable(tipText_);
        SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
    }
    POINT pt = {x + Scale(kTipOffset, dpi_), y + Scale(kTipOffset, dpi_)};
    ClientToScreen(hwnd_, &pt);
    if (pt.x != tipPos_.x || pt.y != tipPos_.y) {
        tipPos_ = pt;
        SendMessageW(tip_, TTM_TRACKPOSITION, 0, MAKELPARAM(pt.x, pt.y));
    }
    if (!tipShown_) {
        tipShown_ = true;
        SendMessageW(tip_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
    }
}

void ChartWindow::HideTip() {
    if (!tipShown_) return;
    tipShown_ = false;
    TOOLINFOW ti = {};
    ti.cbSize = sizeof(ti);
    ti.hwnd = hwnd_;
    ti.uId = 1;
    SendMessageW(tip_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
}

bool ChartWindow::SaveCsv(const Text& path) {
    if (!src_.history || !src_.save) return false;
    return SaveCsvOrReport(hwnd_,
                           chart::CsvBytes(src_.history->Full(range_, src_.now()), src_.unit()),
                           path, src_.save);
}

void ChartWindow::AskAndSave() {
    const Text path = AskChartCsvPath(hwnd_);
    if (!path.empty()) SaveCsv(path);
}

}  // namespace movra
