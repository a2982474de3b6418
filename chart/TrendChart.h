#pragma once
// The trend chart without a window: its points, its paging and its commands.
//
// The chart has two series, the area series (index 0) and the line series
// (index 1). Both hold the same values: one sample point given by New, then one
// point per reading, a point's horizontal value being its index. So one store
// of values serves both, 4 bytes a point, and the two series' counts differ
// only inside Add, where the page count is taken between the two appends.
//
// A view asks for the points of the range it shows; it never holds the
// history. Ranges with more points than pixel columns come reduced to each
// column's minimum and maximum, read from block extremes that every new point
// updates in a few steps, so the cost of a picture depends on its width, not
// on the number of points.
#include <QList>
#include <QPointF>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Plot values in chunks: appending never moves the points already stored, so
// a long history grows without copying it.
class ChartPointStore {
public:
    void clear();
    void append(int32_t value);
    int32_t at(int64_t i) const { return chunks_[size_t(i >> kShift)][size_t(i & kMask)]; }
    int64_t size() const { return count_; }
    size_t memoryBytes() const;

private:
    static constexpr unsigned kShift = 16;  // 64 Ki points (256 KiB) a chunk
    static constexpr int64_t kMask = (int64_t(1) << kShift) - 1;
    std::vector<std::unique_ptr<int32_t[]>> chunks_;
    int64_t count_ = 0;
};

// The minimum and maximum of every block of 64, 64², ... 64⁵ consecutive
// points, kept as points are appended: the extremes of any range are read from
// at most a few hundred blocks and points.
class ChartExtremes {
public:
    struct MinMax {
        int32_t min, max;
    };
    void clear();
    void append(int64_t index, int32_t value);
    // Extremes of the points [first, last); the range must not be empty.
    MinMax of(const ChartPointStore& points, int64_t first, int64_t last) const;
    size_t memoryBytes() const;

private:
    static constexpr int kLevels = 5;
    static constexpr unsigned kFanShift = 6;  // 64 blocks of a level make one of the next
    MinMax of(const ChartPointStore& points, int level, int64_t first, int64_t last) const;
    std::array<std::vector<MinMax>, kLevels> levels_;  // levels_[l]: blocks of 64^(l+1) points
};

// A range reduced to columns: the band from each column's minimum (lower) to
// its maximum (upper). A column gives each edge a point at its first and one
// at its last index (one point when that is the same index), so the band is
// flat over a column and the edges pair up point by point.
struct ChartBand {
    QList<QPointF> lower, upper;
};

// The points a view draws for a range of the chart.
struct ChartRange {
    double axisMin = 0, axisMax = 0;  // horizontal extent of the range
    QList<QPointF> points;            // in index order; empty for a reduced range
    ChartBand band;                   // for a reduced range
    bool isReduced() const { return !band.upper.isEmpty(); }
};

class TrendChart {
public:
    enum SeriesIndex { kAreaSeries = 0,
                       kLineSeries = 1 };

    TrendChart();

    // Whether each new reading moves the chart to its last page.
    bool FollowLastPage = false;
    // Points per page; 0 (or less) puts every point on one page.
    int32_t PointsPerPage = 100;

    // --- the two series ---
    // Empties both series and gives each its sample point, then shows the
    // series that the Fill box selects. The page, the following, the buttons
    // and the page caption stay as they are.
    void New(bool fillChecked);
    // Shows series i (0 area, 1 line), hiding the other.
    void ShowSeries(int i);
    int shownSeries() const { return shown_; }
    // One reading: appended to the line series; if following, the chart moves
    // to its last page, counted at this moment, and the caption shows it; then
    // appended to the area series.
    void Add(int32_t value);
    // Points of a series (they are the same in both outside Add).
    int64_t pointCount() const { return points_.size(); }
    int32_t value(int64_t index) const { return points_.at(index); }

    // --- paging ---
    int64_t pageCount() const;
    int64_t page() const { return page_; }
    // Sets the current page, kept within 1 .. page count.
    void setPage(int64_t page);
    // The page-size box: a page that no longer exists becomes the last page;
    // the caption is not updated then.
    void setPointsPerPage(int32_t points);
    void First();
    void Previous();
    void Next();
    void Last();

    // The page number shown between the paging buttons.
    int64_t caption() const { return caption_; }
    // Enabled states of First, Previous, Next and Last (the menu items are never disabled).
    struct Buttons {
        bool First = true, Previous = true, Next = true, Last = true;
        bool operator==(const Buttons&) const = default;
    };
    Buttons buttons() const { return buttons_; }

    // --- the vertical axis, set at start-up ---
    void setLeftAxis(double maximum, double minimum);
    double axisMinimum() const { return axisMin_; }
    double axisMaximum() const { return axisMax_; }

    // --- what a view draws ---
    // The current page: its horizontal extent (a full page even when the page
    // holds fewer points; all points with 0 points a page) and its points,
    // or, when there are more points than `columns`, their band over the
    // columns that their share of the extent takes.
    ChartRange pageRange(int columns) const;
    // The points whose indices lie in [first, last], reduced in the same way;
    // the extent is the one given.
    ChartRange range(double first, double last, int columns) const;

    // The points of [first, last) reduced to `columns` columns: column c spans
    // the indices from first + c·n/columns (a column without points is left
    // out).
    ChartBand reduced(int64_t first, int64_t last, int columns) const;

    // Bytes held for the points.
    size_t memoryBytes() const { return points_.memoryBytes() + extremes_.memoryBytes(); }

    // The value of the sample point that New gives each series.
    static constexpr int32_t kSampleValue = 0;

private:
    int64_t pageCountOf(int64_t points) const;
    void appendPoint(int32_t value);

    ChartPointStore points_;
    ChartExtremes extremes_;
    int shown_ = kAreaSeries;
    int64_t page_ = 1;
    int64_t caption_ = 1;
    Buttons buttons_;
    double axisMin_ = -6000, axisMax_ = 6000;
};
