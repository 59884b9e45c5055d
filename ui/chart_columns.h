#pragma once
// Where the chart's points fall on the screen's columns, and a view cut down to one point per
// column, so that drawing a range costs what the plot's width costs, not what the range holds.
#include <cstddef>

#include "app/channel_history.h"

namespace movra::chart {

// The column, counted from the plot's left edge, where point `index` of `count` starts in a plot
// `width` columns wide. Point `count` gives `width`: the right edge.
int ColumnOf(size_t index, size_t count, int width);

// The point drawn in column `x` (from the plot's left edge) of `count` points over `width`
// columns; -1 outside the plot or when there are no points.
int PointAt(int x, size_t count, int width);

// When `v` has more points than `width`: `out` gets one point per column, each the mean of the
// points drawn there (gaps left out, held points counted as the cycle they show; the measured
// width the mean of the points that have one), a gap where all of them are gaps; true. With no
// more points than columns `out` is left alone and false says to draw `v` itself.
bool PerColumn(const View& v, int width, View& out);

}  // namespace movra::chart
