#pragma once
// The reading grid: column titles, a row indicator that marks the current
// record with an arrow, rows of one fixed height with grid lines, and scroll
// bars. It keeps nothing per row: a row's place is its index times the row
// height, and painting, scrolling and hit tests only look at the rows in
// sight, so a log of millions of records costs it what a log of ten does.
//
// The current index is the current row; selecting rows and moving the cursor
// work as in other item views (keys, clicks, Tab from cell to cell).
#include <QAbstractItemView>

class QHeaderView;

class ReadingGridView : public QAbstractItemView {
    Q_OBJECT
    Q_PROPERTY(bool showGrid READ showGrid WRITE setShowGrid)
    Q_PROPERTY(int rowHeight READ rowHeight WRITE setRowHeight)
public:
    static constexpr int kIndicatorWidth = 12;

    explicit ReadingGridView(QWidget* parent = nullptr);
    ~ReadingGridView() override;

    void setModel(QAbstractItemModel* model) override;

    QHeaderView* horizontalHeader() const { return header_; }
    // The row indicator left of the rows, with the corner above it.
    QWidget* rowIndicator() const { return indicator_; }

    bool showGrid() const { return showGrid_; }
    void setShowGrid(bool show);
    int rowHeight() const { return rowHeight_; }
    void setRowHeight(int height);
    void setColumnWidth(int column, int width);
    int columnWidth(int column) const;
    // The width a column needs to show this text whole in its cells: the
    // text in the column's font, the cell margins and the grid line.
    int widthForText(int column, const QString& text) const;

    // The first row in sight (perhaps in part) and how many rows are wholly
    // in sight.
    int topRow() const;
    int fullRowsInSight() const;

    // Draws horizontal and vertical lines, ends included, as the painter
    // draws them with a one-pixel pen of `colour`: each as a filled
    // rectangle, where the painter's line drawing would set its pixels one
    // by one.
    static void DrawStraightLines(QPainter& painter, const QLine* lines, int count, const QColor& colour);

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    // Typing never searches the log (a search could walk millions of records).
    void keyboardSearch(const QString&) override {}
    void doItemsLayout() override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex&) const override { return false; }
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void reset() override;

private:
    class Indicator;
    friend class Indicator;
    class RowScrollBar;
    void paintIndicator(QPainter& painter, const QRect& area) const;
    int rowCount() const;
    // How far the rows are scrolled, in pixels; the row at a height in the viewport.
    int contentOffset() const;
    int rowAtY(int y) const;
    int rowY(int row) const { return row * rowHeight_ - contentOffset(); }
    // Brings what the viewport and the row strip show to the content offset,
    // moving what stays in sight instead of painting it again.
    void showContentOffset(int dx);
    // The scroll range and the painting for rows added at the end since the last turn.
    void layOutAppendedRows();
    // A row's cell in the strip left of the rows.
    QRect indicatorCell(int row) const;
    void modelRowsRemoved();

    QHeaderView* header_;
    QWidget* indicator_;  // an Indicator
    QMetaObject::Connection rowsRemoved_;
    bool showGrid_ = true;
    int rowHeight_ = 18;
    int shownOffset_ = 0;    // the offset of what the viewport shows
    int appendedFrom_ = -1;  // the first row added at the end and not laid out yet
};
