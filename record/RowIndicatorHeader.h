#pragma once
// The grid's row indicator: a narrow column left of the rows that marks the
// current record with an arrow. Its width is fixed, so adding rows never makes
// the grid measure its row titles again.
#include <QHeaderView>

class RowIndicatorHeader final : public QHeaderView {
    Q_OBJECT
public:
    static constexpr int kWidth = 12;

    explicit RowIndicatorHeader(QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // The row marked as current (-1: none).
    int markedRow() const { return markedRow_; }
    void setMarkedRow(int row);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    QSize sectionSizeFromContents(int logicalIndex) const override;

private:
    int markedRow_ = -1;
};
