#include "record/grid/ReadingGridDelegate.h"

#include <QPainter>

#include <cmath>

void ReadingGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const
{
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = (option.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
    if (selected)
        painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));

    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty())
        return;
    const QVariant align = index.data(Qt::TextAlignmentRole);
    const int horizontal = align.isValid() ? (align.toInt() & Qt::AlignHorizontal_Mask) : int(Qt::AlignLeft);
    const auto font = columnFonts_.constFind(index.column());

    painter->save();
    painter->setFont(font != columnFonts_.constEnd() ? *font : option.font);
    painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(option.rect.adjusted(kTextMargin, 0, -kTextMargin, 0),
                      horizontal | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
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
