#include "record/grid/ReadingGridDelegate.h"

#include <QPaintEngine>
#include <QPainter>

#include <cmath>

size_t qHash(const ReadingGridDelegate::CellKey& key, size_t seed) noexcept
{
    return qHashMulti(seed, key.text, key.column, key.size.width(), key.size.height(), key.fill, key.pen, key.alignment);
}

void ReadingGridDelegate::beginPaint(const QRect& fresh, const QBrush& background, const QFont& font)
{
    const bool solid = background.style() == Qt::SolidPattern && background.color().alpha() == 255;
    const QRgb colour = solid ? background.color().rgba() : 0;
    if (colour != background_ || font != gridFont_) pictures_.clear();
    background_ = colour;
    gridFont_ = font;
    painting_ = solid;
    fresh_ = fresh;
}

void ReadingGridDelegate::endPaint()
{
    painting_ = false;
}

void ReadingGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const
{
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = (option.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
    const QBrush& highlight = option.palette.brush(group, QPalette::Highlight);
    const QString text = index.data(Qt::DisplayRole).toString();
    const QVariant align = index.data(Qt::TextAlignmentRole);
    const int horizontal = align.isValid() ? (align.toInt() & Qt::AlignHorizontal_Mask) : int(Qt::AlignLeft);
    const auto columnFont = columnFonts_.constFind(index.column());
    const QFont& font = columnFont != columnFonts_.constEnd() ? *columnFont : option.font;
    const QColor pen = option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);

    // Pictures stand for cells drawn on the grid's own background with its
    // font; a solid highlight is part of the picture.
    const bool pictured = painting_ && (!selected || (highlight.style() == Qt::SolidPattern && highlight.color().alpha() == 255)) &&
                          (columnFont != columnFonts_.constEnd() || option.font == gridFont_);
    CellKey key;
    if (pictured) {
        key = {text, index.column(), option.rect.size(), selected ? highlight.color().rgba() : 0, pen.rgba(), horizontal};
        if (const QImage* picture = pictures_.object(key)) {
            painter->drawImage(option.rect.topLeft(), *picture);
            return;
        }
    }

    if (selected)
        painter->fillRect(option.rect, highlight);
    if (!text.isEmpty()) {
        painter->save();
        painter->setFont(font);
        painter->setPen(pen);
        painter->drawText(option.rect.adjusted(kTextMargin, 0, -kTextMargin, 0),
                          horizontal | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter->restore();
    }
    if (pictured)
        keepPicture(painter, option.rect, key);
}

void ReadingGridDelegate::keepPicture(QPainter* painter, const QRect& cell, const CellKey& key) const
{
    // The text is clipped to the cell, so the cell's pixels are all it changed.
    if (!fresh_.contains(cell) || painter->hasClipping()) return;
    const QTransform& toDevice = painter->deviceTransform();
    const auto* buffer = dynamic_cast<const QImage*>(painter->paintEngine()->paintDevice());
    if (!buffer || toDevice.type() > QTransform::TxTranslate || buffer->devicePixelRatio() != 1) return;
    const QRect inBuffer = toDevice.mapRect(cell);
    if (!buffer->rect().contains(inBuffer)) return;
    auto* picture = new QImage(buffer->copy(inBuffer));
    pictures_.insert(key, picture, qsizetype(picture->sizeInBytes()));
}
QSize ReadingGridDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto font = columnFonts_.constFind(index.column());
    const QFontMetrics metrics(font != columnFonts_.constEnd() ? *font : option.font);
    return {textWidth(option, index.column(), index.data(Qt::DisplayRole).toString()), metrics.height()};
}

int ReadingGridDelegate::textWidth(const QStyleOptionViewItem& option, int column, const QString& text) const
{
    const auto font = columnFonts_.constFind(column);
    const QFontMetricsF metrics(font != columnFonts_.constEnd() ? *font : option.font);
    return int(std::ceil(metrics.horizontalAdvance(text))) + 2 * kTextMargin;
}
