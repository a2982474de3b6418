// The cost of a reading and of a chart picture against the length of the
// history, with the window offscreen:
// - one frame with the grid and the chart following and painting, with 10,
//   1 M and 10 M records in the log and points in the chart;
// - redrawing the chart: a page of 100 points, and all 10 M points on one page;
// - the bytes a reading costs in the log and the chart together.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QAreaSeries>
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QLineSeries>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/TFCOMM.h"
#include "meter/Reading.h"
#include "platform/Beeper.h"
#include "platform/Dialogs.h"
#include "record/Recorder.h"
#include "chart/TrendChartView.h"
#include "ui_TFCOMM.h"
#include "support/FakeClock.h"
#include "support/NullSeams.h"
#include "support/WindowParts.h"

namespace {

// One 14-byte run of the meter: millivolts, DC, auto range, point after the
// second digit; the digits change from frame to frame.
std::vector<uint8_t> Run(int i)
{
    const int count = (i * 37) % 6000;
    const std::string d = std::to_string(1000000 + count).substr(3);
    return {0x0A, '+', uint8_t(d[0]), uint8_t(d[1]), uint8_t(d[2]), uint8_t(d[3]), 0x20, '2',
            0x30, 0x00, 0x40, 0x80, 0x00, 0x0D};
}

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 10, '\n');
    }
    return 0;
}

// The window with a log of n records and a chart of n points. Filling ten
// million takes a while, so the last one built is kept for the next run.
struct World {
    QTemporaryDir dir;
    SilentDialogs dialogs;
    SilentBeeper beeper;
    FakeClock clock;
    NoHidBackend hid;
    std::unique_ptr<TFCOMM> window;
    int64_t readings = 0;
    long residentBeforeKiB = 0, residentAfterKiB = 0;
    int next = 0;

    explicit World(int64_t n) : readings(n)
    {
        paradox::writeTableFile(QDir(dir.path()).filePath("Queltdb.DB").toStdString(), ReadingLogSchema(),
                                paradox::RowStore(ReadingLogSchema().recordSize));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        window = std::make_unique<TFCOMM>(AppServices{dialogs, beeper, clock, hid, {}});  // no serial port
        QDir::setCurrent(previous);
        // Past the record menu's "limitless", so every frame still writes.
        Parts(*window).recorderState.RecordLimit = INT32_MAX;
        window->show();
        Frame();  // the first frame starts the range, and a new chart
        QApplication::processEvents();

        // The history is filled without the log's journal, which would write
        // it all to disk; the frames measured below go through a new journal.
        Parts(*window).journal.detach(ReadingJournal::End::Remove);
        residentBeforeKiB = ResidentKiB();
        Recorder recorder(Parts(*window).recorderState, Parts(*window).readingTable, clock);
        Reading reading;
        reading.ValueText = "12.34";
        reading.CountValue = 1234;
        reading.UnitText = "mV";
        reading.CouplingText = "DC";
        reading.RangeModeText = "AUTO";
        while (int64_t(Parts(*window).readingTable.recordCount()) < n)
            recorder.INDataToTable(reading, RecorderControls{});
        for (int64_t i = Parts(*window).chart.pointCount(); i < n; ++i)
            Parts(*window).chart.Add(int32_t((i * 37) % 6000));
        QApplication::processEvents();
        residentAfterKiB = ResidentKiB();
        Parts(*window).journal.attach();
    }

    ~World()
    {
        // The last world outlives the application at exit: its widgets cannot
        // be taken down any more, only its files.
        if (!QCoreApplication::instance())
            (void)window.release();
    }

    void Frame()
    {
        const std::vector<uint8_t> run = Run(next++);
        window->ReceiveData(run.data(), int32_t(run.size()));
    }
};

World& WorldOf(int64_t n)
{
    static std::unique_ptr<World> world;
    if (!world || world->readings != n) {
        world.reset();  // free the last one before building the next
        world = std::make_unique<World>(n);
    }
    return *world;
}

void Counters(benchmark::State& state, World& w)
{
    const double n = double(Parts(*w.window).readingTable.recordCount());
    state.counters["records"] = n;
    state.counters["points"] = double(Parts(*w.window).chart.pointCount());
    state.counters["bytes_per_reading"] =
        double(Parts(*w.window).readingTable.memoryBytes() + Parts(*w.window).chart.memoryBytes()) / n;
    state.counters["rss_MiB"] = double(w.residentAfterKiB) / 1024;
    state.counters["rss_bytes_per_reading"] = double(w.residentAfterKiB - w.residentBeforeKiB) * 1024 / n;
}

// One frame through the window, painted: framing, decode, panel, dial,
// recorder with the grid following and the log's journal, the chart following
// its last page. Processor time is the whole process's.
void BM_FrameWithGridAndChart(benchmark::State& state)
{
    World& w = WorldOf(state.range(0));
    for (auto _ : state) {
        w.Frame();
        QApplication::processEvents();
    }
    Counters(state, w);
}
BENCHMARK(BM_FrameWithGridAndChart)
    ->Arg(10)
    ->Arg(1000000)
    ->Arg(10000000)
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Giving Qt Charts the page in sight and painting the whole chart.
void Redraw(benchmark::State& state, const char* pointsPerPage)
{
    World& w = WorldOf(state.range(0));
    Parts(*w.window).ui->Maxrecord->setText(pointsPerPage);
    Parts(*w.window).chartView->Last();
    Parts(*w.window).chartView->refresh();
    QImage picture(Parts(*w.window).chartView->size(), QImage::Format_RGB32);
    for (auto _ : state) {
        Parts(*w.window).chartView->refresh();
        QPainter painter(&picture);
        Parts(*w.window).chartView->render(&painter);
    }
    const QAreaSeries* band = Parts(*w.window).chartView->band();
    state.counters["points_drawn"] = double(Parts(*w.window).chartView->Series2()->upperSeries()->count() +
                                            band->upperSeries()->count() + band->lowerSeries()->count());
    Parts(*w.window).ui->Maxrecord->setText("100");
}

void BM_RedrawPageOf100(benchmark::State& state) { Redraw(state, "100"); }
BENCHMARK(BM_RedrawPageOf100)->Arg(10000000)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_RedrawAllOnOnePage(benchmark::State& state) { Redraw(state, "0"); }
BENCHMARK(BM_RedrawAllOnOnePage)->Arg(10000000)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
