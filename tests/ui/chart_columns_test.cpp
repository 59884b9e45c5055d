#include "ui/chart_columns.h"

#include <gtest/gtest.h>

namespace movra::chart {
namespace {

// One series; incoming `in`, outgoing a tenth of it, the widths 1000 / 100.
Point P(double in, bool held = false) {
    Point p;
    p.gap = false;
    p.held = held;
    p.in = {in};
    p.out = {in / 10};
    p.widthIn = 1000;
    p.widthOut = 100;
    return p;
}

Point Gap() {
    return Point{};
}

View Of(std::vector<Point> points, Range r = Range::k1Hour) {
    View v;
    v.range = r;
    v.series = {{1, u"g1", 0x1F77B4}};
    for (size_t i = 0; i < points.size(); ++i) {
        points[i].time = 1000 + static_cast<int64_t>(i);
        points[i].local = 5000 + static_cast<int64_t>(i);
    }
    v.points = std::move(points);
    return v;
}

TEST(ChartColumns, AColumnIsTheMeanOfItsPointsWithGapsLeftOutAndHeldPointsCounted) {
    // Ten points over four columns: 3, 2, 3 and 2 points (0-2, 3-4, 5-7, 8-9).
    Point measured = P(30);
    measured.measured = true;
    measured.measuredIn = 900;
    Point wider = P(60);
    wider.widthIn = 2000;
    const View v =
        Of({P(10), Gap(), P(20, true), Gap(), Gap(), measured, P(60), wider, P(5), P(7)});
    View r;
    ASSERT_TRUE(PerColumn(v, 4, r));
    ASSERT_EQ(r.points.size(), 4u);
    EXPECT_EQ(r.series.size(), 1u);
    EXPECT_EQ(r.range, v.range);

    // The gap between them weighs nothing; the held point is the cycle it shows.
    EXPECT_FALSE(r.points[0].gap);
    EXPECT_DOUBLE_EQ(r.points[0].in[0], 15);
    EXPECT_DOUBLE_EQ(r.points[0].out[0], 1.5);
    EXPECT_DOUBLE_EQ(r.points[0].widthIn, 1000);
    EXPECT_FALSE(r.points[0].measured);
    // Only gaps: a gap, named by its first point.
    EXPECT_TRUE(r.points[1].gap);
    EXPECT_EQ(r.points[1].time, 1003);
    EXPECT_EQ(r.points[1].local, 5003);
    // The measured width is the mean of the points that have one, not diluted by the others.
    EXPECT_DOUBLE_EQ(r.points[2].in[0], 50);
    EXPECT_DOUBLE_EQ(r.points[2].widthIn, 4000.0 / 3);
    EXPECT_DOUBLE_EQ(r.points[2].widthOut, 100);
    EXPECT_TRUE(r.points[2].measured);
    EXPECT_DOUBLE_EQ(r.points[2].measuredIn, 900);
    // The last column holds fewer points and is their mean.
    EXPECT_DOUBLE_EQ(r.points[3].in[0], 6);
    EXPECT_EQ(r.points[3].time, 1008);
}

TEST(ChartColumns, AViewNoWiderThanThePlotIsDrawnAsItIs) {
    const View v = Of({P(1), Gap(), P(3)});
    View r;
    r.step = 77;
    EXPECT_FALSE(PerColumn(v, 3, r));
    EXPECT_FALSE(PerColumn(v, 500, r));
    EXPECT_FALSE(PerColumn(v, 0, r));
    EXPECT_EQ(r.step, 77);
    EXPECT_TRUE(r.points.empty());
}

TEST(ChartColumns, AFullHourOrDayFillsEveryColumnOfAnyPlot) {
    for (const auto& [range, count] : {std::pair{Range::k1Hour, 3600}, {Range::k24Hours, 1440}}) {
        View v = Of(std::vector<Point>(static_cast<size_t>(count), P(40)), range);
        v.step = range == Range::k1Hour ? 1 : 60;
        for (int width : {1, 7, 700, 941, count - 1}) {
            View r;
            ASSERT_TRUE(PerColumn(v, width, r)) << count << " " << width;
            ASSERT_EQ(r.points.size(), static_cast<size_t>(width));
            EXPECT_EQ(r.step, v.step);
            for (size_t c = 0; c < r.points.size(); ++c) {
                ASSERT_FALSE(r.points[c].gap) << count << " " << width << " " << c;
                EXPECT_DOUBLE_EQ(r.points[c].in[0], 40) << count << " " << width << " " << c;
            }
        }
    }
}

TEST(ChartColumns, TheColumnUnderTheMouseNamesAPointDrawnThere) {
    for (const auto& [count, width] :
         {std::pair<size_t, int>{600, 941}, {3600, 941}, {7, 3}, {1, 5}}) {
        EXPECT_EQ(ColumnOf(0, count, width), 0);
        EXPECT_EQ(ColumnOf(count, count, width), width);
        for (int x = 0; x < width; ++x) {
            const int i = PointAt(x, count, width);
            ASSERT_GE(i, 0) << count << " " << width << " " << x;
            EXPECT_LE(ColumnOf(static_cast<size_t>(i), count, width), x);
            EXPECT_GT(ColumnOf(static_cast<size_t>(i) + 1, count, width), x);
        }
        EXPECT_EQ(PointAt(-1, count, width), -1);
        EXPECT_EQ(PointAt(width, count, width), -1);
    }
    EXPECT_EQ(PointAt(0, 0, 100), -1);
}

}  // namespace
}  // namespace movra::chart
