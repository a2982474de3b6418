// The cost of appending one record to the reading log and having the grid
// show it, with the log already holding 10 or 1,000,000 pending records.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QTableView>
#include <QTemporaryDir>
#include <QTime>
#include <cstdlib>

#include "record/ReadingGridDelegate.h"
#include "record/ReadingTable.h"
#include "record/ReadingTableModel.h"
#include "record/Recorder.h"
#include "record/RowIndicatorHeader.h"

namespace {

void AppendOne(ReadingTable& table, int32_t no)
{
    table.append();
    table.setFieldString("Value", "1.234");
    table.setFieldFloat("Nval", 1234);
    table.setFieldTime("Time", QTime(12, 34, 56));
    table.setFieldInteger("No", no);
    table.setFieldString("DC/AC", "DC");
    table.setFieldString("Unit", "V");
    table.setFieldString("AUTO", "AUTO");
    table.post();
}

void BM_GridAppend(benchmark::State& state)
{
    QTemporaryDir dir;
    const std::string path = QDir(dir.path()).filePath("Queltdb.DB").toStdString();
    paradox::writeTableFile(path, ReadingLogSchema(), paradox::RowStore(ReadingLogSchema().recordSize));
    ReadingTable table;
    table.setTableName(path);
    table.open();
    const int64_t before = state.range(0);
    for (int64_t i = 0; i < before; ++i) AppendOne(table, int32_t(i + 1));

    ReadingTableModel model(table);
    QTableView grid;
    auto* indicator = new RowIndicatorHeader(&grid);
    grid.setVerticalHeader(indicator);
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

    int32_t no = int32_t(before);
    for (auto _ : state) {
        AppendOne(table, ++no);
        QApplication::processEvents();  // the grid follows and paints
    }
}
BENCHMARK(BM_GridAppend)->Arg(10)->Arg(1000000)->Unit(benchmark::kMicrosecond)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace
