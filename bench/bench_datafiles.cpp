// The log's data files at 1,000,000 records: saving as text, saving a table
// copy, and opening a saved table as the log. Each write includes flushing
// the file to disk before it replaces the old one.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include "record/DataFiles.h"
#include "record/paradox/ParadoxTable.h"
#include "record/ReadingLog.h"
#include "record/ReadingTable.h"
#include "record/Recorder.h"

namespace {

constexpr int kRecords = 1000000;

// A log of a million readings, one every 0.3 s from 08:00, as the recorder writes them.
std::string MakeBigLog(const QTemporaryDir& dir)
{
    const paradox::Schema s = ReadingLogSchema();
    auto f = [&](const char* name) { return s.fields[size_t(s.find(name))]; };
    paradox::RowStore rows(s.recordSize);
    for (int i = 0; i < kRecords; ++i) {
        uint8_t* r = rows.append();
        paradox::setInteger(r, f("No"), i + 1);
        paradox::setInteger(r, f("Time"), (8 * 3600 * 1000 + i * 300) % 86400000);
        paradox::setText(r, f("DC/AC"), "DC");
        paradox::setText(r, f("Value"), std::to_string(1000 + i % 5000).insert(1, "."));
        paradox::setText(r, f("Unit"), "V");
        paradox::setText(r, f("AUTO"), "AUTO");
        paradox::setFloat(r, f("Nval"), 1000 + i % 5000);
    }
    const std::string path = QDir(dir.path()).filePath("big.db").toStdString();
    paradox::writeTableFile(path, s, rows);
    return path;
}

struct BigLog {
    QTemporaryDir dir;
    std::string path = MakeBigLog(dir);
    ReadingTable table;
    ReadingLog log{table};
    BigLog() { log.open(path); }
    std::string Out(const char* name) const { return QDir(dir.path()).filePath(name).toStdString(); }
};

void BM_ExportTableText(benchmark::State& state)
{
    BigLog big;
    for (auto _ : state)
        ExportTableText(big.table, big.Out("log.txt"));
    state.counters["records"] = kRecords;
}
BENCHMARK(BM_ExportTableText)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->ReportAggregatesOnly(true);

void BM_CopyTableToFile(benchmark::State& state)
{
    BigLog big;
    for (auto _ : state)
        CopyTableToFile(big.table, big.Out("copy.db"));
    state.counters["records"] = kRecords;
}
BENCHMARK(BM_CopyTableToFile)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->ReportAggregatesOnly(true);

// Open old data files: the million-record table replaces a small log.
void BM_OpenAsTheLog(benchmark::State& state)
{
    BigLog big;
    const std::string small = big.Out("small.db");
    paradox::writeTableFile(small, ReadingLogSchema(), paradox::RowStore(ReadingLogSchema().recordSize));
    for (auto _ : state) {
        state.PauseTiming();
        big.log.open(small);
        state.ResumeTiming();
        big.log.open(big.path);
    }
    state.counters["records"] = double(big.table.recordCount());
}
BENCHMARK(BM_OpenAsTheLog)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace
