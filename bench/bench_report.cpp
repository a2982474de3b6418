// The printed report of a log of 1,000,000 records (27,028 pages):
// - BM_PreviewFirstPage: from the Print command to the preview's first page
//   painted (the report made from the table, the window shown and painted);
// - BM_ReportPdf: the whole report saved as PDF through the preview, with its
//   progress box, as the user does it. Counters: the pages, the file's size,
//   the memory in use before and at most during the save, and the longest
//   wait of the event loop between two of its turns (what a reading arriving
//   meanwhile waits at most).
// - BM_KeepListedRecords: the copy a report takes of its million records when
//   the log changes under it (New, delete, opening another file) while the
//   preview is open.
// Run one benchmark per process (--benchmark_filter) for a clean memory figure.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"
#include "report/ReadingReport.h"
#include "record/ReadingTable.h"
#include "record/Recorder.h"
#include "report/ReportPageView.h"
#include "report/ReportPreview.h"
#include "report/ReportPrintJob.h"
#include "support/SampleLog.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace {

constexpr int kRecords = 1000000;

class AnsweringDialogs final : public IDialogs {
public:
    QString saveAs;
    void showMessage(const QString& text) override { qWarning("%s", qPrintable(text)); }
    DialogButton ask(const QString&, DialogButtons) override { return DialogButton::Ok; }
    void showError(const QString& text) override { qWarning("%s", qPrintable(text)); }
    std::optional<QString> openFileName(const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> saveFileName(const QString&, const QString&, const QString&) override { return saveAs; }
    std::optional<QString> folderName(const QString&) override { return std::nullopt; }
    bool setUpPrinter(QPrinter&, int) override { return false; }
};

// Resident memory of this process in MiB.
double residentMiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// A log table of a million records, opened as the program opens it.
struct MillionRecordLog {
    QTemporaryDir dir;
    ReadingTable table;
    MillionRecordLog()
    {
        const std::string path = QDir(dir.path()).filePath("Queltdb.DB").toStdString();
        WriteSampleLog(path, kRecords);
        table.setTableName(path);
        table.open();
    }
};

MillionRecordLog& log()
{
    static MillionRecordLog the;
    return the;
}

void BM_PreviewFirstPage(benchmark::State& state)
{
    ReadingTable& table = log().table;
    AnsweringDialogs dialogs;
    ErrorReport errors(dialogs);
    const double before = residentMiB();
    double most = before;
    int pages = 0;
    for (auto _ : state) {
        ReportPreview* preview = ReportPreview::open(table, dialogs, errors, nullptr);
        while (preview->pageView()->lastPaintedPages().empty())
            QApplication::processEvents();
        state.PauseTiming();
        pages = preview->report().pageCount();
        most = std::max(most, residentMiB());
        delete preview;
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["pages"] = pages;
    state.counters["rss_before_MiB"] = before;
    state.counters["rss_growth_MiB"] = most - before;
}
BENCHMARK(BM_PreviewFirstPage)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_KeepListedRecords(benchmark::State& state)
{
    ReadingTable& table = log().table;
    for (auto _ : state)
        benchmark::DoNotOptimize(table.copyRecords(kRecords));
}
BENCHMARK(BM_KeepListedRecords)->Unit(benchmark::kMillisecond);

void BM_ReportPdf(benchmark::State& state)
{
    ReadingTable& table = log().table;
    AnsweringDialogs dialogs;
    ErrorReport errors(dialogs);
    QTemporaryDir out;
    dialogs.saveAs = QDir(out.path()).filePath("log.pdf");
    const double before = residentMiB();
    double most = before;
    qint64 longestWait = 0;
    int pages = 0;
    for (auto _ : state) {
        ReportPreview* preview = ReportPreview::open(table, dialogs, errors, nullptr);
        pages = preview->report().pageCount();
        preview->saveAsPdf();
        // A timer of its own stands for the readings: it runs whenever the
        // event loop turns.
        QElapsedTimer sinceTurn;
        sinceTurn.start();
        QTimer turn;
        QObject::connect(&turn, &QTimer::timeout, [&] {
            longestWait = std::max(longestWait, sinceTurn.restart());
            most = std::max(most, residentMiB());
        });
        turn.start(0);
        while (preview->job())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        turn.stop();
        delete preview;
    }
    state.counters["pages"] = pages;
    state.counters["pdf_MiB"] = double(QFileInfo(dialogs.saveAs).size()) / (1024.0 * 1024.0);
    state.counters["rss_before_MiB"] = before;
    state.counters["rss_peak_MiB"] = most;
    state.counters["longest_wait_ms"] = double(longestWait);
}
BENCHMARK(BM_ReportPdf)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
