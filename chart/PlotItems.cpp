#include "chart/PlotItems.h"

#include <QChart>
#include <QGraphicsItemGroup>
#include <QGraphicsLineItem>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QValueAxis>

ChartGridLines* ChartGridLines::Take(QChart* chart, const std::vector<QValueAxis*>& axes)
{
    // The grid groups are the ones the axes' grid switches hide.
    const auto groups = [&] {
        std::vector<QGraphicsItem*> shown;
        for (QGraphicsItem* item : chart->childItems())
            if (item->type() == QGraphicsItemGroup::Type && item->isVisibleTo(chart)) shown.push_back(item);
        return shown;
    };
    const std::vector<QGraphicsItem*> before = groups();
    for (QValueAxis* axis : axes) {
        axis->setGridLineVisible(false);
        axis->setMinorGridLineVisible(false);
    }
    std::vector<QGraphicsItem*> grid;
    for (QGraphicsItem* item : before)
        if (!item->isVisibleTo(chart)) grid.push_back(item);
    if (grid.empty()) {
        for (QValueAxis* axis : axes) {
            axis->setGridLineVisible(true);
            axis->setMinorGridLineVisible(true);
        }
        return nullptr;
    }
    return new ChartGridLines(axes, std::move(grid));
}

ChartGridLines::ChartGridLines(const std::vector<QValueAxis*>& axes, std::vector<QGraphicsItem*> groups)
    : QGraphicsItem(groups.front()->parentItem()), axes_(axes), groups_(std::move(groups))
{
    setZValue(groups_.front()->zValue());
    // Over the other items of its height, as the last of the groups is.
    for (QGraphicsItem* group : groups_) group->stackBefore(this);
    setCacheMode(DeviceCoordinateCache);
    setAcceptedMouseButtons(Qt::NoButton);
    setAcceptHoverEvents(false);
    follow();
}

void ChartGridLines::setInPlace(bool inPlace)
{
    for (QValueAxis* axis : axes_) {
        axis->setGridLineVisible(!inPlace);
        axis->setMinorGridLineVisible(!inPlace);
    }
    setVisible(inPlace);
    follow();
}

void ChartGridLines::follow()
{
    // Called at each refresh and paint: the lines are compared where they
    // stand, and gathered anew only should one differ.
    size_t k = 0;
    bool same = true;
    for (QGraphicsItem* group : groups_) {
        for (QGraphicsItem* child : group->childItems()) {
            auto* line = qgraphicsitem_cast<QGraphicsLineItem*>(child);
            if (!line || !line->isVisibleTo(group)) continue;
            // Where a line lies from this item: its own place and the group's
            // (a sibling of this item's).
            if (k >= lines_.size() || lines_[k].item != line || lines_[k].line != line->line() || lines_[k].pen != line->pen() ||
                lines_[k].pos != line->pos() || lines_[k].groupPos != group->pos() || !line->transform().isIdentity() ||
                !group->transform().isIdentity()) {
                same = false;
                break;
            }
            ++k;
        }
        if (!same) break;
    }
    if (same && k == lines_.size()) return;
    std::vector<Line> now;
    QRectF bounds;
    for (QGraphicsItem* group : groups_)
        for (QGraphicsItem* child : group->childItems()) {
            auto* line = qgraphicsitem_cast<QGraphicsLineItem*>(child);
            if (!line || !line->isVisibleTo(group)) continue;
            now.push_back({line, line->line(), line->pen(), line->pos(), group->pos(), line->itemTransform(this)});
            bounds |= line->mapRectToItem(this, line->boundingRect());
        }
    if (bounds != bounds_) {
        prepareGeometryChange();
        bounds_ = bounds;
    }
    lines_ = std::move(now);
    update();
}

void ChartGridLines::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget* widget)
{
    const QStyleOptionGraphicsItem plain;
    for (const Line& line : lines_) {
        painter->save();
        painter->setTransform(line.toThis, true);
        line.item->paint(painter, &plain, widget);
        painter->restore();
    }
}
