// The CSV files:
// - one frame through the window with the CSV log off and on (painting, the
//   journal attached), and one record posted with and without it, away from
//   the window: the file log's share of a frame;
// - Export CSV of a log of 1 M records (processor time, the disk's sync aside);
// - the bytes a reading costs in memory with its timestamp: the log's record
//   and stamp and the chart's point together.
#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <vector>

#include "app/TFCOMM.h"
#include "chart/TrendChart.h"
#include "platform/Beeper.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "record/CsvExport.h"
#include "record/CsvLog.h"
#include "record/Recorder.h"
#include "ui_TFCOMM.h"

#include "bench/support/BenchRuns.h"
#include "bench/support/RecordingRig.h"
#include "support/NullSeams.h"
#include "support/WindowParts.h"

namespace {

// Dialogs that show nothing and choose `folder` in a folder dialog.
class FolderDialogs final : public IDialogs {
public:
    QString folder;
    void showMessage(const QString&) override {}
    DialogButton ask(const QString&, DialogButtons) override { return DialogButton::Ok; }
    void showError(const QString&) override {}
    std::optional<QString> openFileName(const QString&, const QString&) override { return {}; }
    std::optional<QString> saveFileName(const QString&, const QString&, const QString&) override { return {}; }
    std::optional<QString> folderName(const QString&) override { return folder; }
    bool setUpPrinter(QPrinter&, int) override { return false; }
};

void BM_WindowFrameCsvLog(benchmark::State& state)
{
    QTemporaryDir dir;
    paradox::writeTableFile(QDir(dir.path()).filePath("Queltdb.DB").toStdString(), ReadingLogSchema(),
                            paradox::RowStore(ReadingLogSchema().recordSize));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    FolderDialogs dialogs;
    dialogs.folder = QDir(dir.path()).filePath("logs");
    SilentBeeper beeper;
    SystemClock clock;
    NoHidBackend hid;
    TFCOMM window(AppServices{dialogs, beeper, clock, hid, {}});  // no serial port
    QDir::setCurrent(previous);
    Parts(window).recorderState.RecordLimit = kLimitless;
    if (state.range(1))
        Parts(window).ui->RecordLogCsv1->trigger();
    window.show();
    QApplication::processEvents();

    std::vector<uint8_t> stream;
    for (int i = 0; i < 1000; ++i) {
        const std::vector<uint8_t> run = BenchRun(i);
        stream.insert(stream.end(), run.begin(), run.end());
    }
    size_t offset = 0;
    for (auto _ : state) {
        window.ReceiveData(stream.data() + offset, 14);
        offset = (offset + 14) % stream.size();
        if (state.range(0))
            QApplication::processEvents();  // with painting
        else
            QCoreApplication::sendPostedEvents();
    }
    state.counters["records"] = double(Parts(window).readingTable.recordCount());
    state.counters["csv_log"] = Parts(window).ui->RecordLogCsv1->isChecked() ? 1 : 0;
}
BENCHMARK(BM_WindowFrameCsvLog)
    ->ArgNames({"paint", "csv"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_PostRecordCsvLog(benchmark::State& state)
{
    RecordingRig rig;
    CsvLog log(rig.table);
    if (state.range(0))
        log.start(QDir(rig.dir.path()).filePath("logs").toStdString());
    for (auto _ : state) {
        rig.clock.advance(1);
        rig.Record();
        if (rig.table.recordCount() >= 1000000) {
            state.PauseTiming();
            rig.recorder.New();
            state.ResumeTiming();
        }
        if (log.pendingBytes() > 0 && rig.table.recordCount() % 4096 == 0)
            log.flush();  // the timer's batch, without an event loop
    }
}
BENCHMARK(BM_PostRecordCsvLog)
    ->ArgName("csv")
    ->Arg(0)
    ->Arg(1)
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ExportCsv(benchmark::State& state)
{
    RecordingRig rig;
    while (int64_t(rig.table.recordCount()) < state.range(0)) {
        rig.clock.advance(500);
        rig.Record();
    }
    const std::string file = QDir(rig.dir.path()).filePath("export.csv").toStdString();
    for (auto _ : state)
        exportTableCsv(rig.table, file);
    state.counters["records"] = double(rig.table.recordCount());
    state.counters["file_MiB"] = double(QFileInfo(QString::fromStdString(file)).size()) / (1 << 20);
}
BENCHMARK(BM_ExportCsv)->Arg(1000000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(3);

void BM_BytesPerDatedReading(benchmark::State& state)
{
    for (auto _ : state) {
        RecordingRig rig;
        TrendChart chart;
        for (int64_t i = 0; i < state.range(0); ++i) {
            rig.clock.advance(500);
            rig.Record();
            chart.Add(int32_t(i % 6000));
        }
        state.counters["bytes_per_reading"] = double(rig.table.memoryBytes() + chart.memoryBytes()) / double(state.range(0));
    }
}
BENCHMARK(BM_BytesPerDatedReading)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
