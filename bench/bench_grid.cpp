// The cost of appending one record to the reading log and having the grid
// show it, with the log already holding 10 or 1,000,000 pending records.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTime>

#include "display/Reading.h"
#include "platform/Clock.h"

#include "record/ReadingGridDelegate.h"
#include "record/ReadingGridView.h"
#include "record/ReadingTable.h"
#include "record/ReadingTableModel.h"
#include "record/Recorder.h"
#include "tests/support/NullSeams.h"

namespace {

void BM_GridAppend(benchmark::State& state)
{
    QTemporaryDir dir;
    const std::string path = QDir(dir.path()).filePath("Queltdb.DB").toStdString();
    paradox::writeTableFile(path, ReadingLogSchema(), paradox::RowStore(ReadingLogSchema().recordSize));
    ReadingTable table;
    table.setTableName(path);
    table.open();
    // Records go in as the recorder writes them.
    RecorderState recorderState;
    recorderState.RecordLimit = kLimitless;
    FixedClock clock;
    Recorder recorder(recorderState, table, clock);
    Reading reading;
    reading.ValueText = "1.234";
    reading.CountValue = 1234;
    reading.UnitText = "V";
    reading.CouplingText = "DC";
    reading.RangeModeText = "AUTO";
    const RecorderControls controls;
    const int64_t before = state.range(0);
    for (int64_t i = 0; i < before; ++i) recorder.INDataToTable(reading, controls);

    ReadingTableModel model(table);
    ReadingGridView grid;
    grid.setModel(&model);
    grid.setItemDelegate(new ReadingGridDelegate(&grid));
    grid.resize(289, 175);
    QObject::connect(&model, &ReadingTableModel::currentRowChanged, &grid, [&grid](int row) {
        const QModelIndex index = grid.model()->index(row, 0);
        grid.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        grid.scrollTo(index);
    });
    grid.show();
    QApplication::processEvents();

    for (auto _ : state) {
        recorder.INDataToTable(reading, controls);
        QApplication::processEvents();  // the grid follows and paints
    }
}
BENCHMARK(BM_GridAppend)->Arg(10)->Arg(1000000)->Unit(benchmark::kMicrosecond)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace
