#include "record/RowIndicatorHeader.h"

#include <QPainter>
#include <QPolygon>

RowIndicatorHeader::RowIndicatorHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent)
{
    setSectionResizeMode(QHeaderView::Fixed);
    setHighlightSections(false);
    setSectionsClickable(false);
    setFixedWidth(kWidth);
}

QSize RowIndicatorHeader::sizeHint() const
{
    return {kWidth, defaultSectionSize()};
}

QSize RowIndicatorHeader::sectionSizeFromContents(int) const
{
    return {kWidth, defaultSectionSize()};
}

void RowIndicatorHeader::setMarkedRow(int row)
{
    if (row == markedRow_) return;
    const int previous = markedRow_;
    markedRow_ = row;
    for (int r : {previous, row})
        if (r >= 0) {
            const int y = sectionViewportPosition(r);
            viewport()->update(0, y, width(), sectionSize(r));
        }
}

void RowIndicatorHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    painter->save();
    painter->fillRect(rect, palette().button());
    painter->setPen(palette().mid().color());
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());
    painter->drawLine(rect.topRight(), rect.bottomRight());
    if (logicalIndex == markedRow_) {
        const int cy = rect.center().y();
        const int x = rect.left() + 3;
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(palette().buttonText());
        painter->drawPolygon(QPolygon({QPoint(x, cy - 4), QPoint(x + 5, cy), QPoint(x, cy + 4)}));
    }
    painter->restore();
}
