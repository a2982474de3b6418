#pragma once
// Draws the cells of the reading grid: one line of text in the cell's font and
// alignment on the cell's background, the selected row highlighted. A log
// scrolls by one row with every reading, so its cells are drawn often; this
// keeps each one to a fill and a single line of text. Columns may have a font
// of their own (the unit column uses the LCD font).
#include <QFont>
#include <QHash>
#include <QStyledItemDelegate>

class ReadingGridDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void setColumnFont(int column, const QFont& font) { columnFonts_.insert(column, font); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The width that shows this text whole in a cell of the column: its
    // advance in the column's font and the margins on both sides.
    int textWidth(const QStyleOptionViewItem& option, int column, const QString& text) const;

    static constexpr int kTextMargin = 2;

private:
    QHash<int, QFont> columnFonts_;
};
