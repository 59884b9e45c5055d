#pragma once
// The channel chart's picture: painted into any DC, so that the window, the tests and the
// benchmark draw the same thing.
#include <windows.h>

#include "app/channel_history.h"
#include "ui/table_model.h"

namespace movra {

// Where PaintChart puts the two plots inside the rectangle it is given.
struct ChartPlots {
    RECT in = {};   // incoming, above
    RECT out = {};  // outgoing, below
};
ChartPlots ChartPlotRects(const RECT& area, const chart::View& v);
// The point of `v` drawn in column `x` of a plot (-1: outside it).
int ChartPointAt(const RECT& plot, const chart::View& v, int x);
// The plot's column where point `index` starts.
int ChartColumnOf(const RECT& plot, const chart::View& v, size_t index);
// The chart of `v` on a white background: legend, incoming above, outgoing below, stacked
// areas, the widths as lines, speed and time scales. Gaps draw nothing.
void PaintChart(HDC dc, const RECT& area, const chart::View& v, const ui::DisplayUnit& unit);
// The font the chart writes in, also its window's buttons'.
HFONT ChartFont();

}  // namespace movra
