#include "meter/FrameDecoder.h"

#include <algorithm>

#include "meter/Convert.h"

namespace {

// The value of one hexadecimal character of a frame text.
int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

// Bit `position` (1-based, most significant bit of each character first) of
// the frame text's first 28 characters. Past the end of the text the bits of
// the last character present repeat.
bool FrameBit(std::string_view text, int position)
{
    if (text.empty()) return false;
    size_t index = size_t(position - 1) / 4;
    if (index >= text.size()) index = text.size() - 1;
    const int bit = 3 - (position - 1) % 4;
    return (HexValue(text[index]) >> bit) & 1;
}

struct FlagPosition {
    Flag flag;
    int position;
};

constexpr FlagPosition kFlagPositions[] = {
    {Flag::Auto, 59},
    {Flag::Dc, 60},
    {Flag::Ac, 61},
    {Flag::Rel, 62},
    {Flag::Hold, 63},
    {Flag::MaxMode, 67},
    {Flag::MinMode, 68},
    {Flag::Battery, 70},
    {Flag::Nano, 71},
    {Flag::Micro, 73},
    {Flag::Milli, 74},
    {Flag::Kilo, 75},
    {Flag::Mega, 76},
    {Flag::Beep, 77},
    {Flag::Diode, 78},
    {Flag::Percent, 79},
    {Flag::Volt, 81},
    {Flag::Ampere, 82},
    {Flag::Ohm, 83},
    {Flag::Hertz, 85},
    {Flag::Farad, 86},
    {Flag::Celsius, 87},
    {Flag::Fahrenheit, 88},
};

// The unit rules, applied in order; each one that holds overwrites the text.
struct UnitRule {
    Flag a;
    Flag b;  // Flag::Count: no second flag
    const char* text;
};

constexpr UnitRule kUnitRules[] = {
    {Flag::Volt, Flag::Count, "V"},
    {Flag::Ampere, Flag::Count, "A"},
    {Flag::Ohm, Flag::Count, "*"},
    {Flag::Farad, Flag::Count, "F"},
    {Flag::Celsius, Flag::Count, "#"},
    {Flag::Fahrenheit, Flag::Count, "?"},
    {Flag::Hertz, Flag::Count, "Hz"},
    {Flag::Percent, Flag::Count, "%"},
    {Flag::Volt, Flag::Nano, "nV"},
    {Flag::Volt, Flag::Milli, "mV"},
    {Flag::Volt, Flag::Micro, "uV"},
    {Flag::Ampere, Flag::Nano, "nA"},
    {Flag::Ampere, Flag::Milli, "mA"},
    {Flag::Ampere, Flag::Micro, "uA"},
    {Flag::Farad, Flag::Nano, "nF"},
    {Flag::Farad, Flag::Milli, "mF"},
    {Flag::Farad, Flag::Micro, "uF"},
    {Flag::Ohm, Flag::Kilo, "k*"},
    {Flag::Ohm, Flag::Mega, "M*"},
};

char At(std::string_view text, size_t position1)
{
    return position1 <= text.size() ? text[position1 - 1] : '0';
}

}  // namespace

const char* FlagName(Flag f)
{
    static constexpr const char* kNames[] = {
        "Auto",
        "Dc",
        "Ac",
        "Rel",
        "Hold",
        "MaxMode",
        "MinMode",
        "Battery",
        "Nano",
        "Micro",
        "Milli",
        "Kilo",
        "Mega",
        "Beep",
        "Diode",
        "Percent",
        "Volt",
        "Ampere",
        "Ohm",
        "Hertz",
        "Farad",
        "Celsius",
        "Fahrenheit",
    };
    return int(f) < kFlagCount ? kNames[int(f)] : "";
}

void DecodeSymbols(std::string_view text, Reading& r)
{
    r.Flags = {};
    r.PointPos = 0;
    r.UnitText.clear();
    r.CouplingText.clear();
    r.RangeModeText.clear();

    // Digits, leftmost first; the low hex digit of each digit byte.
    r.Digit1.assign(1, At(text, 4));
    r.Digit2.assign(1, At(text, 6));
    r.Digit3.assign(1, At(text, 8));
    r.Digit4.assign(1, At(text, 10));

    // Decimal point code: 1, 2 and 4 light the point after digit 1, 2 and 3.
    const char point = At(text, 14);
    const int32_t code = StrToInt(std::string_view(&point, 1));
    r.PointPos = code == 1 ? 1 : code == 2 ? 2
                             : code == 4   ? 3
                                           : 0;

    for (const FlagPosition& fp : kFlagPositions)
        r.Flags.set(fp.flag, FrameBit(text, fp.position));
    r.RangeModeText = r.Flags[Flag::Auto] ? "AUTO" : "MANU";

    if (At(text, 4) == 'F') {  // overload: the display reads 0L
        r.Digit1.clear();
        r.Digit2 = "0";
        r.Digit3 = "@";
        r.Digit4.clear();
    }

    r.SignText = At(text, 2) == 'D' ? "-" : "";

    if (r.Flags[Flag::Ac]) r.CouplingText = "AC";
    if (r.Flags[Flag::Dc]) r.CouplingText = "DC";

    for (const UnitRule& rule : kUnitRules)
        if (r.Flags[rule.a] && (rule.b == Flag::Count || r.Flags[rule.b]))
            r.UnitText = rule.text;
}

void DecodeValue(Reading& r, int32_t fullScaleInForce)
{
    const char* p1 = r.PointPos == 1 ? "." : "";
    const char* p2 = r.PointPos == 2 ? "." : "";
    const char* p3 = r.PointPos == 3 ? "." : "";
    if (r.IsOverload()) {
        r.ValueText = std::string(p1) + "0" + p2 + "L" + p3;
        const float over = float(fullScaleInForce) + 1.0f;
        r.CountValue = r.SignText == "-" ? -over : over;
        return;
    }
    r.ValueText = r.SignText + r.Digit1 + p1 + r.Digit2 + p2 + r.Digit3 + p3 + r.Digit4;
    r.CountValue = float(StrToInt(r.SignText + r.Digit1 + r.Digit2 + r.Digit3 + r.Digit4));
}

ScaleSet ScaleSetForUnit(const std::string& unitText)
{
    if (unitText == "Hz") return ScaleSet::Set10();
    if (unitText == "%") return ScaleSet::Set1();
    return ScaleSet::Set6();
}

int BarMaximumForUnit(const std::string& unitText)
{
    if (unitText == "Hz") return 1000;
    if (unitText == "%") return 10;
    return 60;
}

int32_t NeedlePosition(const Reading& r, const ScaleSet& installed)
{
    if (r.IsOverload())
        return r.SignText == "-" ? 0 : 10 * installed.ScaleDivisions;
    return StrToInt(r.SignText + r.Digit1 + r.Digit2 + r.Digit3) + installed.ScaleZero;
}

int32_t ChartValue(const Reading& r, const ScaleSet& installed)
{
    if (r.IsOverload())
        return (r.SignText == "-" ? -1 : 1) * installed.FullScale;
    return int32_t(r.CountValue);
}

int BarPosition(const Reading& r, const ScaleSet& installed, int barMaximum)
{
    int position;
    if (r.Digit2 + r.Digit3 == "0@") {
        position = installed.BarOverload;
    } else {
        const int32_t n = StrToInt(r.Digit1 + r.Digit2);
        position = n < 2 ? 1 : n;
    }
    return std::clamp(position, 0, std::max(barMaximum, 0));
}

DecodedFrame DecodeFrame(std::string_view frameText, const ScaleSet& current, const Reading& before)
{
    DecodedFrame out;
    out.reading = before;
    try {
        out.failure = FrameFailure::Symbols;
        DecodeSymbols(frameText, out.reading);
        out.failure = FrameFailure::Value;
        DecodeValue(out.reading, current.FullScale);
    } catch (const EConvertError&) {
        out.error = std::current_exception();
        return out;
    }
    out.failure = FrameFailure::None;
    out.scale = ScaleSetForUnit(out.reading.UnitText);
    out.barMaximum = BarMaximumForUnit(out.reading.UnitText);
    out.needlePosition = NeedlePosition(out.reading, out.scale);
    out.barPosition = BarPosition(out.reading, out.scale, out.barMaximum);
    out.chartValue = ChartValue(out.reading, out.scale);
    return out;
}
