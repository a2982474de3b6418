#pragma once
// The tools' CSV records of decoded frames (quelt-decode --csv, quelt-log):
// the frames counted from 1, each dated with its arrival and given the time of
// day as the window's grid shows it, or left undated (a capture file).
#include "record/CsvFormat.h"
#include "record/ReadingTable.h"

#include <cstdint>
#include <string>

struct Reading;

class FrameCsvRecords {
public:
    // The next frame's record of `r`, which arrived at `arrivalMs` (ms since
    // the epoch; CsvReading::kUndated: no date and no time). Its texts are
    // views into `r` and into this object: valid until the next call.
    const CsvReading& next(const Reading& r, int64_t arrivalMs);

    uint64_t count() const { return count_; }
    // The timestamps' texts, for the lines and messages of the records.
    CsvTimestamps& stamps() { return stamps_; }

private:
    uint64_t count_ = 0;
    std::string no_;
    std::string time_;
    TimeTexts times_;
    CsvTimestamps stamps_;
    CsvReading record_;
};
