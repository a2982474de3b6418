// Frames per second through the plain framing and the pure decode, and through
// the window's whole per-frame work with the window offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <vector>

#include "app/TFCOMM.h"
#include "platform/Beeper.h"
#include "platform/Dialogs.h"
#include "record/Recorder.h"

#include "meter/FrameDecoder.h"
#include "meter/FrameAssembler.h"
#include "support/NullSeams.h"
#include "support/WindowParts.h"
#include "bench/support/BenchRuns.h"

namespace {

std::vector<uint8_t> Stream(int frames)
{
    std::vector<uint8_t> out;
    for (int i = 0; i < frames; ++i) {
        const std::vector<uint8_t> run = BenchRun(i);
        out.insert(out.end(), run.begin(), run.end());
    }
    return out;
}

void BM_FramingAndDecode(benchmark::State& state)
{
    const std::vector<uint8_t> stream = Stream(1000);
    FrameAssembler assembler;
    ScaleSet scale = ScaleSet::Set6();
    int64_t decoded = 0;
    assembler.onFrame = [&](const std::string& text) {
        const DecodedFrame d = DecodeFrame(text, scale);
        if (!d.Failed())
            scale = d.scale;
        benchmark::DoNotOptimize(d.chartValue);
        ++decoded;
    };
    for (auto _ : state)
        assembler.RECEIVE_COM_Data(stream.data(), int32_t(stream.size()));
    state.SetItemsProcessed(decoded);
    // Inverted rate of frames: the time per frame.
    state.counters["frame_time"] =
        benchmark::Counter(double(decoded), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FramingAndDecode);

// The window's whole work for one frame: framing, decode, LCD panel, alarm and
// MAX/MIN, dial, recorder with its grid and the log's journal, bar. Frames
// alternate between a steady reading and a changing one; the log grows as it
// would while logging. Arguments: paint (the event loop runs after each frame)
// and journal (0: the journal detached, as if there were none). Processor time
// is the whole process's, so the journal's sync thread counts too.
void BM_WindowFrame(benchmark::State& state)
{
    QTemporaryDir dir;
    paradox::writeTableFile(QDir(dir.path()).filePath("Queltdb.DB").toStdString(), ReadingLogSchema(),
                            paradox::RowStore(ReadingLogSchema().recordSize));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    SilentDialogs dialogs;
    SilentBeeper beeper;
    SystemClock clock;
    NoHidBackend hid;
    TFCOMM window(AppServices{dialogs, beeper, clock, hid, {}});  // no serial port
    QDir::setCurrent(previous);
    Parts(window).recorderState.RecordLimit = kLimitless;
    if (!state.range(1))
        Parts(window).journal.detach(ReadingJournal::End::Remove);
    window.show();
    QApplication::processEvents();

    const std::vector<uint8_t> stream = Stream(1000);
    size_t offset = 0;
    for (auto _ : state) {
        window.ReceiveData(stream.data() + offset, 14);
        offset = (offset + 14) % stream.size();
        if (state.range(0)) QApplication::processEvents();  // with painting
    }
    state.counters["records"] = double(Parts(window).readingTable.recordCount());
}
BENCHMARK(BM_WindowFrame)
    ->ArgNames({"paint", "journal"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
