#pragma once
// The readings as comma-separated values, for spreadsheets and scripts: one
// line per reading in the columns
//   timestamp, no, time, value, unit, display, prefix_unit, coupling, range, overload
// RFC 4180 (fields quoted only where needed, CRLF after every line), UTF-8
// without a byte-order mark, a header line first. Export CSV, the file log and
// quelt-decode --csv all write their lines here.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One reading as the log and the display hold it; 8-bit texts in the LCD
// font's letters ("k*", "#", "uA").
struct CsvReading {
    static constexpr int64_t kUndated = INT64_MIN;
    int64_t stamp = kUndated;   // ms since the epoch, kUndated: no date
    std::string_view no;        // the record's No, or the frame's count
    std::string_view time;      // the time of day as the grid shows it (Latin-1), or empty
    std::string_view display;   // ValueText: "000.6", "-1.234", "0.L"
    std::string_view unit;      // UnitText
    std::string_view coupling;  // "DC", "AC" or empty
    std::string_view range;     // "AUTO" or "MANU"
};

// The header line, with its CRLF.
std::string_view csvHeader();

// True when the display shows the overload ("0L", its point anywhere).
bool isOverloadText(std::string_view display);

// The display's value as a plain decimal number in the SI base unit of
// `unit`, exact to the display's resolution: built from the digits and the
// place of the point, never through a binary float ("000.6" "mV" gives
// "0.0006", "-1.234" "k*" gives "-1234", "-0.000" gives "0"). Nothing for a
// text that is no number (the overload, digits that are not digits).
std::optional<std::string> siValue(std::string_view display, std::string_view unit);

// The SI symbol of the unit's base ("V", "Ω", "°C", "Hz", "%"; "" for none),
// and the unit as the LCD shows it ("kΩ", "µA", "°C"), both UTF-8. A unit
// text the meter never sends is given as it is.
std::string siUnit(std::string_view unit);
std::string prefixUnit(std::string_view unit);

// Appends one field, quoted when it holds a comma, a quote, CR or LF.
void appendCsvField(std::string& out, std::string_view field);

// Latin-1 text as UTF-8.
void appendLatin1AsUtf8(std::string& out, std::string_view latin1);

// Local date-time texts of ms since the epoch, in the computer's time zone.
// The zone's offset is looked up once per quarter of an hour of readings,
// so that a million lines cost no more than their digits.
class CsvTimestamps {
public:
    // ISO 8601 with milliseconds and offset: "2026-12-10T23:59:59.850+01:00".
    void appendIso(std::string& out, int64_t ms);
    // The same moment as local wall-clock ms (the zone's offset added), by
    // the same cached offset: the time of day of a line agrees with its stamp.
    int64_t localMs(int64_t ms) { return ms + int64_t(offsetSeconds(ms)) * 1000; }

private:
    int offsetSeconds(int64_t ms);
    int64_t cachedQuarter_ = INT64_MIN;
    int cachedOffset_ = 0;
};

// Appends the reading's line with its CRLF. The value column stays empty for
// the overload and for a display that is no number; nothing else is left out.
void appendCsvLine(std::string& out, const CsvReading& r, CsvTimestamps& stamps);
