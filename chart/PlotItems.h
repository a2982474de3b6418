#pragma once
// Items of the trend chart's scene that draw parts of the plot in the place of
// Qt Charts' own items, the same to the pixel, at a fraction of the cost while
// the chart follows the readings strip by strip.
#include <QGraphicsItem>
#include <QLineF>
#include <QPainterPath>
#include <QPen>
#include <QPointF>
#include <QRectF>
#include <QTransform>

#include <vector>

class QAreaSeries;
class QChart;
class QGraphicsLineItem;
class QValueAxis;

// The axes' grid lines, major and minor, drawn by one item in the place of
// the chart's own: the plot is painted again strip by strip as readings come,
// and each of the few dozen lines crossing a strip would otherwise be an item
// of its own to set up and copy. The chart still lays its lines out, in its
// groups of them, now hidden; this item draws each line as the line's own
// item would, in the order the scene stacks them, and keeps the drawing as
// one picture until they move.
class ChartGridLines final : public QGraphicsItem {
public:
    // Hides the chart's grid groups and takes their place; none where the
    // chart has no grid groups to be found.
    static ChartGridLines* Take(QChart* chart, const std::vector<QValueAxis*>& axes);

    // True: this item draws the lines; false: the chart's own items do.
    void setInPlace(bool inPlace);

    // Takes the lines where the chart has laid them out, and repaints where
    // they were and are should any have moved, appeared or gone.
    void follow();

    QRectF boundingRect() const override { return bounds_; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    ChartGridLines(const std::vector<QValueAxis*>& axes, std::vector<QGraphicsItem*> groups);

    struct Line {
        QGraphicsLineItem* item;
        QLineF line;
        QPen pen;
        QPointF pos, groupPos;
        QTransform toThis;
        bool operator==(const Line&) const = default;
    };
    std::vector<QValueAxis*> axes_;
    std::vector<QGraphicsItem*> groups_;
    std::vector<Line> lines_;
    QRectF bounds_;
};

// The area under the readings, drawn in the place of the chart's own area
// item (which keeps laying the area's outline out, and no longer paints).
// A repaint of a strip of the plot draws only the part of the outline that
// crosses the strip, from the last point left of it to the first right of
// it, closed down to the bottom the same way: inside the strip that is the
// same area, edge for edge, where the whole outline would be filled and
// stroked for every reading.
class ChartAreaStrips final : public QGraphicsItem {
public:
    // Takes the place of the item that draws `series` in `chart`; none where
    // it is not to be found.
    static ChartAreaStrips* Take(QChart* chart, QAreaSeries* series);

    // True: this item draws the area; false: the chart's own item does.
    void setInPlace(bool inPlace);

    // Follows a change of the area: repaints where it was and is, as the
    // chart's own item does whenever it lays the area out again.
    void follow();

    QRectF boundingRect() const override { return bounds_; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    // The part of an area's outline that a repaint of `exposed` needs (the
    // whole outline where it is not an area under points from left to right).
    static QPainterPath Within(const QPainterPath& outline, const QRectF& exposed);

private:
    ChartAreaStrips(QChart* chart, QAreaSeries* series, QGraphicsItem* area);

    QChart* chart_;
    QAreaSeries* series_;
    QGraphicsItem* area_;  // the chart's item, this item's parent
    QRectF bounds_;
};
