// The cost of one record posted by the recorder, with and without the log's
// journal, away from the window: the journal's share of a frame. Processor
// time is the whole process's, so the journal's sync thread counts too.
#include <benchmark/benchmark.h>

#include "record/ReadingJournal.h"
#include "bench/support/RecordingRig.h"

namespace {

void BM_PostRecord(benchmark::State& state)
{
    RecordingRig rig;
    ReadingJournal journal(rig.table);
    if (state.range(0))
        journal.attach();
    for (auto _ : state) {
        rig.Record();
        if (rig.table.recordCount() >= 1000000) {  // a bounded log: the journal's share, not the store's growth
            state.PauseTiming();
            rig.recorder.New();
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
