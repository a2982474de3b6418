#pragma once
// The meter's side of the serial line, written independently of the program's
// decoder so that the simulator can catch its faults: what a meter shows, the
// 14-byte run it sends for it, and the scenarios the simulator plays.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace metersim {

// Status bits as one word: status byte 1 in bits 31-24 ... byte 4 in bits 7-0.
namespace flag {
constexpr uint32_t Auto = 1u << 29, Dc = 1u << 28, Ac = 1u << 27, Rel = 1u << 26, Hold = 1u << 25;
constexpr uint32_t Max = 1u << 21, Min = 1u << 20, Battery = 1u << 18, Nano = 1u << 17;
constexpr uint32_t Micro = 1u << 15, Milli = 1u << 14, Kilo = 1u << 13, Mega = 1u << 12, Beep = 1u << 11,
                   Diode = 1u << 10, Percent = 1u << 9;
constexpr uint32_t Volt = 1u << 7, Ampere = 1u << 6, Ohm = 1u << 5, Hertz = 1u << 3, Farad = 1u << 2,
                   Celsius = 1u << 1, Fahrenheit = 1u << 0;
// Every bit a meter may set; the others stay 0.
constexpr uint32_t Used = Auto | Dc | Ac | Rel | Hold | Max | Min | Battery | Nano | Micro | Milli | Kilo | Mega |
                          Beep | Diode | Percent | Volt | Ampere | Ohm | Hertz | Farad | Celsius | Fahrenheit;
}  // namespace flag

// One display of the meter.
struct Display {
    bool negative = false;
    int magnitude = 0;      // the four digits, 0 ... 9999
    int point = 0;          // 0 none; 1, 2, 3: point after the first, second, third digit
    bool overload = false;  // shows "0L" instead of digits
    uint32_t flags = 0;
    int bar = 0;  // bar-graph segments, 0 ... 41 (negative side when `negative`)
};

// A reading of `count` (sign included) with the bar a 6000-count meter shows for it.
Display Reading(int count, int point, uint32_t flags);
Display Overload(bool negative, int point, uint32_t flags);

constexpr size_t kFrameSize = 13;
constexpr size_t kRunSize = 14;
constexpr uint8_t kLeadByte = 0x0A;

// The 13-byte frame: sign, four digits, 0x20, point code, four status bytes,
// bar byte (segments, bit 7 for the negative side), 0x0D.
std::array<uint8_t, kFrameSize> EncodeFrame(const Display& d);
// The run on the line: the lead byte, then the frame.
std::array<uint8_t, kRunSize> EncodeRun(const Display& d);

// What the simulator sends, one piece (a frame, or noise) per step.
class Scenario {
public:
    virtual ~Scenario() = default;
    virtual std::vector<uint8_t> Next() = 0;
};

// "steady", "sweep", "units", "overload", "noise"; nullptr for any other name.
std::unique_ptr<Scenario> MakeScenario(const std::string& name, uint32_t seed);
std::vector<std::string> ScenarioNames();

}  // namespace metersim
