// The LCD panel over the window's own Panel1 and PBar2, driven in the
// decoder's frame order from frame texts.
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "meter/FrameDecoder.h"
#include "display/WidgetImageCache.h"
#include "display/LcdFont.h"
#include "display/LcdPanel.h"
#include "support/ScreenGrab.h"
#include "ui_TFCOMM.h"

namespace {

// One frame text: sign, four digit bytes, a spare byte, the point code, four
// status bytes, a spare byte and the end byte.
std::string Frame(bool negative, std::array<uint8_t, 4> digits, char pointCode,
                  std::array<uint8_t, 4> status = {})
{
    std::string text;
    auto add = [&](uint8_t b) {
        char h[3];
        std::snprintf(h, sizeof h, "%02X", b);
        text += h;
    };
    add(negative ? 0x2D : 0x2B);
    for (uint8_t d : digits) add(d);
    add(0x20);
    add(uint8_t(pointCode));
    for (uint8_t s : status) add(s);
    add(0x00);
    add(0x0D);
    return text;
}

std::array<uint8_t, 4> Digits(const char* four)
{
    return {uint8_t(four[0]), uint8_t(four[1]), uint8_t(four[2]), uint8_t(four[3])};
}

constexpr std::array<uint8_t, 4> kOverload = {0x3F, 0x30, 0x3A, 0x3F};

class LcdPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LcdFontFamily();  // as the window does: the font is there before the labels use it
        ui.setupUi(&window);
        panel = std::make_unique<LcdPanel>(ui.Panel1, ui.PBar2);
    }

    // The panel's part of one frame, in the decoder's order.
    Reading Show(const std::string& frameText)
    {
        const DecodedFrame d = DecodeFrame(frameText, scale);
        d.ThrowIfFailed();
        panel->Reset();
        panel->ShowSymbols(d.reading);
        panel->ShowDigits(d.reading);
        panel->SetBarMaximum(d.barMaximum);
        panel->SetBarPosition(d.barPosition);
        scale = d.scale;
        return d.reading;
    }

    // Names of the panel's elements that are shown.
    std::set<std::string> Shown() const
    {
        std::set<std::string> names;
        for (QWidget* w : ui.Panel1->findChildren<QWidget*>())
            if (!w->isHidden()) names.insert(w->objectName().toStdString());
        return names;
    }

    std::array<QString, 4> DigitTexts() const
    {
        return {ui.LcdDa->text(), ui.LcdDb->text(), ui.LcdDc->text(), ui.LcdDd->text()};
    }

    QMainWindow window;
    Ui::TFCOMM ui;
    std::unique_ptr<LcdPanel> panel;
    ScaleSet scale = ScaleSet::Set6();
};

const std::set<std::string> kDigits = {"LcdDa", "LcdDb", "LcdDc", "LcdDd"};

std::set<std::string> With(std::set<std::string> base, std::initializer_list<const char*> more)
{
    for (const char* m : more) base.insert(m);
    return base;
}

TEST_F(LcdPanelTest, BeforeTheFirstFrameShowsMinus5999AndNoAnnunciator)
{
    EXPECT_EQ(Shown(), With(kDigits, {"LcdFH"}));
    EXPECT_EQ(DigitTexts(), (std::array<QString, 4>{"5", "9", "9", "9"}));
    EXPECT_EQ(ui.PBar2->value(), 30);
}

TEST_F(LcdPanelTest, SignFollowsEachFrame)
{
    Show(Frame(true, Digits("1234"), '1'));
    EXPECT_FALSE(ui.LcdFH->isHidden());
    Show(Frame(false, Digits("1234"), '1'));
    EXPECT_TRUE(ui.LcdFH->isHidden());
    Show(Frame(true, Digits("0012"), '0'));
    EXPECT_FALSE(ui.LcdFH->isHidden());
}

TEST_F(LcdPanelTest, OverloadWithPointTwoShowsBlank0LBlankAndFullBar)
{
    Show(Frame(false, kOverload, '2', {0x00, 0x00, 0x00, 0x80}));
    EXPECT_EQ(DigitTexts(), (std::array<QString, 4>{"", "0", "@", ""}));
    EXPECT_EQ(Shown(), With(kDigits, {"LcdP2", "LcdV", "LCDsend"}));
    EXPECT_EQ(ui.PBar2->maximum(), 60);
    EXPECT_EQ(ui.PBar2->value(), 60);
}

TEST_F(LcdPanelTest, ExactlyThePointOfPointPosIsLit)
{
    const struct {
        char code;
        std::set<std::string> lit;
    } cases[] = {
        {'1', {"LcdP1"}},
        {'2', {"LcdP2"}},
        {'4', {"LcdP3"}},
        {'0', {}},
        {'3', {}},
        {'9', {}},
    };
    for (const auto& c : cases) {
        Show(Frame(false, Digits("1234"), c.code));
        std::set<std::string> lit;
        for (QWidget* p : {ui.LcdP1, ui.LcdP2, ui.LcdP3})
            if (!p->isHidden()) lit.insert(p->objectName().toStdString());
        EXPECT_EQ(lit, c.lit) << "point code " << c.code;
    }
}

TEST_F(LcdPanelTest, VoltAndMilliShowOnlyTheirSymbolsAndTheFramesRangeLabel)
{
    // Status bytes 0x20 0x00 0x40 0x80: Auto, Milli, Volt.
    const Reading r = Show(Frame(false, Digits("0531"), '1', {0x20, 0x00, 0x40, 0x80}));
    EXPECT_EQ(r.UnitText, "mV");
    EXPECT_EQ(Shown(), With(kDigits, {"LcdV", "Lcdm", "LcdAuto", "LcdP1", "LCDsend"}));
    EXPECT_EQ(ui.PBar2->value(), 5);

    // Without Auto but with DC coupling the range label goes and DC comes.
    Show(Frame(false, Digits("0531"), '1', {0x10, 0x00, 0x40, 0x80}));
    EXPECT_EQ(Shown(), With(kDigits, {"LcdV", "Lcdm", "LcdDc1", "LcdP1", "LCDsend"}));
}

TEST_F(LcdPanelTest, FrameWithoutFlagsHidesEveryAnnunciator)
{
    Show(Frame(true, Digits("1234"), '2', {0xFF, 0xFF, 0xFF, 0xFF}));
    ASSERT_GT(Shown().size(), 20u);
    const Reading r = Show(Frame(false, Digits("1234"), '0'));
    EXPECT_EQ(r.RangeModeText, "MANU");
    EXPECT_EQ(Shown(), With(kDigits, {"LCDsend"}));
}

TEST_F(LcdPanelTest, EachFlagShowsItsOwnElement)
{
    const char* expected[kFlagCount] = {
        "LcdAuto",
        "LcdDc1",
        "LcdAC",
        "LCDREL",
        "LCDHold",
        "Labmax",
        "Labmin",
        "LCDBATT",
        "LCDn",
        "LCDu",
        "Lcdm",
        "LCDk",
        "LCDM1",
        "LCDFm",
        "LCDDI",
        "LCDBF",
        "LcdV",
        "LCDA",
        "LCDohm",
        "LCDHz",
        "LCDF",
        "LCDCS",
        "LCDFS",
    };
    Reading r;
    r.Digit1 = "1";
    for (int i = 0; i < kFlagCount; ++i) {
        r.Flags = {};
        r.Flags.set(Flag(i));
        panel->Reset();
        panel->ShowSymbols(r);
        EXPECT_EQ(Shown(), With(kDigits, {expected[i], "LCDsend"})) << FlagName(Flag(i));
    }
}

TEST_F(LcdPanelTest, ResetHidesTheElementsNoFrameShows)
{
    for (QWidget* w : {static_cast<QWidget*>(ui.LcdRPM), static_cast<QWidget*>(ui.LCDBT),
                       static_cast<QWidget*>(ui.EF), static_cast<QWidget*>(ui.LCDHold)})
        w->show();
    panel->Reset();
    // The sign goes with the reset; the points and digits wait for the frame.
    EXPECT_EQ(Shown(), With(kDigits, {"LCDsend"}));
}

TEST_F(LcdPanelTest, SameFrameTwiceLeavesThePanelAsItWas)
{
    const std::string f = Frame(true, Digits("0042"), '2', {0x22, 0x02, 0x20, 0x20});
    Show(f);
    const auto shown = Shown();
    const auto digits = DigitTexts();
    const int bar = ui.PBar2->value();
    Show(f);
    EXPECT_EQ(Shown(), shown);
    EXPECT_EQ(DigitTexts(), digits);
    EXPECT_EQ(ui.PBar2->value(), bar);
    EXPECT_TRUE(shown.count("LCDk") && shown.count("LCDohm") && shown.count("LcdFH"));
}

// The window sets the reset and the symbols in one pass: the panel ends as
// Reset then ShowSymbols leave it, and a symbol lit in both readings is
// neither hidden nor shown in between.
TEST_F(LcdPanelTest, ResetAndSymbolsInOnePass)
{
    QMainWindow otherWindow;
    Ui::TFCOMM other;
    other.setupUi(&otherWindow);
    LcdPanel twoPass(other.Panel1, other.PBar2);
    struct Flips : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            count += e->type() == QEvent::Hide || e->type() == QEvent::Show;
            return false;
        }
    } flips;
    otherWindow.show();
    window.show();
    const std::string frames[] = {
        Frame(true, Digits("0042"), '2', {0x22, 0x02, 0x20, 0x20}),
        Frame(true, Digits("0043"), '2', {0x22, 0x02, 0x20, 0x20}),
        Frame(false, Digits("1234"), '1', {0x20, 0, 0, 0x80}),
        Frame(false, kOverload, '0', {0, 0, 0x02, 0}),
    };
    for (size_t i = 0; i < std::size(frames); ++i) {
        Reading r;
        DecodeSymbols(frames[i], r);
        if (i == 1)  // the same symbols as the reading before
            for (QWidget* w : ui.Panel1->findChildren<QWidget*>()) w->installEventFilter(&flips);
        panel->ResetAndShowSymbols(r);
        if (i == 1) {
            EXPECT_EQ(flips.count, 0);
            for (QWidget* w : ui.Panel1->findChildren<QWidget*>()) w->removeEventFilter(&flips);
        }
        twoPass.Reset();
        twoPass.ShowSymbols(r);
        std::set<std::string> expected;
        for (QWidget* w : other.Panel1->findChildren<QWidget*>())
            if (!w->isHidden()) expected.insert(w->objectName().toStdString());
        EXPECT_EQ(Shown(), expected) << "frame " << i;
    }
}

TEST_F(LcdPanelTest, BarFollowsTheLeadingDigitsWithinTheUnitsMaximum)
{
    const struct {
        std::array<uint8_t, 4> status;
        std::array<uint8_t, 4> digits;
        int maximum;
        int position;
    } cases[] = {
        // Volts: maximum 60.
        {{0, 0, 0, 0x80}, Digits("0531"), 60, 5},
        {{0, 0, 0, 0x80}, Digits("5999"), 60, 59},
        {{0, 0, 0, 0x80}, Digits("0012"), 60, 1},
        {{0, 0, 0, 0x80}, Digits("0199"), 60, 1},
        // Percent: maximum 10; the overload's 100 stops at the end.
        {{0, 0, 0x02, 0}, Digits("0500"), 10, 5},
        {{0, 0, 0x02, 0}, kOverload, 10, 10},
        // Back to volts after percent: maximum 60 again.
        {{0, 0, 0, 0x80}, kOverload, 60, 60},
        {{0, 0, 0, 0x80}, Digits("2000"), 60, 20},
    };
    for (const auto& c : cases) {
        Show(Frame(false, c.digits, '0', c.status));
        EXPECT_EQ(ui.PBar2->maximum(), c.maximum);
        EXPECT_EQ(ui.PBar2->value(), c.position)
            << "digits " << c.digits[0] << c.digits[1] << c.digits[2] << c.digits[3];
    }
}

TEST_F(LcdPanelTest, BarPositionStaysWithinItsRange)
{
    panel->SetBarMaximum(60);
    panel->SetBarPosition(59);
    panel->SetBarMaximum(10);  // the position comes down with the range
    EXPECT_EQ(ui.PBar2->value(), 10);
    panel->SetBarPosition(1000);
    EXPECT_EQ(ui.PBar2->value(), 10);
    panel->SetBarPosition(-5);
    EXPECT_EQ(ui.PBar2->value(), 0);
    panel->SetBarMaximum(-1);
    EXPECT_EQ(ui.PBar2->minimum(), 0);
    EXPECT_EQ(ui.PBar2->maximum(), 0);
}

TEST_F(LcdPanelTest, FailedFrameKeepsWhatTheResetDid)
{
    Show(Frame(true, Digits("1234"), '1', {0x20, 0, 0, 0x80}));
    // A point code byte 0x4A (low digit A) fails the decode after the reset.
    panel->Reset();
    Reading r;
    EXPECT_THROW(DecodeSymbols(Frame(false, Digits("1234"), 'J'), r), std::runtime_error);
    EXPECT_EQ(Shown(), With(kDigits, {"LcdP1", "LCDsend"}));
    EXPECT_EQ(DigitTexts(), (std::array<QString, 4>{"1", "2", "3", "4"}));
}

TEST_F(LcdPanelTest, TheBarOnScreenIsTheBarDrawnAfreshAtEveryPosition)
{
    // Only the strip between the bar's old and new end is painted, once the
    // bar has a picture of its new length a copy from it: whatever the step,
    // up or down, to an end or across a change of range, the window must show
    // the bar as the style draws it. The steps are taken three times: the
    // first paints each new length's strip (a new range the whole bar) and
    // makes the length's picture from the last one's, the others copy
    // strips from those pictures.
    WidgetImageCache* pictures = ui.PBar2->findChild<WidgetImageCache*>();
    ASSERT_TRUE(pictures && pictures->active());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const struct {
        int maximum, position;
    } steps[] = {{60, 30}, {60, 31}, {60, 29}, {60, 60}, {60, 0}, {60, 1}, {60, 59}, {60, 12}, {40, 40}, {40, 3}, {60, 45}, {60, 60}, {60, 58}};
    for (int round = 0; round < 3; ++round)
        for (const auto& step : steps) {
            SCOPED_TRACE(testing::Message() << "round " << round << ": " << step.maximum << " " << step.position);
            panel->SetBarMaximum(step.maximum);
            panel->SetBarPosition(step.position);
            if (round > 0) {
                EXPECT_TRUE(pictures->hasPicture());
            }
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            ui.PBar2->removeEventFilter(pictures);
            EXPECT_EQ(OnScreen(ui.PBar2), DrawnAfresh(ui.PBar2));
            ui.PBar2->installEventFilter(pictures);
        }
}

TEST_F(LcdPanelTest, TheDigitsFromTheirPicturesAreTheDigitsTheLabelsDraw)
{
    // The panel paints its digits from a picture per text: for each frame,
    // what the window shows from the pictures must be what it shows when the
    // labels paint themselves, also after a digit's style changes.
    const std::array<QLabel*, 4> digits = {ui.LcdDa, ui.LcdDb, ui.LcdDc, ui.LcdDd};
    for (QLabel* digit : digits)
        ASSERT_TRUE(digit->findChild<WidgetImageCache*>() && digit->findChild<WidgetImageCache*>()->active());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto shown = [&] {
        for (QLabel* digit : digits) digit->update();
        for (int pass = 0; pass < 3; ++pass) {
            QCoreApplication::processEvents();
            QTest::qWait(5);
        }
        std::vector<QImage> images;
        for (QLabel* digit : digits) images.push_back(OnScreen(digit));
        return images;
    };
    const std::string frames[] = {
        Frame(false, Digits("0123"), '1', {0x20, 0, 0, 0x80}),
        Frame(true, Digits("4567"), '2', {0x20, 0, 0, 0x80}),
        Frame(false, Digits("8901"), '4', {0, 0, 0x40, 0x80}),
        Frame(false, kOverload, '2', {0x00, 0x00, 0x00, 0x80}),
        Frame(false, Digits("0123"), '1', {0x20, 0, 0, 0x80}),
    };
    for (size_t i = 0; i <= std::size(frames); ++i) {
        SCOPED_TRACE(testing::Message() << "step " << i);
        if (i < std::size(frames))
            Show(frames[i]);
        else
            ui.LcdDb->setStyleSheet(ui.LcdDb->styleSheet() + " color: red;");
        shown();  // each new text is painted by its label twice, and the second kept
        shown();
        const std::vector<QImage> fromPictures = shown();
        std::vector<WidgetImageCache*> caches;
        for (QLabel* digit : digits) caches.push_back(digit->findChild<WidgetImageCache*>());
        for (size_t d = 0; d < digits.size(); ++d) digits[d]->removeEventFilter(caches[d]);
        const std::vector<QImage> painted = shown();
        for (size_t d = 0; d < digits.size(); ++d) {
            EXPECT_EQ(fromPictures[d], painted[d]) << digits[d]->objectName().toStdString();
            digits[d]->installEventFilter(caches[d]);
        }
    }
}

TEST_F(LcdPanelTest, APanelRepaintedWhereItsDigitsChangedIsThePanelDrawnAfresh)
{
    // Once the digits have their pictures, a new digit repaints only the
    // pixels in which its picture differs from the old one's; the symbols
    // over the digits' boxes (the range and the mode) are painted again only
    // where those reach them. After every frame, in each round, the panel
    // must show what it shows when it is drawn whole. (The first round only
    // shows the frames: the painter's first drawing of a large glyph in a
    // process can differ at its edges from the ones after.)
    const std::array<QLabel*, 4> digits = {ui.LcdDa, ui.LcdDb, ui.LcdDc, ui.LcdDd};
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const std::string frames[] = {
        Frame(true, Digits("2083"), '1', {0x20, 0, 0, 0x80}),
        Frame(true, Digits("5186"), '1', {0x20, 0, 0, 0x80}),
        Frame(false, Digits("1111"), '2', {0x20, 0, 0, 0x80}),
        Frame(false, kOverload, '2', {0x00, 0x00, 0x00, 0x80}),
        Frame(true, Digits("8888"), '4', {0, 0, 0x40, 0x80}),
        Frame(true, Digits("2083"), '1', {0x20, 0, 0, 0x80}),
    };
    for (int round = 0; round < 4; ++round)
        for (size_t i = 0; i < std::size(frames); ++i) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", frame " << i);
            Show(frames[i]);
            for (int pass = 0; pass < 3; ++pass) {
                QCoreApplication::processEvents();
                QTest::qWait(5);
            }
            if (round == 0) continue;
            const QImage shown = OnScreen(ui.Panel1);
            std::vector<WidgetImageCache*> caches;
            for (QLabel* digit : digits) {
                caches.push_back(digit->findChild<WidgetImageCache*>());
                digit->removeEventFilter(caches.back());
            }
            EXPECT_EQ(shown, DrawnAfresh(ui.Panel1));
            for (size_t d = 0; d < digits.size(); ++d) digits[d]->installEventFilter(caches[d]);
        }
    for (QLabel* digit : digits) EXPECT_TRUE(digit->findChild<WidgetImageCache*>()->hasPicture());
}

TEST(WidgetImageCacheTest, AWidgetOverWhatMayChangeBeneathItPaintsItself)
{
    // Beneath may lie the parent's background and a plain panel's edge, not
    // a sibling that shows a text of its own or a panel's child.
    QWidget parent;
    QLabel beneath("under", &parent);
    beneath.setGeometry(0, 0, 40, 20);
    QLabel over("8", &parent);
    over.setGeometry(30, 0, 40, 20);
    QLabel apart("8", &parent);
    apart.setGeometry(80, 0, 40, 20);
    QFrame panel(&parent);
    panel.setGeometry(0, 30, 100, 40);
    QLabel inPanel("1", &panel);
    inPanel.setGeometry(5, 5, 20, 20);
    QLabel overEdge("8", &parent);
    overEdge.setGeometry(40, 69, 40, 20);
    QLabel overChild("8", &parent);
    overChild.setGeometry(20, 50, 40, 40);
    EXPECT_FALSE(WidgetImageCache::ForLabel(&over)->active());
    EXPECT_TRUE(WidgetImageCache::ForLabel(&apart)->active());
    EXPECT_TRUE(WidgetImageCache::ForLabel(&overEdge)->active());
    EXPECT_FALSE(WidgetImageCache::ForLabel(&overChild)->active());
}

TEST(WidgetImageCacheTest, APartHiddenWhenThePictureWasTakenIsPaintedAfreshOnceItShows)
{
    // An opaque sibling above hides part of the label when its picture is
    // taken; once that sibling moves away, the part it hid must show the
    // label, not what the picture holds there.
    QWidget window;
    window.resize(200, 40);
    QLabel label("8", &window);
    label.setGeometry(0, 0, 40, 20);
    QWidget above(&window);
    above.setGeometry(30, 0, 20, 20);
    QPalette red = above.palette();
    red.setColor(QPalette::Window, Qt::red);
    above.setPalette(red);
    above.setAutoFillBackground(true);
    WidgetImageCache* pictures = WidgetImageCache::ForLabel(&label);
    ASSERT_TRUE(pictures->active());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto paint = [&] {
        label.update();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    };
    paint();
    paint();  // two paints of a text agree: the picture
    ASSERT_TRUE(pictures->hasPicture());
    above.move(100, 0);
    paint();
    label.removeEventFilter(pictures);
    EXPECT_EQ(OnScreen(&label), DrawnAfresh(&label));
}

TEST(LcdPanelConstruction, MissingElementIsNamed)
{
    QWidget bare;
    QProgressBar bar;
    try {
        LcdPanel p(&bare, &bar);
        FAIL() << "a panel without elements was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("LcdAuto"), std::string::npos) << e.what();
    }
    EXPECT_THROW(LcdPanel(nullptr, &bar), std::runtime_error);
    QMainWindow w;
    Ui::TFCOMM ui;
    ui.setupUi(&w);
    EXPECT_THROW(LcdPanel(ui.Panel1, nullptr), std::runtime_error);
}

}  // namespace
