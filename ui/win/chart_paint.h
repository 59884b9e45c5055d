#pragma once
// The channel chart's picture: painted into any DC, so that the window, the tests and the
// benchmark draw the same thing.
#include <windows.h>

#include "app/channel_history.h"
#include "ui/table_model.h"
#include "ui/win/dpi.h"

namespace movra {

// Where PaintChart puts the two plots inside the rectangle it is given.
struct ChartPlots {
    RECT in = {};   // incoming, above
    RECT out = {};  // outgoing, below
};
// Every length of the picture is a 96-DPI length drawn at `dpi`.
ChartPlots ChartPlotRects(const RECT& area, const chart::View& v, int dpi = kBaseDpi);
// Where the legend's entries start (its top left corner), one entry's height apart: the
// series from the top of the stack down, then the width lines.
RECT ChartLegendRect(const RECT& area, const chart::View& v, int dpi = kBaseDpi);
// The point of `v` drawn in column `x` of a plot (-1: outside it).
int ChartPointAt(const RECT& plot, const chart::View& v, int x);
// The plot's column where point `index` starts.
int ChartColumnOf(const RECT& plot, const chart::View& v, size_t index);
// The chart of `v` on a white background: legend, incoming above, outgoing below, stacked
// areas, the widths as lines, speed and time scales. Gaps draw nothing.
void PaintChart(HDC dc, const RECT& area, const chart::View& v, const ui::DisplayUnit& unit,
                int dpi = kBaseDpi);
// The font the chart writes in at `dpi`, also its window's buttons'; the process keeps it.
HFONT ChartFont(int dpi = kBaseDpi);

}  // namespace movra
