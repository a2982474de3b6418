#pragma once
// Turns one frame text (upper-case hex, two characters per frame byte) into the
// shared reading. Pure: no widgets, no shared state beyond what is passed in.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "meter/Reading.h"
#include "meter/ScaleSet.h"

// Where the decode of a frame stopped.
enum class FrameFailure {
    None,     // decoded whole
    Symbols,  // the decimal point code is a letter: only the digits are written
    Value,    // a digit of a normal reading is no decimal digit: the symbols and
              // ValueText are written, the count is not
};

// The whole decode of one frame. A frame that fails keeps what was decoded
// before the failure, so a caller that shows a frame step by step can show as
// much of it as the steps before the failure reach, then raise `error`.
struct DecodedFrame {
    Reading reading;
    ScaleSet scale;       // the set installed for this frame's unit
    int barMaximum = 0;   // the bar graph's range maximum for the unit
    int barPosition = 0;  // the bar graph's position (already within 0..barMaximum)
    int32_t needlePosition = 0;
    int32_t chartValue = 0;
    FrameFailure failure = FrameFailure::None;
    std::exception_ptr error;  // the EConvertError of a failure; null when none

    bool Failed() const { return failure != FrameFailure::None; }
    // Throws the failure's error; does nothing for a frame decoded whole.
    void ThrowIfFailed() const
    {
        if (error)
            std::rethrow_exception(error);
    }
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

// Frame text in, reading and new scale set out; never throws for a bad frame.
// The decode writes over `before` (the reading of the frame before), so a
// failed frame leaves the fields it did not reach as they were; a frame decoded
// whole writes every field. The scale set, the bar, needle and chart values are
// only set for a frame decoded whole.
DecodedFrame DecodeFrame(std::string_view frameText, const ScaleSet& current, const Reading& before = {});
