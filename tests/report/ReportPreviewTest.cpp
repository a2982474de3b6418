// The preview window: pages drawn on demand, the way through them, printing
// and saving through the dialogs, the progress box; and the Print command of
// the window while readings keep arriving.
#include "ReportSupport.h"

#include "app/WindowFixture.h"
#include "report/ReportPageView.h"
#include "report/ReportPreview.h"
#include "platform/ErrorReport.h"

#include <QAction>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolBar>
#include <utility>

namespace {

void Trigger(ReportPreview& preview, const char* action)
{
    QAction* a = preview.findChild<QAction*>(action);
    ASSERT_TRUE(a) << action;
    a->trigger();
}

// Dark pixels in the middle of the view: whether a page shows there.
int DarkPixels(QWidget* viewport)
{
    const QImage image = viewport->grab().toImage();
    int dark = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            dark += qGray(image.pixel(x, y)) < 80;
    return dark;
}

TEST(ReportPreview, DrawsOnlyThePagesInViewAndFindsAnyPage)
{
    LogTable log(20000);  // 541 pages
    FakeDialogs dialogs;
    ErrorReport errors(dialogs);
    ReportPreview preview(std::make_shared<const ReadingReport>(log.table), dialogs, errors);
    preview.resize(700, 900);
    preview.show();
    ReportPageView* view = preview.pageView();
    EXPECT_GT(DarkPixels(view->viewport()), 0);
    EXPECT_EQ(view->pageCount(), 541);
    EXPECT_EQ(view->lastPaintedPages(), std::vector<int>({0}));
    EXPECT_EQ(preview.findChild<QSpinBox*>()->value(), 1);
    EXPECT_TRUE(preview.findChildren<QLabel*>().first()->text().contains("of 541"));

    struct Step {
        std::function<void()> act;
        int page;
    } steps[] = {
        {[&] { Trigger(preview, "lastPage"); }, 540},
        {[&] { Trigger(preview, "previousPage"); }, 539},
        {[&] { preview.findChild<QSpinBox*>()->setValue(300); }, 299},
        {[&] { Trigger(preview, "zoomIn"); }, 299},
        {[&] { Trigger(preview, "wholePage"); }, 299},
        {[&] { view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd); }, 300},
        {[&] { Trigger(preview, "firstPage"); }, 0},
        {[&] { Trigger(preview, "nextPage"); }, 1},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.page);
        s.act();
        EXPECT_EQ(view->currentPage(), s.page);
        EXPECT_EQ(preview.findChild<QSpinBox*>()->value(), s.page + 1);
        view->viewport()->grab();
        const std::vector<int>& painted = view->lastPaintedPages();
        ASSERT_FALSE(painted.empty());
        EXPECT_LE(painted.size(), 3u);
        EXPECT_TRUE(std::find(painted.begin(), painted.end(), s.page) != painted.end());
    }
}

// Close lies in sight, its button wholly inside the window, whatever the page
// count and window width.
void ExpectCloseInSight(ReportPreview& preview)
{
    QCoreApplication::processEvents();
    auto* close = preview.findChild<QAction*>("close");
    ASSERT_TRUE(close);
    QWidget* button = nullptr;
    for (QToolBar* bar : preview.findChildren<QToolBar*>())
        if (bar->actions().contains(close)) button = bar->widgetForAction(close);
    ASSERT_TRUE(button);
    EXPECT_TRUE(button->isVisible());
    const QRect placed(button->mapTo(&preview, QPoint(0, 0)), button->size());
    EXPECT_TRUE(preview.rect().contains(placed)) << placed.x() << "+" << placed.width() << " in " << preview.width();
    EXPECT_GE(button->width(), QFontMetrics(button->font()).horizontalAdvance(close->text()));
}

TEST(ReportPreview, CloseStaysInSightAtEveryPageCount)
{
    LogTable log(1000259);  // 27,035 pages
    FakeDialogs dialogs;
    ErrorReport errors(dialogs);
    ReportPreview preview(std::make_shared<const ReadingReport>(log.table), dialogs, errors);
    ASSERT_EQ(preview.report().pageCount(), 27035);
    preview.show();
    for (int width : {820, 600, 400}) {
        SCOPED_TRACE(width);
        preview.resize(width, 600);
        ExpectCloseInSight(preview);
    }
    // The page box and count as wide as six digits make them (a report of
    // 37 million records is not made here for it).
    preview.findChild<QSpinBox*>()->setRange(1, 999999);
    preview.findChild<QSpinBox*>()->setValue(999999);
    preview.findChildren<QLabel*>().first()->setText(" of 999999 ");
    for (int width : {820, 400}) {
        SCOPED_TRACE(width);
        preview.resize(width, 600);
        ExpectCloseInSight(preview);
    }
    Trigger(preview, "close");
    EXPECT_FALSE(preview.isVisible());
}

TEST(ReportPreview, PrintsTheRangeAndCopiesChosenInThePrintDialog)
{
    LogTable log(100);
    FakeDialogs dialogs;
    ErrorReport errors(dialogs);
    ReportPreview preview(std::make_shared<const ReadingReport>(log.table), dialogs, errors);
    const QString pdf = log.path("printed.pdf");
    dialogs.printSetUp = [&](QPrinter& printer) {
        EXPECT_EQ(printer.pageLayout().pageSize().id(), QPageSize::A4);
        EXPECT_EQ(printer.pageLayout().margins(QPageLayout::Millimeter), QMarginsF(10, 10, 10, 10));
        EXPECT_EQ(printer.copyCount(), 1);
        EXPECT_EQ(printer.printRange(), QPrinter::AllPages);
        printer.setOutputFileName(pdf);  // "print to file"
        printer.setPrintRange(QPrinter::PageRange);
        printer.setFromTo(2, 3);
        printer.setCopyCount(2);
        printer.setCollateCopies(true);
        return true;
    };
    Trigger(preview, "print");
    EXPECT_EQ(dialogs.printPageCounts, QList<int>({3}));
    ASSERT_TRUE(RunUntil([&] { return !preview.job(); }));
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    ASSERT_EQ(PdfPages(pdf), 4);
    QStringList firstOnPage;
    for (const PdfWord& w : PdfWords(pdf))
        if (std::abs(w.top - 33.28) < 0.3 && std::abs(w.left - 18.47) < 0.3)
            firstOnPage << w.text;
    EXPECT_EQ(firstOnPage, QStringList({"38", "75", "38", "75"}));

    // Cancelled in the dialog: nothing printed.
    dialogs.printSetUp = nullptr;
    Trigger(preview, "print");
    EXPECT_FALSE(preview.job());
}

TEST(ReportPreview, SavingShowsItsProgressAndStopsWhenCancelled)
{
    LogTable log(2000);  // 55 pages
    FakeDialogs dialogs;
    ErrorReport errors(dialogs);
    ReportPreview preview(std::make_shared<const ReadingReport>(log.table), dialogs, errors);
    preview.show();
    const QString pdf = log.path("report.pdf");

    dialogs.files = {pdf};
    Trigger(preview, "savePdf");
    EXPECT_EQ(dialogs.filters.last(), "PDF files|*.pdf");
    ASSERT_TRUE(preview.job());
    preview.job()->setPagesPerTurn(1);
    QProgressDialog* box = preview.progressBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->maximum(), 55);
    EXPECT_FALSE(preview.findChild<QAction*>("print")->isEnabled());  // one job at a time
    ASSERT_TRUE(RunUntil([&] { return box->value() >= 3; }));
    QPushButton* cancel = box->findChild<QPushButton*>();
    ASSERT_TRUE(cancel);
    cancel->click();
    ASSERT_TRUE(RunUntil([&] { return !preview.job(); }));
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_TRUE(preview.findChild<QAction*>("print")->isEnabled());

    // Saved whole.
    dialogs.files = {pdf};
    Trigger(preview, "savePdf");
    ASSERT_TRUE(RunUntil([&] { return !preview.job(); }, 60000));
    EXPECT_EQ(PdfPages(pdf), 55);

    // A folder that is not there: the message says so.
    dialogs.files = {log.path("missing/report.pdf")};
    Trigger(preview, "savePdf");
    ASSERT_TRUE(RunUntil([&] { return !preview.job(); }));
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Could not save the report to ")) << dialogs.messages[0].toStdString();
}

TEST(ReportPreview, ClosingThePreviewStopsItsPrint)
{
    LogTable log(2000);
    FakeDialogs dialogs;
    ErrorReport errors(dialogs);
    auto* preview = new ReportPreview(std::make_shared<const ReadingReport>(log.table), dialogs, errors);
    const QString pdf = log.path("report.pdf");
    dialogs.files = {pdf};
    Trigger(*preview, "savePdf");
    preview->job()->setPagesPerTurn(1);
    ASSERT_TRUE(RunUntil([&] { return preview->job()->pagesDone() >= 1; }));
    delete preview;
    QCoreApplication::processEvents();
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_EQ(QDir(log.dir.path()).entryList(QDir::Files), QStringList({"Queltdb.DB"}));
}

TEST(ReportPreview, AFailedCommandGoesToTheGeneralReportOneBoxAtATime)
{
    LogTable log(3);
    FakeDialogs dialogs;
    ErrorReport errors(dialogs);
    ReportPreview preview(std::make_shared<const ReadingReport>(log.table), dialogs, errors);
    // Whatever the command throws is caught, and a failure while its report is
    // open is counted, not stacked.
    dialogs.printSetUp = [](QPrinter&) -> bool { throw 1; };
    bool again = true;
    dialogs.whileOpen = [&] {
        if (!dialogs.errors.isEmpty() && std::exchange(again, false))
            Trigger(preview, "print");
    };
    Trigger(preview, "print");
    EXPECT_EQ(dialogs.errors, QStringList{"Unknown failure"});
    EXPECT_EQ(dialogs.printPageCounts.size(), 2);
    EXPECT_EQ(errors.Suppressed(), 1);
    EXPECT_FALSE(errors.IsOpen());
}

TEST(PrintCommand, AnEmptyOrClosedLogPreviewsWithoutPagesOrErrors)
{
    for (bool closed : {false, true}) {
        SCOPED_TRACE(closed);
        WindowFixture f;
        if (closed)
            Parts(*f.w).readingTable.close();
        Parts(*f.w).ui->BtPrint->click();
        ReportPreview* preview = f.w->reportPreview();
        ASSERT_TRUE(preview);
        EXPECT_TRUE(preview->isVisible());
        EXPECT_EQ(preview->report().pageCount(), 0);
        EXPECT_FALSE(preview->findChild<QAction*>("print")->isEnabled());
        EXPECT_FALSE(preview->findChild<QAction*>("savePdf")->isEnabled());
        EXPECT_TRUE(f.dialogs.errors.isEmpty());
        EXPECT_TRUE(f.dialogs.messages.isEmpty());
    }
}

TEST(PrintCommand, ListsTheLogAsItWasWhileReadingsKeepArriving)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    for (int i = 0; i < 80; ++i)
        f.Feed(MeterRun('+', "1234", '1'));
    Parts(w).ui->DBGrid1->setCurrentIndex(Parts(w).ui->DBGrid1->model()->index(0, 0));
    Parts(w).ui->BtPrint->click();
    ReportPreview* preview = w.reportPreview();
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->report().pageCount(), 3);
    EXPECT_EQ(preview->windowModality(), Qt::WindowModal);
    QCoreApplication::processEvents();
    EXPECT_EQ(Parts(w).ui->DBGrid1->currentIndex().row(), 79);  // the grid ends on the last record

    // Readings arrive between the pages of the save and are recorded.
    const QString pdf = QDir(f.workDir.path()).filePath("log.pdf");
    f.dialogs.files = {pdf};
    preview->findChild<QAction*>("savePdf")->trigger();
    preview->job()->setPagesPerTurn(1);
    int arrivedDuringSave = 0;
    QTimer meter;
    QObject::connect(&meter, &QTimer::timeout, [&] {
        if (preview->job()) {
            f.Feed(MeterRun('+', "5678", '1'));
            ++arrivedDuringSave;
        }
    });
    meter.start(0);
    ASSERT_TRUE(RunUntil([&] { return !preview->job(); }));
    meter.stop();
    EXPECT_GT(arrivedDuringSave, 0);
    EXPECT_EQ(Parts(w).readingTable.recordCount(), size_t(80 + arrivedDuringSave));

    // New empties the log; the report still lists the 80 records it began with.
    w.RecordNewClick();
    EXPECT_EQ(preview->report().records().size(), 80u);
    f.dialogs.files = {pdf};
    preview->findChild<QAction*>("savePdf")->trigger();
    ASSERT_TRUE(RunUntil([&] { return !preview->job(); }));
    EXPECT_EQ(PdfPages(pdf), 3);
    QStringList values;
    for (const PdfWord& word : PdfWords(pdf))
        if (std::abs(word.left - (10 + 99.48)) < 0.3 && word.top > 30 && word.top < 276)
            values << word.text;
    EXPECT_EQ(values.size(), 80);
    EXPECT_EQ(values.count("1.234"), 80);

    // A second Print replaces the preview.
    QPointer<ReportPreview> first = preview;
    Parts(w).ui->BtPrint->click();
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(w.reportPreview()->report().pageCount(), 0);
}

}  // namespace
