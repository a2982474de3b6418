#include "chart/TrendChart.h"

#include <algorithm>
#include <cmath>

// ---- ChartPointStore ------------------------------------------------------------

void ChartPointStore::clear()
{
    chunks_.clear();
    chunks_.shrink_to_fit();
    count_ = 0;
}

void ChartPointStore::append(int32_t value)
{
    if ((count_ & kMask) == 0 && size_t(count_ >> kShift) == chunks_.size())
        chunks_.push_back(std::make_unique<int32_t[]>(size_t(kMask) + 1));
    chunks_[size_t(count_ >> kShift)][size_t(count_ & kMask)] = value;
    ++count_;
}

size_t ChartPointStore::memoryBytes() const
{
    return chunks_.size() * (size_t(kMask) + 1) * sizeof(int32_t) + chunks_.capacity() * sizeof(chunks_[0]);
}

// ---- ChartExtremes --------------------------------------------------------------

namespace {

ChartExtremes::MinMax Combine(ChartExtremes::MinMax a, ChartExtremes::MinMax b)
{
    return {std::min(a.min, b.min), std::max(a.max, b.max)};
}

}  // namespace

void ChartExtremes::clear()
{
    for (auto& level : levels_) {
        level.clear();
        level.shrink_to_fit();
    }
}

void ChartExtremes::append(int64_t index, int32_t value)
{
    for (int l = 0; l < kLevels; ++l) {
        std::vector<MinMax>& blocks = levels_[size_t(l)];
        const auto block = size_t(index >> (kFanShift * unsigned(l + 1)));
        if (block == blocks.size()) {
            blocks.push_back({value, value});
        } else {
            MinMax& m = blocks[block];
            m.min = std::min(m.min, value);
            m.max = std::max(m.max, value);
        }
    }
}

ChartExtremes::MinMax ChartExtremes::of(const ChartPointStore& points, int64_t first, int64_t last) const
{
    return of(points, kLevels - 1, first, last);
}

ChartExtremes::MinMax ChartExtremes::of(const ChartPointStore& points, int level, int64_t first,
                                        int64_t last) const
{
    if (level < 0) {
        MinMax m{points.at(first), points.at(first)};
        for (int64_t i = first + 1; i < last; ++i) {
            const int32_t v = points.at(i);
            m.min = std::min(m.min, v);
            m.max = std::max(m.max, v);
        }
        return m;
    }
    // Blocks of this level that lie wholly inside the range; the last block
    // of the store may be partly filled and then ends with the store.
    const int64_t size = int64_t(1) << (kFanShift * unsigned(level + 1));
    const int64_t n = points.size();
    const int64_t firstBlock = (first + size - 1) / size;
    const int64_t endBlock = last == n ? (n + size - 1) / size : last / size;
    if (firstBlock >= endBlock)
        return of(points, level - 1, first, last);
    const std::vector<MinMax>& blocks = levels_[size_t(level)];
    MinMax m = blocks[size_t(firstBlock)];
    for (int64_t b = firstBlock + 1; b < endBlock; ++b)
        m = Combine(m, blocks[size_t(b)]);
    if (first < firstBlock * size)
        m = Combine(m, of(points, level - 1, first, firstBlock * size));
    if (endBlock * size < last)
        m = Combine(m, of(points, level - 1, endBlock * size, last));
    return m;
}

size_t ChartExtremes::memoryBytes() const
{
    size_t bytes = 0;
    for (const auto& level : levels_)
        bytes += level.capacity() * sizeof(MinMax);
    return bytes;
}

// ---- TrendChart -----------------------------------------------------------------

TrendChart::TrendChart() = default;

void TrendChart::appendPoint(int32_t value)
{
    extremes_.append(points_.size(), value);
    points_.append(value);
}

void TrendChart::New(bool fillChecked)
{
    points_.clear();
    extremes_.clear();
    appendPoint(kSampleValue);
    ShowSeries(fillChecked ? kAreaSeries : kLineSeries);
}

void TrendChart::ShowSeries(int i)
{
    shown_ = i == kLineSeries ? kLineSeries : kAreaSeries;
}

void TrendChart::Add(int32_t value)
{
    appendPoint(value);  // the line series has the new point, the area series not yet
    if (FollowLastPage) {
        const int64_t shownPoints = shown_ == kLineSeries ? points_.size() : points_.size() - 1;
        setPage(pageCountOf(shownPoints));
        caption_ = page_;
    }
    // ... and now the area series has it too.
}

int64_t TrendChart::pageCountOf(int64_t points) const
{
    if (PointsPerPage <= 0)
        return 1;
    return std::max<int64_t>(1, (points + PointsPerPage - 1) / PointsPerPage);
}

int64_t TrendChart::pageCount() const
{
    return pageCountOf(points_.size());
}

void TrendChart::setPage(int64_t page)
{
    page_ = std::clamp<int64_t>(page, 1, pageCount());
}

void TrendChart::setPointsPerPage(int32_t points)
{
    PointsPerPage = points;
    if (page_ > pageCount())
        page_ = pageCount();
}

void TrendChart::First()
{
    setPage(1);
    buttons_ = {false, false, true, true};
    FollowLastPage = false;
    caption_ = page_;
}

void TrendChart::Last()
{
    setPage(pageCount());
    buttons_ = {true, true, false, false};
    FollowLastPage = true;
    caption_ = page_;
}

void TrendChart::Next()
{
    buttons_.First = buttons_.Previous = true;
    if (page_ == pageCount())
        buttons_.Next = buttons_.Last = false;
    else
        setPage(page_ + 1);
    FollowLastPage = false;
    caption_ = page_;
}

void TrendChart::Previous()
{
    buttons_.Next = buttons_.Last = true;
    if (page_ == 1)
        buttons_.First = buttons_.Previous = false;
    else
        setPage(page_ - 1);
    FollowLastPage = false;
    caption_ = page_;
}

void TrendChart::setLeftAxis(double maximum, double minimum)
{
    axisMax_ = maximum;
    axisMin_ = minimum;
}

ChartRange TrendChart::pageRange(int columns) const
{
    if (PointsPerPage <= 0)
        return range(0, double(std::max<int64_t>(points_.size() - 1, 0)), columns);
    const double first = double((page_ - 1) * PointsPerPage);
    return range(first, first + PointsPerPage - 1, columns);
}

ChartRange TrendChart::range(double first, double last, int columns) const
{
    ChartRange r;
    r.axisMin = first;
    r.axisMax = last;
    const int64_t lo = std::max<int64_t>(0, int64_t(std::ceil(first)));
    const int64_t hi = std::min<int64_t>(points_.size() - 1, int64_t(std::floor(last)));
    if (hi < lo)
        return r;
    const int64_t n = hi - lo + 1;
    columns = std::max(columns, 1);
    if (n <= int64_t(columns)) {
        r.points.reserve(n);
        for (int64_t i = lo; i <= hi; ++i)
            r.points.append(QPointF(double(i), points_.at(i)));
        return r;
    }
    // The points take the share of the columns that their part of the extent takes.
    const double extent = std::max(last - first + 1, double(n));
    const int used = std::clamp(int(std::ceil(columns * double(n) / extent)), 1, columns);
    r.band = reduced(lo, hi + 1, used);
    return r;
}

ChartBand TrendChart::reduced(int64_t first, int64_t last, int columns) const
{
    ChartBand band;
    const int64_t n = last - first;
    if (n <= 0 || columns <= 0)
        return band;
    band.lower.reserve(2 * columns);
    band.upper.reserve(2 * columns);
    for (int c = 0; c < columns; ++c) {
        const int64_t a = first + c * n / columns;
        const int64_t b = first + (c + 1) * n / columns;
        if (a == b)
            continue;
        const ChartExtremes::MinMax m = extremes_.of(points_, a, b);
        band.lower.append(QPointF(double(a), m.min));
        band.upper.append(QPointF(double(a), m.max));
        if (b - 1 > a) {
            band.lower.append(QPointF(double(b - 1), m.min));
            band.upper.append(QPointF(double(b - 1), m.max));
        }
    }
    return band;
}
