// The printed report as it comes out of a PDF file: pages, band positions,
// the font; the records it lists while the table changes; the print job's
// page runs, cancelling and failures.
#include "ReportSupport.h"

#include <QFile>
#include <QPrinter>

#include <cmath>

namespace {

TEST(ReadingReport, PagesHoldThirtySevenLinesBetweenHeadersAndFooter)
{
    struct Case {
        int records;
        int pages;
    } cases[] = {{0, 0}, {1, 1}, {37, 1}, {38, 2}, {100, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.records);
        LogTable log(c.records);
        auto report = std::make_shared<const ReadingReport>(log.table);
        EXPECT_EQ(report->pageCount(), c.pages);
        const QString pdf = log.path("report.pdf");
        EXPECT_EQ(SaveReportPdf(report, pdf), ReportPrintJob::Outcome::Done);
        if (c.pages == 0) {
            EXPECT_FALSE(QFile::exists(pdf));  // no pages, no file
            continue;
        }
        EXPECT_EQ(PdfPages(pdf), c.pages);
        // Every page: the title, the captions and the footer; then its own records in order.
        const std::vector<PdfWord> words = PdfWords(pdf);
        for (int page = 1; page <= c.pages; ++page) {
            QStringList texts, numbers;
            for (const PdfWord& w : words)
                if (w.page == page) {
                    texts << w.text;
                    if (std::abs(w.left - 18.47) < 0.5 && w.top > 30 && w.top < 276)
                        numbers << w.text;
                }
            EXPECT_EQ(texts.count("Title"), 1);
            EXPECT_EQ(texts.count("Foot"), 1);
            for (const char* caption : ReadingReport::kCaptions)
                EXPECT_EQ(texts.count(caption), 1) << caption;
            QStringList expected;
            for (int no = (page - 1) * 37 + 1; no <= std::min(page * 37, c.records); ++no)
                expected << QString::number(no);
            EXPECT_EQ(numbers, expected) << "page " << page;
        }
    }
}

TEST(ReadingReport, BandsSitWhereTheLayoutPutsThemOnAnA4Page)
{
    LogTable log(37);
    auto report = std::make_shared<const ReadingReport>(log.table);
    const QString pdf = log.path("report.pdf");
    ASSERT_EQ(SaveReportPdf(report, pdf), ReportPrintJob::Outcome::Done);
    const QString info = RunTool("pdfinfo", {pdf});
    EXPECT_TRUE(info.contains("(A4)")) << info.toStdString();

    // Millimetres from the paper's corner: 10 mm margin, then the bands.
    const QString time1 = QString::fromLatin1(log.table.cellText(0, 1)).section(' ', 0, 0);
    struct Case {
        QString text;
        double left, top;
    } cases[] = {
        {"Data", -1, 10 + 2.12},  // the title: its centre is checked below
        {"No", 10 + 8.47, 10 + 10.58 + 4.23},
        {"Time", 10 + 33.87, 10 + 10.58 + 4.23},
        {"DC/AC", 10 + 64.29, 10 + 10.58 + 4.23},
        {"Value", 10 + 99.48, 10 + 10.58 + 4.23},
        {"Unit", 10 + 132.29, 10 + 10.58 + 4.23},
        {"AUTO", 10 + 162.98, 10 + 10.58 + 4.23},
        {"1", 10 + 8.47, 10 + 21.16 + 2.12},
        {time1, 10 + 33.87, 10 + 21.16 + 2.12},
        {"DC", 10 + 65.62, 10 + 21.16 + 2.12},
        {"1.234", 10 + 99.48, 10 + 21.16 + 2.12},
        {"k*", 10 + 131.23, 10 + 21.16 + 2.12},
        {"MANU", 10 + 162.98, 10 + 21.16 + 2.12},
        {"37", 10 + 8.47, 10 + 21.16 + 36 * 6.61 + 2.12},
        {"Foot", -1, 10 + 277 - 10.58 + 4.23},
    };
    const std::vector<PdfWord> words = PdfWords(pdf);
    auto nearest = [&](const Case& c) {
        const PdfWord* best = nullptr;
        for (const PdfWord& w : words)
            if (w.text == c.text && (!best || std::abs(w.top - c.top) < std::abs(best->top - c.top)))
                best = &w;
        return best;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const PdfWord* w = nearest(c);
        ASSERT_TRUE(w);
        EXPECT_NEAR(w->top, c.top, 0.3);
        if (c.left >= 0) {
            EXPECT_NEAR(w->left, c.left, 0.3);
        }
    }
    // The title is centred across the band; the footer starts at 8.47 mm.
    double titleLeft = 1e9, titleRight = 0, footLeft = 1e9;
    for (const PdfWord& w : words) {
        if (w.top < 20) {
            titleLeft = std::min(titleLeft, w.left);
            titleRight = std::max(titleRight, w.right);
        } else if (w.top > 276) {
            footLeft = std::min(footLeft, w.left);
        }
    }
    EXPECT_NEAR((titleLeft + titleRight) / 2, 10 + 189.97 / 2, 0.5);
    EXPECT_LT(titleRight - titleLeft, 35.45);  // the title fits its box
    EXPECT_NEAR(footLeft, 10 + 8.47, 0.3);
}

TEST(ReadingReport, EveryTextIsInTheEmbeddedLcdFont)
{
    LogTable log(3);
    const QString pdf = log.path("report.pdf");
    ASSERT_EQ(SaveReportPdf(std::make_shared<const ReadingReport>(log.table), pdf), ReportPrintJob::Outcome::Done);
    // pdffonts: two heading lines, then one line per font: name ... emb sub uni ...
    const QStringList lines = RunTool("pdffonts", {pdf}).split('\n', Qt::SkipEmptyParts).mid(2);
    ASSERT_FALSE(lines.isEmpty());
    for (const QString& line : lines) {
        SCOPED_TRACE(line.toStdString());
        const QStringList cols = line.split(' ', Qt::SkipEmptyParts);
        EXPECT_TRUE(cols.first().endsWith("SEGO-A2"));
        EXPECT_TRUE(cols.contains("yes"));  // emb (and sub) yes
    }
}

TEST(ReadingReport, ListsTheRecordsTheTableHeldWhenItWasMade)
{
    struct Case {
        const char* name;
        std::function<void(LogTable&)> change;
        bool copies;
    } cases[] = {
        {"append", [](LogTable& l) { l.add(4, "9.999"); l.add(5); }, false},
        {"delete after the listed", [](LogTable& l) { l.add(4); l.table.deleteRecord(3); }, false},
        {"delete a listed one", [](LogTable& l) { l.table.deleteRecord(0); l.add(9, "9.999"); }, true},
        {"New empties the table", [](LogTable& l) { l.table.empty(); l.add(1, "9.999"); }, true},
        {"close", [](LogTable& l) { l.table.close(); }, true},
        {"closed and opened again", [](LogTable& l) {
             l.table.close();
             l.table.open();
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogTable log(3);
        log.table.setCurrentRecord(0);
        auto report = std::make_shared<const ReadingReport>(log.table);
        EXPECT_EQ(log.table.currentRecord(), 2);  // the walk ends on the last record
        QStringList before;
        for (size_t row = 0; row < 3; ++row)
            for (int col = 0; col < ReportRecords::kColumns; ++col)
                before << report->records().text(row, col);
        c.change(log);
        EXPECT_EQ(report->records().isCopy(), c.copies);
        ASSERT_EQ(report->records().size(), 3u);
        QStringList after;
        for (size_t row = 0; row < 3; ++row)
            for (int col = 0; col < ReportRecords::kColumns; ++col)
                after << report->records().text(row, col);
        EXPECT_EQ(after, before);
    }
}

TEST(ReadingReport, OutlivesItsTableAndMakesNoPagesFromAClosedOne)
{
    auto log = std::make_unique<LogTable>(2);
    auto report = std::make_shared<const ReadingReport>(log->table);
    const QString no = report->records().text(1, 0);
    log.reset();
    EXPECT_EQ(report->records().text(1, 0), no);
    EXPECT_EQ(no, "2");

    ReadingTable closed;
    EXPECT_EQ(ReadingReport(closed).pageCount(), 0);
}

TEST(ReportPrintJob, PagesFollowTheRangeCopiesAndOrderOfThePrintDialog)
{
    struct Case {
        const char* name;
        int from, to, copies;
        bool collate, lastFirst;
        std::vector<int> pages;
    } cases[] = {
        {"all", 0, 0, 1, false, false, {0, 1, 2, 3}},
        {"range", 2, 3, 1, false, false, {1, 2}},
        {"range beyond the last page", 3, 9, 1, false, false, {2, 3}},
        {"collated copies", 2, 3, 2, true, false, {1, 2, 1, 2}},
        {"uncollated copies", 2, 3, 2, false, false, {1, 1, 2, 2}},
        {"last page first", 0, 0, 1, false, true, {3, 2, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);  // makes no copies itself
        if (c.from > 0) {
            printer.setPrintRange(QPrinter::PageRange);
            printer.setFromTo(c.from, c.to);
        }
        printer.setCopyCount(c.copies);
        printer.setCollateCopies(c.collate);
        printer.setPageOrder(c.lastFirst ? QPrinter::LastPageFirst : QPrinter::FirstPageFirst);
        EXPECT_EQ(ReportPrintJob::pagesFor(printer, 4), c.pages);
    }
}

TEST(ReportPrintJob, ACancelledOrFailedSaveLeavesWhatWasThere)
{
    LogTable log(200);
    auto report = std::make_shared<const ReadingReport>(log.table);
    QFile blocker(log.path("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    // Cancelled after some pages: the old file keeps its bytes.
    const QString old = log.path("old.pdf");
    QFile f(old);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("old");
    f.close();
    std::unique_ptr<ReportPrintJob> job(ReportPrintJob::toPdfFile(report, old, ReportPrintJob::allPages(report->pageCount())));
    job->setPagesPerTurn(1);
    std::optional<ReportPrintJob::Outcome> outcome;
    QObject::connect(job.get(), &ReportPrintJob::finished, [&](ReportPrintJob::Outcome o, const QString&) { outcome = o; });
    job->start();
    ASSERT_TRUE(RunUntil([&] { return job->pagesDone() >= 2; }));
    job->cancel();
    ASSERT_TRUE(RunUntil([&] { return outcome.has_value(); }));
    EXPECT_EQ(*outcome, ReportPrintJob::Outcome::Cancelled);
    EXPECT_LT(job->pagesDone(), report->pageCount());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "old");
    EXPECT_EQ(QDir(log.dir.path()).entryList(QDir::Files).size(), 3);  // table, file, old.pdf: no leftovers

    // A target that cannot be written: a message, and no file.
    for (const QString& bad : {log.path("missing/report.pdf"), log.path("file/report.pdf")}) {
        SCOPED_TRACE(bad.toStdString());
        QString error;
        EXPECT_EQ(SaveReportPdf(report, bad, &error), ReportPrintJob::Outcome::Failed);
        EXPECT_TRUE(error.startsWith("Could not save the report to " + bad)) << error.toStdString();
        EXPECT_FALSE(QFile::exists(bad));
    }
}

}  // namespace
