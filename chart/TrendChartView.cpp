#include "chart/TrendChartView.h"

#include "chart/PlotItems.h"

#include <QAction>
#include <QAreaSeries>
#include <QCheckBox>
#include <QGraphicsLayout>
#include <QGraphicsLineItem>
#include <QImageWriter>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QSaveFile>
#include <QToolButton>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

const QColor kPanel(192, 221, 248);
const QColor kAxisLine(0, 64, 128);
const QColor kAreaFill(255, 255, 128);
const QColor kAreaLine(0, 128, 255);
const QColor kLine(128, 255, 0);
// The plot area starts below the toolbar that lies over the chart's top.
constexpr int kToolbarHeight = 30;

// A tick step of 1, 2 or 5 times a power of ten that gives about `ticks`
// intervals over span.
double NiceStep(double span, int ticks)
{
    if (span <= 0 || ticks <= 0)
        return 1;
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * power)
            return m * power;
    return 10 * power;
}

// Sets an axis' range and tick step in the order that never asks for more
// ticks than the new range has: a wide range with the step of a narrow one
// would make an item for each of millions of ticks.
// Gives a series its points; an empty series stays as it is.
void Show(QLineSeries* series, const QList<QPointF>& points)
{
    if (!points.isEmpty())
        series->replace(points);
    else if (series->count() > 0)
        series->clear();
}

void SetRange(QValueAxis* axis, double min, double max, double step)
{
    if (step >= axis->tickInterval()) {
        axis->setTickInterval(step);
        axis->setRange(min, max);
    } else {
        axis->setRange(min, max);
        axis->setTickInterval(step);
    }
}

}  // namespace

TrendChartView::TrendChartView(TrendChart& chart, QWidget* host, TrendChartControls controls)
    // Given its chart at once: the view makes a default chart otherwise, and
    // setChart hands that back to be deleted by the caller.
    : QChartView(new QChart, host),
      model_(chart),
      host_(host),
      controls_(controls),
      pageNumber_(controls.Bt10),
      chart_(QChartView::chart()),
      areaUpper_(new QLineSeries(this)),
      series2_(new QAreaSeries(areaUpper_)),
      series1_(new QLineSeries),
      bandUpper_(new QLineSeries(this)),
      bandLower_(new QLineSeries(this)),
      band_(new QAreaSeries(bandUpper_, bandLower_)),
      axisX_(new QValueAxis),
      axisY_(new QValueAxis)
{
    setFrameShape(QFrame::NoFrame);
    setRenderHint(QPainter::Antialiasing, false);
    setBackgroundBrush(kPanel);
    setCursor(Qt::CrossCursor);
    setRubberBand(QChartView::RectangleRubberBand);

    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->legend()->hide();
    chart_->setTitle(QString());
    chart_->setBackgroundRoundness(0);
    chart_->layout()->setContentsMargins(0, 0, 0, 0);
    QLinearGradient gradient(0, 0, 0, 1);
    gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
    gradient.setColorAt(0, QColor(192, 192, 192));
    gradient.setColorAt(1, Qt::white);
    chart_->setBackgroundBrush(gradient);
    chart_->setBackgroundPen(Qt::NoPen);
    chart_->setPlotAreaBackgroundBrush(Qt::white);
    chart_->setPlotAreaBackgroundVisible(true);

    series2_->setName("Series2");
    series2_->setBrush(kAreaFill);
    series2_->setPen(QPen(kAreaLine, 1));
    series2_->setPointsVisible(false);
    series2_->setPointLabelsVisible(false);
    series1_->setName("Series1");
    series1_->setPen(QPen(kLine, 1));
    series1_->setPointsVisible(false);
    series1_->setPointLabelsVisible(false);
    band_->setPointsVisible(false);
    band_->setPointLabelsVisible(false);
    band_->setVisible(false);
    chart_->addSeries(series2_);
    chart_->addSeries(series1_);
    chart_->addSeries(band_);  // last: over the area

    axisX_->setLabelFormat("%.0f");
    axisX_->setTickType(QValueAxis::TicksDynamic);
    axisX_->setTickAnchor(0);
    axisY_->setLabelFormat("%.0f");
    axisY_->setTickType(QValueAxis::TicksDynamic);
    axisY_->setTickAnchor(0);
    axisY_->setMinorTickCount(4);
    axisY_->setLinePen(QPen(kAxisLine, 1, Qt::DashLine));
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);
    // The axes' lines, ticks and grid lines are one pixel wide, drawn without
    // antialiasing; as cosmetic pens they draw the same pixels, but the scene
    // takes each line's bounds from its two ends instead of building the
    // outline of its stroke, a few thousand times a second while the chart
    // follows the readings.
    for (QValueAxis* axis : {axisX_, axisY_}) {
        const auto cosmetic = [](QPen pen) {
            if (pen.widthF() <= 1) pen.setWidth(0);
            return pen;
        };
        axis->setLinePen(cosmetic(axis->linePen()));
        axis->setGridLinePen(cosmetic(axis->gridLinePen()));
        axis->setMinorGridLinePen(cosmetic(axis->minorGridLinePen()));
    }
    for (QAbstractSeries* s : std::initializer_list<QAbstractSeries*>{series2_, series1_, band_}) {
        s->attachAxis(axisX_);
        s->attachAxis(axisY_);
    }
    gridLines_ = ChartGridLines::Take(chart_, {axisX_, axisY_});
    areaStrips_ = ChartAreaStrips::Take(chart_, series2_);
    // A drag that zooms changes the axes; the chart holds that view.
    for (QValueAxis* axis : {axisX_, axisY_})
        connect(axis, &QValueAxis::rangeChanged, this, [this] {
            if (!settingAxes_)
                zoomed_ = true;
        });

    refreshTimer_.setSingleShot(true);
    connect(&refreshTimer_, &QTimer::timeout, this, &TrendChartView::refresh);

    setGeometry(host_->rect());
    lower();  // under the toolbar
    host_->installEventFilter(this);
    showControls();
    refresh();
}

TrendChartView::~TrendChartView()
{
    if (host_)
        host_->removeEventFilter(this);
}

// ---- Commands -------------------------------------------------------------------

void TrendChartView::Add(int32_t value)
{
    model_.Add(value);
    if (model_.FollowLastPage)
        pageNumber_.show(model_.caption());
    scheduleReadingRefresh();
}

void TrendChartView::New()
{
    model_.New(controls_.BtFill->isChecked());
    scheduleRefresh();
}

void TrendChartView::btFillClick()
{
    const bool fill = controls_.BtFill->isChecked();
    controls_.Fill1->setChecked(fill);
    model_.ShowSeries(fill ? TrendChart::kAreaSeries : TrendChart::kLineSeries);
    scheduleRefresh();
}

void TrendChartView::FillClick()
{
    // Triggering the menu item has already flipped its own check mark; the
    // box decides: it flips, and its click sets the menu item and the series.
    controls_.BtFill->setChecked(!controls_.BtFill->isChecked());
    btFillClick();
}

void TrendChartView::First() { Page(&TrendChart::First); }
void TrendChartView::Previous() { Page(&TrendChart::Previous); }
void TrendChartView::Next() { Page(&TrendChart::Next); }
void TrendChartView::Last() { Page(&TrendChart::Last); }

void TrendChartView::Page(void (TrendChart::*move)())
{
    (model_.*move)();
    showControls();
    scheduleRefresh();
}

void TrendChartView::setPointsPerPage(int32_t points)
{
    model_.setPointsPerPage(points);
    scheduleRefresh();
}

void TrendChartView::setLeftAxis(double maximum, double minimum)
{
    model_.setLeftAxis(maximum, minimum);
    scheduleRefresh();
}

void TrendChartView::TbFdClick(int W, int H)
{
    if (host_->y() > 50) {
        controls_.TbFd->hide();
        controls_.TbSx->show();
        normalGeometry_ = host_->geometry();
        host_->setGeometry(2, 28, W - 12, H - 85);
    } else {
        controls_.TbSx->hide();
        controls_.TbFd->show();
        host_->setGeometry(normalGeometry_);
    }
}

void TrendChartView::SavePicture(const QString& path)
{
    refresh();
    QImage picture(size(), QImage::Format_RGB32);
    picture.fill(Qt::white);
    {
        QPainter painter(&picture);
        render(&painter, QRectF(picture.rect()), viewport()->rect());
    }
    // The file is replaced only once the whole picture is written.
    QSaveFile file(path);
    QImageWriter writer(&file, "bmp");
    if (!file.open(QIODevice::WriteOnly) || !writer.write(picture) || !file.commit()) {
        const QString reason = file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
        throw std::runtime_error(QString("Cannot write the picture %1: %2").arg(path, reason).toLocal8Bit().toStdString());
    }
}

// ---- Showing the state ----------------------------------------------------------

void TrendChartView::showControls()
{
    const TrendChart::Buttons b = model_.buttons();
    controls_.BtFirst->setEnabled(b.First);
    controls_.BTPrevious->setEnabled(b.Previous);
    controls_.BtNext->setEnabled(b.Next);
    controls_.BTlast->setEnabled(b.Last);
    pageNumber_.show(model_.caption());
}

void TrendChartView::scheduleRefresh()
{
    if (!refreshTimer_.isActive() || refreshTimer_.remainingTime() > 0)
        refreshTimer_.start(0);
}

void TrendChartView::scheduleReadingRefresh()
{
    const qint64 since = lastRefresh_.isValid() ? lastRefresh_.elapsed() : kReadingRefreshMs;
    if (since >= kReadingRefreshMs - kEarlyRefreshMs) {
        // Due, or nearly: drawn once the readings that came together are all
        // in (refreshIfDue), so that the chart is painted with them, or else
        // at the next turn of the event loop.
        refreshDue_ = true;
        scheduleRefresh();
        return;
    }
    if (refreshTimer_.isActive())
        return;
    refreshTimer_.start(int(kReadingRefreshMs - since));
}

void TrendChartView::refreshIfDue()
{
    if (refreshDue_)
        refresh();
}

void TrendChartView::setAxes(double xMin, double xMax, double yMin, double yMax)
{
    // A single point still gets an extent to sit in.
    if (xMax <= xMin) {
        xMin -= 0.5;
        xMax = xMin + 1;
    }
    if (yMax <= yMin) {
        yMin -= 0.5;
        yMax = yMin + 1;
    }
    const int columns = std::max(1, int(chart_->plotArea().width()));
    const int rows = std::max(1, int(chart_->plotArea().height()));
    settingAxes_ = true;
    SetRange(axisX_, xMin, xMax, NiceStep(xMax - xMin, std::clamp(columns / 70, 1, 10)));
    SetRange(axisY_, yMin, yMax, NiceStep(yMax - yMin, std::clamp(rows / 30, 1, 12)));
    settingAxes_ = false;
}

void TrendChartView::refresh()
{
    refreshTimer_.stop();
    refreshDue_ = false;
    lastRefresh_.start();
    const PlotState before = plotState();
    const int columns = std::max(1, int(chart_->plotArea().width()));
    if (model_.page() != shownPage_ || model_.PointsPerPage != shownPointsPerPage_) {
        zoomed_ = false;
        shownPage_ = model_.page();
        shownPointsPerPage_ = model_.PointsPerPage;
    }
    ChartRange range;
    if (zoomed_) {
        range = model_.range(axisX_->min(), axisX_->max(), columns);
        setAxes(axisX_->min(), axisX_->max(), axisY_->min(), axisY_->max());  // ticks for the zoomed ranges
    } else {
        range = model_.pageRange(columns);
        setAxes(range.axisMin, range.axisMax, model_.axisMinimum(), model_.axisMaximum());
    }
    const bool area = model_.shownSeries() == TrendChart::kAreaSeries;
    const bool reduced = range.isReduced();
    // The area is filled under the points, or under the columns' maxima.
    Show(areaUpper_, area ? (reduced ? range.band.upper : range.points) : QList<QPointF>());
    Show(series1_, area || reduced ? QList<QPointF>() : range.points);
    Show(bandUpper_, reduced ? range.band.upper : QList<QPointF>());
    Show(bandLower_, reduced ? range.band.lower : QList<QPointF>());
    if (reduced) {
        // One pixel of outline keeps a column whose minimum is its maximum in sight.
        const QColor colour = area ? kAreaLine : kLine;
        band_->setPen(QPen(colour, 1));
        band_->setBrush(colour);
    }
    series2_->setVisible(area);
    series1_->setVisible(!area && !reduced);
    band_->setVisible(reduced);
    if (gridLines_) gridLines_->follow();
    if (areaStrips_) areaStrips_->follow();
    // A reading added to the page changes the series from the last point
    // before it on: the scene would paint each series' whole extent again,
    // from the plot's left edge. The view is told to paint that strip alone,
    // and to pass over what the scene reports until the scene has handled
    // these changes.
    // A layout still to come (a new window, a new size) moves things later:
    // the scene reports it all, and should the plot have moved by the time
    // the scene is done, the view paints itself whole.
    // A later refresh in the same turn that changes more than a strip is
    // caught the same way: the plot is then not what the last strip left.
    const PlotState now = plotState();
    // The axes' lines are made anew with new ticks or a new plot.
    if (PlotState frame = Frame(now); !(frame == cachedFrame_)) {
        cacheStraightLines();
        cachedFrame_ = std::move(frame);
    }
    if (!chart_->layout()->isActivated()) return;
    const std::optional<QRect> strip = changedStrip(before, now);
    if (!strip) return;
    stripShown_ = now;
    viewport()->update(*strip);
    if (stripPending_) return;
    stripPending_ = true;
    normalUpdateMode_ = viewportUpdateMode();
    setViewportUpdateMode(NoViewportUpdate);
    QMetaObject::invokeMethod(
        this,
        [this] {
            stripPending_ = false;
            setViewportUpdateMode(normalUpdateMode_);
            if (!(plotState() == stripShown_)) viewport()->update();
        },
        Qt::QueuedConnection);
}

TrendChartView::PlotState TrendChartView::Frame(PlotState state)
{
    for (QList<QPointF>& p : state.points) p.clear();
    return state;
}

TrendChartView::PlotState TrendChartView::plotState() const
{
    PlotState s;
    s.xMin = axisX_->min();
    s.xMax = axisX_->max();
    s.yMin = axisY_->min();
    s.yMax = axisY_->max();
    s.xStep = axisX_->tickInterval();
    s.yStep = axisY_->tickInterval();
    s.area = series2_->isVisible();
    s.line = series1_->isVisible();
    s.band = band_->isVisible();
    s.plotArea = chart_->plotArea();
    const QLineSeries* series[4] = {areaUpper_, series1_, bandUpper_, bandLower_};
    for (int i = 0; i < 4; ++i) s.points[i] = series[i]->points();
    return s;
}

std::optional<QRect> TrendChartView::changedStrip(const PlotState& before, const PlotState& now) const
{
    if (!(Frame(before) == Frame(now)) || now.xMax <= now.xMin || now.plotArea.isEmpty()) return std::nullopt;
    // From the last point both have in common before the first that differs,
    // to the right end of either.
    double from = std::numeric_limits<double>::infinity(), to = -from;
    for (int i = 0; i < 4; ++i) {
        const QList<QPointF>& was = before.points[i];
        const QList<QPointF>& is = now.points[i];
        qsizetype same = 0;
        while (same < was.size() && same < is.size() && was[same] == is[same]) ++same;
        if (same == was.size() && same == is.size()) continue;
        if (same == 0 || is.size() < was.size()) return std::nullopt;  // not an addition at the right end
        from = std::min(from, is[same - 1].x());
        to = std::max({to, is.last().x(), was.last().x()});
    }
    if (from > to) return QRect();  // nothing changed
    const QRectF& plot = now.plotArea;
    const auto x = [&](double value) { return plot.left() + (value - now.xMin) / (now.xMax - now.xMin) * plot.width(); };
    // A few pixels either side hold the line's end and the area's edge; the
    // series are drawn within the plot.
    constexpr double kMargin = 3;
    const QRectF inChart(QPointF(x(from) - kMargin, plot.top() - 1), QPointF(x(to) + kMargin, plot.bottom() + 1));
    return mapFromScene(chart_->mapToScene(inChart)).boundingRect() & viewport()->rect();
}

void TrendChartView::cacheStraightLines()
{
    // The axes' lines, ticks and grid lines stay where they are from one
    // reading to the next while the series change under them: each is drawn
    // once into a picture of its own and copied from then on, instead of
    // stroked, dashes and all, at every repaint of the plot. The chart makes
    // new ones when an axis changes.
    for (QGraphicsItem* item : chart_->childItems())
        cacheStraightLines(item);
}

void TrendChartView::setGridLinesInOnePicture(bool together)
{
    if (gridLines_) gridLines_->setInPlace(together);
}

void TrendChartView::setAreaDrawnInStrips(bool inStrips)
{
    if (areaStrips_) areaStrips_->setInPlace(inStrips);
}

void TrendChartView::cacheStraightLines(QGraphicsItem* item)
{
    if (item->type() == QGraphicsLineItem::Type && item->cacheMode() == QGraphicsItem::NoCache)
        item->setCacheMode(QGraphicsItem::DeviceCoordinateCache);
    for (QGraphicsItem* child : item->childItems())
        cacheStraightLines(child);
}

// ---- Events ---------------------------------------------------------------------

bool TrendChartView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == host_ && event->type() == QEvent::Resize)
        setGeometry(host_->rect());
    return QChartView::eventFilter(watched, event);
}

void TrendChartView::paintEvent(QPaintEvent* event)
{
    // The chart lays its lines out when it is laid out itself, which may
    // come after the last refresh.
    if (gridLines_) gridLines_->follow();
    QChartView::paintEvent(event);
}

void TrendChartView::resizeEvent(QResizeEvent* event)
{
    setMargins();
    QChartView::resizeEvent(event);
    scheduleRefresh();  // the number of pixel columns changed
}

void TrendChartView::setMargins()
{
    // 1 % at the left and the bottom.
    chart_->setMargins(QMargins(int(std::lround(width() * 0.01)), kToolbarHeight, 8, int(std::lround(height() * 0.01))));
}

void TrendChartView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        // Back to the whole page.
        zoomed_ = false;
        refresh();
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
    if (zoomed_)
        refresh();
}
