// The cost of one record posted by the recorder, with and without the log's
// journal, away from the window: the journal's share of a frame. Processor
// time is the whole process's, so the journal's sync thread counts too.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTime>

#include "display/Reading.h"
#include "platform/Clock.h"
#include "record/ReadingJournal.h"
#include "record/ReadingTable.h"
#include "record/Recorder.h"
#include "tests/support/NullSeams.h"

namespace {

void BM_PostRecord(benchmark::State& state)
{
    QTemporaryDir dir;
    const std::string path = QDir(dir.path()).filePath("Queltdb.DB").toStdString();
    paradox::writeTableFile(path, ReadingLogSchema(), paradox::RowStore(ReadingLogSchema().recordSize));
    ReadingTable table;
    ReadingJournal journal(table);
    table.setTableName(path);
    table.open();
    if (!state.range(0))
        journal.detach(ReadingJournal::End::Remove);

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
    for (auto _ : state) {
        recorder.INDataToTable(reading, controls);
        if (table.recordCount() >= 1000000) {  // a bounded log: the journal's share, not the store's growth
            state.PauseTiming();
            recorder.New();
            state.ResumeTiming();
        }
    }
    state.counters["journal_bytes_per_record"] =
        double(ReadingJournal::PostEntrySize(ReadingLogSchema().recordSize));
}
BENCHMARK(BM_PostRecord)
    ->ArgName("journal")
    ->Arg(0)
    ->Arg(1)
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
