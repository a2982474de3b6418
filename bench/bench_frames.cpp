// Frames per second through the plain framing and the pure decode, and through
// the window's whole per-frame work with the window offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>
#include <vector>

#include "display/FrameDecoder.h"
#include "link/serial/FrameAssembler.h"

namespace {

std::vector<uint8_t> Stream(int frames)
{
    std::vector<uint8_t> out;
    const char* digits[] = {"0123", "4567", "5999", "0001", "?0:?"};
    for (int i = 0; i < frames; ++i) {
        const char* d = digits[i % 5];
        const uint8_t run[14] = {0x0A, uint8_t(i & 1 ? '-' : '+'), uint8_t(d[0]), uint8_t(d[1]),
                                 uint8_t(d[2]), uint8_t(d[3]), 0x20, '2', 0x20, 0x00, 0x40, 0x80,
                                 uint8_t(i % 42), 0x0D};
        out.insert(out.end(), run, run + 14);
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
        scale = d.scale;
        benchmark::DoNotOptimize(d.chartValue);
        ++decoded;
    };
    for (auto _ : state)
        assembler.RECEIVE_COM_Data(stream.data(), int32_t(stream.size()));
    state.SetItemsProcessed(decoded);
    state.counters["us_per_frame"] = benchmark::Counter(
        double(decoded), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["us_per_frame"] = state.counters["us_per_frame"] * 1e6;
}
BENCHMARK(BM_FramingAndDecode);

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
