#include "display/WidgetImageCache.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>

namespace {

// A label shows a few texts in turn (a digit, a blank, a dash); this bounds
// the pictures kept should one be given many.
constexpr int kMostPictures = 64;

bool OverlapsSiblingBeneath(const QWidget* w)
{
    const QWidget* parent = w->parentWidget();
    if (!parent) return true;
    for (const QObject* o : parent->children()) {
        if (o == w) return false;  // the rest are above it
        const auto* sibling = qobject_cast<const QWidget*>(o);
        if (sibling && !sibling->isWindow() && sibling->geometry().intersects(w->geometry())) return true;
    }
    return false;
}

}  // namespace

WidgetImageCache::WidgetImageCache(QLabel* label) : QObject(label), label_(label)
{
    active_ = !OverlapsSiblingBeneath(label);
    if (!active_) return;
    label->installEventFilter(this);
    label->parentWidget()->installEventFilter(this);
}

QString WidgetImageCache::key() const
{
    return label_->text() + QChar(0) + QString::number(int(label_->alignment()));
}

bool WidgetImageCache::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Paint:
        if (watched != label_ || painting_) return false;
        if (const auto it = pictures_.constFind(key()); it != pictures_.constEnd()) {
            QPainter(label_).drawImage(QPoint(), *it);
            return true;
        }
        // A text without a picture: the label paints itself over the
        // background the window has just painted beneath it, and what that
        // left in the window's buffer, before any sibling above paints over
        // it, becomes the picture once two paints in a row have left the same
        // pixels. (The painter's drawing of a large glyph can differ at its
        // antialiased edges from one paint to another, most of all the first
        // in a process; a picture is the drawing it settles on.)
        painting_ = true;
        QCoreApplication::sendEvent(label_, event);
        painting_ = false;
        takePicture(static_cast<QPaintEvent*>(event)->region());
        return true;
    // What changes the label's or the background's look makes new pictures.
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
    case QEvent::Move:
        if (watched == label_) forget();  // over another part of the background
        return false;
    default:
        return false;
    }
}

void WidgetImageCache::forget()
{
    pictures_.clear();
    candidates_.clear();
}

void WidgetImageCache::takePicture(const QRegion& painted)
{
    // Only a paint of the whole label leaves all of it fresh in the buffer.
    if (!QRegion(label_->rect()).subtracted(painted).isEmpty()) return;
    QWidget* window = label_->window();
    QBackingStore* store = window->backingStore();
    const auto* buffer = store ? dynamic_cast<const QImage*>(store->paintDevice()) : nullptr;
    if (!buffer) return;
    const qreal ratio = buffer->devicePixelRatio();
    const QRect inBuffer(label_->mapTo(window, QPoint()) * ratio, label_->size() * ratio);
    if (!buffer->rect().contains(inBuffer)) return;
    QImage picture = buffer->copy(inBuffer);
    picture.setDevicePixelRatio(ratio);
    const QString k = key();
    const auto candidate = candidates_.find(k);
    if (candidate == candidates_.end() || *candidate != picture) {
        if (candidates_.size() >= kMostPictures) candidates_.clear();
        candidates_.insert(k, picture);
        return;
    }
    candidates_.erase(candidate);
    if (pictures_.size() >= kMostPictures) pictures_.clear();
    pictures_.insert(k, picture);
}
