#include "chart/PageNumberBox.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QStyle>
#include <QStyleOptionToolButton>
#include <QToolButton>

PageNumberBox::PageNumberBox(QToolButton* box)
    : box_(box),
      styleSheet_(box->styleSheet()),
      toolTip_(box->toolTip())
{
}

int PageNumberBox::room() const
{
    // The style draws a tool button's text inside its frame, and cuts it there.
    QStyleOptionToolButton option;
    option.initFrom(box_);
    option.subControls = QStyle::SC_ToolButton;
    option.toolButtonStyle = Qt::ToolButtonTextOnly;
    const QStyle* style = box_->style();
    const QRect button = style->subControlRect(QStyle::CC_ToolButton, &option, QStyle::SC_ToolButton, box_);
    return button.width() - 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, box_);
}

void PageNumberBox::show(int64_t page)
{
    // Each new reading shows the page again: only a new number is measured.
    if (page == shown_)
        return;
    shown_ = page;
    // The window's style sheets give the box its font once it is polished.
    box_->ensurePolished();
    if (box_->styleSheet() == styleSheet_)
        font_ = box_->font();
    const QString number = QString::number(page);
    const qreal room = this->room();
    QFont font = font_;
    const int size = font_.pixelSize() > 0 ? font_.pixelSize() : QFontInfo(font_).pixelSize();
    for (int px = size; px >= kSmallestPixelSize; --px) {
        font.setPixelSize(px);
        if (QFontMetricsF(font).horizontalAdvance(number) <= room) {
            showIn(px == size ? 0 : px, number);
            box_->setToolTip(px == size ? toolTip_ : toolTip_ + QLatin1Char(' ') + number);
            return;
        }
    }
    // The last digits that fit after the ellipsis.
    const QFontMetricsF metrics(font);
    const QString ellipsis(QChar(0x2026));
    qsizetype keep = number.size() - 1;
    while (keep > 1 && metrics.horizontalAdvance(ellipsis + number.right(keep)) > room)
        --keep;
    showIn(kSmallestPixelSize, ellipsis + number.right(keep));
    box_->setToolTip(toolTip_ + QLatin1Char(' ') + number);
}

// 0: in the box's own font. A font of the box's own would give way to its
// style sheet, so a smaller size goes into the style sheet too.
void PageNumberBox::showIn(int pixelSize, const QString& text)
{
    const QString sheet =
        pixelSize > 0 ? styleSheet_ + QStringLiteral(" font-size: %1px;").arg(pixelSize) : styleSheet_;
    if (box_->styleSheet() != sheet)
        box_->setStyleSheet(sheet);
    box_->setText(text);
}
