#include "record/grid/ReadingGridView.h"

#include "record/grid/ReadingGridDelegate.h"

#include <QHeaderView>
#include <QLine>
#include <QPainter>
#include <QPaintEvent>
#include <QPolygon>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyleOptionHeader>
#include <QStyleOptionSlider>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <cstdlib>

// The strip left of the rows: the corner under the column titles, then one
// cell per row in sight, the current row's with an arrow.
class ReadingGridView::Indicator final : public QWidget {
public:
    explicit Indicator(ReadingGridView* view) : QWidget(view),
                                                view_(view) {}

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        view_->paintIndicator(painter, event->rect());
    }

private:
    ReadingGridView* view_;
};

// The vertical scroll bar, repainted only when what it draws changes: the
// slider's place and size and whether it rests at an end. A log of many rows
// changes its range with every reading while the slider stays where it is.
class ReadingGridView::RowScrollBar final : public QScrollBar {
public:
    explicit RowScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

    // A new range and, where the view follows the last row, the value at its
    // end, judged by the look they end with: between the two the handle has
    // left the end for a moment, and the bar would be painted twice for a
    // look it does not change.
    void setRangeFollowing(int maximum, bool follow)
    {
        holding_ = true;
        setRange(0, maximum);
        if (follow)
            setValue(maximum);
        holding_ = false;
        sliderChange(SliderValueChange);
    }

protected:
    void sliderChange(SliderChange change) override
    {
        if (holding_ && change != SliderOrientationChange)
            return;
        const Look look = current();
        if (change != SliderOrientationChange && look == shown_)
            return;
        shown_ = look;
        QScrollBar::sliderChange(change);
    }
    void paintEvent(QPaintEvent* event) override
    {
        shown_ = current();
        QScrollBar::paintEvent(event);
    }

private:
    struct Look {
        QRect slider;
        bool atMinimum = false, atMaximum = false, enabled = false;
        bool operator==(const Look&) const = default;
    };
    Look current() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                value() == minimum(), value() == maximum(), isEnabled()};
    }
    Look shown_;
    bool holding_ = false;
};

ReadingGridView::ReadingGridView(QWidget* parent)
    : QAbstractItemView(parent),
      header_(new QHeaderView(Qt::Horizontal, this)),
      indicator_(new Indicator(this))
{
    setVerticalScrollBar(new RowScrollBar(this));
    header_->setSectionResizeMode(QHeaderView::Interactive);
    header_->setHighlightSections(false);
    header_->setSectionsClickable(false);
    connect(header_, &QHeaderView::sectionResized, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setHorizontalScrollMode(ScrollPerPixel);
    setVerticalScrollMode(ScrollPerItem);
    // The viewport and the strip paint every pixel they show themselves, so
    // that a scroll by a row moves what is in sight on the backing store
    // instead of painting all of it again.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    indicator_->setAttribute(Qt::WA_OpaquePaintEvent);
}

ReadingGridView::~ReadingGridView() = default;

void ReadingGridView::setModel(QAbstractItemModel* model)
{
    disconnect(rowsRemoved_);
    QAbstractItemView::setModel(model);
    header_->setModel(model);
    if (model)
        rowsRemoved_ = connect(model, &QAbstractItemModel::rowsRemoved, this, &ReadingGridView::modelRowsRemoved);
    updateGeometries();
}

void ReadingGridView::setShowGrid(bool show)
{
    showGrid_ = show;
    viewport()->update();
}

void ReadingGridView::setRowHeight(int height)
{
    rowHeight_ = std::max(height, 1);
    updateGeometries();
    viewport()->update();
    indicator_->update();
}

void ReadingGridView::setColumnWidth(int column, int width)
{
    header_->resizeSection(column, width);
}

int ReadingGridView::columnWidth(int column) const
{
    return header_->sectionSize(column);
}

int ReadingGridView::widthForText(int column, const QString& text) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const int grid = showGrid_ ? 1 : 0;
    if (const auto* cells = qobject_cast<const ReadingGridDelegate*>(itemDelegateForColumn(column)))
        return cells->textWidth(option, column, text) + grid;
    return int(std::ceil(QFontMetricsF(option.font).horizontalAdvance(text))) + 2 * ReadingGridDelegate::kTextMargin + grid;
}

int ReadingGridView::rowCount() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int ReadingGridView::contentOffset() const
{
    // Scrolled to the end, the last row rests on the bottom edge and the
    // first row in sight may show in part. The row count is the one the
    // scroll range was made for, so the offset only moves with the range.
    const QScrollBar* bar = verticalScrollBar();
    const int rows = bar->maximum() + bar->pageStep();
    if (bar->value() > 0 && bar->value() == bar->maximum() && rows * rowHeight_ > viewport()->height())
        return rows * rowHeight_ - viewport()->height();
    return bar->value() * rowHeight_;
}

int ReadingGridView::topRow() const
{
    return contentOffset() / rowHeight_;
}

int ReadingGridView::rowAtY(int y) const
{
    return (std::max(y, 0) + contentOffset()) / rowHeight_;
}

int ReadingGridView::fullRowsInSight() const
{
    return std::max(1, viewport()->height() / rowHeight_);
}

// ---- Geometry -------------------------------------------------------------------

void ReadingGridView::updateGeometries()
{
    const int headerHeight = header_->isHidden() ? 0 : header_->sizeHint().height();
    // Setting the margins lays out the scroll bars again, which repaints them:
    // only when they change, not with every new row.
    const QMargins margins(kIndicatorWidth, headerHeight, 0, 0);
    if (viewportMargins() != margins)
        setViewportMargins(margins);
    const QRect vg = viewport()->geometry();
    header_->setGeometry(vg.left(), vg.top() - headerHeight, vg.width(), headerHeight);
    indicator_->setGeometry(vg.left() - kIndicatorWidth, vg.top() - headerHeight, kIndicatorWidth,
                            vg.height() + headerHeight);

    const int rows = rowCount();
    const int pageRows = fullRowsInSight();
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setPageStep(pageRows);
    // A view resting on the last row stays there as rows are added, so that
    // the rows in sight move once, by the rows added. While the bar keeps a
    // range it stays shown: its signals would only lay out the scroll bars
    // again (and repaint them); what is in sight follows below.
    QScrollBar* const bar = verticalScrollBar();
    const int maximum = std::max(0, rows - pageRows);
    const bool atEnd = bar->value() > 0 && bar->value() == bar->maximum();
    {
        const QSignalBlocker quiet(bar->maximum() > 0 && maximum > 0 ? bar : nullptr);
        if (auto* rows = dynamic_cast<RowScrollBar*>(bar)) {
            rows->setRangeFollowing(maximum, atEnd);
        } else {
            bar->setRange(0, maximum);
            if (atEnd)
                bar->setValue(maximum);
        }
    }

    horizontalScrollBar()->setSingleStep(20);
    horizontalScrollBar()->setPageStep(vg.width());
    horizontalScrollBar()->setRange(0, std::max(0, header_->length() - vg.width()));
    header_->setOffset(horizontalScrollBar()->value());
    // A new row at the end moves the rows in sight up as a scroll does.
    if (contentOffset() != shownOffset_)
        showContentOffset(0);
    QAbstractItemView::updateGeometries();
}

void ReadingGridView::scrollContentsBy(int dx, int)
{
    header_->setOffset(horizontalScrollBar()->value());
    showContentOffset(dx);
}

void ReadingGridView::showContentOffset(int dx)
{
    // What stays in sight is moved, and only what comes into sight is
    // painted: a log that grows by a row a reading scrolls by one row each time.
    const int offset = contentOffset();
    const int pixels = shownOffset_ - offset;
    shownOffset_ = offset;
    if (std::abs(pixels) >= viewport()->height() || std::abs(dx) >= viewport()->width()) {
        viewport()->update();
        indicator_->update();
        return;
    }
    viewport()->scroll(dx, pixels);
    if (pixels != 0) {
        const int headerHeight = header_->isHidden() ? 0 : header_->height();
        indicator_->scroll(0, pixels, QRect(0, headerHeight, indicator_->width(), indicator_->height() - headerHeight));
    }
}

int ReadingGridView::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int ReadingGridView::verticalOffset() const
{
    return contentOffset();
}

QRect ReadingGridView::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.parent() != rootIndex())
        return {};
    return QRect(header_->sectionViewportPosition(index.column()), rowY(index.row()),
                 header_->sectionSize(index.column()), rowHeight_);
}

QModelIndex ReadingGridView::indexAt(const QPoint& point) const
{
    if (!model() || point.y() < 0)
        return {};
    const int row = rowAtY(point.y());
    const int column = header_->logicalIndexAt(point.x());
    if (row >= rowCount() || column < 0)
        return {};
    return model()->index(row, column, rootIndex());
}

void ReadingGridView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!index.isValid())
        return;
    executeDelayedItemsLayout();  // the scroll range must know the newest rows
    layOutAppendedRows();
    const int row = index.row();
    const int rows = fullRowsInSight();
    int top = verticalScrollBar()->value();
    switch (hint) {
    case PositionAtTop: top = row; break;
    case PositionAtBottom: top = row - rows + 1; break;
    case PositionAtCenter: top = row - rows / 2; break;
    case EnsureVisible:
        if (rowY(row) < 0)
            top = row;
        else if (rowY(row) + rowHeight_ > viewport()->height())
            top = row - rows + 1;
        break;
    }
    verticalScrollBar()->setValue(top);

    // Horizontally, the cell's column comes wholly into sight where it can.
    const int left = header_->sectionPosition(index.column());
    const int right = left + header_->sectionSize(index.column());
    const int width = viewport()->width();
    int offset = horizontalScrollBar()->value();
    if (left < offset)
        offset = left;
    else if (right > offset + width)
        offset = std::min(left, right - width);
    horizontalScrollBar()->setValue(offset);
}

QModelIndex ReadingGridView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    const int rows = rowCount();
    const int columns = model() ? model()->columnCount(rootIndex()) : 0;
    if (rows == 0 || columns == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, 0, rootIndex());
    int row = current.row();
    int column = current.column();
    const bool control = modifiers & Qt::ControlModifier;
    switch (action) {
    case MoveUp: --row; break;
    case MoveDown: ++row; break;
    case MoveLeft: --column; break;
    case MoveRight: ++column; break;
    case MovePageUp: row -= fullRowsInSight(); break;
    case MovePageDown: row += fullRowsInSight(); break;
    case MoveHome:
        if (control) row = 0;
        column = 0;
        break;
    case MoveEnd:
        if (control) row = rows - 1;
        column = columns - 1;
        break;
    case MoveNext:
        if (++column == columns) {
            column = 0;
            ++row;
        }
        break;
    case MovePrevious:
        if (--column < 0) {
            column = columns - 1;
            --row;
        }
        break;
    }
    return model()->index(std::clamp(row, 0, rows - 1), std::clamp(column, 0, columns - 1), rootIndex());
}

void ReadingGridView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    if (!model() || !selectionModel())
        return;
    const int rows = rowCount();
    const int columns = model()->columnCount(rootIndex());
    if (rows == 0 || columns == 0)
        return;
    const QRect r = rect.normalized();
    const int first = std::clamp(rowAtY(r.top()), 0, rows - 1);
    const int last = std::clamp(rowAtY(r.bottom()), 0, rows - 1);
    selectionModel()->select(QItemSelection(model()->index(first, 0, rootIndex()),
                                            model()->index(last, columns - 1, rootIndex())),
                             command);
}

QRegion ReadingGridView::visualRegionForSelection(const QItemSelection& selection) const
{
    QRegion region;
    const int top = topRow();
    const int bottom = rowAtY(viewport()->height() - 1);
    for (const QItemSelectionRange& range : selection) {
        const int first = std::max(range.top(), top);
        const int last = std::min(range.bottom(), bottom);
        if (first <= last)
            region += QRect(0, rowY(first), viewport()->width(), (last - first + 1) * rowHeight_);
    }
    return region;
}

// ---- Model changes --------------------------------------------------------------

// The scroll range follows the rows once per turn of the event loop: each
// change of a scroll bar's range posts an event, and a walk or a burst of
// readings may add many rows in one turn. Rows added at the end (a new
// reading) move the rows in sight and paint only the new ones; any other
// insertion lays out and paints the whole view.
void ReadingGridView::rowsInserted(const QModelIndex& parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent.isValid() || end != rowCount() - 1) {
        scheduleDelayedItemsLayout();
        return;
    }
    if (appendedFrom_ >= 0) {
        appendedFrom_ = std::min(appendedFrom_, start);
        return;
    }
    appendedFrom_ = start;
    QMetaObject::invokeMethod(
        this, [this] { layOutAppendedRows(); }, Qt::QueuedConnection);
}

void ReadingGridView::layOutAppendedRows()
{
    if (appendedFrom_ < 0)
        return;
    const int first = appendedFrom_;
    appendedFrom_ = -1;
    updateGeometries();  // the scroll range, and what is in sight moved with it
    const int top = std::max(rowY(first), 0);
    if (top >= viewport()->height())
        return;
    viewport()->update(QRect(0, top, viewport()->width(), viewport()->height() - top));
    const int headerHeight = header_->isHidden() ? 0 : header_->height();
    indicator_->update(QRect(0, headerHeight + top, indicator_->width(), indicator_->height() - headerHeight - top));
}

QRect ReadingGridView::indicatorCell(int row) const
{
    const int headerHeight = header_->isHidden() ? 0 : header_->height();
    return QRect(0, headerHeight + rowY(row), indicator_->width(), rowHeight_);
}

void ReadingGridView::modelRowsRemoved()
{
    scheduleDelayedItemsLayout();
    indicator_->update();
}

void ReadingGridView::doItemsLayout()
{
    QAbstractItemView::doItemsLayout();
    indicator_->update();
}

void ReadingGridView::reset()
{
    QAbstractItemView::reset();
    updateGeometries();
    viewport()->update();
    indicator_->update();
}

void ReadingGridView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QAbstractItemView::currentChanged(current, previous);  // scrolls the current row into sight
    // The arrow moves from one row's cell to another's, and the two rows are
    // painted where the scroll has put them.
    for (const QModelIndex& index : {previous, current})
        if (index.isValid()) {
            indicator_->update(indicatorCell(index.row()));
            viewport()->update(QRect(0, rowY(index.row()), viewport()->width(), rowHeight_));
        }
}

// ---- Painting -------------------------------------------------------------------

void ReadingGridView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    // The viewport's background, which Qt paints under a viewport that is not opaque.
    painter.fillRect(event->rect(), viewport()->palette().brush(viewport()->backgroundRole()));
    if (!model())
        return;
    const int rows = rowCount();
    const int columns = model()->columnCount(rootIndex());
    const int top = topRow();
    const int last = std::min(rows - 1, rowAtY(event->rect().bottom()));
    const int grid = showGrid_ ? 1 : 0;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QModelIndex current = currentIndex();
    const bool focused = hasFocus() && current.isValid();
    auto* cells = qobject_cast<ReadingGridDelegate*>(itemDelegate());
    if (cells) cells->beginPaint(event->rect(), viewport()->palette().brush(viewport()->backgroundRole()), option.font);
    const auto endPaint = qScopeGuard([cells] {
        if (cells) cells->endPaint();
    });

    for (int row = rowAtY(event->rect().top()); row <= last; ++row) {
        const int y = rowY(row);
        for (int column = 0; column < columns; ++column) {
            const int x = header_->sectionViewportPosition(column);
            const int width = header_->sectionSize(column);
            if (x + width <= event->rect().left() || x > event->rect().right() || width <= 0)
                continue;
            const QModelIndex index = model()->index(row, column, rootIndex());
            QStyleOptionViewItem cell = option;
            cell.rect = QRect(x, y, width - grid, rowHeight_ - grid);
            if (selectionModel() && selectionModel()->isSelected(index))
                cell.state |= QStyle::State_Selected;
            if (focused && index == current)
                cell.state |= QStyle::State_HasFocus;
            itemDelegateForIndex(index)->paint(&painter, cell, index);
        }
    }

    if (!showGrid_ || last < top)
        return;
    const QColor gridColor = QColor::fromRgba(uint(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
    const int bottom = rowY(last) + rowHeight_ - 1;
    const int right = header_->sectionViewportPosition(columns - 1) + header_->sectionSize(columns - 1) - 1;
    // The lines are solid, one pixel wide and straight: only their part in
    // the area being painted is drawn, the same pixels as the whole lines
    // clipped to it, all in one call.
    const QRect area = event->rect();
    QVarLengthArray<QLine, 64> lines;
    for (int row = std::max(top, rowAtY(area.top())); row <= last; ++row) {
        const int y = rowY(row) + rowHeight_ - 1;
        if (y > area.bottom()) break;
        if (y >= area.top()) lines.append(QLine(std::max(0, area.left()), y, std::min(right, area.right()), y));
    }
    const int lineTop = std::max(0, area.top()), lineBottom = std::min(bottom, area.bottom());
    for (int column = 0; column < columns && lineTop <= lineBottom; ++column) {
        const int x = header_->sectionViewportPosition(column) + header_->sectionSize(column) - 1;
        if (x >= area.left() && x <= area.right()) lines.append(QLine(x, lineTop, x, lineBottom));
    }
    DrawStraightLines(painter, lines.constData(), int(lines.size()), gridColor);
}

void ReadingGridView::DrawStraightLines(QPainter& painter, const QLine* lines, int count, const QColor& colour)
{
    for (int i = 0; i < count; ++i) {
        const QLine& line = lines[i];
        if (line.x1() != line.x2() && line.y1() != line.y2()) {
            painter.save();
            painter.setPen(colour);
            painter.drawLine(line);
            painter.restore();
            continue;
        }
        painter.fillRect(QRect(QPoint(std::min(line.x1(), line.x2()), std::min(line.y1(), line.y2())),
                               QPoint(std::max(line.x1(), line.x2()), std::max(line.y1(), line.y2()))),
                         colour);
    }
}

void ReadingGridView::paintIndicator(QPainter& painter, const QRect& area) const
{
    // Only the corner and the rows' cells in the area are drawn: a new reading
    // paints the cells of a row or two.
    const int headerHeight = header_->isHidden() ? 0 : header_->height();
    const QRect strip = indicator_->rect();

    // The corner under nothing, drawn as an empty column title.
    QStyleOptionHeader corner;
    corner.initFrom(indicator_);
    corner.state = QStyle::State_None;
    if (isEnabled()) corner.state |= QStyle::State_Enabled;
    if (isActiveWindow()) corner.state |= QStyle::State_Active;
    corner.rect = QRect(0, 0, strip.width(), headerHeight);
    corner.position = QStyleOptionHeader::OnlyOneSection;
    if (corner.rect.intersects(area)) {
        painter.save();  // the style leaves its clip to the corner behind
        style()->drawControl(QStyle::CE_Header, &corner, &painter, indicator_);
        painter.restore();
    }

    const QRect cells(0, headerHeight, strip.width(), strip.height() - headerHeight);
    if (!cells.intersects(area))
        return;
    painter.fillRect(cells & area, viewport()->palette().brush(viewport()->backgroundRole()));
    const int rows = rowCount();
    const int top = std::max(topRow(), rowAtY(area.top() - headerHeight));
    const int last = std::min({rows - 1, rowAtY(viewport()->height() - 1), rowAtY(area.bottom() - headerHeight)});
    const int marked = currentIndex().isValid() ? currentIndex().row() : -1;
    const QPalette& palette = indicator_->palette();
    painter.setClipRect(cells);
    for (int row = top; row <= last; ++row) {
        const QRect cell(0, headerHeight + rowY(row), strip.width(), rowHeight_);
        painter.fillRect(cell, palette.button());
        painter.setPen(palette.mid().color());
        painter.drawLine(cell.bottomLeft(), cell.bottomRight());
        painter.drawLine(cell.topRight(), cell.bottomRight());
        if (row == marked) {
            const int cy = cell.center().y();
            const int x = cell.left() + 3;
            painter.save();
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(palette.buttonText());
            painter.drawPolygon(QPolygon({QPoint(x, cy - 4), QPoint(x + 5, cy), QPoint(x, cy + 4)}));
            painter.restore();
        }
    }
}
