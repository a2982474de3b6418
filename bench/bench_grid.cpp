// The cost of appending one record to the reading log and having the grid
// show it, with the log already holding 10 or 1,000,000 pending records.
#include <benchmark/benchmark.h>

#include <QApplication>

#include "record/grid/ReadingGridDelegate.h"
#include "record/grid/ReadingGridView.h"
#include "record/grid/ReadingTableModel.h"
#include "bench/support/RecordingRig.h"

namespace {

void BM_GridAppend(benchmark::State& state)
{
    RecordingRig rig;
    const int64_t before = state.range(0);
    for (int64_t i = 0; i < before; ++i) rig.Record();

    ReadingTableModel model(rig.table);
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
        rig.Record();
        QApplication::processEvents();  // the grid follows and paints
    }
}
BENCHMARK(BM_GridAppend)->Arg(10)->Arg(1000000)->Unit(benchmark::kMicrosecond)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace
