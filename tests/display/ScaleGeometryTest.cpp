// The dial's geometry on the panel's stored size and at the awkward corners.
#include "display/ScaleGeometry.h"
#include "meter/ScaleSet.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace {

constexpr int kW = 318, kH = 139;  // the panel's stored size

std::vector<std::string> Texts(const DialFace& f)
{
    std::vector<std::string> out;
    for (const DialLabel& l : f.labels)
        out.push_back(l.text.toStdString());
    return out;
}

std::vector<int> RedPositions(const DialFace& f)
{
    std::vector<int> out;
    for (size_t k = 0; k < f.dots.size(); ++k)
        if (f.dots[k].red)
            out.push_back(int(k));
    return out;
}

std::vector<int> Range(int from, int to)
{
    std::vector<int> out;
    for (int k = from; k <= to; ++k)
        out.push_back(k);
    return out;
}

TEST(ScaleGeometry, StoredSizeNumbers)
{
    const ScaleGeometry g(kW, kH);
    ASSERT_TRUE(g.Valid());
    EXPECT_FLOAT_EQ(g.w(), 278.0f);
    EXPECT_FLOAT_EQ(g.h(), 79.0f);
    EXPECT_NEAR(g.R(), 161.785, 1e-3);
    EXPECT_NEAR(g.S(), 118.450, 1e-3);
    EXPECT_NEAR(g.m(), 30.775, 1e-3);
}

TEST(ScaleGeometry, StoredSizePixelsOfTheSixThousandDial)
{
    const DialFace f = ScaleGeometry(kW, kH).Face(ScaleSet::Set6(), {});
    ASSERT_EQ(f.labels.size(), 9u);
    EXPECT_EQ(f.labels.front(), (DialLabel{{0, 93}, "-60"}));
    EXPECT_EQ(f.labels[4], (DialLabel{{156, 8}, "0"}));
    EXPECT_EQ(f.labels.back(), (DialLabel{{302, 93}, "60"}));

    ASSERT_EQ(f.dots.size(), 1201u);
    EXPECT_EQ(f.dots[0].corner, QPoint(17, 107));
    EXPECT_EQ(f.dots[600].corner, QPoint(159, 27));
    EXPECT_EQ(f.dots[1200].corner, QPoint(301, 107));
    EXPECT_TRUE(RedPositions(f).empty());

    // A major mark at every labelled division, on the ring inside the labels.
    ASSERT_EQ(f.marks.size(), 9u);
    EXPECT_EQ(f.marks[4].x(), 159);
}

TEST(ScaleGeometry, ZeroReadingPointsStraightUp)
{
    const auto n = ScaleGeometry(kW, kH).Needle(ScaleSet::Set6(), 600);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->tip, QPoint(159, 34));
    EXPECT_EQ(n->base, QPoint(159, 389));
}

TEST(ScaleGeometry, OverloadsPutTheNeedleOnTheEndsOfTheDial)
{
    for (const ScaleSet& set : {ScaleSet::Set6(), ScaleSet::Set34(), ScaleSet::Set10(), ScaleSet::Set1()}) {
        SCOPED_TRACE(set.FullScaleCode);
        const ScaleGeometry g(kW, kH);
        const DialFace f = g.Face(set, {});
        const int top = 10 * set.ScaleDivisions;
        const auto left = g.Needle(set, 0), right = g.Needle(set, top);
        ASSERT_TRUE(left && right);
        // Mirror images of each other about the dial's middle...
        EXPECT_EQ(left->tip.x() + right->tip.x(), 2 * 159);
        EXPECT_EQ(left->tip.y(), right->tip.y());
        EXPECT_EQ(left->base.x() + right->base.x(), 2 * 159);
        // ...just inside the end dots of the ring.
        const auto distance = [](QPoint a, QPoint b) { return std::hypot(a.x() - b.x(), a.y() - b.y()); };
        EXPECT_LE(distance(left->tip, f.dots.front().corner + QPoint(1, 1)), 8.0);
        EXPECT_LE(distance(right->tip, f.dots.back().corner + QPoint(1, 1)), 8.0);
        EXPECT_GT(left->base.x(), left->tip.x());
        EXPECT_LT(right->base.x(), right->tip.x());
    }
}

TEST(ScaleGeometry, NeedleBeyondTheDialStaysOnTheCircle)
{
    const ScaleGeometry g(kW, kH);
    for (int32_t p : {-1, 1201, -311, -312, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(p);
        const auto n = g.Needle(ScaleSet::Set6(), p);
        ASSERT_TRUE(n);
        const double dx = n->tip.x() - 159.0, dy = n->tip.y() - (161.785 + 34.0);
        EXPECT_NEAR(std::hypot(dx, dy), 161.785, 1.5);
        EXPECT_EQ(n->base.y(), 389);
        EXPECT_LE(std::abs(n->base.x()), 1000020);
    }
}

struct LabelCase {
    ScaleSet set;
    std::vector<std::string> texts;
};

TEST(ScaleGeometry, LabelTableOfEveryCode)
{
    const LabelCase cases[] = {
        {ScaleSet::Set6(), {"-60", "-45", "-30", "-15", "0", "15", "30", "45", "60"}},
        {ScaleSet::Set34(), {"-30", "-20", "-10", "0", "10", "20", "30"}},
        {{"4", 0, 0, 0, 0}, {"-40", "-30", "-20", "-10", "0", "10", "20", "30", "40"}},
        {ScaleSet::Set10(), {"-10", "-7.5", "-5.0", "-2.5", "0", "2.5", "5.0", "7.5", "10"}},
        {ScaleSet::Set1(), {"-10", "-5.0", "0", "5.0", "10"}},
        {{"7", 6000, 600, 60, 120}, {}},
    };
    const ScaleGeometry g(kW, kH);
    for (const LabelCase& c : cases) {
        SCOPED_TRACE(c.set.FullScaleCode);
        const DialFace f = g.Face(c.set, {});
        EXPECT_EQ(Texts(f), c.texts);
        // The zero label of each layout sits at the top of the dial, the ends mirror.
        if (!f.labels.empty()) {
            const auto& first = f.labels.front().topLeft;
            const auto& last = f.labels.back().topLeft;
            EXPECT_LT(first.x(), 30);
            EXPECT_GT(last.x(), 280);
        }
    }
}

TEST(ScaleGeometry, MajorMarksOnlyForTheSixAndThirtyFourLayouts)
{
    const ScaleGeometry g(kW, kH);
    EXPECT_EQ(g.Face(ScaleSet::Set6(), {}).marks.size(), 9u);   // 0, 15, .. 120
    EXPECT_EQ(g.Face(ScaleSet::Set34(), {}).marks.size(), 7u);  // 4, 14, .. 64
    EXPECT_TRUE(g.Face(ScaleSet::Set10(), {}).marks.empty());
    EXPECT_TRUE(g.Face(ScaleSet::Set1(), {}).marks.empty());
    EXPECT_TRUE(g.Face({"4", 0, 0, 0, 0}, {}).marks.empty());
}

struct RedCase {
    const char* name;
    ScaleSet set;
    DialLimits limits;
    std::vector<int> red;
};

TEST(ScaleGeometry, RedZonesBeyondSwitchedOnLimits)
{
    const std::vector<int> none;
    const RedCase cases[] = {
        {"upper 3000 on", ScaleSet::Set6(), {3000, -6000, true, false}, Range(901, 1200)},
        {"upper 3000 off", ScaleSet::Set6(), {3000, -6000, false, false}, none},
        {"lower -3000 on", ScaleSet::Set6(), {6000, -3000, false, true}, Range(0, 299)},
        {"both at full scale", ScaleSet::Set6(), {6000, -6000, true, true}, none},
        {"lower above upper", ScaleSet::Set6(), {1000, 2000, true, true}, Range(0, 1200)},
        // The dot at k stands for (k - F/10) * 10 counts, wherever the needle's zero is.
        {"10 set upper 500", ScaleSet::Set10(), {500, 0, true, false}, Range(151, 2000)},
        {"34 set lower -1000", ScaleSet::Set34(), {0, -1000, false, true}, Range(0, 239)},
    };
    const ScaleGeometry g(kW, kH);
    for (const RedCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RedPositions(g.Face(c.set, c.limits)), c.red);
    }
}

TEST(ScaleGeometry, FourLayoutWithoutDivisionsIsADialWithoutNeedle)
{
    const ScaleGeometry g(kW, kH);
    const ScaleSet four{"4", 0, 0, 0, 0};
    const DialFace f = g.Face(four, {0, 0, true, false});
    EXPECT_EQ(f.dots.size(), 801u);
    // Drawn as -4000 .. 4000: the upper limit 0 makes the right half red.
    EXPECT_EQ(RedPositions(f), Range(401, 800));
    EXPECT_EQ(f.labels[4].topLeft, QPoint(156, 8));
    EXPECT_FALSE(g.Needle(four, 0));
    EXPECT_FALSE(g.Needle(four, 400));
}

TEST(ScaleGeometry, NothingToDrawWithoutDivisionsOrRoom)
{
    struct Case {
        const char* name;
        int W, H;
        ScaleSet set;
    };
    const Case cases[] = {
        {"no profile", kW, kH, {}},
        {"six code, no divisions", kW, kH, {"6", 6000, 600, 60, 0}},
        {"negative divisions", kW, kH, {"6", 6000, 600, 60, -5}},
        {"absurd divisions", kW, kH, {"6", 6000, 600, 60, INT32_MAX}},
        {"panel no wider than the margins", 40, kH, ScaleSet::Set6()},
        {"panel no taller than the margins", kW, 60, ScaleSet::Set6()},
        {"empty panel", 0, 0, ScaleSet::Set6()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScaleGeometry g(c.W, c.H);
        const DialFace f = g.Face(c.set, {0, 0, true, true});
        EXPECT_TRUE(f.labels.empty() && f.marks.empty() && f.dots.empty());
        EXPECT_FALSE(g.Needle(c.set, 600));
    }
}

TEST(ScaleGeometry, TallPanelKeepsTheDialOnItsArc)
{
    // Narrower than twice its dial height: the arc is more than a half circle, and its ends
    // still mirror each other with the zero on top.
    const ScaleGeometry g(140, 160);
    ASSERT_TRUE(g.Valid());
    EXPECT_GT(g.S(), 180.0f);
    const DialFace f = g.Face(ScaleSet::Set6(), {});
    EXPECT_EQ(f.dots.front().corner.x() + f.dots.back().corner.x(), 2 * 70);
    EXPECT_EQ(f.dots[600].corner.x(), 70);
    EXPECT_LT(f.dots[600].corner.y(), f.dots.front().corner.y());
}

}  // namespace
