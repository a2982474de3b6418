#pragma once
// Paints a label from a picture of it kept once per text (and alignment):
// what the label left in the window's buffer when it painted that text (the
// same in two paints in a row), its parent's background under it included. Large text is beyond the
// size whose glyphs the painter keeps, so a label would otherwise fill every
// glyph's outline again on each repaint; the LCD's 100 px digits change with
// nearly every reading.
//
// The pictures are exact only where the parent's own background is all that
// lies under the label: no sibling beneath it may overlap it (siblings above
// are painted over it as before). A label for which that does not hold when
// the cache is made keeps painting itself.
#include <QHash>
#include <QImage>
#include <QObject>
#include <QRegion>
#include <QString>

class QLabel;

class WidgetImageCache : public QObject {
public:
    // Made a child of `label`; it lives and dies with it.
    explicit WidgetImageCache(QLabel* label);

    // False where a sibling beneath the label overlaps it: the label paints
    // itself.
    bool active() const { return active_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString key() const;
    void takePicture(const QRegion& painted);
    void forget();  // every picture and candidate

    QLabel* label_;
    bool active_ = false;
    bool painting_ = false;  // the label's own painting runs
    QHash<QString, QImage> pictures_;
    QHash<QString, QImage> candidates_;  // what the last paint of a text left
};
