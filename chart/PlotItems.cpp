#include "chart/PlotItems.h"

#include <QAreaSeries>
#include <QChart>
#include <QGraphicsItemGroup>
#include <QGraphicsLineItem>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QValueAxis>

#include <cmath>

namespace {

// Calls visit(line, group) for each line the groups show, in the scene's
// order, until it returns false; whether it went through them all.
template <typename Visit>
bool EachShownLine(const std::vector<QGraphicsItem*>& groups, Visit visit)
{
    for (QGraphicsItem* group : groups)
        for (QGraphicsItem* child : group->childItems()) {
            auto* line = qgraphicsitem_cast<QGraphicsLineItem*>(child);
            if (line && line->isVisibleTo(group) && !visit(line, group)) return false;
        }
    return true;
}

}  // namespace

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
    // stand, and gathered anew only should one differ. Where a line lies
    // from this item is its own place and its group's (a sibling of this
    // item's).
    size_t k = 0;
    const bool same = EachShownLine(groups_, [&](QGraphicsLineItem* line, QGraphicsItem* group) {
        if (k >= lines_.size()) return false;
        const Line& was = lines_[k++];
        return was.item == line && was.line == line->line() && was.pen == line->pen() && was.pos == line->pos() &&
               was.groupPos == group->pos() && line->transform().isIdentity() && group->transform().isIdentity();
    });
    if (same && k == lines_.size()) return;
    std::vector<Line> now;
    QRectF bounds;
    EachShownLine(groups_, [&](QGraphicsLineItem* line, QGraphicsItem* group) {
        now.push_back({line, line->line(), line->pen(), line->pos(), group->pos(), line->itemTransform(this)});
        bounds |= line->mapRectToItem(this, line->boundingRect());
        return true;
    });
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

ChartAreaStrips* ChartAreaStrips::Take(QChart* chart, QAreaSeries* series)
{
    // The series' item is the one its visibility hides.
    if (!series->isVisible()) return nullptr;
    std::vector<QGraphicsItem*> shown;
    for (QGraphicsItem* item : chart->childItems())
        if (item->isVisibleTo(chart)) shown.push_back(item);
    series->setVisible(false);
    QGraphicsItem* area = nullptr;
    int found = 0;
    for (QGraphicsItem* item : shown)
        if (!item->isVisibleTo(chart)) {
            area = item;
            ++found;
        }
    series->setVisible(true);
    if (found != 1 || !area->childItems().isEmpty()) return nullptr;
    return new ChartAreaStrips(chart, series, area);
}

ChartAreaStrips::ChartAreaStrips(QChart* chart, QAreaSeries* series, QGraphicsItem* area)
    : QGraphicsItem(area), chart_(chart), series_(series), area_(area)
{
    setFlag(ItemUsesExtendedStyleOption);  // for the exposed rectangle
    setAcceptedMouseButtons(Qt::NoButton);
    setAcceptHoverEvents(false);
    setInPlace(true);
}

void ChartAreaStrips::setInPlace(bool inPlace)
{
    area_->setFlag(ItemHasNoContents, inPlace);
    setVisible(inPlace);
    area_->update();
    follow();
}

void ChartAreaStrips::follow()
{
    const QRectF bounds = area_->boundingRect();
    if (bounds != bounds_) {
        prepareGeometryChange();
        bounds_ = bounds;
    }
    update();
}

void ChartAreaStrips::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*)
{
    // As the chart's own item paints the area, with the outline it laid out.
    // An opaque area is drawn in bands of fewer than 96 rows, each a row
    // over the next: the raster painter hands a fill or an outline of more
    // rows to Qt's painting threads and waits for them. Each band is drawn
    // the same as it is within the whole, and a row drawn twice in one
    // opaque colour is the same row.
    const QRectF plot(QPointF(0, 0), chart_->plotArea().size());
    const QPainterPath part = Within(area_->shape(), option->exposedRect);
    const QPen pen = series_->pen();
    const QBrush brush = series_->brush();
    const bool opaque = pen.color().alpha() == 255 && brush.isOpaque();
    const QRectF area = option->exposedRect & plot;
    constexpr qreal kBandRows = 64;
    for (qreal top = std::floor(area.top()); top < area.bottom(); top += kBandRows) {
        painter->save();
        painter->setPen(pen);
        painter->setBrush(brush);
        painter->setClipRect(plot);
        if (opaque) painter->setClipRect(QRectF(area.left() - 1, top, area.width() + 2, kBandRows + 1), Qt::IntersectClip);
        painter->drawPath(part);
        painter->restore();
        if (!opaque) break;
    }
}

QPainterPath ChartAreaStrips::Within(const QPainterPath& outline, const QRectF& exposed)
{
    // The outline of an area under points: a move to the first point and
    // lines to the others, left to right, then down to the bottom at the
    // last, back along the bottom, and up to the first where that is not
    // where the line along the bottom ends.
    const int count = outline.elementCount();
    if (count < 5 || exposed.isEmpty() || !outline.elementAt(0).isMoveTo()) return outline;
    for (int i = 1; i < count; ++i)
        if (!outline.elementAt(i).isLineTo()) return outline;
    const QPointF first = outline.elementAt(0);
    int end = count;
    if (QPointF(outline.elementAt(count - 1)) == first) --end;  // the line back up to the start
    const int last = end - 3;
    if (last < 1) return outline;
    const QPointF back = outline.elementAt(end - 1), down = outline.elementAt(end - 2), lastPoint = outline.elementAt(last);
    if (back.x() != first.x() || down.x() != lastPoint.x() || back.y() != down.y()) return outline;
    for (int i = 1; i <= last; ++i)
        if (outline.elementAt(i).x < outline.elementAt(i - 1).x) return outline;
    // From the last point at least two pixels left of the strip to the first
    // as far right of it: the edges that cross the strip, and the ones that
    // close the part lie outside it.
    constexpr double kOutside = 2;
    int from = 0;
    while (from < last && outline.elementAt(from + 1).x <= exposed.left() - kOutside) ++from;
    int to = last;
    while (to > from && outline.elementAt(to - 1).x >= exposed.right() + kOutside) --to;
    if (from == 0 && to == last) return outline;
    QPainterPath part;
    part.setFillRule(outline.fillRule());
    part.moveTo(outline.elementAt(from));
    for (int i = from + 1; i <= to; ++i) part.lineTo(outline.elementAt(i));
    part.lineTo(outline.elementAt(to).x, down.y());
    part.lineTo(outline.elementAt(from).x, down.y());
    part.closeSubpath();
    return part;
}
