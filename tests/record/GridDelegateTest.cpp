// The grid's cells drawn from the pictures the delegate keeps during a paint
// of the grid are the cells it draws as text.
#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>
#include <gtest/gtest.h>

#include "record/grid/ReadingGridDelegate.h"
#include "record/grid/ReadingGridView.h"

namespace {

struct Cell {
    int row, column;
    QString text;
    bool selected;
};

constexpr int kRowHeight = 17;
const int kColumnX[] = {0, 40, 92, 150};
const int kColumnWidth[] = {40, 52, 58, 60};

class GridDelegateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        model.setColumnCount(4);
        model.setRowCount(8);
        delegate.setColumnFont(3, QFont(QStringLiteral("DejaVu Sans Mono"), 9));
    }

    // The cells on a fresh background, through the delegate's paint of the
    // grid (pictures kept and used) or without it (text only).
    QImage draw(const std::vector<Cell>& cells, bool asTheGrid, QColor background = Qt::white)
    {
        QImage image(220, 8 * kRowHeight, QImage::Format_RGB32);
        image.fill(background);
        QPainter painter(&image);
        QStyleOptionViewItem option;
        option.font = QFont(QStringLiteral("DejaVu Sans"), 9);
        option.state = QStyle::State_Enabled | QStyle::State_Active;
        if (asTheGrid) delegate.beginPaint(image.rect(), background, option.font);
        for (const Cell& c : cells) {
            const QModelIndex index = model.index(c.row, c.column);
            model.setData(index, c.text);
            model.setData(index, int(c.column == 2 ? Qt::AlignRight : Qt::AlignLeft), Qt::TextAlignmentRole);
            QStyleOptionViewItem cell = option;
            cell.rect = QRect(kColumnX[c.column], c.row * kRowHeight, kColumnWidth[c.column] - 1, kRowHeight - 1);
            if (c.selected) cell.state |= QStyle::State_Selected;
            delegate.paint(&painter, cell, index);
        }
        if (asTheGrid) delegate.endPaint();
        return image;
    }

    QStandardItemModel model;
    ReadingGridDelegate delegate;
};

TEST_F(GridDelegateTest, CellsFromPicturesAreTheCellsDrawnAsText)
{
    // Rows that repeat column by column, selected and not; an empty cell; a
    // cell too narrow for its text (clipped to it, before the next cell); the
    // same rows twice, so that the second time they come from pictures.
    std::vector<Cell> cells;
    for (int pass = 0; pass < 2; ++pass)
        for (int row = 0; row < 4; ++row) {
            const int r = pass * 4 + row;
            cells.push_back({r, 0, QString::number(100 + row % 2), row == 3});
            cells.push_back({r, 1, row == 0 ? QStringLiteral("far too long for it") : QStringLiteral("DC"), row == 3});
            cells.push_back({r, 2, row == 1 ? QString() : QStringLiteral("-5.012"), row == 3});
            cells.push_back({r, 3, QStringLiteral("mV"), row == 3});
        }
    for (QColor background : {QColor(Qt::white), QColor(255, 255, 224)}) {
        SCOPED_TRACE(background.name().toStdString());
        const QImage plain = draw(cells, false, background);
        EXPECT_EQ(draw(cells, true, background), plain);
        EXPECT_EQ(draw(cells, true, background), plain);  // all from pictures but the first of each
    }
}

}  // namespace

TEST(GridLines, FilledAsRectanglesTheyAreTheLinesThePainterDraws)
{
    // The grid's lines are filled as rectangles: they must be the pixels the
    // painter's own line drawing sets with a one-pixel pen, both ends
    // included, where they cross, at the image's edges, under a clip, and in
    // a colour that lets the background through.
    QList<QLine> lines;
    for (int y = 5; y < 190; y += 17) lines << QLine(3, y, 290, y);
    for (int x = 0; x < 300; x += 23) lines << QLine(x, 2, x, 180);
    lines << QLine(7, 7, 7, 7) << QLine(0, 199, 299, 199) << QLine(299, 0, 299, 199) << QLine(250, 40, 120, 40) << QLine(60, 150, 60, 20)
          << QLine(10, 10, 100, 60);  // not straight: drawn as a line
    for (const QColor colour : {QColor(0xd0, 0xd0, 0xd0), QColor(0, 0, 0, 100)})
        for (const QRect clip : {QRect(), QRect(10, 10, 200, 150)}) {
            SCOPED_TRACE(testing::Message() << colour.name(QColor::HexArgb).toStdString() << (clip.isNull() ? " whole" : " clipped"));
            QImage drawn(300, 200, QImage::Format_RGB32);
            drawn.fill(Qt::white);
            QImage filled = drawn;
            {
                QPainter painter(&drawn);
                if (!clip.isNull()) painter.setClipRect(clip);
                painter.setPen(colour);
                painter.drawLines(lines.constData(), int(lines.size()));
            }
            {
                QPainter painter(&filled);
                if (!clip.isNull()) painter.setClipRect(clip);
                ReadingGridView::DrawStraightLines(painter, lines.constData(), int(lines.size()), colour);
            }
            EXPECT_EQ(drawn, filled);
        }
}
