// The dial drawn offscreen: what the pixels of the surface show after each call.
#include "display/LimitAlarm.h"
#include "meter/ScaleSet.h"
#include "display/ScaleView.h"
#include "support/ScreenGrab.h"

#include <QCoreApplication>
#include <QFrame>
#include <QTest>
#include <gtest/gtest.h>

#include <climits>

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kRed = qRgb(255, 0, 0);

QRgb At(const ScaleView& v, int x, int y)
{
    return v.KD1().pixel(x, y) | 0xff000000u;
}

// The columns of row y, between x0 and x1, that are black.
std::vector<int> BlackIn(const ScaleView& v, int y, int x0, int x1)
{
    std::vector<int> out;
    for (int x = x0; x <= x1; ++x)
        if (At(v, x, y) == kBlack)
            out.push_back(x);
    return out;
}

class ScaleViewTest : public ::testing::Test {
protected:
    ScaleViewTest() : view(set, limits)
    {
        view.resize(318, 139);
        view.setLimitChecks([this] { return maxOn; }, [this] { return minOn; });
        limits.MaxLimit = 6000;
        limits.MinLimit = -6000;
    }
    QPoint DotCentre(int k) const
    {
        return ScaleGeometry(318, 139).Face(set, {}).dots[size_t(k)].corner + QPoint(1, 1);
    }

    ScaleSet set = ScaleSet::Set6();
    LimitState limits;
    bool maxOn = false, minOn = false;
    ScaleView view;
};

TEST_F(ScaleViewTest, DialWithRedZoneAndNeedle)
{
    maxOn = true;
    limits.MaxLimit = 3000;
    view.KDsetup();
    ASSERT_EQ(view.KD1().size(), QSize(318, 139));
    EXPECT_EQ(At(view, DotCentre(1200).x(), DotCentre(1200).y()), kRed);
    EXPECT_EQ(At(view, DotCentre(901).x(), DotCentre(901).y()), kRed);
    EXPECT_EQ(At(view, DotCentre(600).x(), DotCentre(600).y()), kBlack);
    EXPECT_EQ(At(view, DotCentre(0).x(), DotCentre(0).y()), kBlack);
    EXPECT_EQ(At(view, 159, 120), kWhite);  // no needle yet
    // The "0" label: dark text in its box at (156, 8).
    bool dark = false;
    for (int y = 8; y < 20; ++y)
        for (int x = 156; x < 164; ++x)
            dark = dark || qGray(view.KD1().pixel(x, y)) < 128;
    EXPECT_TRUE(dark);

    view.KDrun(600);
    EXPECT_EQ(view.needle(), (NeedleLine{{159, 34}, {159, 389}}));
    for (int y : {40, 80, 138}) {
        const auto cols = BlackIn(view, y, 150, 170);
        ASSERT_EQ(cols.size(), 2u) << "row " << y;
        EXPECT_LE(std::abs(cols[0] - 159), 1);
        EXPECT_EQ(cols[1], cols[0] + 1);
    }
}

TEST_F(ScaleViewTest, NextNeedleTakesThePreviousAwayAndLeavesTheDialWhole)
{
    view.KDsetup();
    const QImage dial = view.KD1().copy();
    view.KDrun(600);
    view.KDrun(57);  // -5.432 on the six-thousand dial
    EXPECT_TRUE(BlackIn(view, 80, 150, 170).empty());
    // Everything that differs from the bare dial is the new needle's black.
    int changed = 0;
    for (int y = 0; y < dial.height(); ++y)
        for (int x = 0; x < dial.width(); ++x)
            if (At(view, x, y) != (dial.pixel(x, y) | 0xff000000u)) {
                ++changed;
                ASSERT_EQ(At(view, x, y), kBlack) << x << "," << y;
                ASSERT_LT(x, 159);
            }
    EXPECT_GT(changed, 100);
}

TEST_F(ScaleViewTest, TheWindowShowsTheLastNeedleOfEachFrameAsADialDrawnForItAlone)
{
    // A frame takes the needle to zero and then to the reading, and several
    // frames may come between two paints: the needle is drawn once, where the
    // last call put it, and only the strips of the old and new needle are
    // painted. The window must show what a dial given only that needle shows.
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    // A frame: the setup, zero, then p. A setup alone leaves the dial
    // without needle; a move alone takes the needle on.
    enum Kind { Frame, Setup, Move };
    struct Step {
        Kind kind;
        int p;
    };
    const std::vector<std::vector<Step>> passes = {
        {{Frame, 600}},
        {{Frame, 1200}},
        {{Frame, 57}, {Frame, 600}, {Frame, 1100}},
        {{Setup, 0}},
        {{Frame, 300}},
        {{Setup, 0}, {Frame, 900}},
        {{Move, 200}},
        {{Move, 1000}, {Move, 700}},
        {{Frame, 1200}, {Frame, 1200}},
        {{Frame, 600}, {Setup, 0}},
        {{Frame, 40}},
    };
    for (size_t i = 0; i < passes.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "pass " << i);
        for (const Step& step : passes[i]) {
            if (step.kind != Move) view.KDsetup();
            if (step.kind == Frame) view.KDrun(0);
            if (step.kind != Setup) view.KDrun(step.p);
        }
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        ScaleView alone(set, limits);
        alone.resize(view.size());
        alone.setLimitChecks([this] { return maxOn; }, [this] { return minOn; });
        alone.KDsetup();
        if (passes[i].back().kind != Setup) alone.KDrun(passes[i].back().p);
        EXPECT_EQ(OnScreen(&view), alone.KD1().convertToFormat(QImage::Format_RGB32));
        EXPECT_EQ(view.KD1(), alone.KD1());
    }
}

TEST_F(ScaleViewTest, LimitSwitchedOffRedrawsTheDialWithoutNeedle)
{
    maxOn = true;
    limits.MaxLimit = 3000;
    view.KDsetup();
    view.KDrun(600);
    view.KDrun(1000);
    maxOn = false;
    view.KDsetup();
    EXPECT_EQ(At(view, DotCentre(1200).x(), DotCentre(1200).y()), kBlack);
    EXPECT_EQ(view.KD1(), [&] {
        ScaleView fresh(set, limits);
        fresh.resize(318, 139);
        fresh.KDsetup();
        return fresh.KD1();
    }());
}

TEST_F(ScaleViewTest, ChangedLimitAndSetAreDrawnAtTheNextSetup)
{
    maxOn = true;
    limits.MaxLimit = 3000;
    view.KDsetup();
    EXPECT_EQ(At(view, DotCentre(1000).x(), DotCentre(1000).y()), kRed);
    limits.MaxLimit = 5000;
    view.KDsetup();
    EXPECT_EQ(At(view, DotCentre(1000).x(), DotCentre(1000).y()), kBlack);
    EXPECT_EQ(At(view, DotCentre(1200).x(), DotCentre(1200).y()), kRed);

    set = ScaleSet::Set10();  // 2000 positions; dots beyond (k - 100) * 10 = 5000 are red
    view.KDsetup();
    const QPoint d = ScaleGeometry(318, 139).Face(set, {}).dots[700].corner + QPoint(1, 1);
    EXPECT_EQ(At(view, d.x(), d.y()), kRed);
    view.KDrun(1000);
    EXPECT_EQ(BlackIn(view, 80, 150, 170).size(), 2u);
}

TEST_F(ScaleViewTest, SetsWithoutDivisionsDrawNoNeedle)
{
    EXPECT_EQ(view.needle(), NeedleLine{});
    for (const ScaleSet& s : {ScaleSet{"4", 0, 0, 0, 0}, ScaleSet{}}) {
        SCOPED_TRACE(s.FullScaleCode);
        set = ScaleSet::Set6();
        view.KDsetup();
        view.KDrun(600);
        const NeedleLine before = view.needle();
        set = s;
        view.KDsetup();
        view.KDrun(s.ScaleZero);
        view.KDrun(INT32_MAX);
        EXPECT_EQ(view.needle(), before);
        EXPECT_TRUE(BlackIn(view, 100, 100, 220).empty());
    }
    // The "4" layout still shows its labels and dots; no profile shows a white panel.
    set = {"4", 0, 0, 0, 0};
    view.KDsetup();
    EXPECT_EQ(At(view, DotCentre(600).x(), DotCentre(600).y()), kBlack);
    set = {};
    view.KDsetup();
    EXPECT_EQ(view.KD1().pixelColor(159, 28), QColor(Qt::white));
}

TEST_F(ScaleViewTest, NeedleFarBeyondTheEndsIsDrawnSafely)
{
    view.KDsetup();
    for (int32_t p : {-312, -311, INT32_MIN, INT32_MAX, 1201})
        view.KDrun(p);
    view.KDrun(600);
    EXPECT_EQ(BlackIn(view, 80, 150, 170).size(), 2u);
}

TEST(ScaleViewPanel, GeometryFollowsThePanelItFills)
{
    ScaleSet set = ScaleSet::Set6();
    LimitState limits;
    QFrame kd;
    kd.resize(318, 139);
    ScaleView view(set, limits, &kd);
    view.setGeometry(1, 1, 316, 137);  // the panel's client area inside its bevel
    EXPECT_EQ(view.panelSize(), QSize(318, 139));
    view.KDsetup();
    view.KDrun(600);
    EXPECT_EQ(view.KD1().size(), QSize(316, 137));
    EXPECT_EQ(view.needle(), (NeedleLine{{159, 34}, {159, 389}}));

    // A new size redraws the dial and keeps the needle where the reading put it.
    kd.show();
    kd.resize(418, 159);
    view.setGeometry(1, 1, 416, 157);
    EXPECT_EQ(view.KD1().size(), QSize(416, 157));
    EXPECT_EQ(view.needle().tip.x(), 209);
    EXPECT_EQ(qGray(view.KD1().pixel(209, 120)), 0);
}

}  // namespace
