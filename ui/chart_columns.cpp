#include "ui/chart_columns.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace movra::chart {

int ColumnOf(size_t index, size_t count, int width) {
    const int64_t n = std::max<int64_t>(1, static_cast<int64_t>(count));
    return static_cast<int>(static_cast<int64_t>(index) * width / n);
}

int PointAt(int x, size_t count, int width) {
    if (x < 0 || x >= width || count == 0) return -1;
    const int64_t n = static_cast<int64_t>(count);
    int64_t i = static_cast<int64_t>(x) * n / width;
    // Columns are cut like ColumnOf cuts them; step back where rounding crossed over.
    while (i > 0 && ColumnOf(static_cast<size_t>(i), count, width) > x) --i;
    while (i + 1 < n && ColumnOf(static_cast<size_t>(i + 1), count, width) <= x) ++i;
    return static_cast<int>(i);
}

bool PerColumn(const View& v, int width, View& r) {
    if (width < 1 || v.points.size() <= static_cast<size_t>(width)) return false;
    r.range = v.range;
    r.step = v.step;
    r.series = v.series;
    r.points.assign(static_cast<size_t>(width), Point{});
    const size_t ns = v.series.size();
    std::vector<int> counts(static_cast<size_t>(width), 0), measured(static_cast<size_t>(width), 0);
    std::vector<bool> named(static_cast<size_t>(width), false);
    for (Point& p : r.points) p.in.assign(ns, 0.0), p.out.assign(ns, 0.0);
    for (size_t i = 0; i < v.points.size(); ++i) {
        const size_t c = static_cast<size_t>(ColumnOf(i, v.points.size(), width));
        Point& to = r.points[c];
        const Point& from = v.points[i];
        // A column is named by the first point drawn in it.
        if (!named[c]) {
            named[c] = true;
            to.time = from.time;
            to.local = from.local;
        }
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
        Point& p = r.points[c];
        p.gap = counts[c] == 0;
        if (p.gap) {
            // A gap holds no figures, as the history's own gaps do.
            p.in.clear();
            p.out.clear();
            continue;
        }
        const double k = 1.0 / counts[c];
        for (size_t s = 0; s < ns; ++s) p.in[s] *= k, p.out[s] *= k;
        p.widthIn *= k;
        p.widthOut *= k;
        p.measured = measured[c] > 0;
        if (p.measured) p.measuredIn /= measured[c];
    }
    return true;
}

}  // namespace movra::chart
