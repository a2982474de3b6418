#include "report/ReportPageView.h"

#include "report/ReadingReport.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

constexpr int kGap = 12;  // pixels around and between pages

}  // namespace

ReportPageView::ReportPageView(std::shared_ptr<const ReadingReport> report, QWidget* parent)
    : QAbstractScrollArea(parent),
      report_(std::move(report))
{
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(24);
    horizontalScrollBar()->setSingleStep(24);
    current_ = pageCount() > 0 ? 0 : -1;
    relayout();
}

int ReportPageView::pageCount() const
{
    return report_->pageCount();
}

double ReportPageView::trueSizePixelsPerMm() const
{
    return viewport()->logicalDpiX() / 25.4;
}

double ReportPageView::pixelsPerMm() const
{
    const double w = std::max(1, viewport()->width() - 2 * kGap);
    const double h = std::max(1, viewport()->height() - 2 * kGap);
    double s = 0;
    switch (fit_) {
    case Fit::None: s = zoom_ * trueSizePixelsPerMm(); break;
    case Fit::Width: s = w / ReadingReport::kPaperWidth; break;
    case Fit::WholePage: s = std::min(w / ReadingReport::kPaperWidth, h / ReadingReport::kPaperHeight); break;
    }
    s = std::clamp(s, kMinZoom * trueSizePixelsPerMm(), kMaxZoom * trueSizePixelsPerMm());
    // The column of pages must fit a scroll bar's range.
    const int pages = std::max(1, pageCount());
    const double highest = (double(INT_MAX) / pages - kGap - 1) / ReadingReport::kPaperHeight;
    return std::min(s, highest);
}

double ReportPageView::zoom() const
{
    return pixelsPerMm() / trueSizePixelsPerMm();
}

void ReportPageView::setZoom(double zoom)
{
    fit_ = Fit::None;
    zoom_ = std::clamp(zoom, kMinZoom, kMaxZoom);
    relayout();
}

void ReportPageView::setFit(Fit fit)
{
    if (fit == Fit::None)
        zoom_ = zoom();
    fit_ = fit;
    relayout();
}

QSize ReportPageView::pageSize() const
{
    const double s = pixelsPerMm();
    return QSize(int(ReadingReport::kPaperWidth * s), int(ReadingReport::kPaperHeight * s));
}

int ReportPageView::pitch() const
{
    return pageSize().height() + kGap;
}

int ReportPageView::pageLeft() const
{
    const int free = viewport()->width() - pageSize().width();
    return free >= 2 * kGap ? free / 2 : kGap - horizontalScrollBar()->value();
}

void ReportPageView::relayout()
{
    // A page fitted to the view needs no sideways scrolling; the column of
    // pages keeps its scroll bar, so fitting does not change the view's width.
    setVerticalScrollBarPolicy(pageCount() > 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(fit_ == Fit::None ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    const QSize page = pageSize();
    const QSize view = viewport()->size();
    const qint64 height = kGap + qint64(pageCount()) * pitch();
    verticalScrollBar()->setPageStep(view.height());
    horizontalScrollBar()->setPageStep(view.width());
    horizontalScrollBar()->setRange(0, std::max(0, page.width() + 2 * kGap - view.width()));
    {
        const bool was = showing_;
        showing_ = true;
        verticalScrollBar()->setRange(0, int(std::clamp<qint64>(height - view.height(), 0, INT_MAX)));
        showing_ = was;
    }
    if (current_ >= 0)
        showPage(current_);
    viewport()->update();
}

void ReportPageView::showPage(int page)
{
    if (pageCount() == 0)
        return;
    page = std::clamp(page, 0, pageCount() - 1);
    showing_ = true;
    verticalScrollBar()->setValue(int(std::min<qint64>(qint64(page) * pitch(), INT_MAX)));
    showing_ = false;
    setCurrent(page);
    viewport()->update();
}

void ReportPageView::setCurrent(int page)
{
    if (page == current_)
        return;
    current_ = page;
    emit currentPageChanged(page);
}

void ReportPageView::scrollContentsBy(int, int)
{
    if (!showing_ && pageCount() > 0) {
        // The page at the middle of the view, or of the page's height when the
        // view is taller than a page.
        const qint64 probe = qint64(verticalScrollBar()->value()) + std::min(viewport()->height(), pitch()) / 2 - kGap / 2;
        setCurrent(int(std::clamp<qint64>(probe / pitch(), 0, pageCount() - 1)));
    }
    viewport()->update();
}

void ReportPageView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void ReportPageView::paintEvent(QPaintEvent* event)
{
    painted_.clear();
    QPainter p(viewport());
    if (pageCount() == 0) {
        p.setPen(palette().color(QPalette::BrightText));
        p.drawText(viewport()->rect(), Qt::AlignCenter, tr("The log holds no records: there is nothing to print."));
        return;
    }
    const QSize page = pageSize();
    const int step = pitch();
    const qint64 top = verticalScrollBar()->value();
    const QRect dirty = event->rect();
    const int first = int(std::max<qint64>(0, (top + dirty.top() - kGap) / step));
    const double s = pixelsPerMm();
    const double dpmmX = viewport()->logicalDpiX() / 25.4;
    const double dpmmY = viewport()->logicalDpiY() / 25.4;
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    for (int k = first; k < pageCount(); ++k) {
        const QRect rect(pageLeft(), int(kGap + qint64(k) * step - top), page.width(), page.height());
        if (rect.top() > dirty.bottom())
            break;
        p.fillRect(rect.translated(2, 2), QColor(0, 0, 0, 80));  // shadow
        p.fillRect(rect, Qt::white);
        p.save();
        p.setClipRect(rect);
        p.translate(rect.topLeft());
        // The page draws itself in the units of this device; scale them to the zoom.
        p.scale(s / dpmmX, s / dpmmY);
        p.translate(ReadingReport::kMargin * dpmmX, ReadingReport::kMargin * dpmmY);
        report_->drawPage(p, k);
        p.restore();
        painted_.push_back(k);
    }
}
