// The dial's work for one frame, offscreen: KDsetup, KDrun(Z), KDrun(p) as the decoder calls
// them, with the set and limits unchanged (the usual frame) and with them changing.
#include "display/LimitAlarm.h"
#include "meter/ScaleSet.h"
#include "display/ScaleView.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

struct Dial {
    ScaleSet set = ScaleSet::Set6();
    LimitState limits;
    bool maxOn = true, minOn = true;
    ScaleView view{set, limits};

    Dial()
    {
        limits.MaxLimit = 3000;
        limits.MinLimit = -4500;
        view.resize(318, 139);
        view.setLimitChecks([this] { return maxOn; }, [this] { return minOn; });
        view.KDsetup();
    }
    void Frame(int32_t p)
    {
        view.KDsetup();
        view.KDrun(set.ScaleZero);
        view.KDrun(p);
    }
};

// Readings sweeping the dial, so that the needle moves every frame.
int32_t Position(int64_t i, const ScaleSet& set)
{
    return int32_t((i * 37) % (10 * set.ScaleDivisions + 1));
}

void BM_DialFrameUnchanged(benchmark::State& state)
{
    Dial d;
    int64_t i = 0;
    for (auto _ : state)
        d.Frame(Position(i++, d.set));
}
BENCHMARK(BM_DialFrameUnchanged)->Unit(benchmark::kMicrosecond)->Repetitions(5)->DisplayAggregatesOnly(true);

void BM_DialFrameUnchangedPainted(benchmark::State& state)
{
    Dial d;
    d.view.show();
    int64_t i = 0;
    for (auto _ : state) {
        d.Frame(Position(i++, d.set));
        d.view.repaint();
    }
}
BENCHMARK(BM_DialFrameUnchangedPainted)->Unit(benchmark::kMicrosecond)->Repetitions(5)->DisplayAggregatesOnly(true);

// The unit moves between volts and hertz every frame: the dial is drawn anew each time.
void BM_DialFrameChangedSet(benchmark::State& state)
{
    Dial d;
    int64_t i = 0;
    for (auto _ : state) {
        d.set = (i & 1) ? ScaleSet::Set10() : ScaleSet::Set6();
        d.Frame(Position(i++, d.set));
    }
}
BENCHMARK(BM_DialFrameChangedSet)->Unit(benchmark::kMicrosecond)->Repetitions(5)->DisplayAggregatesOnly(true);

// A limit edit: KDsetup alone with a new limit.
void BM_DialLimitChanged(benchmark::State& state)
{
    Dial d;
    int64_t i = 0;
    for (auto _ : state) {
        d.limits.MaxLimit = float(1000 + (i++ % 50) * 100);
        d.view.KDsetup();
    }
}
BENCHMARK(BM_DialLimitChanged)->Unit(benchmark::kMicrosecond)->Repetitions(5)->DisplayAggregatesOnly(true);

}  // namespace
