#include "display/ScaleGeometry.h"

#include "meter/ScaleSet.h"

#include <cmath>
#include <numbers>

namespace {

const ScaleLabelEntry kLabels6[] = {
    {0, "-60", 5, 7},
    {15, "-45", 8, 6},
    {30, "-30", 10, 5},
    {45, "-15", 10, 4},
    {60, "0", 3, 4},
    {75, "15", 5, 5},
    {90, "30", 8, 5},
    {105, "45", 10, 6},
    {120, "60", 11, 7},
};
const ScaleLabelEntry kLabels34[] = {
    {4, "-30", 8, 6},
    {14, "-20", 10, 5},
    {24, "-10", 10, 4},
    {34, "0", 3, 4},
    {44, "10", 5, 5},
    {54, "20", 8, 5},
    {64, "30", 10, 6},
};
const ScaleLabelEntry kLabels4[] = {
    {0, "-40", 5, 7},
    {10, "-30", 8, 6},
    {20, "-20", 10, 5},
    {30, "-10", 10, 4},
    {40, "0", 3, 4},
    {50, "10", 5, 5},
    {60, "20", 8, 5},
    {70, "30", 10, 6},
    {80, "40", 12, 7},
};
const ScaleLabelEntry kLabels10[] = {
    {0, "-10", 1, 7},
    {25, "-7.5", 8, 6},
    {50, "-5.0", 10, 5},
    {75, "-2.5", 10, 4},
    {100, "0", 3, 4},
    {125, "2.5", 5, 5},
    {150, "5.0", 8, 5},
    {175, "7.5", 10, 6},
    {200, "10", 10, 2},
};
const ScaleLabelEntry kLabels1[] = {
    {0, "-10", 1, 7},
    {5, "-5.0", 10, 5},
    {10, "0", 3, 4},
    {15, "5.0", 8, 5},
    {20, "10", 10, 2},
};

// Divisions beyond this are no dial a panel can show; such a set is treated as having none
// rather than allocating millions of dots.
constexpr int32_t kMaxDivisions = 10000;

// Rounds half to even (the default rounding mode). Far-off values (the needle's base when
// the needle lies nearly flat) are clamped so that they stay integers a painter can clip.
int RoundPixel(double v)
{
    constexpr double kLimit = 1e6;
    if (std::isnan(v))
        return 0;
    if (v > kLimit)
        v = kLimit;
    if (v < -kLimit)
        v = -kLimit;
    return int(std::nearbyint(v));
}

bool IsMajorMark(std::string_view code, int i)
{
    if (code == "6")
        return i % 15 == 0;
    if (code == "34")
        return i % 10 == 4;
    return false;
}

}  // namespace

std::span<const ScaleLabelEntry> ScaleLabels(std::string_view code)
{
    if (code == "6")
        return kLabels6;
    if (code == "34")
        return kLabels34;
    if (code == "4")
        return kLabels4;
    if (code == "10")
        return kLabels10;
    if (code == "1")
        return kLabels1;
    return {};
}

DialScale DialScale::For(const ScaleSet& set)
{
    if (set.ScaleDivisions > 0 && set.ScaleDivisions <= kMaxDivisions)
        return {set.ScaleDivisions, set.FullScale, true};
    if (set.ScaleDivisions <= 0 && set.FullScaleCode == "4")
        return {80, 4000, false};
    return {};
}

ScaleGeometry::ScaleGeometry(int W, int H)
{
    valid_ = W > 40 && H > 60;
    if (!valid_)
        return;
    w_ = float(W - 40);
    h_ = float(H - 60);
    const double w = w_, h = h_;
    R_ = float((4.0 * h * h + w * w) / (8.0 * h));
    // The half-angle of the chord; atan2 keeps it right also when the arc is more than a
    // half circle (a panel less than twice as wide as tall).
    S_ = float(2.0 * std::atan2(w / 2.0, double(R_) - h) * 180.0 / 3.1415);
    m_ = float((180.0 - double(S_)) / 2.0);
}

float ScaleGeometry::Theta(double t) const
{
    return float((double(S_) * t + double(m_)) * std::numbers::pi / 180.0);
}

QPoint ScaleGeometry::PointAt(float r, double t) const
{
    const double theta = Theta(t);
    const float rc = float(double(r) * std::cos(theta));
    const float rs = float(double(r) * std::sin(theta));
    return {RoundPixel(double(w_) / 2.0 - double(rc) + 20.0), RoundPixel(double(R_) - double(rs) + 30.0)};
}

std::vector<DialLabel> ScaleGeometry::Labels(const ScaleSet& set) const
{
    std::vector<DialLabel> labels;
    const DialScale scale = DialScale::For(set);
    if (!valid_ || scale.Divisions <= 0)
        return labels;
    const float outer = R_ + 18.0f;
    for (const ScaleLabelEntry& e : ScaleLabels(set.FullScaleCode)) {
        if (e.i > scale.Divisions)
            continue;
        const QPoint p2 = PointAt(outer, double(e.i) / scale.Divisions);
        labels.push_back({p2 - QPoint(e.dx, e.dy), QString::fromLatin1(e.text)});
    }
    return labels;
}

std::vector<QPoint> ScaleGeometry::Marks(const ScaleSet& set) const
{
    std::vector<QPoint> marks;
    const DialScale scale = DialScale::For(set);
    if (!valid_ || scale.Divisions <= 0)
        return marks;
    const float inner = R_ + 6.0f;
    for (int i = 0; i <= scale.Divisions; ++i)
        if (IsMajorMark(set.FullScaleCode, i))
            marks.push_back(PointAt(inner, double(i) / scale.Divisions));
    return marks;
}

std::vector<QPoint> ScaleGeometry::DotCorners(const ScaleSet& set) const
{
    std::vector<QPoint> dots;
    const DialScale scale = DialScale::For(set);
    if (!valid_ || scale.Divisions <= 0)
        return dots;
    const float ring = R_ + 3.0f;
    const int32_t positions = 10 * scale.Divisions;
    dots.reserve(size_t(positions) + 1);
    for (int32_t k = 0; k <= positions; ++k)
        dots.push_back(PointAt(ring, double(k) / positions));
    return dots;
}

bool ScaleGeometry::DotIsRed(int32_t k, const ScaleSet& set, const DialLimits& limits)
{
    // The dot at k stands for (k - F/10) * 10 counts.
    const double c = (double(k) - double(DialScale::For(set).FullScale) / 10.0) * 10.0;
    return (limits.MaxOn && c > double(limits.MaxLimit)) || (limits.MinOn && c < double(limits.MinLimit));
}

DialFace ScaleGeometry::Face(const ScaleSet& set, const DialLimits& limits) const
{
    DialFace face;
    face.labels = Labels(set);
    face.marks = Marks(set);
    const std::vector<QPoint> corners = DotCorners(set);
    face.dots.reserve(corners.size());
    for (size_t k = 0; k < corners.size(); ++k)
        face.dots.push_back({corners[k], DotIsRed(int32_t(k), set, limits)});
    return face;
}

std::optional<NeedleLine> ScaleGeometry::Needle(const ScaleSet& set, int32_t p) const
{
    const DialScale scale = DialScale::For(set);
    if (!valid_ || !scale.NeedleShown)
        return std::nullopt;
    const double theta = Theta(double(p) / (10.0 * scale.Divisions));
    const double w = w_, h = h_, R = R_;
    const float rc = float(R * std::cos(theta));
    const float rs = float(R * std::sin(theta));
    NeedleLine n;
    n.tip = {RoundPixel(w / 2.0 - double(rc)) + 20, RoundPixel(R - double(rs) + 4.0) + 30};
    // The base lies where the line from the tip through the centre of the tip's circle
    // meets the depth h + 280; a needle lying flat (sin 0) has its base clamped far out.
    n.base = {RoundPixel(w / 2.0 - (R - h - 280.0) * std::cos(theta) / std::sin(theta)) + 20,
              RoundPixel(h + 280.0) + 30};
    return n;
}
