#pragma once
// The user's alarm limits and the highest/lowest reading since the last change of range.
// Pure state and steps; the window shows the results (beep, "OL !!" panel, MIN/MAX labels)
// and clears the trend chart when a step reports a range change.
#include <QChar>
#include <cstdint>
#include <string>
#include <string_view>

struct Reading;

struct LimitState {
    float MaxLimit = 0;                // upper limit in display counts (from Setmax)
    float MinLimit = 0;                // lower limit in display counts (from SetMin)
    float MaxReading = 0;              // highest CountValue since the last reset
    float MinReading = 0;              // lowest CountValue since the last reset
    std::string MaxReadingText;        // ValueText of the reading that set MaxReading
    std::string MinReadingText;        // ValueText of the reading that set MinReading
    std::string LastUnitText = "113";  // no unit reads like this: the first reading resets
    int LastPointPos = 0;
    // Set at a reset: the extreme has not been taken from a reading of the new range yet.
    // The first ordinary reading after a reset fills an empty extreme whatever the full
    // scale of the previous range was (see TrackMaxMin).
    bool MaxReadingEmpty = true;
    bool MinReadingEmpty = true;
};

// Converts the text of a limit edit: "-", "+" and "" give 0, anything else goes through
// StrToInt and so throws EConvertError ("'<text>' is not a valid integer value"); the caller
// keeps its previous limit in that case.
float ReadLimit(std::string_view text);

// The alarm for one reading: beyond a limit that is switched on. Both comparisons are
// strict and stand alone, so with the lower limit above the upper every reading alarms.
bool LimitAlarm(const LimitState& s, float CountValue, bool SetMaxBChecked, bool SetMinBChecked);

// MAX/MIN tracking for one reading, FullScale being the full-scale count in force when the
// frame arrived (before the frame's own scale set is installed). Returns true when the unit
// text or the decimal point changed: the extremes are reset to 1-F / F-1, their texts stay,
// and the reading is not entered; the caller then starts a new chart. Otherwise a reading
// at or beyond a stored extreme (ties count) replaces it and its text.
bool TrackMaxMin(LimitState& s, const Reading& r, int32_t FullScale);

// The key filter of the limit edits: digits, backspace, '+' and '-' pass.
bool SetmaxKeyAccepts(QChar c);
