#include "ui/win/chart_paint.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "core/clock.h"
#include "ui/chart_columns.h"
#include "ui/win/dpi.h"
#include "ui/win/win_util.h"

namespace movra {

namespace {

// Layout of the painted area, in pixels at 96 DPI.
constexpr int kScaleWidth = 64;    // speed labels left of the plots
constexpr int kLegendWidth = 190;  // legend right of the plots
constexpr int kTitleHeight = 20;   // panel title above each plot
constexpr int kTimeHeight = 18;    // time labels below each plot
constexpr int kMargin = 6;
constexpr int kLegendLine = 20;  // one legend entry's height

// Lengths at 96 DPI at the DPI drawn at.
struct Px {
    int dpi;
    int operator()(int px) const { return Scale(px, dpi); }
};

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
Text ScaleLabel(double v, double step) {
    return step < 1 ? FixedText(v, 1, u',') : FixedText(v, 0, u',', u' ');
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

// The width lines are 2 px thick at 96 DPI, drawn as that many thin lines one pixel apart: a
// wide pen costs far more to draw, and cannot dash.
HPEN LinePen(bool dashed) {
    return CreatePen(dashed ? PS_DASH : PS_SOLID, 1, kWidthLine);
}
int WidthLineCopies(const Px& px) {
    return px(2);
}

// The grid's, axes' and ticks' 1 px lines, as thick as the DPI makes them.
HPEN ThinPen(const Px& px, COLORREF c) {
    return CreatePen(PS_SOLID, px(1), c);
}

// Fills rectangles of one color into the DC's 32-bit DIB section directly, or through GDI
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
void StepLine(HDC dc, const RECT& plot, const chart::View& v, int copies, Has has, Y y) {
    std::vector<POINT> run;
    auto flush = [&] {
        if (run.size() >= 2) {
            for (int c = 0; c < copies; ++c) {
                if (c > 0)
                    for (POINT& pt : run) --pt.y;
                Polyline(dc, run.data(), static_cast<int>(run.size()));
            }
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
                const ui::DisplayUnit& unit, const Panel& panel, const Px& px) {
    const double divisor = unit.divisor > 0 ? unit.divisor : 1.0;
    const Scale scale = NiceScale(PanelTop(v, panel.incoming) / divisor);
    const double top = scale.top * divisor;  // in kbit/s

    // Title and speed scale with light grid lines.
    SetTextColor(dc, kAxisText);
    Text_(dc, std::wstring(panel.title) + L", " + W(unit.unit),
          {plot.left, plot.top - px(kTitleHeight), plot.right, plot.top - px(2)},
          DT_LEFT | DT_BOTTOM);
    {
        GdiPen pen(dc, ThinPen(px, kGrid));
        for (double t = 0; t <= scale.top + scale.step / 2; t += scale.step) {
            const int y = YOf(plot, t * divisor, top);
            MoveToEx(dc, plot.left, y, nullptr);
            LineTo(dc, plot.right, y);
            Text_(dc, W(ScaleLabel(t, scale.step)),
                  {plot.left - px(kScaleWidth), y - px(9), plot.left - px(4), y + px(9)},
                  DT_RIGHT | DT_VCENTER);
        }
    }

    // Stacked areas, bottom series first: each point a column span per series, written
    // straight into the back buffer's pixels (a polygon per series costs far more to fill).
    const Pixels pixels(dc);
    for (size_t i = 0; i < v.points.size(); ++i) {
        const chart::Point& p = v.points[i];
        if (p.gap) continue;
        const int x0 = ChartColumnOf(plot, v, i), x1 = ChartColumnOf(plot, v, i + 1);
        double sum = 0;
        int below = plot.bottom;
        for (size_t s = 0; s < v.series.size(); ++s) {
            sum += Value(p, panel.incoming, s);
            const int y = YOf(plot, sum, top);
            pixels.Fill(x0, x1, y, below, v.series[s].rgb);
            below = y;
        }
    }

    // The channel width, solid; the measured incoming width, dashed.
    {
        GdiPen pen(dc, LinePen(false));
        StepLine(
            dc, plot, v, WidthLineCopies(px), [&](const chart::Point& p) { return !p.gap; },
            [&](const chart::Point& p) {
                return YOf(plot, panel.incoming ? p.widthIn : p.widthOut, top);
            });
    }
    if (panel.incoming) {
        GdiPen pen(dc, LinePen(true));
        StepLine(
            dc, plot, v, WidthLineCopies(px),
            [](const chart::Point& p) { return !p.gap && p.measured; },
            [&](const chart::Point& p) { return YOf(plot, p.measuredIn, top); });
    }

    // Axes and the time scale: a label every so many minutes, at least 80 px apart.
    {
        GdiPen pen(dc, ThinPen(px, kAxisText));
        MoveToEx(dc, plot.left, plot.top, nullptr);
        LineTo(dc, plot.left, plot.bottom);
        LineTo(dc, plot.right, plot.bottom);
        if (axis.points.empty()) return;
        const int64_t span = static_cast<int64_t>(axis.points.size()) * axis.step;
        const int width = std::max(1L, plot.right - plot.left);
        int64_t every = 86400;
        for (int64_t e : {60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200}) {
            if (static_cast<double>(e) / span * width >= px(80)) {
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
            if (x < plot.left + px(20)) continue;  // would crowd the scale's "0"
            MoveToEx(dc, x, plot.bottom, nullptr);
            LineTo(dc, x, plot.bottom + px(4));
            if (!labels.empty() && x - labels.back().x < px(60)) {
                if (!m.jump) continue;
                labels.pop_back();
            }
            labels.push_back({x, m.local});
        }
        for (const Label& l : labels) {
            const Text hm = ClockText(CivilTime(l.local), {.date = false, .seconds = false});
            Text_(dc, W(hm),
                  {l.x - px(40), plot.bottom + px(3), l.x + px(40), plot.bottom + px(kTimeHeight)},
                  DT_CENTER | DT_TOP);
        }
    }
}

// The legend: the series from the top of the stack down, as they are seen, then the lines (the
// measured width only when the range has it).
void PaintLegend(HDC dc, const RECT& box, const chart::View& v, const Px& px) {
    const int line = px(kLegendLine);
    int y = box.top;
    SetTextColor(dc, kAxisText);
    for (size_t k = v.series.size(); k-- > 0;) {
        if (y + line > box.bottom) break;
        RECT sq = {box.left, y + px(4), box.left + px(12), y + px(16)};
        HBRUSH brush = CreateSolidBrush(ToColorRef(v.series[k].rgb));
        FillRect(dc, &sq, brush);
        DeleteObject(brush);
        Text_(dc, W(v.series[k].name), {box.left + px(18), y, box.right, y + line},
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
            const int length = px(22), dash = px(5), every = px(8);
            for (int x = box.left; x < box.left + length; x += dashed ? every : length) {
                for (int d = 0; d < WidthLineCopies(px); ++d) {
                    MoveToEx(dc, x, y + line / 2 - d, nullptr);
                    LineTo(dc, std::min<int>(x + (dashed ? dash : length), box.left + length),
                           y + line / 2 - d);
                }
            }
        }
        Text_(dc, name, {box.left + px(28), y, box.right, y + line}, DT_LEFT | DT_VCENTER);
        y += line;
    }
}

}  // namespace

HFONT ChartFont(int dpi) {
    // One font per DPI met, kept for the process's life (a few at most).
    static std::map<int, HFONT> fonts;
    HFONT& font = fonts[dpi];
    if (font) return font;
    using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = reinterpret_cast<ForDpiFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    NONCLIENTMETRICSW m = {};
    m.cbSize = sizeof(m);
    const int systemDpi = SystemDpi();
    if (dpi != systemDpi && forDpi &&
        forDpi(SPI_GETNONCLIENTMETRICS, sizeof(m), &m, 0, static_cast<UINT>(dpi))) {
        font = CreateFontIndirectW(&m.lfMessageFont);
    } else if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(m), &m, 0)) {
        // The system's metrics are at the system's DPI.
        m.lfMessageFont.lfHeight = MulDiv(m.lfMessageFont.lfHeight, dpi, systemDpi);
        font = CreateFontIndirectW(&m.lfMessageFont);
    }
    if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    return font;
}

ChartPlots ChartPlotRects(const RECT& area, const chart::View&, int dpi) {
    const Px px{dpi};
    ChartPlots p;
    const int w = area.right - area.left;
    const int legend = std::min(px(kLegendWidth), std::max(0, w / 4));
    const int left = area.left + px(kScaleWidth);
    const int right = std::max(left + 1, static_cast<int>(area.right) - legend - px(kMargin));
    const int half = (area.bottom - area.top) / 2;
    p.in = {left, area.top + px(kTitleHeight) + px(kMargin), right,
            area.top + half - px(kTimeHeight)};
    p.out = {left, area.top + half + px(kTitleHeight), right,
             area.bottom - px(kTimeHeight) - px(kMargin)};
    for (RECT* r : {&p.in, &p.out}) r->bottom = std::max(r->bottom, r->top + 1);
    return p;
}

RECT ChartLegendRect(const RECT& area, const chart::View& v, int dpi) {
    const Px px{dpi};
    const ChartPlots plots = ChartPlotRects(area, v, dpi);
    return {plots.in.right + 2 * px(kMargin), plots.in.top, area.right - px(kMargin), area.bottom};
}

int ChartColumnOf(const RECT& plot, const chart::View& v, size_t index) {
    return plot.left + chart::ColumnOf(index, v.points.size(), plot.right - plot.left);
}

int ChartPointAt(const RECT& plot, const chart::View& v, int x) {
    return chart::PointAt(x - plot.left, v.points.size(), plot.right - plot.left);
}

void PaintChart(HDC dc, const RECT& area, const chart::View& v, const ui::DisplayUnit& unit,
                int dpi) {
    const Px px{dpi};
    HBRUSH back = CreateSolidBrush(kBackground);
    FillRect(dc, &area, back);
    DeleteObject(back);
    HGDIOBJ oldFont = SelectObject(dc, ChartFont(dpi));
    SetBkMode(dc, TRANSPARENT);
    const ChartPlots plots = ChartPlotRects(area, v, dpi);
    chart::View reduced;
    const chart::View& drawn =
        chart::PerColumn(v, plots.in.right - plots.in.left, reduced) ? reduced : v;
    PaintPanel(dc, plots.in, drawn, v, unit, {L"Вход", true}, px);
    PaintPanel(dc, plots.out, drawn, v, unit, {L"Выход", false}, px);
    PaintLegend(dc, ChartLegendRect(area, v, dpi), v, px);
    SelectObject(dc, oldFont);
}

}  // namespace movra
