#pragma once
// The shared reading: one instance, overwritten by every decoded frame.
#include <array>
#include <cstdint>
#include <string>

// The meter's annunciators, in the order of the status bits of a frame.
enum class Flag : uint8_t {
    Auto,
    Dc,
    Ac,
    Rel,
    Hold,
    MaxMode,
    MinMode,
    Battery,
    Nano,
    Micro,
    Milli,
    Kilo,
    Mega,
    Beep,
    Diode,
    Percent,
    Volt,
    Ampere,
    Ohm,
    Hertz,
    Farad,
    Celsius,
    Fahrenheit,
    Count
};
constexpr int kFlagCount = int(Flag::Count);

struct AnnunciatorFlags {
    uint32_t bits = 0;
    bool operator[](Flag f) const { return (bits >> int(f)) & 1u; }
    void set(Flag f, bool on = true)
    {
        if (on) bits |= 1u << int(f);
        else bits &= ~(1u << int(f));
    }
    bool operator==(const AnnunciatorFlags&) const = default;
};

// The names of the flags as the program spells them ("Auto", "Dc", ...).
const char* FlagName(Flag f);

struct Reading {
    std::string Digit1, Digit2, Digit3, Digit4;  // one character or empty
    std::string SignText;                        // "-" or empty
    int PointPos = 0;                            // 0: none; 1..3: point after digit 1..3
    AnnunciatorFlags Flags;
    std::string ValueText;      // as the LCD shows it: "-1.234", "0.L"
    float CountValue = 0;       // signed display count, point ignored
    std::string UnitText;       // in the LCD font's letters: "k*", "#", "uA"
    std::string CouplingText;   // "AC", "DC" or empty
    std::string RangeModeText;  // "AUTO" or "MANU"

    bool IsOverload() const { return Digit3 == "@"; }
};
