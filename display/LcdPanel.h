#pragma once
// The imitation LCD: shows a reading on the labels, dots and pictures of the
// white panel `Panel1` and on the bar graph `PBar2` beneath it. The decoder
// calls the operations in its frame order: Reset, ShowSymbols, ShowDigits,
// SetBarMaximum, SetBarPosition. Only elements whose state changes are touched.
#include <array>

#include "meter/Reading.h"

class QLabel;
class QProgressBar;
class QWidget;
class WidgetImageCache;

class LcdPanel {
public:
    // Finds the panel's elements by object name among the children of `panel1`;
    // throws std::runtime_error naming the first one that is missing.
    LcdPanel(QWidget* panel1, QProgressBar* bar);

    // Hides every annunciator, the sign, LcdRPM, LCDBT and EF; shows LCDsend.
    void Reset();
    // Each annunciator as its flag says, LcdAuto from Auto, the sign from
    // SignText and exactly the decimal point of PointPos.
    void ShowSymbols(const Reading& r);
    // Reset followed by ShowSymbols, with each element set once: a symbol that
    // stays lit from one reading to the next is not hidden and shown again.
    // Each such flip of a widget costs a round trip to the display server
    // while the mouse is over the window.
    void ResetAndShowSymbols(const Reading& r);
    // LcdDa .. LcdDd := Digit1 .. Digit4.
    void ShowDigits(const Reading& r);
    // The bar's range maximum (the minimum stays 0). A position beyond the new
    // maximum is brought down to it.
    void SetBarMaximum(int maximum);
    // The bar's position, kept within 0 .. maximum.
    void SetBarPosition(int position);

private:
    static void SetShown(QWidget* w, bool shown);

    std::array<QWidget*, kFlagCount> flagElements_{};  // indexed by Flag
    QWidget* sign_ = nullptr;                          // LcdFH
    std::array<QWidget*, 3> points_{};                 // LcdP1 .. LcdP3
    std::array<QWidget*, 3> neverShown_{};             // LcdRPM, LCDBT, EF
    QWidget* send_ = nullptr;                          // LCDsend
    std::array<QLabel*, 4> digits_{};                  // LcdDa .. LcdDd
    std::array<WidgetImageCache*, 4> digitPictures_{};  // children of the digits
    QProgressBar* bar_ = nullptr;
    WidgetImageCache* barPictures_ = nullptr;  // a child of the bar
};
