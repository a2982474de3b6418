#pragma once
// The page number between the chart's paging buttons, in a box too narrow for
// the page numbers of a long log. A number that fits is shown whole in the
// box's own font; a longer one in a smaller font, down to kSmallestPixelSize;
// past that its leading digits give way to "…" and the last digits stay. The
// tool tip then tells the whole number.
#include <QFont>
#include <QString>

#include <cstdint>

class QToolButton;

class PageNumberBox {
public:
    explicit PageNumberBox(QToolButton* box);

    void show(int64_t page);

    // The width the box has for its text, in pixels.
    int room() const;

    static constexpr int kSmallestPixelSize = 7;

private:
    QToolButton* box_;
    void showIn(int pixelSize, const QString& text);

    QFont font_;          // the box's own font, as its style sheets make it
    QString styleSheet_;  // the box's own style sheet
    QString toolTip_;     // the box's own tool tip
    int64_t shown_ = -1;
};
