#include "display/LcdPanel.h"

#include "display/WidgetImageCache.h"

#include <QLabel>
#include <QProgressBar>
#include <QWidget>
#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace {

// How far on either side of the bar's end its drawing may change with the
// end: the style's rounded end and the line that marks it.
constexpr int kBarEndMargin = 8;

// The panel element of each annunciator flag, in the order of Flag.
constexpr const char* kFlagElementNames[kFlagCount] = {
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

template <typename T>
T* Element(QWidget* panel, const char* name)
{
    auto* w = panel->findChild<T*>(QString::fromLatin1(name));
    if (!w) throw std::runtime_error(std::string("LCD panel element '") + name + "' is missing");
    return w;
}

}  // namespace

LcdPanel::LcdPanel(QWidget* panel1, QProgressBar* bar) : bar_(bar)
{
    if (!panel1) throw std::runtime_error("LCD panel 'Panel1' is missing");
    if (!bar) throw std::runtime_error("LCD bar graph 'PBar2' is missing");
    for (int i = 0; i < kFlagCount; ++i)
        flagElements_[size_t(i)] = Element<QWidget>(panel1, kFlagElementNames[i]);
    sign_ = Element<QWidget>(panel1, "LcdFH");
    points_ = {Element<QWidget>(panel1, "LcdP1"), Element<QWidget>(panel1, "LcdP2"),
               Element<QWidget>(panel1, "LcdP3")};
    neverShown_ = {Element<QWidget>(panel1, "LcdRPM"), Element<QWidget>(panel1, "LCDBT"),
                   Element<QWidget>(panel1, "EF")};
    send_ = Element<QWidget>(panel1, "LCDsend");
    digits_ = {Element<QLabel>(panel1, "LcdDa"), Element<QLabel>(panel1, "LcdDb"),
               Element<QLabel>(panel1, "LcdDc"), Element<QLabel>(panel1, "LcdDd")};
    for (size_t i = 0; i < digits_.size(); ++i) digitPictures_[i] = WidgetImageCache::ForLabel(digits_[i]);
    barPictures_ = WidgetImageCache::ForBar(bar);
}

void LcdPanel::SetShown(QWidget* w, bool shown)
{
    if (w->isHidden() == shown) w->setHidden(!shown);
}

void LcdPanel::Reset()
{
    for (QWidget* w : flagElements_) SetShown(w, false);
    SetShown(sign_, false);
    for (QWidget* w : neverShown_) SetShown(w, false);
    // LCDsend is hidden and shown again at once: it simply stays shown.
    SetShown(send_, true);
}

void LcdPanel::ShowSymbols(const Reading& r)
{
    for (int i = 0; i < kFlagCount; ++i) SetShown(flagElements_[size_t(i)], r.Flags[Flag(i)]);
    SetShown(sign_, r.SignText == "-");
    for (int i = 0; i < 3; ++i) SetShown(points_[size_t(i)], r.PointPos == i + 1);
}

void LcdPanel::ResetAndShowSymbols(const Reading& r)
{
    for (QWidget* w : neverShown_) SetShown(w, false);
    SetShown(send_, true);
    ShowSymbols(r);  // sets every annunciator and the sign, as Reset would have first
}

void LcdPanel::ShowDigits(const Reading& r)
{
    const std::string* texts[4] = {&r.Digit1, &r.Digit2, &r.Digit3, &r.Digit4};
    for (size_t i = 0; i < 4; ++i) {
        const QLatin1String text(texts[i]->data(), qsizetype(texts[i]->size()));
        // A new digit repaints just the pixels in which its picture differs
        // from the old one's: the symbols over the digits' boxes are painted
        // again only where those pixels reach them.
        if (digits_[i]->text() != text) digitPictures_[i]->changeLook([&] { digits_[i]->setText(text); });
    }
}

void LcdPanel::SetBarMaximum(int maximum)
{
    // The bar's minimum is 0; a negative maximum would drag the minimum along.
    maximum = std::max(maximum, 0);
    if (bar_->maximum() == maximum && bar_->minimum() == 0) return;
    const int position = bar_->value();
    bar_->setRange(0, maximum);
    // A range change that leaves the position outside resets the bar; keep it
    // at the new end instead, as a meter's bar would.
    if (position > maximum) bar_->setValue(maximum);
}

void LcdPanel::SetBarPosition(int position)
{
    position = std::clamp(position, bar_->minimum(), bar_->maximum());
    const int previous = bar_->value();
    if (previous == position) return;
    // A progress bar repaints itself whole, at once, on every change of value;
    // here only what changes is painted, with the rest of the frame's work:
    // the pixels in which the pictures of the two lengths differ, or the strip
    // between the old and the new end of the bar (the bar is drawn the same
    // along its length, so nothing else of it changes). A length the bar has
    // no picture of yet has its strip painted, and its picture is the last
    // length's with that strip.
    const int span = std::max(bar_->maximum() - bar_->minimum(), 1);
    const auto x = [&](int value) { return int(int64_t(bar_->width()) * (value - bar_->minimum()) / span); };
    const int left = std::min(x(previous), x(position)), right = std::max(x(previous), x(position));
    barPictures_->changeLook([&] { bar_->setValue(position); },
                             QRect(left - kBarEndMargin, 0, right - left + 2 * kBarEndMargin, bar_->height()));
}
