// The trend chart in the window: what the frames plot, and the commands of
// the chart's toolbar and menu.
#include "WindowFixture.h"

#include <QAction>
#include <QAreaSeries>
#include <QCheckBox>
#include <QFile>
#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPaintEvent>
#include <QPainter>
#include <QTest>
#include <QToolButton>
#include <QValueAxis>

#include "chart/TrendChartView.h"
#include "chart/PageNumberBox.h"
#include "support/ScreenGrab.h"

#include <algorithm>
#include <cmath>

namespace {

TEST(Chart, EachFramePlotsItsChartValue)
{
    const struct {
        const char* name;
        std::vector<uint8_t> run;
        int32_t plotted;
    } cases[] = {
        {"Reading", MeterRun('-', "1234", '1', 0, 0, 0, 0x80), -1234},
        {"PositiveOverload", MeterRun('+', "?0:?", '2', 0, 0, 0, 0x80), 6000},
        {"NegativeOverload", MeterRun('-', "?0:?", '2', 0, 0, 0, 0x80), -6000},
        {"OverloadOnTheHertzSet", MeterRun('+', "?0:?", '0', 0, 0, 0, 0x08), 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WindowFixture f;
        f.Feed(c.run);
        // The first frame is a range change: a new chart, then the point.
        ASSERT_EQ(Parts(*f.w).chart.pointCount(), 2);
        EXPECT_EQ(Parts(*f.w).chart.value(1), c.plotted);
        // The vertical axis keeps the start-up set.
        QCoreApplication::processEvents();
        EXPECT_EQ(Parts(*f.w).chartView->verticalAxis()->max(), 6000);
        EXPECT_EQ(Parts(*f.w).chartView->verticalAxis()->min(), -6000);
    }
}

TEST(Chart, TheViewHoldsOnlyThePageItShows)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    w.show();  // laid out: a plot wider than the page's points
    for (int i = 0; i < 250; ++i) f.Feed(MeterRun('+', i % 2 ? "0100" : "0200"));
    QCoreApplication::processEvents();
    // 251 points on pages of 100; following, with the area series shown.
    EXPECT_EQ(Parts(w).ui->Bt10->text(), "3");
    const QList<QPointF> shown = Parts(w).chartView->Series2()->upperSeries()->points();
    ASSERT_EQ(shown.size(), 51);
    EXPECT_EQ(shown.front().x(), 200);
    EXPECT_EQ(Parts(w).chartView->Series1()->count(), 0);
    EXPECT_FALSE(Parts(w).chartView->band()->isVisible());  // the area draws its own outline
    EXPECT_EQ(Parts(w).chartView->horizontalAxis()->min(), 200);
    EXPECT_EQ(Parts(w).chartView->horizontalAxis()->max(), 299);

    // Every point on one page: reduced to a band over the pixel columns. The
    // axis never holds the wide range with the narrow page's tick step (an
    // item a tick: millions of them for a long history).
    QValueAxis* axis = Parts(w).chartView->horizontalAxis();
    double mostTicks = 0;
    QObject::connect(axis, &QValueAxis::rangeChanged, axis,
                     [&](qreal min, qreal max) { mostTicks = std::max(mostTicks, (max - min) / axis->tickInterval()); });
    Parts(w).ui->Maxrecord->setText("0");
    for (int i = 0; i < 5000; ++i) f.Feed(MeterRun('+', i % 2 ? "0100" : "0200"));
    QCoreApplication::processEvents();
    EXPECT_EQ(Parts(w).ui->Bt10->text(), "1");
    // The area is filled under each column's maximum, and the band from each
    // column's minimum to its maximum lies over it in the area's line colour.
    EXPECT_LE(Parts(w).chartView->Series2()->upperSeries()->count(), 2 * Parts(w).chartView->width());
    EXPECT_TRUE(Parts(w).chartView->band()->isVisible());
    EXPECT_LE(Parts(w).chartView->band()->upperSeries()->count(), 2 * Parts(w).chartView->width());
    EXPECT_EQ(Parts(w).chartView->band()->pen(), Parts(w).chartView->Series2()->pen());
    // Without the fill, the band alone, in the line's colour.
    Click(Parts(w).ui->BtFill);
    QCoreApplication::processEvents();
    EXPECT_TRUE(Parts(w).chartView->band()->isVisible());
    EXPECT_FALSE(Parts(w).chartView->Series1()->isVisible());
    EXPECT_EQ(Parts(w).chartView->band()->pen(), Parts(w).chartView->Series1()->pen());
    EXPECT_EQ(Parts(w).chartView->horizontalAxis()->max(), 5250);
    EXPECT_LE(mostTicks, 20);
}

// The chart as drawn on screen, and the colour of what a series paints.
QImage ChartPicture(TrendChartView& view)
{
    view.refresh();
    QImage picture(view.size(), QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    view.render(&painter, QRectF(picture.rect()), view.viewport()->rect());
    return picture;
}

// A long history of a signal of constant amplitude on one page is a band of
// constant height: every pixel column of the plot shows the whole swing, in
// both series, at the window's size and enlarged.
TEST(Chart, ManyPointsOnOnePageDrawABandOfTheirWholeExtent)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    w.show();
    Parts(w).ui->Maxrecord->setText("0");
    constexpr int32_t kAmplitude = 5000;
    for (int i = 0; i < 230000; ++i)
        Parts(w).chartView->Add(int32_t(std::lround(kAmplitude * std::sin(i * 0.1))));
    const struct {
        const char* name;
        bool fill, enlarged;
        QColor colour;  // of the series' line
    } cases[] = {
        {"Area", true, false, QColor(0, 128, 255)},
        {"Line", false, false, QColor(128, 255, 0)},
        {"AreaEnlarged", true, true, QColor(0, 128, 255)},
        {"LineEnlarged", false, true, QColor(128, 255, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (Parts(w).ui->BtFill->isChecked() != c.fill) Click(Parts(w).ui->BtFill);
        if ((Parts(w).ui->TbSx->isVisible()) != c.enlarged) Click(c.enlarged ? Parts(w).ui->TbFd : Parts(w).ui->TbSx);
        QCoreApplication::processEvents();
        const QImage picture = ChartPicture(*Parts(w).chartView);
        QChart* chart = Parts(w).chartView->chart();
        const QRectF plot = chart->plotArea();
        const QPointF top = Parts(w).chartView->mapFromScene(chart->mapToPosition(QPointF(0, kAmplitude)));
        const QPointF bottom = Parts(w).chartView->mapFromScene(chart->mapToPosition(QPointF(0, -kAmplitude)));
        int checked = 0;
        // Inside the plot, clear of its edges and the first and last columns.
        for (int x = int(plot.left()) + 3; x < int(plot.right()) - 3; ++x) {
            int first = -1, last = -1;
            for (int y = int(plot.top()); y <= int(plot.bottom()); ++y)
                if (picture.pixelColor(x, y) == c.colour) {
                    if (first < 0) first = y;
                    last = y;
                }
            ASSERT_GE(first, 0) << "column " << x;
            ASSERT_NEAR(first, top.y(), 2) << "column " << x;
            ASSERT_NEAR(last, bottom.y(), 2) << "column " << x;
            // Solid from top to bottom.
            for (int y = first; y <= last; ++y)
                ASSERT_EQ(picture.pixelColor(x, y), c.colour) << "column " << x << " row " << y;
            ++checked;
        }
        EXPECT_GT(checked, 200);
    }
}

TEST(Chart, ItsLinesCopiedFromTheirPicturesAreTheLinesDrawnAfresh)
{
    // The axes' lines, ticks and grid lines are drawn once and copied from
    // then on, the grid lines all together: the chart must look as it does
    // drawn without those copies, each grid line by the chart's own item,
    // through readings, a turn of the page and a change of the window's size
    // (the lines move), and after a new chart.
    WindowFixture f;
    TFCOMM& w = *f.w;
    w.show();
    const auto sameAsDrawnAfresh = [&] {
        QTest::qWait(300);  // the chart follows the readings at its own pace
        QGraphicsScene* scene = Parts(w).chartView->scene();
        const QImage copied = Parts(w).chartView->grab().toImage();
        std::vector<QGraphicsItem*> cached;
        for (QGraphicsItem* item : scene->items())
            if (item->cacheMode() != QGraphicsItem::NoCache) {
                cached.push_back(item);
                item->setCacheMode(QGraphicsItem::NoCache);
            }
        Parts(w).chartView->setGridLinesInOnePicture(false);
        for (QGraphicsItem* item : scene->items())
            if (item->cacheMode() != QGraphicsItem::NoCache) item->setCacheMode(QGraphicsItem::NoCache);
        const QImage fresh = Parts(w).chartView->grab().toImage();
        Parts(w).chartView->setGridLinesInOnePicture(true);
        for (QGraphicsItem* item : cached) item->setCacheMode(QGraphicsItem::DeviceCoordinateCache);
        return std::pair{cached.size(), copied == fresh};
    };
    for (int i = 0; i < 30; ++i) f.Feed(MeterRun('+', i % 2 ? "0100" : "3200"));
    EXPECT_TRUE(sameAsDrawnAfresh().second) << "after 30 readings";
    for (int i = 0; i < 100; ++i) f.Feed(MeterRun('-', "1500"));
    const auto [lines, same] = sameAsDrawnAfresh();
    EXPECT_GT(lines, 20u);  // the axes' lines and ticks, and the grid lines' picture
    EXPECT_TRUE(same) << "on the next page";
    w.resize(w.width() + 60, w.height() + 40);
    EXPECT_TRUE(sameAsDrawnAfresh().second) << "in a larger window";
    f.Feed(MeterRun('+', "0100", '1', 0, 0, 0, 0x40));  // another range: a new chart
    EXPECT_TRUE(sameAsDrawnAfresh().second) << "after a new chart";
}

TEST(Chart, AReadingDueForDrawingIsDrawnWithTheDeliveryThatBroughtIt)
{
    // Once the chart's pause since its last drawing is (nearly) over, a
    // delivery of readings draws it before it returns, to be painted with
    // the rest of the readings' display; sooner, the readings wait for the
    // chart's own pace.
    WindowFixture f;
    TFCOMM& w = *f.w;
    const auto drawn = [&] { return Parts(w).chartView->Series2()->upperSeries()->count(); };
    f.Feed(MeterRun('+', "0100"));
    QTest::qWait(TrendChartView::kReadingRefreshMs + 50);
    const qsizetype before = drawn();
    f.Feed(MeterRun('+', "0200"));
    EXPECT_EQ(drawn(), before + 1);
    f.Feed(MeterRun('+', "0300"));  // at once: it waits
    EXPECT_EQ(drawn(), before + 1);
    QTest::qWait(TrendChartView::kReadingRefreshMs + 50);
    EXPECT_EQ(drawn(), before + 2);
}

TEST(Chart, ReadingsPaintedAsAStripLeaveTheChartAsDrawnAfresh)
{
    // A reading added to the page paints only the strip from the series' last
    // point before it, the area there from the part of its outline that
    // crosses the strip: the view must show the chart as the chart's own
    // items draw it whole, for the area and the line, for a reduced page (a
    // band per column), and across pages and changes of range.
    WindowFixture f;
    TFCOMM& w = *f.w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    TrendChartView* view = Parts(w).chartView;
    QWidget* plot = view->viewport();
    struct PaintWidths : QObject {
        std::vector<int> widths;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint) widths.push_back(static_cast<QPaintEvent*>(e)->rect().width());
            return false;
        }
    } paints;
    plot->installEventFilter(&paints);
    const auto same = [&](const std::string& when) {
        SCOPED_TRACE(when);
        view->refresh();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        // The plot, where the series are: the chart's gradient around it
        // is drawn a little differently by paints of part of it.
        const QRect inPlot = view->mapFromScene(view->chart()->mapToScene(view->chart()->plotArea().adjusted(1, 1, -1, -1))).boundingRect();
        const QImage a = OnScreen(plot).copy(inPlot);
        view->setAreaDrawnInStrips(false);  // drawn whole by the chart's own item
        const QImage b = DrawnAfresh(plot).copy(inPlot);
        view->setAreaDrawnInStrips(true);
        EXPECT_EQ(a, b);
    };
    const char* values[] = {"0100", "5900", "0007", "3000", "3000", "1234", "4321", "0000", "2500"};
    const auto feed = [&](int count, int every, const char* what) {
        for (int i = 0; i < count; ++i) {
            f.Feed(MeterRun(i % 3 ? '+' : '-', values[i % std::size(values)]));
            if (i % every == 0) same(std::string(what) + " " + std::to_string(i));
        }
    };
    feed(130, 1, "area");  // into the second page
    Click(Parts(w).ui->BtFill);  // the line
    feed(60, 1, "line");
    f.Feed(MeterRun('+', "0100", '1', 0, 0, 0, 0x40));  // another range: a new chart
    same("new chart");
    feed(20, 1, "line after a new chart");
    // Strips and a page turn in one turn of the event loop: the page is
    // painted, and the view keeps its own way of following the scene.
    const QGraphicsView::ViewportUpdateMode mode = view->viewportUpdateMode();
    f.Feed(MeterRun('+', "4000"));
    view->refresh();
    f.Feed(MeterRun('+', "4100"));
    view->refresh();
    Parts(w).ui->First1->trigger();
    same("strips and a page turn in one turn");
    EXPECT_EQ(view->viewportUpdateMode(), mode);
    Parts(w).ui->Last1->trigger();
    feed(10, 1, "back on the last page");
    view->setPointsPerPage(2000);  // more points than the plot has columns
    feed(700, 9, "reduced");
    plot->removeEventFilter(&paints);
    const int narrow = int(std::count_if(paints.widths.begin(), paints.widths.end(), [&](int width) { return width < plot->width() / 4; }));
    EXPECT_GT(narrow, 100);  // the strips were painted alone
}

TEST(Chart, PagingButtonsAndMenuItems)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    for (int i = 0; i < 250; ++i) f.Feed(MeterRun('+', "0100"));
    QToolButton* buttons[] = {Parts(w).ui->BtFirst, Parts(w).ui->BTPrevious, Parts(w).ui->BtNext, Parts(w).ui->BTlast};
    auto enabled = [&] {
        std::vector<bool> e;
        for (QToolButton* b : buttons) e.push_back(b->isEnabled());
        return e;
    };
    EXPECT_EQ(enabled(), std::vector<bool>(4, true));

    Click(Parts(w).ui->BtFirst);
    EXPECT_EQ(Parts(w).ui->Bt10->text(), "1");
    EXPECT_EQ(enabled(), (std::vector<bool>{false, false, true, true}));
    // The menu items are never disabled: Previous works while its button does not.
    EXPECT_TRUE(Parts(w).ui->Previous1->isEnabled());
    Parts(w).ui->Next1->trigger();
    Parts(w).ui->Previous1->trigger();
    Parts(w).ui->Previous1->trigger();
    EXPECT_EQ(enabled(), (std::vector<bool>{false, false, true, true}));
    f.Feed(MeterRun('+', "0100"));
    EXPECT_EQ(Parts(w).ui->Bt10->text(), "1");  // not following

    Parts(w).ui->Last1->trigger();
    EXPECT_EQ(Parts(w).ui->Bt10->text(), "3");
    EXPECT_EQ(enabled(), (std::vector<bool>{true, true, false, false}));
    for (int i = 0; i < 60; ++i) f.Feed(MeterRun('+', "0100"));
    EXPECT_EQ(Parts(w).ui->Bt10->text(), "4");
    EXPECT_EQ(enabled(), (std::vector<bool>{true, true, false, false}));
    EXPECT_TRUE(Parts(w).chart.FollowLastPage);
}

TEST(Chart, NewFromTheButtonTheMenuAndARangeChange)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    for (int i = 0; i < 3; ++i) f.Feed(MeterRun('+', "1234", '1', 0, 0, 0, 0x80));
    EXPECT_EQ(Parts(w).chart.pointCount(), 4);
    // Another decimal point: a new chart, then this reading.
    f.Feed(MeterRun('+', "1234", '2', 0, 0, 0, 0x80));
    EXPECT_EQ(Parts(w).chart.pointCount(), 2);
    f.Feed(MeterRun('+', "1234", '2', 0, 0, 0, 0x80));
    Click(Parts(w).ui->BtNew);
    EXPECT_EQ(Parts(w).chart.pointCount(), 1);
    f.Feed(MeterRun('+', "1234", '2', 0, 0, 0, 0x80));
    Parts(w).ui->New1->trigger();
    EXPECT_EQ(Parts(w).chart.pointCount(), 1);
    EXPECT_EQ(Parts(w).chart.value(0), TrendChart::kSampleValue);
}

TEST(Chart, FillTwiceFromTheBoxOrTheMenu)
{
    const struct {
        const char* name;
        const char* clicks;  // b: the box, m: the menu item
    } cases[] = {{"Box", "bb"}, {"Menu", "mm"}, {"Mixed", "bm"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WindowFixture f;
        TFCOMM& w = *f.w;
        f.Feed(MeterRun('+', "0100"));
        bool fill = true;
        for (const char* k = c.clicks; *k; ++k) {
            if (*k == 'b') Click(Parts(w).ui->BtFill);
            else Parts(w).ui->Fill1->trigger();
            fill = !fill;
            QCoreApplication::processEvents();
            EXPECT_EQ(Parts(w).ui->BtFill->isChecked(), fill);
            EXPECT_EQ(Parts(w).ui->Fill1->isChecked(), fill);
            EXPECT_EQ(Parts(w).chart.shownSeries(), fill ? TrendChart::kAreaSeries : TrendChart::kLineSeries);
            EXPECT_EQ(Parts(w).chartView->Series2()->isVisible(), fill);
            EXPECT_EQ(Parts(w).chartView->Series1()->isVisible(), !fill);
            EXPECT_EQ((fill ? Parts(w).chartView->Series2()->upperSeries()->count() : Parts(w).chartView->Series1()->count()), 2);
        }
        EXPECT_TRUE(Parts(w).ui->BtFill->isChecked());
    }
}

TEST(Chart, EnlargeAndRestore)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    w.show();
    QCoreApplication::processEvents();
    QWidget* chart = Parts(w).ui->Chtshow;
    const QRect normal = chart->geometry();
    const int W = Parts(w).ui->centralwidget->width() + TFCOMM::kOuterExtraWidth;
    const int H = Parts(w).ui->centralwidget->height() + TFCOMM::kOuterExtraHeight;

    Click(Parts(w).ui->TbFd);
    EXPECT_EQ(chart->geometry(), QRect(2, 28, W - 12, H - 85));
    EXPECT_FALSE(Parts(w).ui->TbFd->isVisible());
    EXPECT_TRUE(Parts(w).ui->TbSx->isVisible());
    EXPECT_EQ(Parts(w).ui->TbSx->pos(), QPoint(288, 3));
    EXPECT_EQ(Parts(w).chartView->size(), chart->size());

    Click(Parts(w).ui->TbSx);
    EXPECT_EQ(chart->geometry(), normal);
    EXPECT_TRUE(Parts(w).ui->TbFd->isVisible());
    EXPECT_FALSE(Parts(w).ui->TbSx->isVisible());
    EXPECT_EQ(Parts(w).chartView->size(), chart->size());
}

TEST(Chart, SaveTellsThePathThenWritesABitmap)
{
    for (bool enlarged : {false, true}) {
        SCOPED_TRACE(enlarged);
        WindowFixture f;
        TFCOMM& w = *f.w;
        w.show();
        f.Feed(MeterRun('+', "1234"));
        if (enlarged) Click(Parts(w).ui->TbFd);
        const QString path = QDir(f.workDir.path()).filePath("databmp.bmp");
        {
            QFile old(path);  // an older picture is replaced without asking
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("old");
        }
        bool writtenBeforeTheMessageCloses = true;
        f.dialogs.whileOpen = [&] { writtenBeforeTheMessageCloses = QFileInfo(path).size() != 3; };
        {
            InDirectory in(f.workDir.path());
            Click(Parts(w).ui->BtSave);
        }
        EXPECT_EQ(f.dialogs.questions, QStringList{"graphic has saved on " + path});
        EXPECT_FALSE(writtenBeforeTheMessageCloses);
        EXPECT_TRUE(f.dialogs.errors.isEmpty()) << f.dialogs.errors.join("|").toStdString();
        QImageReader reader(path);
        EXPECT_EQ(reader.format(), "bmp");
        const QImage picture = reader.read();
        EXPECT_EQ(picture.size(), Parts(w).ui->Chtshow->size());
        // The chart is in it: the filled area of the reading.
        bool hasArea = false;
        for (int y = 0; y < picture.height() && !hasArea; ++y)
            for (int x = 0; x < picture.width() && !hasArea; ++x)
                hasArea = picture.pixelColor(x, y) == QColor(255, 255, 128);
        EXPECT_TRUE(hasArea);
    }
}

TEST(Chart, SaveThatCannotWriteIsReportedAfterItsMessage)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    const QString path = QDir(f.workDir.path()).filePath("databmp.bmp");
    ASSERT_TRUE(QDir().mkdir(path));  // a folder where the picture should go
    {
        InDirectory in(f.workDir.path());
        Parts(w).ui->Save1->trigger();
    }
    EXPECT_EQ(f.dialogs.questions, QStringList{"graphic has saved on " + path});
    ASSERT_EQ(f.dialogs.errors.size(), 1);
    EXPECT_TRUE(f.dialogs.errors[0].startsWith("Cannot write the picture " + path)) << f.dialogs.errors[0].toStdString();
    EXPECT_TRUE(QFileInfo(path).isDir());
}

TEST(Chart, ADraggedZoomHoldsUntilARightClick)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    w.show();
    for (int i = 0; i < 50; ++i) f.Feed(MeterRun('+', "1000"));
    QCoreApplication::processEvents();
    QWidget* plot = Parts(w).chartView->viewport();
    const QPoint from = plot->rect().center() - QPoint(60, 40);
    const QPoint to = plot->rect().center() + QPoint(60, 40);
    QTest::mousePress(plot, Qt::LeftButton, {}, from);
    QTest::mouseMove(plot, to);
    QTest::mouseRelease(plot, Qt::LeftButton, {}, to);
    ASSERT_TRUE(Parts(w).chartView->zoomed());
    const double zoomedMax = Parts(w).chartView->horizontalAxis()->max();
    EXPECT_LT(zoomedMax - Parts(w).chartView->horizontalAxis()->min(), 99);
    // New readings on the same page keep the zoomed view.
    for (int i = 0; i < 5; ++i) f.Feed(MeterRun('+', "1000"));
    QCoreApplication::processEvents();
    EXPECT_EQ(Parts(w).chartView->horizontalAxis()->max(), zoomedMax);

    QTest::mouseClick(plot, Qt::RightButton, {}, plot->rect().center());
    EXPECT_FALSE(Parts(w).chartView->zoomed());
    EXPECT_EQ(Parts(w).chartView->horizontalAxis()->min(), 0);
    EXPECT_EQ(Parts(w).chartView->horizontalAxis()->max(), 99);
    EXPECT_EQ(Parts(w).chartView->verticalAxis()->max(), 6000);
}

// The columns of the page box where its blue text has ink.
std::pair<int, int> InkColumns(QToolButton* box)
{
    const QImage image = box->grab().toImage();
    int left = image.width(), right = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.blue() - std::max(c.red(), c.green()) > 60) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    return {left, right};
}

TEST(Chart, ThePageBoxShowsThePageNumberWholeOrItsLastDigits)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    w.show();
    QToolButton* box = Parts(w).ui->Bt10;
    const QFont own = box->font();
    PageNumberBox numbers(box);
    const int room = numbers.room();
    ASSERT_GT(room, 0);
    ASSERT_LT(room, box->width());
    const int roomLeft = (box->width() - room) / 2;
    // The text lies wholly in the room the style gives it, ink and advance.
    auto inRoom = [&] {
        EXPECT_LE(QFontMetricsF(box->font()).horizontalAdvance(box->text()), room);
        const auto [left, right] = InkColumns(box);
        EXPECT_GT(left, roomLeft);
        EXPECT_LT(right, roomLeft + room - 1);
    };

    // Followed by the chart, one point a page.
    Parts(w).chartView->setPointsPerPage(1);
    for (int i = 0; i < 1702; ++i) Parts(w).chartView->Add(100);
    QCoreApplication::processEvents();
    ASSERT_EQ(Parts(w).chart.caption(), 1702);
    EXPECT_EQ(box->text(), "1702");
    EXPECT_EQ(box->toolTip(), "Page No. 1702");
    EXPECT_GE(box->font().pixelSize(), PageNumberBox::kSmallestPixelSize);
    inRoom();
    Parts(w).ui->First1->trigger();
    EXPECT_EQ(box->text(), "1");
    EXPECT_EQ(box->font(), own);
    EXPECT_EQ(box->toolTip(), "Page No.");
    inRoom();

    const struct {
        int64_t page;
        const char* shown;  // nullptr: the whole number
    } pages[] = {{99, nullptr}, {1702, nullptr}, {27035, "\u2026035"}, {999999, "\u2026999"}, {10000001, "\u2026001"}, {int64_t(1) << 40, "\u2026776"}};
    for (const auto& c : pages) {
        const QString number = QString::number(c.page);
        SCOPED_TRACE(number.toStdString());
        numbers.show(c.page);
        if (c.shown) {
            // At least the last three digits, after an ellipsis.
            EXPECT_TRUE(box->text().startsWith(QChar(0x2026)));
            EXPECT_TRUE(box->text().endsWith(QString::fromUtf8(c.shown).mid(1)));
            EXPECT_TRUE(number.endsWith(box->text().mid(1)));
            EXPECT_EQ(box->font().pixelSize(), PageNumberBox::kSmallestPixelSize);
        } else {
            EXPECT_EQ(box->text(), number);
        }
        EXPECT_EQ(box->toolTip(), c.page < 100 ? QString("Page No.") : "Page No. " + number);
        inRoom();
    }
}

}  // namespace
