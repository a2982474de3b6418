// The USB cable: input reports per second through the report handler, its
// bursts and the frame decoder; and the processor time a reader spends while
// the meter is silent for 10 s (the Linux backend on a umockdev cable: run
// with LD_PRELOAD=libumockdev-preload.so.0, or it is skipped).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "EmulatedHidBus.h"
#include "platform/LinuxHidBackend.h"
#include "support/DecodingCable.h"
#include "bench/support/BenchRuns.h"

namespace {

using Bytes = std::vector<uint8_t>;

// What the cable sends per frame: 7 + 7 meter bytes (the run's frame, then
// its lead byte), then a report without any, in 8-byte reports.
std::vector<Bytes> FrameReports(int i)
{
    const Bytes run = BenchRun(i);
    Bytes burst(run.begin() + 1, run.end());
    burst.push_back(run[0]);
    return {{0x07, burst[0], burst[1], burst[2], burst[3], burst[4], burst[5], burst[6]},
            {0x07, burst[7], burst[8], burst[9], burst[10], burst[11], burst[12], burst[13]},
            Bytes(8, 0)};
}

void BM_ReportsThroughBursts(benchmark::State& state)
{
    DecodingCable cable;

    std::vector<Bytes> reports;
    for (int i = 0; i < 500; ++i)
        for (Bytes& r : FrameReports(i))
            reports.push_back(std::move(r));
    for (auto _ : state)
        for (const Bytes& r : reports)
            cable.link.HidDataTormo(nullptr, 0, r.data(), uint16_t(r.size()));
    state.SetItemsProcessed(state.iterations() * int64_t(reports.size()));
    state.counters["frames"] = benchmark::Counter(double(cable.decoded), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReportsThroughBursts)->Unit(benchmark::kMillisecond);

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void BM_SilentReaderCpu(benchmark::State& state)
{
    if (!EmulatedHidBus::PreloadActive()) {
        state.SkipWithError("needs LD_PRELOAD=libumockdev-preload.so.0");
        return;
    }
    EmulatedHidBus bus;
    bus.Plug({});
    LinuxHidBackend backend;
    THidDeviceController controller(backend);
    THidDevice* device = controller.CheckOutAt(0);
    if (!device) {
        state.SkipWithError("the emulated cable was not found");
        return;
    }
    device->SetDataHandler(THidDataEvent([](THidDevice*, uint8_t, const uint8_t*, uint16_t) {}, &state));
    double cpu = 0;
    for (auto _ : state) {
        const double before = ProcessCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(10));  // the meter says nothing
        cpu = ProcessCpuSeconds() - before;
        state.SetIterationTime(10);
    }
    controller.ReturnDevice(device);
    // The whole process: the reader and umockdev's own thread that answers it.
    state.counters["cpu_ms_per_10s"] = cpu * 1000;
    state.counters["cpu_percent"] = cpu / 10 * 100;
}
BENCHMARK(BM_SilentReaderCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
