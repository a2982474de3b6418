#pragma once
// Turns one frame text (upper-case hex, two characters per frame byte) into the
// shared reading. Pure: no widgets, no shared state beyond what is passed in.
#include <cstdint>
#include <string>
#include <string_view>

#include "meter/Reading.h"
#include "meter/ScaleSet.h"

// The whole decode of one frame, for callers that need no partial results.
struct DecodedFrame {
    Reading reading;
    ScaleSet scale;            // the set installed for this frame's unit
    int barMaximum = 0;        // the bar graph's range maximum for the unit
    int barPosition = 0;       // the bar graph's position (already within 0..barMaximum)
    int32_t needlePosition = 0;
    int32_t chartValue = 0;
};

// Digits, overload, sign, decimal point, the annunciator flags, range mode,
// coupling and unit. Clears the reading's per-frame texts first. Throws
// EConvertError when the decimal point code is a letter; the digits are then
// already written.
void DecodeSymbols(std::string_view frameText, Reading& r);

// ValueText, then CountValue, counted against the full scale in force when the
// frame arrives. Throws EConvertError when a digit of a normal reading is not
// a decimal digit; ValueText is then already written.
void DecodeValue(Reading& r, int32_t fullScaleInForce);

// The scale set and bar maximum that the reading's unit selects.
ScaleSet ScaleSetForUnit(const std::string& unitText);
int BarMaximumForUnit(const std::string& unitText);

// Position of the dial's needle (0 .. 10 * ScaleDivisions for readings on the dial).
int32_t NeedlePosition(const Reading& r, const ScaleSet& installed);

// The value plotted by the trend chart.
int32_t ChartValue(const Reading& r, const ScaleSet& installed);

// The bar graph's position, kept within 0 .. barMaximum as the bar shows it.
int BarPosition(const Reading& r, const ScaleSet& installed, int barMaximum);

// Frame text in, reading and new scale set out.
DecodedFrame DecodeFrame(std::string_view frameText, const ScaleSet& current);
