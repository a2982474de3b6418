#include "display/WidgetImageCache.h"

#include "display/PaintInBands.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QProgressBar>

#include <cstring>
#include <iterator>
#include <optional>
#include <vector>

namespace {

// A label shows a few texts in turn (a digit, a blank, a dash), a bar some
// tens of lengths; this bounds the pictures kept should one be given many.
constexpr int kMostPictures = 128;

// The siblings beneath w that overlap it, or none at all where one of them
// may change its look with nothing the cache sees: one that shows content of
// its own (a label's text), or has a widget of its own reaching under w. A
// plain panel's look (its background and edge), like the parent's
// background, changes with the events the cache watches.
std::optional<std::vector<QWidget*>> SiblingsBeneath(const QWidget* w)
{
    const QWidget* parent = w->parentWidget();
    if (!parent) return std::nullopt;
    std::vector<QWidget*> beneath;
    for (QObject* o : parent->children()) {
        if (o == w) break;  // the rest are above it
        auto* sibling = qobject_cast<QWidget*>(o);
        if (!sibling || sibling->isWindow()) continue;
        const QRect shared = sibling->geometry() & w->geometry();
        if (shared.isEmpty()) continue;
        const QMetaObject* kind = sibling->metaObject();
        if (kind != &QFrame::staticMetaObject && kind != &QWidget::staticMetaObject) return std::nullopt;
        for (const QWidget* child : sibling->findChildren<QWidget*>())
            if (!child->isWindow() && QRect(child->mapTo(parent, QPoint()), child->size()).intersects(shared))
                return std::nullopt;
        beneath.push_back(sibling);
    }
    return beneath;
}

// The smallest rectangle, in device-independent pixels, outside which two
// pictures of one size agree; an empty one where they agree everywhere.
// Only the pixels within `within` (device-independent; all of them where null)
// are compared, where the caller knows the two to agree outside it.
QRect Difference(const QImage& a, const QImage& b, const QRect& within)
{
    if (a.size() != b.size() || a.format() != b.format() || a.depth() != 32) return a.rect() | b.rect();
    const qreal ratio = a.devicePixelRatio();
    QRect area = a.rect();
    if (!within.isNull())
        area &= QRectF(QPointF(within.topLeft()) * ratio, QSizeF(within.size()) * ratio).toAlignedRect();
    if (area.isEmpty()) return QRect();
    const int first = area.left(), width = area.width();
    const qsizetype strideA = a.bytesPerLine(), strideB = b.bytesPerLine();
    const uchar* rowA = a.constScanLine(area.top()) + first * 4;
    const uchar* rowB = b.constScanLine(area.top()) + first * 4;
    const size_t rowBytes = size_t(width) * 4;
    int top = -1, bottom = -1, left = width, right = -1;
    for (int y = area.top(); y <= area.bottom(); ++y, rowA += strideA, rowB += strideB) {
        if (std::memcmp(rowA, rowB, rowBytes) == 0) continue;
        const auto* p = reinterpret_cast<const quint32*>(rowA);
        const auto* q = reinterpret_cast<const quint32*>(rowB);
        if (top < 0) top = y;
        bottom = y;
        int x = 0;
        while (x < left && p[x] == q[x]) ++x;
        left = x;
        x = width - 1;
        while (x > right && p[x] == q[x]) --x;
        right = x;
    }
    if (top < 0) return QRect();
    const QRectF inDevice(QPointF(first + left, top), QPointF(first + right + 1, bottom + 1));
    return QRectF(inDevice.topLeft() / ratio, inDevice.size() / ratio).toAlignedRect();
}

}  // namespace

WidgetImageCache::WidgetImageCache(QWidget* widget, std::function<QString()> look, std::function<bool()> drawsText)
    : QObject(widget), widget_(widget), look_(std::move(look)), drawsText_(std::move(drawsText))
{
    const auto beneath = SiblingsBeneath(widget);
    active_ = beneath.has_value();
    if (!active_) return;
    widget->installEventFilter(this);
    widget->parentWidget()->installEventFilter(this);
    for (QWidget* sibling : *beneath) sibling->installEventFilter(this);
}

WidgetImageCache* WidgetImageCache::ForLabel(QLabel* label)
{
    return new WidgetImageCache(
        label, [label] { return label->text() + QChar(0) + QString::number(int(label->alignment())); },
        [label] { return !label->text().isEmpty(); });
}

WidgetImageCache* WidgetImageCache::ForBar(QProgressBar* bar)
{
    return new WidgetImageCache(bar, [bar] {
        if (bar->minimum() == bar->maximum()) return QString();  // busy: the style moves it
        // The numbers as they are, each in two characters, then the text:
        // a name made on every change of value, never shown.
        const qint32 numbers[] = {bar->minimum(), bar->maximum(), bar->value(), int(bar->alignment()),
                                  int(bar->orientation()), bar->invertedAppearance()};
        QString look(reinterpret_cast<const QChar*>(numbers), qsizetype(std::size(numbers) * 2));
        if (bar->isTextVisible()) look += bar->text();
        return look;
    }, [bar] { return bar->isTextVisible(); });
}

bool WidgetImageCache::hasPicture() const
{
    if (!active_) return false;
    const QString look = look_();
    return !look.isEmpty() && pictures_.contains(look);
}

void WidgetImageCache::changeLook(const std::function<void()>& change, const QRect& otherwise)
{
    // The widget's own repaint of all of itself on the change is held back:
    // it has no child widgets for the attribute to reach.
    if (widget_->testAttribute(Qt::WA_UpdatesDisabled)) {
        change();
        return;
    }
    const QString before = look_();
    widget_->setAttribute(Qt::WA_UpdatesDisabled, true);
    change();
    widget_->setAttribute(Qt::WA_UpdatesDisabled, false);
    const QString after = look_();
    if (after == before) return;
    if (!active_) {
        widget_->update(otherwise.isNull() ? widget_->rect() : otherwise);
        return;
    }
    derivation_.reset();
    const auto now = pictures_.constFind(after);
    const auto was = before.isEmpty() ? pictures_.constEnd() : pictures_.constFind(before);
    if (after.isEmpty() || now == pictures_.constEnd()) {
        // A new look where the caller knows the change to lie within a part
        // of the widget, from a look with a picture: that part is painted,
        // and the new picture is the old one with that part as painted. Any
        // other new look is painted whole, and that paint is its picture.
        if (!after.isEmpty() && !otherwise.isNull() && was != pictures_.constEnd() && !drawsText_()) {
            derivation_ = Derivation{before, after, otherwise & widget_->rect()};
            widget_->update(derivation_->part);
        } else {
            widget_->update();
        }
        return;
    }
    if (was == pictures_.constEnd()) {
        widget_->update(otherwise.isNull() ? widget_->rect() : otherwise);
        return;
    }
    // A widget shows a few looks in turn: what differs between two of them
    // is kept.
    const QString pair = before + QChar(0xffff) + after;
    auto changed = differences_.constFind(pair);
    if (changed == differences_.constEnd()) {
        if (differences_.size() >= kMostPictures * 4) differences_.clear();
        changed = differences_.insert(pair, Difference(was->image, now->image, otherwise));
    }
    if (!changed->isEmpty()) widget_->update(*changed);
}

bool WidgetImageCache::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Paint:
    {
        if (watched != widget_ || painting_) return false;
        const QString look = look_();
        if (look.isEmpty()) return false;
        const QRegion& area = static_cast<QPaintEvent*>(event)->region();
        if (const auto it = pictures_.constFind(look); it != pictures_.constEnd() && area.subtracted(it->fresh).isEmpty()) {
            QPainter painter(widget_);  // clipped to the area being painted
            if (it->image.devicePixelRatio() != 1)
                painter.drawImage(QPoint(), it->image);
            else
                PaintInBands(area.boundingRect() & widget_->rect(),
                             [&](const QRect& band) { painter.drawImage(band.topLeft(), it->image, band); });
            return true;
        }
        // A look without a picture: the widget paints itself over the
        // background the window has just painted beneath it, and what a whole
        // paint left in the window's buffer, before any sibling above paints
        // over it, becomes the picture once two such paints in a row have left
        // the same pixels. (The painter's drawing of a large glyph can differ
        // at its antialiased edges from one paint to another, most of all the
        // first in a process; a picture is the drawing it settles on.)
        painting_ = true;
        QCoreApplication::sendEvent(widget_, event);
        painting_ = false;
        if (derivation_ && derivation_->to == look &&
            (QRegion(derivation_->part) & widget_->visibleRegion()).subtracted(area).isEmpty())
            derivePicture(area);
        else
            takePicture(area);
        derivation_.reset();
        return true;
    }
    // What changes the widget's or the background's look makes new pictures.
    case QEvent::Resize:
    case QEvent::StyleChange:
    case QEvent::PaletteChange:
    case QEvent::FontChange:
    case QEvent::ContentsRectChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::ScreenChangeInternal:
    case QEvent::EnabledChange:
        forget();
        return false;
    case QEvent::Move:  // over another part of the background, or another part under it
        if (watched != widget_->parentWidget()) forget();
        return false;
    case QEvent::ChildAdded:  // a sibling beneath may have a new child under the widget
    case QEvent::ChildRemoved:
        if (watched != widget_ && watched != widget_->parentWidget()) forget();
        return false;
    default:
        return false;
    }
}

void WidgetImageCache::forget()
{
    pictures_.clear();
    candidates_.clear();
    differences_.clear();
}

void WidgetImageCache::derivePicture(const QRegion& painted)
{
    const auto from = pictures_.constFind(derivation_->from);
    if (from == pictures_.constEnd()) return;
    QWidget* window = widget_->window();
    QBackingStore* store = window->backingStore();
    const auto* buffer = store ? dynamic_cast<const QImage*>(store->paintDevice()) : nullptr;
    if (!buffer || buffer->format() != from->image.format() || buffer->depth() != 32) return;
    const qreal ratio = buffer->devicePixelRatio();
    const QPoint origin = widget_->mapTo(window, QPoint()) * ratio;
    QImage picture = from->image.copy();
    for (const QRect& part : painted & widget_->rect()) {
        const QRect inPicture = QRectF(QPointF(part.topLeft()) * ratio, QSizeF(part.size()) * ratio).toAlignedRect() & picture.rect();
        const QRect inBuffer = inPicture.translated(origin);
        if (!buffer->rect().contains(inBuffer)) return;
        for (int y = 0; y < inPicture.height(); ++y)
            std::memcpy(picture.scanLine(inPicture.top() + y) + inPicture.left() * 4,
                        buffer->constScanLine(inBuffer.top() + y) + inBuffer.left() * 4, size_t(inPicture.width()) * 4);
    }
    if (pictures_.size() >= kMostPictures) {
        const Picture kept = *from;
        pictures_.clear();
        differences_.clear();
        pictures_.insert(derivation_->from, kept);
    }
    pictures_.insert(derivation_->to, Picture{picture, from->fresh});
}

void WidgetImageCache::takePicture(const QRegion& painted)
{
    // Only a paint of all the widget shows leaves it fresh in the buffer: an
    // opaque sibling above hides the rest, which no paint of the widget
    // reaches while that holds, and a picture serves paints of its fresh part.
    const QRegion shown = widget_->visibleRegion();
    if (shown.isEmpty() || !shown.subtracted(painted).isEmpty()) return;
    QWidget* window = widget_->window();
    QBackingStore* store = window->backingStore();
    const auto* buffer = store ? dynamic_cast<const QImage*>(store->paintDevice()) : nullptr;
    if (!buffer) return;
    const qreal ratio = buffer->devicePixelRatio();
    const QRect inBuffer(widget_->mapTo(window, QPoint()) * ratio, widget_->size() * ratio);
    if (!buffer->rect().contains(inBuffer)) return;
    QImage picture = buffer->copy(inBuffer);
    picture.setDevicePixelRatio(ratio);
    const QString k = look_();
    const auto candidate = candidates_.find(k);
    if (drawsText_() && (candidate == candidates_.end() || *candidate != picture)) {
        if (candidates_.size() >= kMostPictures) candidates_.clear();
        candidates_.insert(k, picture);
        return;
    }
    if (candidate != candidates_.end()) candidates_.erase(candidate);
    if (pictures_.size() >= kMostPictures) pictures_.clear();
    if (pictures_.contains(k)) differences_.clear();  // a look's new picture: its differences are new too
    pictures_.insert(k, Picture{picture, shown});
}
