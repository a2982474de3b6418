#include "report/ReadingReport.h"

#include "display/LcdFont.h"

#include <QFontMetricsF>
#include <QPageSize>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>

namespace {

constexpr std::array<const char*, ReportRecords::kColumns> kFieldNames = {"No", "Time", "DC/AC", "Value", "Unit", "AUTO"};

// Millimetres to the units of a painter's device.
struct Scale {
    double x, y;
    explicit Scale(const QPaintDevice& device) : x(device.logicalDpiX() / 25.4),
                                                 y(device.logicalDpiY() / 25.4) {}
    QRectF rect(double left, double top, double width, double height) const
    {
        return QRectF(left * x, top * y, width * x, height * y);
    }
};

// Left-aligned text at the top of its box, wrapped at word boundaries when it
// is wider than the box and cut at the box's bottom. Most texts are short
// enough to rule wrapping out without measuring them.
void drawField(QPainter& p, const QFontMetricsF& fm, const QRectF& box, const QString& text)
{
    if (text.isEmpty())
        return;
    if (text.size() * fm.maxWidth() <= box.width())
        p.drawText(QPointF(box.left(), box.top() + fm.ascent()), text);
    else
        p.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
}

}  // namespace

// ---- The records listed -----------------------------------------------------------

ReportRecords::ReportRecords(ReadingTable& table) : table_(table.isOpen() ? &table : nullptr)
{
    fieldOf_.fill(-1);
    if (!table_)
        return;
    count_ = table.recordCount();
    for (int c = 0; c < kColumns; ++c)
        fieldOf_[size_t(c)] = table.fieldIndex(kFieldNames[size_t(c)]);
    table.addObserver(this);
}

ReportRecords::~ReportRecords()
{
    if (table_)
        table_->removeObserver(this);
}

void ReportRecords::keepCopy()
{
    if (copy_ || !table_)
        return;
    if (table_->isOpen())
        copy_ = table_->copyRecords(count_);
    else
        count_ = 0;
    // Nothing the table does later concerns the report any more.
    table_->removeObserver(this);
}

void ReportRecords::rowAboutToBeRemoved(size_t row)
{
    if (row < count_)
        keepCopy();
}

void ReportRecords::tableDestroyed()
{
    keepCopy();
    table_ = nullptr;
}

QString ReportRecords::text(size_t row, int column) const
{
    if (row >= count_ || column < 0 || column >= kColumns || fieldOf_[size_t(column)] < 0)
        return {};
    const int field = fieldOf_[size_t(column)];
    if (copy_)
        return QString::fromLatin1(copy_->cellText(row, field));
    return table_ ? QString::fromLatin1(table_->cellText(row, field)) : QString();
}

// ---- The report -------------------------------------------------------------------

const char* const ReadingReport::kTitle = "The Data Print Title";
const char* const ReadingReport::kFooter = "The Data Print Foot";
const std::array<const char*, ReportRecords::kColumns> ReadingReport::kCaptions = kFieldNames;

namespace {

// The walk's first step, which posts a record still being appended.
ReadingTable& fromTheFirstRecord(ReadingTable& table)
{
    if (table.isOpen())
        table.first();
    return table;
}

}  // namespace

ReadingReport::ReadingReport(ReadingTable& table) : records_(fromTheFirstRecord(table))
{
    if (records_.size() > 0)
        table.setCurrentRecord(records_.size() - 1);
}

QPageLayout ReadingReport::pageLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                       QMarginsF(kMargin, kMargin, kMargin, kMargin), QPageLayout::Millimeter);
}

QFont ReadingReport::font()
{
    QFont f(LcdFontFamily());
    f.setPointSizeF(10);
    // Unhinted, so that a page measures the same on screen as on paper.
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

int ReadingReport::pageCount() const
{
    return int((records_.size() + kLinesPerPage - 1) / kLinesPerPage);
}

void ReadingReport::drawPage(QPainter& p, int page) const
{
    if (page < 0 || page >= pageCount() || !p.device())
        return;
    const Scale mm(*p.device());
    p.save();
    p.setFont(font());
    p.setPen(Qt::black);
    const QFontMetricsF fm(p.font(), p.device());

    // Page header: the title in a fixed box centred across the band.
    p.drawText(mm.rect((kBandWidth - kTitleWidth) / 2, kTitleTop, kTitleWidth, kTitleHeight),
               Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip, QString::fromLatin1(kTitle));

    // Column header.
    double top = kHeaderHeight;
    for (size_t c = 0; c < kCaptions.size(); ++c)
        drawField(p, fm, mm.rect(kCaptionLeft[c], top + kCaptionTop, kBandWidth - kCaptionLeft[c], kHeaderHeight - kCaptionTop),
                  QString::fromLatin1(kCaptions[c]));

    // Detail lines.
    top += kHeaderHeight;
    const size_t first = size_t(page) * kLinesPerPage;
    const size_t end = std::min(records_.size(), first + kLinesPerPage);
    for (size_t row = first; row < end; ++row, top += kDetailHeight)
        for (int c = 0; c < ReportRecords::kColumns; ++c)
            drawField(p, fm, mm.rect(kDetailLeft[size_t(c)], top + kDetailTop, kBandWidth - kDetailLeft[size_t(c)], kDetailHeight - kDetailTop),
                      records_.text(row, c));

    // Page footer, at the bottom of the page.
    top = kAreaHeight - kHeaderHeight;
    drawField(p, fm, mm.rect(kFooterLeft, top + kCaptionTop, kBandWidth - kFooterLeft, kHeaderHeight - kCaptionTop),
              QString::fromLatin1(kFooter));
    p.restore();
}
