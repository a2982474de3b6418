// The LCD panel's work for one frame, offscreen, in the decoder's order:
// Reset, ShowSymbols, ShowDigits, bar maximum and position. Once with the
// same reading every frame (a steady meter) and once with the reading, its
// flags and the bar changing every frame.
#include "display/LcdPanel.h"
#include "meter/Reading.h"
#include "ui_TFCOMM.h"

#include <QApplication>
#include <QMainWindow>
#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

struct Lcd {
    QMainWindow window;
    Ui::TFCOMM ui;
    std::unique_ptr<LcdPanel> panel;
    Lcd()
    {
        ui.setupUi(&window);
        panel = std::make_unique<LcdPanel>(ui.Panel1, ui.PBar2);
    }
    void Frame(const Reading& r, int barMax, int barPos)
    {
        panel->Reset();
        panel->ShowSymbols(r);
        panel->ShowDigits(r);
        panel->SetBarMaximum(barMax);
        panel->SetBarPosition(barPos);
    }
};

Reading Volts(const char* digits, bool negative)
{
    Reading r;
    r.Digit1 = digits[0];
    r.Digit2 = digits[1];
    r.Digit3 = digits[2];
    r.Digit4 = digits[3];
    if (negative) r.SignText.push_back('-');
    r.PointPos = 1;
    r.Flags.set(Flag::Auto);
    r.Flags.set(Flag::Dc);
    r.Flags.set(Flag::Volt);
    return r;
}

void BM_LcdFrameSteady(benchmark::State& state)
{
    Lcd lcd;
    const Reading r = Volts("1234", false);
    for (auto _ : state) lcd.Frame(r, 60, 12);
}
BENCHMARK(BM_LcdFrameSteady)->Unit(benchmark::kMicrosecond)->Repetitions(5)->DisplayAggregatesOnly(true);

void BM_LcdFrameChanging(benchmark::State& state)
{
    Lcd lcd;
    Reading a = Volts("1234", false);
    Reading b = Volts("5678", true);
    b.PointPos = 3;
    b.Flags.set(Flag::Milli);
    b.Flags.set(Flag::Hold);
    b.Flags.set(Flag::Auto, false);
    int64_t i = 0;
    for (auto _ : state) {
        const bool odd = (i++ & 1) != 0;
        lcd.Frame(odd ? b : a, 60, odd ? 56 : 12);
    }
}
BENCHMARK(BM_LcdFrameChanging)->Unit(benchmark::kMicrosecond)->Repetitions(5)->DisplayAggregatesOnly(true);

// As above, with the window shown and the panel and bar painted after each frame.
void BM_LcdFrameChangingPainted(benchmark::State& state)
{
    Lcd lcd;
    lcd.window.show();
    Reading a = Volts("1234", false);
    Reading b = Volts("5678", true);
    b.Flags.set(Flag::Milli);
    int64_t i = 0;
    for (auto _ : state) {
        const bool odd = (i++ & 1) != 0;
        lcd.Frame(odd ? b : a, 60, odd ? 56 : 12);
        lcd.ui.Panel1->repaint();
        lcd.ui.PBar2->repaint();
    }
}
BENCHMARK(BM_LcdFrameChangingPainted)->Unit(benchmark::kMicrosecond)->Repetitions(5)->DisplayAggregatesOnly(true);

}  // namespace
