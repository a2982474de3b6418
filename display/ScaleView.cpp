#include "display/ScaleView.h"

#include "display/LimitAlarm.h"
#include "display/PaintInBands.h"
#include "meter/ScaleSet.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kRed = qRgb(255, 0, 0);

// The pixels of one dot relative to its box corner: an ellipse in the 2x2 box drawn with a
// 4-pixel pen. The pen is wider than the box, so it covers the white fill entirely and the
// dot is solid; a painter strokes such a pen as a ring with a hole, which would leave a white
// seam along the arc, so the hole is painted in the pen's colour too. The dots are stamped
// from this instead of being stroked one by one: a dial has up to two thousand of them.
const std::vector<QPoint>& DotStamp()
{
    static const std::vector<QPoint> stamp = [] {
        constexpr int kSize = 16, kAt = 8;
        QImage img(kSize, kSize, QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        {
            QPainter p(&img);
            p.setPen(QPen(Qt::black, 4));
            p.setBrush(Qt::black);
            p.drawEllipse(QRectF(kAt, kAt, 2, 2));
        }
        std::vector<QPoint> pixels;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
                if (qAlpha(img.pixel(x, y)) != 0)
                    pixels.push_back({x - kAt, y - kAt});
        return pixels;
    }();
    return stamp;
}

// The surface's default font: small sans serif.
const QFont& LabelFont()
{
    static const QFont font = [] {
        QFont f;
        f.setFamily(QStringLiteral("Sans Serif"));
        f.setStyleHint(QFont::SansSerif);
        f.setPixelSize(11);
        return f;
    }();
    return font;
}

constexpr size_t kCachedCorners = 4;

}  // namespace

bool ScaleView::DialKey::operator==(const DialKey& o) const
{
    return panel == o.panel && image == o.image && code == o.code && fullScale == o.fullScale &&
           divisions == o.divisions && limits.MaxLimit == o.limits.MaxLimit &&
           limits.MinLimit == o.limits.MinLimit && limits.MaxOn == o.limits.MaxOn &&
           limits.MinOn == o.limits.MinOn;
}

ScaleView::ScaleView(const ScaleSet& set, const LimitState& limits, QWidget* parent)
    : QWidget(parent),
      set_(set),
      limits_(limits)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    dial_ = QImage(size(), QImage::Format_RGB32);
    dial_.fill(kWhite);
    surface_ = dial_.copy();
}

void ScaleView::setLimitChecks(std::function<bool()> maxChecked, std::function<bool()> minChecked)
{
    maxChecked_ = std::move(maxChecked);
    minChecked_ = std::move(minChecked);
}

QSize ScaleView::panelSize() const
{
    return parentWidget() ? parentWidget()->size() : size();
}

ScaleView::DialKey ScaleView::currentKey() const
{
    DialKey k;
    k.panel = panelSize();
    k.image = size();
    k.code = set_.FullScaleCode;
    k.fullScale = set_.FullScale;
    k.divisions = set_.ScaleDivisions;
    k.limits.MaxLimit = limits_.MaxLimit;
    k.limits.MinLimit = limits_.MinLimit;
    k.limits.MaxOn = maxChecked_ && maxChecked_();
    k.limits.MinOn = minChecked_ && minChecked_();
    return k;
}

const std::vector<QPoint>& ScaleView::dotCorners(const ScaleGeometry& g, const ScaleSet& set, QSize panel)
{
    const int32_t divisions = DialScale::For(set).Divisions;
    for (size_t i = 0; i < corners_.size(); ++i)
        if (corners_[i].panel == panel && corners_[i].divisions == divisions) {
            std::rotate(corners_.begin(), corners_.begin() + ptrdiff_t(i), corners_.begin() + ptrdiff_t(i) + 1);
            return corners_.front().dots;
        }
    if (corners_.size() == kCachedCorners)
        corners_.pop_back();
    corners_.insert(corners_.begin(), Corners{panel, divisions, g.DotCorners(set)});
    return corners_.front().dots;
}

void ScaleView::renderDial(const DialKey& key)
{
    dial_ = QImage(key.image, QImage::Format_RGB32);
    dial_.fill(kWhite);
    ScaleSet set;
    set.FullScaleCode = key.code;
    set.FullScale = key.fullScale;
    set.ScaleDivisions = key.divisions;
    const ScaleGeometry g(key.panel.width(), key.panel.height());

    const std::vector<DialLabel> labels = g.Labels(set);
    const std::vector<QPoint> marks = g.Marks(set);
    if (!labels.empty() || !marks.empty()) {
        QPainter p(&dial_);
        const QFont& font = LabelFont();
        const QFontMetrics fm(font);
        p.setFont(font);
        p.setPen(Qt::black);
        for (const DialLabel& l : labels) {
            // Opaque white background behind the text.
            const QRect box(l.topLeft, QSize(fm.horizontalAdvance(l.text), fm.height()));
            p.fillRect(box, Qt::white);
            p.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, l.text);
        }
        p.setPen(QPen(QColor(kRed), 2));
        p.setBrush(Qt::white);
        for (const QPoint& m : marks)
            p.drawEllipse(QRectF(m, QSizeF(2, 2)));
    }

    const std::vector<QPoint>& stamp = DotStamp();
    const std::vector<QPoint>& dots = dotCorners(g, set, key.panel);
    const int width = dial_.width(), height = dial_.height();
    uchar* const bits = dial_.bits();
    const qsizetype stride = dial_.bytesPerLine();
    for (size_t k = 0; k < dots.size(); ++k) {
        const QRgb c = ScaleGeometry::DotIsRed(int32_t(k), set, key.limits) ? kRed : kBlack;
        for (const QPoint& o : stamp) {
            const int x = dots[k].x() + o.x(), y = dots[k].y() + o.y();
            if (x >= 0 && y >= 0 && x < width && y < height)
                reinterpret_cast<QRgb*>(bits + y * stride)[x] = c;
        }
    }
    dialKey_ = key;
    haveDial_ = true;
}

void ScaleView::restore(const QRect& r)
{
    const QRect area = r & surface_.rect() & dial_.rect();
    if (area.isEmpty())
        return;
    const size_t bytes = size_t(area.width()) * sizeof(QRgb);
    for (int y = area.top(); y <= area.bottom(); ++y)
        std::memcpy(surface_.scanLine(y) + area.left() * sizeof(QRgb),
                    dial_.constScanLine(y) + area.left() * sizeof(QRgb), bytes);
}

QRect ScaleView::needleRect(const NeedleLine& n) const
{
    return QRect(n.tip, n.base).normalized().adjusted(-3, -3, 3, 3) & surface_.rect();
}

QRect ScaleView::shownRect() const
{
    return needleShown_ ? needleRect(needle_) : QRect();
}

void ScaleView::drawNeedle(const NeedleLine& n)
{
    {
        QPainter p(&surface_);
        p.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(n.tip, n.base);
    }
    dirty_ = needleRect(n);
}

void ScaleView::settle() const
{
    if (!stale_)
        return;
    auto* self = const_cast<ScaleView*>(this);
    self->restore(dirty_);
    self->dirty_ = QRect();
    if (needleShown_)
        self->drawNeedle(needle_);
    self->stale_ = false;
}

void ScaleView::KDsetup()
{
    const DialKey key = currentKey();
    if (!haveDial_ || !(key == dialKey_) || surface_.size() != key.image) {
        renderDial(key);
        surface_ = dial_.copy();
        dirty_ = QRect();
        stale_ = false;
        update();
    } else {
        update(shownRect());
        stale_ = stale_ || !dirty_.isEmpty();
    }
    needleShown_ = false;
}

void ScaleView::KDrun(int32_t p)
{
    // The previous needle goes and the new one comes. Both are drawn on the surface when it is
    // next painted or read, so a frame that moves the needle more than once draws it once.
    const QRect old = shownRect();
    needleShown_ = false;
    const QSize panel = panelSize();
    if (const auto n = ScaleGeometry(panel.width(), panel.height()).Needle(set_, p)) {
        needle_ = *n;
        needleShown_ = true;
        lastPos_ = p;
    }
    stale_ = true;
    update(old | shownRect());
}

const QImage& ScaleView::KD1() const
{
    settle();
    return surface_;
}

void ScaleView::paintEvent(QPaintEvent* event)
{
    settle();
    QPainter p(this);
    PaintInBands(event->rect(), [&](const QRect& band) {
        p.fillRect(band, Qt::white);
        p.drawImage(band.topLeft(), surface_, band);
    });
}

void ScaleView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (surface_.size() == size())
        return;
    // A new size draws the dial anew and keeps the needle where it was.
    const bool shown = needleShown_;
    if (haveDial_) {
        KDsetup();
    } else {
        dial_ = QImage(size(), QImage::Format_RGB32);
        dial_.fill(kWhite);
        surface_ = dial_.copy();
        dirty_ = QRect();
    }
    if (shown)
        KDrun(lastPos_);
}
