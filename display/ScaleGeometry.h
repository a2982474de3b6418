#pragma once
// The dial's geometry, apart from painting: what the scale view draws for a panel of outer
// size W x H, a scale set and the limits, in the pixel coordinates of the drawing surface.
//
// The dial is an arc of a circle whose chord is the panel's width less 40 and whose height is
// the panel's height less 60; the circle's centre lies below the surface. Quantities are kept
// as 32-bit floats and points are rounded half to even, so the pixels stay those of the
// program's dial at every size.
#include <QPoint>
#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

struct ScaleSet;

// One label of a dial layout: written at division i, its top-left corner offset by
// (-dx, -dy) from the division's outer point.
struct ScaleLabelEntry {
    int i;
    const char* text;
    int dx, dy;
};

// The label layout of a FullScaleCode ("6", "34", "4", "10", "1"); empty for any other code.
std::span<const ScaleLabelEntry> ScaleLabels(std::string_view code);

struct DialLabel {
    QPoint topLeft;
    QString text;
    bool operator==(const DialLabel&) const = default;
};

struct DialDot {
    QPoint corner;  // top-left of the dot's 2x2 box
    bool red;
    bool operator==(const DialDot&) const = default;
};

// The limits as the dial sees them: a limit colours the dial only while switched on.
struct DialLimits {
    float MaxLimit = 0;
    float MinLimit = 0;
    bool MaxOn = false;  // SetMaxB checked
    bool MinOn = false;  // SetMinB checked
};

// Everything the dial shows apart from the needle, in drawing order: labels and major marks
// by division, then the dots by position 0 .. 10 * divisions.
struct DialFace {
    std::vector<DialLabel> labels;
    std::vector<QPoint> marks;  // top-left of each major mark's 2x2 box
    std::vector<DialDot> dots;
};

struct NeedleLine {
    QPoint tip;
    QPoint base;
    bool operator==(const NeedleLine&) const = default;
};

// The numbers a dial is drawn with. A set without divisions cannot place anything on the
// dial; the "4" layout without divisions (a profile that names the layout but installs no
// numbers) is drawn as the 4000-count dial its labels describe: 80 divisions, -4000..4000.
struct DialScale {
    int32_t Divisions = 0;     // 0: nothing to draw
    int32_t FullScale = 0;     // counts of the red zones
    bool NeedleShown = false;  // false: the set puts no reading on the dial
    static DialScale For(const ScaleSet& set);
};

class ScaleGeometry {
public:
    // W, H: the panel's outer size.
    ScaleGeometry(int W, int H);

    // False for a panel too small to hold a dial (width up to 40 or height up to 60): such a
    // panel shows an empty surface.
    bool Valid() const { return valid_; }

    float w() const { return w_; }
    float h() const { return h_; }
    float R() const { return R_; }
    float S() const { return S_; }  // degrees spanned by the dial
    float m() const { return m_; }  // degrees left free at each side

    // The angle for a fraction t of the dial (0 left end, 1 right end), in radians.
    float Theta(double t) const;
    // The point at radius r and fraction t.
    QPoint PointAt(float r, double t) const;

    DialFace Face(const ScaleSet& set, const DialLimits& limits) const;

    // The parts of Face: the dots' box corners by position depend only on the panel and the
    // divisions; their colour only on the full scale and the limits.
    std::vector<DialLabel> Labels(const ScaleSet& set) const;
    std::vector<QPoint> Marks(const ScaleSet& set) const;
    std::vector<QPoint> DotCorners(const ScaleSet& set) const;
    static bool DotIsRed(int32_t k, const ScaleSet& set, const DialLimits& limits);

    // The needle at position p (0 .. 10 * divisions, not clamped); nothing when the set puts
    // no reading on the dial or the panel holds no dial.
    std::optional<NeedleLine> Needle(const ScaleSet& set, int32_t p) const;

private:
    bool valid_ = false;
    float w_ = 0, h_ = 0, R_ = 0, S_ = 0, m_ = 0;
};
