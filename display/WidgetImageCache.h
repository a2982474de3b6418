#pragma once
// Paints a widget from a picture of it kept once per look (a label's text and
// alignment, a bar's range and value): what the widget left in the window's
// buffer when it painted itself whole in that look (for text, the same in two
// paints in a row), its parent's background under it included; or, for a
// change its caller knows to lie within a part of the widget, the old look's
// picture with that part as the widget painted it. A paint of part of the
// widget copies that part of the picture.
//
// Large text is beyond the size whose glyphs the painter keeps, so a label
// would otherwise fill every glyph's outline again on each repaint (the LCD's
// 100 px digits change with nearly every reading); the style draws the bar
// graph's groove and chunk, gradients and rounded ends, for every strip of it
// that changes.
//
// The pictures are exact only where what lies under the widget changes with
// the events the cache watches: the parent's background, and plain panels
// beneath that overlap it (a panel's edge under the bar's top), so long as
// none of those has a child of its own under the widget. A widget for which
// that does not hold when the cache is made keeps painting itself.
#include <QHash>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QRegion>
#include <QString>

#include <functional>
#include <optional>

class QLabel;
class QProgressBar;
class QWidget;

class WidgetImageCache : public QObject {
public:
    // Made a child of `widget`; it lives and dies with it. `look` names what
    // the widget shows as it stands; an empty name: no picture, the widget
    // paints itself (a look that moves by itself, a busy bar's).
    // `drawsText`: whether the look holds text, whose large glyphs the
    // painter may draw a little differently from one paint to the next; its
    // picture is then kept once two whole paints in a row agree, otherwise
    // from the first.
    WidgetImageCache(QWidget* widget, std::function<QString()> look, std::function<bool()> drawsText);
    // A label's look: its text and alignment.
    static WidgetImageCache* ForLabel(QLabel* label);
    // A bar's look: its range, value, text and direction.
    static WidgetImageCache* ForBar(QProgressBar* bar);

    // False where a sibling beneath that overlaps the widget is more than a
    // plain panel, or has a child under it: the widget paints itself.
    bool active() const { return active_; }
    // The widget's present look has a picture: a paint of any part of it is a copy.
    bool hasPicture() const;

    // Applies `change` to the widget's look (a new text, a new value) and
    // repaints what it changed: where the old look and the new one both have
    // a picture, the pixels in which the two differ; where only the new look
    // lacks one, `otherwise`, where the caller knows the change to lie, and
    // the new picture is made from the old (all of the widget when null or
    // for text, so that its picture is taken); where the old look lacks one,
    // `otherwise` (all of the widget when null). The pictures are not
    // compared outside `otherwise`.
    void changeLook(const std::function<void()>& change, const QRect& otherwise = QRect());

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void takePicture(const QRegion& painted);
    // The new look's picture from the old look's, with what a paint of the
    // part the change lies in left in the window's buffer.
    void derivePicture(const QRegion& painted);
    void forget();  // every picture and candidate

    QWidget* widget_;
    std::function<QString()> look_;
    std::function<bool()> drawsText_;
    bool active_ = false;
    bool painting_ = false;  // the widget's own painting runs
    struct Picture {
        QImage image;
        QRegion fresh;  // what the widget showed of itself when it was taken
    };
    QHash<QString, Picture> pictures_;
    QHash<QString, QImage> candidates_;  // what the last whole paint of a look left
    // A change of look whose new picture is made from the old one.
    struct Derivation {
        QString from, to;
        QRect part;  // where the two differ, painted for the new look
    };
    std::optional<Derivation> derivation_;
    QHash<QString, QRect> differences_;  // between two looks' pictures, by the two looks
};
