#pragma once
// The dial of the panel KD: an arc of dots with numbered marks, red beyond a switched-on
// limit, and a needle that follows the reading.
//
// The view is the drawing surface KD1 and fills the client area of the panel KD; the dial is
// computed from the outer size of its parent widget (the panel), or from its own size when
// it has no parent. The dial (labels, marks, dots) is rendered once into a cached image and
// only rendered again when the scale set, the limits, their switches or the size change; a
// frame then costs a few small copies and one line.
#include "display/ScaleGeometry.h"

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ScaleSet;
struct LimitState;

class ScaleView : public QWidget {
    Q_OBJECT
public:
    // set and limits are read at every call, so they must outlive the view.
    ScaleView(const ScaleSet& set, const LimitState& limits, QWidget* parent = nullptr);

    // The checked states of SetMaxB and SetMinB, asked at every redraw (both off until set).
    void setLimitChecks(std::function<bool()> maxChecked, std::function<bool()> minChecked);

    // Redraws the dial for the current set and limits, without the needle.
    void KDsetup();
    // Moves the needle to position p (0 .. 10 * divisions): takes the previous needle away
    // and draws the new one. Does not redraw the dial.
    void KDrun(int32_t p);

    // The drawing surface as it stands (the size of the view).
    const QImage& KD1() const;
    // The needle drawn last; (0,0)-(0,0) before the first.
    NeedleLine needle() const { return needle_; }
    // The outer size the dial is computed from.
    QSize panelSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct DialKey {
        QSize panel, image;
        std::string code;
        int32_t fullScale = 0, divisions = 0;
        DialLimits limits;
        bool operator==(const DialKey& o) const;
    };
    DialKey currentKey() const;
    void renderDial(const DialKey& key);
    void restore(const QRect& r);
    void drawNeedle(const NeedleLine& n);
    QRect needleRect(const NeedleLine& n) const;
    QRect shownRect() const;  // where the needle to be shown lies, if any
    // Brings the surface to the needle last asked for (the restore of the old one, the new one).
    void settle() const;
    const std::vector<QPoint>& dotCorners(const ScaleGeometry& g, const ScaleSet& set, QSize panel);

    const ScaleSet& set_;
    const LimitState& limits_;
    std::function<bool()> maxChecked_, minChecked_;

    QImage dial_;     // the dial without needle, for dialKey_
    QImage surface_;  // KD1: the dial plus at most the needle in dirty_ (once settled)
    DialKey dialKey_;
    bool haveDial_ = false;
    QRect dirty_;  // where surface_ differs from dial_
    // The dots' positions of the last few dials (a unit change switches between sets).
    struct Corners {
        QSize panel;
        int32_t divisions = 0;
        std::vector<QPoint> dots;
    };
    std::vector<Corners> corners_;

    NeedleLine needle_;
    bool needleShown_ = false;  // a needle is to be shown (at lastPos_)
    bool stale_ = false;  // the surface does not yet show the needle asked for
    int32_t lastPos_ = 0;
};
