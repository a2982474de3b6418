#pragma once
// One reading as a JSON object, for the messages quelt-log publishes: the CSV
// line's columns (CsvFormat) under the same names, in this order,
//   {"ts": "2026-12-10T23:59:59.850+01:00", "no": 17, "value": 0.0006,
//    "unit": "V", "display": "000.6", "prefix_unit": "mV", "coupling": "DC",
//    "range": "AUTO", "overload": false}
// "ts" is null for an undated reading; "no" is a number when it is all
// digits, else a string; "value" is the exact decimal of the CSV's value
// column as a JSON number, null on the overload or a display that is no
// number; the texts are UTF-8 ("Ω", "µA", "°C"), escaped as JSON wants.
#include "record/CsvFormat.h"

#include <string>
#include <string_view>

// Appends `text` (UTF-8; a byte that starts no valid sequence is written as
// U+FFFD) as a JSON string with its quotes.
void appendJsonString(std::string& out, std::string_view text);

// Appends the reading's object, without a line end.
void appendJsonReading(std::string& out, const CsvReading& r, CsvTimestamps& stamps);
