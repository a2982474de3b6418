#pragma once
// Draws the cells of the reading grid: one line of text in the cell's font and
// alignment on the cell's background, the selected row highlighted. A log
// scrolls by one row with every reading, so its cells are drawn often; this
// keeps each one to a fill and a single line of text. Columns may have a font
// of their own (the unit column uses the LCD font).
//
// Within a paint of the grid (between beginPaint and endPaint), each cell is
// kept as a picture of what it left in the window's buffer (its text is
// clipped to it), and a cell of the same column, size, colours and text is drawn from
// that picture: most columns (the mode, the unit, the range) repeat from one
// row to the next, and laying out and drawing a line of text costs far more
// than copying its pixels.
#include <QCache>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QRect>
#include <QStyledItemDelegate>

class ReadingGridDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void setColumnFont(int column, const QFont& font)
    {
        columnFonts_.insert(column, font);
        pictures_.clear();
    }

    // The grid's paint: `fresh` is the part of the viewport filled with
    // `background` just before its cells are drawn, `font` the grid's font.
    void beginPaint(const QRect& fresh, const QBrush& background, const QFont& font);
    void endPaint();

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The width that shows this text whole in a cell of the column: its
    // advance in the column's font and the margins on both sides.
    int textWidth(const QStyleOptionViewItem& option, int column, const QString& text) const;

    static constexpr int kTextMargin = 2;

    struct CellKey {
        QString text;
        int column = 0;
        QSize size;
        QRgb fill = 0;  // 0: the grid's background
        QRgb pen = 0;
        int alignment = 0;
        friend bool operator==(const CellKey&, const CellKey&) = default;
    };

private:
    void keepPicture(QPainter* painter, const QRect& cell, const CellKey& key) const;

    QHash<int, QFont> columnFonts_;
    bool painting_ = false;
    QRect fresh_;
    QRgb background_ = 0;
    QFont gridFont_;
    mutable QCache<CellKey, QImage> pictures_{4 << 20};  // cost: bytes
};

size_t qHash(const ReadingGridDelegate::CellKey& key, size_t seed = 0) noexcept;
