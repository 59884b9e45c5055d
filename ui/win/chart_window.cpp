#include "ui/win/chart_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "ui/win/resource.h"
#include "ui/win/win_util.h"

namespace movra {

namespace {

constexpr wchar_t kClassName[] = L"MovraChannelChart";
constexpr UINT_PTR kRedrawTimer = 1;
constexpr UINT kRedrawMs = 1000;
constexpr int kIdRangeFirst = 101;  // three range buttons, in Range order
constexpr int kIdSave = 104;
constexpr int kToolbarHeight = 36;

// Layout of the painted area, in pixels.
constexpr int kScaleWidth = 64;    // speed labels left of the plots
constexpr int kLegendWidth = 190;  // legend right of the plots
constexpr int kTitleHeight = 20;   // panel title above each plot
constexpr int kTimeHeight = 18;    // time labels below each plot
constexpr int kMargin = 6;

constexpr COLORREF kBackground = RGB(255, 255, 255);
constexpr COLORREF kGrid = RGB(225, 225, 225);
constexpr COLORREF kAxisText = RGB(60, 60, 60);
constexpr COLORREF kWidthLine = RGB(0, 0, 0);

COLORREF ToColorRef(uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

uint32_t ColorToPixel(COLORREF c) {
    return (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c);
}

HFONT ChartFont() {
    static HFONT font = [] {
        NONCLIENTMETRICSW m = {};
        m.cbSize = sizeof(m);
        if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(m), &m, 0))
            return CreateFontIndirectW(&m.lfMessageFont);
        return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }();
    return font;
}

// A scale of 1, 2 or 5 times a power of ten that puts at most five lines over `top`.
struct Scale {
    double step = 1;
    double top = 4;
};

Scale NiceScale(double top) {
    Scale s;
    if (!(top > 0)) return s;
    const double raw = top / 5;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        s.step = m * p;
        if (s.step >= raw) break;
    }
    s.top = std::ceil(top / s.step - 1e-9) * s.step;
    return s;
}

// "12 500" or "2,5": digits grouped by a space, a decimal comma when the step needs one.
std::wstring ScaleLabel(double v, double step) {
    if (step < 1) {
        wchar_t buf[32];
        swprintf(buf, 32, L"%.1f", v);
        std::wstring s = buf;
        std::replace(s.begin(), s.end(), L'.', L',');
        return s;
    }
    std::wstring digits = std::to_wstring(static_cast<long long>(std::llround(v)));
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, 1, L' ');
    return digits;
}

int YOf(const RECT& plot, double value, double top) {
    const double f = std::clamp(value / top, 0.0, 1.0);
    return plot.bottom - static_cast<int>(std::lround(f * (plot.bottom - plot.top)));
}

void Text_(HDC dc, const std::wstring& s, RECT r, UINT flags) {
    DrawTextW(dc, s.c_str(), static_cast<int>(s.size()), &r,
              flags | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

class GdiPen {
  public:
    GdiPen(HDC dc, HPEN pen) : dc_(dc), pen_(pen), old_(SelectObject(dc, pen)) {}
    ~GdiPen() {
        SelectObject(dc_, old_);
        DeleteObject(pen_);
    }
    GdiPen(const GdiPen&) = delete;
    GdiPen& operator=(const GdiPen&) = delete;

  private:
    HDC dc_;
    HPEN pen_;
    HGDIOBJ old_;
};

// Lines are drawn twice one pixel apart with a thin pen: a wide pen costs far more to draw.
HPEN LinePen(bool dashed) {
    return CreatePen(dashed ? PS_DASH : PS_SOLID, 1, kWidthLine);
}

// Fills rectangles of one colour into the DC's 32-bit DIB section directly, or through GDI
// when the DC holds anything else.
class Pixels {
  public:
    explicit Pixels(HDC dc) : dc_(dc) {
        DIBSECTION ds = {};
        HGDIOBJ bmp = GetCurrentObject(dc, OBJ_BITMAP);
        if (GetObjectW(bmp, sizeof(ds), &ds) == sizeof(ds) && ds.dsBm.bmBitsPixel == 32 &&
            ds.dsBm.bmBits) {
            GdiFlush();  // what GDI drew before is in the pixels
            bits_ = static_cast<uint32_t*>(ds.dsBm.bmBits);
            width_ = ds.dsBm.bmWidth;
            height_ = ds.dsBm.bmHeight;
            stride_ = ds.dsBm.bmWidthBytes / 4;
            // Which way the rows run is not reported alike everywhere: look where row 0 is.
            const COLORREF was = GetPixel(dc, 0, 0);
            SetPixelV(dc, 0, 0, was ^ 0xFFFFFF);
            GdiFlush();
            topDown_ = (bits_[0] & 0xFFFFFF) != ColorToPixel(was);
            SetPixelV(dc, 0, 0, was);
            GdiFlush();
        }
    }
    // Columns [x0, x1), rows [y0, y1); rgb as 0xRRGGBB, which is also the pixel's layout.
    void Fill(int x0, int x1, int y0, int y1, uint32_t rgb) const {
        if (!bits_) {
            RECT r = {x0, y0, x1, y1};
            HBRUSH b = CreateSolidBrush(ToColorRef(rgb));
            FillRect(dc_, &r, b);
            DeleteObject(b);
            return;
        }
        x0 = std::max(x0, 0), x1 = std::min(x1, width_);
        y0 = std::max(y0, 0), y1 = std::min(y1, height_);
        for (int y = y0; y < y1; ++y) {
            uint32_t* row =
                bits_ + static_cast<ptrdiff_t>(topDown_ ? y : height_ - 1 - y) * stride_;
            std::fill(row + x0, row + std::max(x0, x1), rgb & 0xFFFFFF);
        }
    }

  private:
    HDC dc_;
    uint32_t* bits_ = nullptr;
    int width_ = 0, height_ = 0, stride_ = 0;
    bool topDown_ = true;
};

// More points than columns: one point per column, the mean of the points drawn there (a gap
// when all of them are), so that drawing costs what the width costs, not what the range holds.
bool PerColumn(const chart::View& v, const RECT& plot, chart::View& r) {
    const int width = plot.right - plot.left;
    if (static_cast<int>(v.points.size()) <= width) return false;
    r.range = v.range;
    r.step = v.step;
    r.series = v.series;
    r.points.resize(static_cast<size_t>(width));
    const size_t ns = v.series.size();
    std::vector<int> counts(static_cast<size_t>(width), 0), measured(static_cast<size_t>(width), 0);
    for (chart::Point& p : r.points) p.in.assign(ns, 0.0), p.out.assign(ns, 0.0);
    for (size_t i = 0; i < v.points.size(); ++i) {
        const size_t c = static_cast<size_t>(ChartColumnOf(plot, v, i) - plot.left);
        chart::Point& to = r.points[c];
        const chart::Point& from = v.points[i];
        if (counts[c] == 0 && measured[c] == 0) to.time = from.time;
        if (from.gap) continue;
        ++counts[c];
        for (size_t s = 0; s < ns && s < from.in.size() && s < from.out.size(); ++s) {
            to.in[s] += from.in[s];
            to.out[s] += from.out[s];
        }
        to.widthIn += from.widthIn;
        to.widthOut += from.widthOut;
        if (from.measured) {
            ++measured[c];
            to.measuredIn += from.measuredIn;
        }
    }
    for (size_t c = 0; c < r.points.size(); ++c) {
        chart::Point& p = r.points[c];
        p.gap = counts[c] == 0;
        if (p.gap) continue;
        const double k = 1.0 / counts[c];
        for (size_t s = 0; s < ns; ++s) p.in[s] *= k, p.out[s] *= k;
        p.widthIn *= k;
        p.widthOut *= k;
        p.measured = measured[c] > 0;
        if (p.measured) p.measuredIn /= measured[c];
    }
    return true;
}

// One panel: the series' stacked areas over its plot, the width lines and both scales.
struct Panel {
    const wchar_t* title;
    bool incoming;
};

double Value(const chart::Point& p, bool incoming, size_t s) {
    const std::vector<double>& v = incoming ? p.in : p.out;
    return s < v.size() ? std::max(0.0, v[s]) : 0.0;
}

double PanelTop(const chart::View& v, bool incoming) {
    double top = 0;
    for (const chart::Point& p : v.points) {
        if (p.gap) continue;
        double sum = 0;
        for (size_t s = 0; s < v.series.size(); ++s) sum += Value(p, incoming, s);
        top = std::max({top, sum, incoming ? p.widthIn : p.widthOut});
        if (incoming && p.measured) top = std::max(top, p.measuredIn);
    }
    return top;
}

// A line along the points that pass `has`, broken where they do not.
template <class Has, class Y>
void StepLine(HDC dc, const RECT& plot, const chart::View& v, Has has, Y y) {
    std::vector<POINT> run;
    auto flush = [&] {
        if (run.size() >= 2) {
            Polyline(dc, run.data(), static_cast<int>(run.size()));
            for (POINT& pt : run) --pt.y;
            Polyline(dc, run.data(), static_cast<int>(run.size()));
        }
        run.clear();
    };
    // A level stretch is one segment.
    auto add = [&run](POINT pt) {
        const size_t k = run.size();
        if (k >= 2 && run[k - 1].y == pt.y && run[k - 2].y == pt.y)
            run[k - 1] = pt;
        else
            run.push_back(pt);
    };
    for (size_t i = 0; i < v.points.size(); ++i) {
        const chart::Point& p = v.points[i];
        if (!has(p)) {
            flush();
            continue;
        }
        const int yy = y(p);
        add({ChartColumnOf(plot, v, i), yy});
        add({ChartColumnOf(plot, v, i + 1), yy});
    }
    flush();
}

// `v` is what is drawn, `axis` the view whose times the time scale shows.
void PaintPanel(HDC dc, const RECT& plot, const chart::View& v, const chart::View& axis,
                const ui::DisplayUnit& unit, const Panel& panel) {
    const double divisor = unit.divisor > 0 ? unit.divisor : 1.0;
    const Scale scale = NiceScale(PanelTop(v, panel.incoming) / divisor);
    const double top = scale.top * divisor;  // in kbit/s

    // Title and speed scale with light grid lines.
    SetTextColor(dc, kAxisText);
    Text_(dc, std::wstring(panel.title) + L", " + W(unit.unit),
          {plot.left, plot.top - kTitleHeight, plot.right, plot.top - 2}, DT_LEFT | DT_BOTTOM);
    {
        GdiPen pen(dc, CreatePen(PS_SOLID, 1, kGrid));
        for (double t = 0; t <= scale.top + scale.step / 2; t += scale.step) {
            const int y = YOf(plot, t * divisor, top);
            MoveToEx(dc, plot.left, y, nullptr);
            LineTo(dc, plot.right, y);
            Text_(dc, ScaleLabel(t, scale.step),
                  {plot.left - kScaleWidth, y - 9, plot.left - 4, y + 9}, DT_RIGHT | DT_VCENTER);
        }
    }

    // Stacked areas, bottom series first: each point a column span per series, written
    // straight into the back buffer's pixels (a polygon per series costs far more to fill).
    const Pixels px(dc);
    for (size_t i = 0; i < v.points.size(); ++i) {
        const chart::Point& p = v.points[i];
        if (p.gap) continue;
        const int x0 = ChartColumnOf(plot, v, i), x1 = ChartColumnOf(plot, v, i + 1);
        double sum = 0;
        int below = plot.bottom;
        for (size_t s = 0; s < v.series.size(); ++s) {
            sum += Value(p, panel.incoming, s);
            const int y = YOf(plot, sum, top);
            px.Fill(x0, x1, y, below, v.series[s].rgb);
            below = y;
        }
    }

    // The channel width, solid; the measured incoming width, dashed.
    {
        GdiPen pen(dc, LinePen(false));
        StepLine(
            dc, plot, v, [&](const chart::Point& p) { return !p.gap; },
            [&](const chart::Point& p) {
                return YOf(plot, panel.incoming ? p.widthIn : p.widthOut, top);
            });
    }
    if (panel.incoming) {
        GdiPen pen(dc, LinePen(true));
        StepLine(
            dc, plot, v, [](const chart::Point& p) { return !p.gap && p.measured; },
            [&](const chart::Point& p) { return YOf(plot, p.measuredIn, top); });
    }

    // Axes and the time scale: a label every so many minutes, at least 80 px apart.
    {
        GdiPen pen(dc, CreatePen(PS_SOLID, 1, kAxisText));
        MoveToEx(dc, plot.left, plot.top, nullptr);
        LineTo(dc, plot.left, plot.bottom);
        LineTo(dc, plot.right, plot.bottom);
        if (axis.points.empty()) return;
        const int64_t span = static_cast<int64_t>(axis.points.size()) * axis.step;
        const int width = std::max(1L, plot.right - plot.left);
        int64_t every = 86400;
        for (int64_t e : {60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200}) {
            if (static_cast<double>(e) / span * width >= 80) {
                every = e;
                break;
            }
        }
        // Labels follow the wall clock: a clock change shows as a jump in them, and the jump's
        // label wins over a regular one it would overlap.
        struct Label {
            int x;
            int64_t local;
        };
        std::vector<Label> labels;
        for (const chart::TimeMark& m : chart::TimeMarks(axis, every)) {
            const int x = ChartColumnOf(plot, axis, m.index);
            if (x < plot.left + 20) continue;  // would crowd the scale's "0"
            MoveToEx(dc, x, plot.bottom, nullptr);
            LineTo(dc, x, plot.bottom + 4);
            if (!labels.empty() && x - labels.back().x < 60) {
                if (!m.jump) continue;
                labels.pop_back();
            }
            labels.push_back({x, m.local});
        }
        for (const Label& l : labels) {
            const int64_t day = ((l.local % 86400) + 86400) % 86400;
            wchar_t buf[16];
            swprintf(buf, 16, L"%02d:%02d", static_cast<int>(day / 3600),
                     static_cast<int>(day / 60 % 60));
            Text_(dc, buf, {l.x - 40, plot.bottom + 3, l.x + 40, plot.bottom + kTimeHeight},
                  DT_CENTER | DT_TOP);
        }
    }
}

// The legend: the series from the top of the stack down, as they are seen, then the lines (the
// measured width only when the range has it).
void PaintLegend(HDC dc, const RECT& box, const chart::View& v) {
    const int line = 20;
    int y = box.top;
    SetTextColor(dc, kAxisText);
    for (size_t k = v.series.size(); k-- > 0;) {
        if (y + line > box.bottom) break;
        RECT sq = {box.left, y + 4, box.left + 12, y + 16};
        HBRUSH brush = CreateSolidBrush(ToColorRef(v.series[k].rgb));
        FillRect(dc, &sq, brush);
        DeleteObject(brush);
        Text_(dc, W(v.series[k].name), {box.left + 18, y, box.right, y + line},
              DT_LEFT | DT_VCENTER);
        y += line;
    }
    y += line / 2;
    const std::pair<const wchar_t*, bool> lines[2] = {{L"Ширина канала", false},
                                                      {L"Измеренная ширина", true}};
    const bool measured = std::any_of(v.points.begin(), v.points.end(),
                                      [](const chart::Point& p) { return !p.gap && p.measured; });
    for (const auto& [name, dashed] : lines) {
        if (y + line > box.bottom) break;
        if (dashed && !measured) continue;
        {
            // Short dashes, so that the sample reads as dashed at its length.
            GdiPen pen(dc, LinePen(false));
            for (int x = box.left; x < box.left + 22; x += dashed ? 8 : 22) {
                for (int d = 0; d < 2; ++d) {
                    MoveToEx(dc, x, y + line / 2 - d, nullptr);
                    LineTo(dc, std::min<int>(x + (dashed ? 5 : 22), box.left + 22),
                           y + line / 2 - d);
                }
            }
        }
        Text_(dc, name, {box.left + 28, y, box.right, y + line}, DT_LEFT | DT_VCENTER);
        y += line;
    }
}

}  // namespace

ChartPlots ChartPlotRects(const RECT& area, const chart::View&) {
    ChartPlots p;
    const int w = area.right - area.left;
    const int legend = std::min(kLegendWidth, std::max(0, w / 4));
    const int left = area.left + kScaleWidth;
    const int right = std::max(left + 1, static_cast<int>(area.right) - legend - kMargin);
    const int half = (area.bottom - area.top) / 2;
    p.in = {left, area.top + kTitleHeight + kMargin, right, area.top + half - kTimeHeight};
    p.out = {left, area.top + half + kTitleHeight, right, area.bottom - kTimeHeight - kMargin};
    for (RECT* r : {&p.in, &p.out}) r->bottom = std::max(r->bottom, r->top + 1);
    return p;
}

int ChartColumnOf(const RECT& plot, const chart::View& v, size_t index) {
    const int64_t n = std::max<int64_t>(1, static_cast<int64_t>(v.points.size()));
    return plot.left + static_cast<int>(static_cast<int64_t>(index) * (plot.right - plot.left) / n);
}

int ChartPointAt(const RECT& plot, const chart::View& v, int x) {
    if (x < plot.left || x >= plot.right || v.points.empty()) return -1;
    const int64_t n = static_cast<int64_t>(v.points.size());
    int64_t i = (static_cast<int64_t>(x - plot.left) * n) / (plot.right - plot.left);
    // Columns are cut like ChartColumnOf cuts them; step back where rounding crossed over.
    while (i > 0 && ChartColumnOf(plot, v, static_cast<size_t>(i)) > x) --i;
    while (i + 1 < n && ChartColumnOf(plot, v, static_cast<size_t>(i + 1)) <= x) ++i;
    return static_cast<int>(i);
}

void PaintChart(HDC dc, const RECT& area, const chart::View& v, const ui::DisplayUnit& unit) {
    HBRUSH back = CreateSolidBrush(kBackground);
    FillRect(dc, &area, back);
    DeleteObject(back);
    HGDIOBJ oldFont = SelectObject(dc, ChartFont());
    SetBkMode(dc, TRANSPARENT);
    const ChartPlots plots = ChartPlotRects(area, v);
    chart::View reduced;
    const chart::View& drawn = PerColumn(v, plots.in, reduced) ? reduced : v;
    PaintPanel(dc, plots.in, drawn, v, unit, {L"Вход", true});
    PaintPanel(dc, plots.out, drawn, v, unit, {L"Выход", false});
    PaintLegend(dc, {plots.in.right + 2 * kMargin, plots.in.top, area.right - kMargin, area.bottom},
                v);
    SelectObject(dc, oldFont);
}

// ---- The window ----

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
    CreateWindowExW(0, kClassName, kChartTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                    CW_USEDEFAULT, CW_USEDEFAULT, 980, 640, nullptr, nullptr, inst, this);
}

LRESULT CALLBACK ChartWindow::Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self =
            static_cast<ChartWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = h;
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
            font_ = ChartFont();
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
            SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, 600);
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
            mm->ptMinTrackSize = {520, 380};
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;  // WM_PAINT covers everything from the back buffer
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd_, &ps);
            RECT client;
            GetClientRect(hwnd_, &client);
            RECT bar = {0, 0, client.right, kToolbarHeight};
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
    c.top = std::min<LONG>(kToolbarHeight, c.bottom);
    return c;
}

void ChartWindow::LayOut() {
    int x = 8;
    for (HWND b : rangeButtons_) {
        if (b) MoveWindow(b, x, 6, 80, 24, TRUE);
        x += 84;
    }
    if (saveButton_) MoveWindow(saveButton_, x + 16, 6, 140, 24, TRUE);
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
        ChartPlotRects({0, 0, area.right - area.left, area.bottom - area.top}, view_).in;
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
    PaintChart(memDc_, {0, 0, size.cx, size.cy}, view_, unit_);
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
        ChartPlotRects({0, 0, area.right - area.left, area.bottom - area.top}, view_);
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
    POINT pt = {x + 16, y + 16};
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
    const std::string bytes = chart::CsvBytes(src_.history->Full(range_, src_.now()), src_.unit());
    Text error;
    if (src_.save(bytes, path, error)) return true;
    ShowMessageBox(hwnd_, error.empty() ? Fmt(u"Не удалось записать файл %s", path) : error,
                   BoxIcon::kExclamation);
    return false;
}

void ChartWindow::AskAndSave() {
    wchar_t file[MAX_PATH] = L"channel.csv";
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = L"CSV (*.csv)\0*.csv\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = L"csv";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!GetSaveFileNameW(&ofn)) return;
    SaveCsv(FromWide(file));
}

}  // namespace movra
