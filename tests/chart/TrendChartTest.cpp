// The trend chart's paging and its reduced views, without a window.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "chart/TrendChart.h"

namespace {

using Buttons = TrendChart::Buttons;

// As start-up leaves it: the sample point, following, 100 points a page.
void Start(TrendChart& chart, bool fill = true)
{
    chart.FollowLastPage = true;
    chart.New(fill);
}

void AddReadings(TrendChart& chart, int n)
{
    for (int i = 0; i < n; ++i) chart.Add(i % 7);
}

TEST(TrendChart, TheShownSeriesDecidesWhenThePageTurns)
{
    // The page count is taken when the line series has the new point and the
    // area series not yet.
    const struct {
        bool fill;
        int readings;  // after the sample point
        int64_t page;
    } cases[] = {
        {false, 99, 1},
        {false, 100, 2},  // the 101st point turns the page at once
        {true, 100, 1},   // with the area shown, one reading later
        {true, 101, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fill) + " " + std::to_string(c.readings));
        TrendChart chart;
        Start(chart, c.fill);
        AddReadings(chart, c.readings);
        EXPECT_EQ(chart.pointCount(), c.readings + 1);
        EXPECT_EQ(chart.page(), c.page);
        EXPECT_EQ(chart.caption(), c.page);
        EXPECT_EQ(chart.buttons(), Buttons{});
    }
}

TEST(TrendChart, PagingCommands)
{
    // F First, P Previous, N Next, L Last, R one hundred readings, W New.
    const struct {
        const char* name;
        int readings;  // before the script; 250 make 3 pages
        const char* script;
        int64_t page, caption;
        Buttons buttons;
        bool follow;
    } cases[] = {
        {"FirstThenReadings", 250, "FRR", 1, 1, {false, false, true, true}, false},
        {"NextOnTheLastPage", 250, "N", 3, 3, {true, true, false, false}, false},
        {"NextBeforeTheLastPage", 250, "FN", 2, 2, {true, true, true, true}, false},
        {"PreviousOnPageOne", 50, "P", 1, 1, {false, false, true, true}, false},
        {"PreviousAfterPageOne", 250, "P", 2, 2, {true, true, true, true}, false},
        // Only Last follows again; moving with the readings leaves the buttons.
        {"LastThenReadings", 250, "FLR", 4, 4, {true, true, false, false}, true},
        // New keeps the page, even beyond the new page count...
        {"NewWhileNotFollowing", 450, "NW", 5, 5, {true, true, false, false}, false},
        // ... until a paging command brings it back within range.
        {"PreviousAfterNew", 450, "NWP", 1, 1, {true, true, true, true}, false},
        {"NextAfterNew", 450, "NWN", 1, 1, {true, true, false, false}, false},
        {"NewWhileFollowing", 450, "W", 5, 5, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TrendChart chart;
        Start(chart);
        AddReadings(chart, c.readings);
        for (const char* s = c.script; *s; ++s) {
            switch (*s) {
            case 'F': chart.First(); break;
            case 'P': chart.Previous(); break;
            case 'N': chart.Next(); break;
            case 'L': chart.Last(); break;
            case 'R': AddReadings(chart, 100); break;
            case 'W': chart.New(true); break;
            }
        }
        EXPECT_EQ(chart.page(), c.page);
        EXPECT_EQ(chart.caption(), c.caption);
        EXPECT_EQ(chart.buttons(), c.buttons);
        EXPECT_EQ(chart.FollowLastPage, c.follow);
    }
}

TEST(TrendChart, PointsPerPage)
{
    TrendChart chart;
    Start(chart);
    AddReadings(chart, 450);  // 451 points: page 5 of 5
    ASSERT_EQ(chart.page(), 5);
    chart.setPointsPerPage(200);  // 3 pages: the last one, the caption stays
    EXPECT_EQ(chart.page(), 3);
    EXPECT_EQ(chart.caption(), 5);
    chart.setPointsPerPage(0);  // every point on one page
    EXPECT_EQ(chart.pageCount(), 1);
    EXPECT_EQ(chart.page(), 1);
    chart.setPointsPerPage(50);  // page 1 still exists
    EXPECT_EQ(chart.page(), 1);
    chart.setPage(99);
    EXPECT_EQ(chart.page(), 10);
    chart.setPage(-3);
    EXPECT_EQ(chart.page(), 1);
}

TEST(TrendChart, APageShowsItsOwnPointsOverAFullPageWidth)
{
    TrendChart chart;
    Start(chart);
    for (int i = 1; i <= 149; ++i) chart.Add(i * 10);  // 150 points, page 2 shown
    const struct {
        int32_t pointsPerPage;
        double axisMin, axisMax;
        qsizetype count;
        double firstX;
    } cases[] = {
        {100, 100, 199, 50, 100},  // the last page, half full
        {0, 0, 149, 150, 0},       // all points on one page
        {1000, 0, 999, 150, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pointsPerPage);
        chart.setPointsPerPage(c.pointsPerPage);
        chart.Last();
        const ChartRange r = chart.pageRange(300);
        EXPECT_EQ(r.axisMin, c.axisMin);
        EXPECT_EQ(r.axisMax, c.axisMax);
        ASSERT_EQ(r.points.size(), c.count);
        EXPECT_EQ(r.points.front(), QPointF(c.firstX, c.firstX * 10));
        EXPECT_EQ(r.points.back(), QPointF(149, 1490));
    }
}

// A range is drawn point by point while the plot has a column for each point,
// and reduced from one point more; reduced, the points keep to their share of
// the extent.
TEST(TrendChart, ARangeIsReducedOnceItHasMorePointsThanColumns)
{
    TrendChart chart;
    Start(chart);
    for (int i = 1; i < 1000; ++i) chart.Add(i);  // 1000 points, the value of each its index
    const struct {
        double last;
        int columns;
        qsizetype points, bandPoints;
    } cases[] = {
        {999, 1000, 1000, 0},
        {999, 999, 0, 1000},  // one column of two points, the others of one
        {999, 2000, 1000, 0},
        {99999, 500, 0, 10},  // a hundredth of the extent: 5 columns of 200 points
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.last) + " " + std::to_string(c.columns));
        const ChartRange r = chart.range(0, c.last, c.columns);
        EXPECT_EQ(r.axisMax, c.last);
        EXPECT_EQ(r.points.size(), c.points);
        EXPECT_EQ(r.isReduced(), c.bandPoints > 0);
        ASSERT_EQ(r.band.upper.size(), c.bandPoints);
        if (c.bandPoints > 0) {
            EXPECT_EQ(r.band.lower.front(), QPointF(0, 0));
            EXPECT_EQ(r.band.upper.back(), QPointF(999, 999));
        }
    }
}

// Each column of a reduced view holds exactly the minimum and the maximum of
// the points it stands for, at any count, as points keep arriving.
TEST(TrendChart, ReducedViewKeepsEachColumnsMinimumAndMaximum)
{
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> step(-40, 40);
    std::uniform_int_distribution<int> spike(0, 5000);
    TrendChart chart;
    Start(chart);
    std::vector<int32_t> values{TrendChart::kSampleValue};
    int32_t level = 0;
    auto grow = [&](int64_t to) {
        while (int64_t(values.size()) < to) {
            level = std::clamp(level + step(random), -6000, 6000);
            // Lone spikes must survive the reduction.
            const int32_t v = spike(random) == 0 ? (spike(random) % 2 ? 6000 : -6000) : level;
            values.push_back(v);
            chart.Add(v);
        }
    };
    const struct {
        int64_t points;
        int64_t first, last;  // last == 0: up to the last point
        int columns;
    } cases[] = {
        {1000, 0, 0, 317},  // fewer than four points a column
        {300001, 0, 0, 317},
        {300001, 4095, 262145, 600},  // block edges on both sides
        {1000003, 12345, 0, 317},
        {1000003, 999000, 999999, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.points) + " " + std::to_string(c.first) + " " + std::to_string(c.columns));
        grow(c.points);
        const int64_t last = c.last ? c.last : c.points;
        const ChartBand band = chart.reduced(c.first, last, c.columns);
        ASSERT_EQ(band.lower.size(), band.upper.size());
        EXPECT_LE(band.upper.size(), 2 * c.columns);
        qsizetype k = 0;
        const int64_t n = last - c.first;
        for (int col = 0; col < c.columns; ++col) {
            const int64_t a = c.first + col * n / c.columns;
            const int64_t b = c.first + (col + 1) * n / c.columns;
            if (a == b) continue;
            const auto [lo, hi] = std::minmax_element(values.begin() + a, values.begin() + b);
            // The column's edges start at its first index and end at its last.
            ASSERT_LT(k, band.upper.size());
            ASSERT_EQ(band.upper[k].x(), double(a)) << "column " << col;
            const qsizetype start = k;
            for (; k < band.upper.size() && band.upper[k].x() < double(b); ++k) {
                ASSERT_EQ(band.lower[k].x(), band.upper[k].x());
                ASSERT_EQ(band.lower[k].y(), *lo) << "column " << col;
                ASSERT_EQ(band.upper[k].y(), *hi) << "column " << col;
            }
            ASSERT_EQ(band.upper[k - 1].x(), double(b - 1)) << "column " << col;
            ASSERT_LE(k - start, 2);
        }
        EXPECT_EQ(k, band.upper.size());
    }

    // With every point on one page, the view of a million points comes
    // reduced and keeps the extremes of the whole history.
    chart.setPointsPerPage(0);
    const ChartRange all = chart.pageRange(317);
    ASSERT_TRUE(all.isReduced());
    EXPECT_TRUE(all.points.isEmpty());
    EXPECT_LE(all.band.upper.size(), 2 * 317);
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    auto byValue = [](QPointF p, QPointF q) { return p.y() < q.y(); };
    EXPECT_EQ(std::min_element(all.band.lower.begin(), all.band.lower.end(), byValue)->y(), *lo);
    EXPECT_EQ(std::max_element(all.band.upper.begin(), all.band.upper.end(), byValue)->y(), *hi);
    EXPECT_EQ(all.band.upper.front().x(), 0);
    EXPECT_EQ(all.band.upper.back().x(), double(values.size() - 1));
}

}  // namespace
