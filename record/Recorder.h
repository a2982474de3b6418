#pragma once
// The recorder: decides for every decoded reading whether it goes into the
// reading log, and writes it. It is governed by the record limit, the sampling
// interval, the repeat switch and New.
#include <cstdint>
#include <string>
#include <string_view>

#include "record/paradox/ParadoxTable.h"

struct Reading;
class ReadingTable;
class IClock;

struct RecorderState {
    int32_t RecordLimit = 10000;  // limit of the current run
    int32_t RecordedCount = 0;    // readings written since start-up or the last New
    int32_t NextRecordNo = 1;     // No of the next record
    int32_t SampleCountdown = 0;  // whole seconds to wait before the next write
    std::string LastRecordedKey;  // key of the last reading written
};

// The settings of the recorder's controls, read at every reading.
struct RecorderControls {
    bool RepeatSet = true;  // "Repeat"
    bool RecordSI = false;  // "Sampling Interval"
    std::string RecordSITime = "10";
};

// The record limits of the Record menu; "limitless" is ten million.
constexpr int32_t kLimitless = 10000000;

// The fields of a new log table.
paradox::Schema ReadingLogSchema();

// What became of one reading.
enum class RecordOutcome {
    Skipped,   // the limit, the interval or the repeat switch held it back
    Written,   // a record was appended to the log
    Unlogged,  // it was due, but the log could not take it (see UnloggedReason)
};

class Recorder {
public:
    Recorder(RecorderState& state, ReadingTable& table, IClock& clock)
        : state_(state),
          table_(table),
          clock_(clock) {}

    // One reading, dated and timed from the clock as it is posted. A reading that the log cannot take (the table is closed,
    // lacks a field or refuses a value) leaves the log and the recorder state
    // as they were.
    RecordOutcome INDataToTable(const Reading& r, const RecorderControls& c);
    // Why the last Unlogged reading was not written.
    const std::string& UnloggedReason() const { return unloggedReason_; }

    // The one-second tick of the sampling interval.
    void TrecordTimer(bool recordSI);

    // The interval box changed: the countdown restarts from its value.
    void RecordSITimeChange(std::string_view text);

    // New: empties the log and restarts the numbering.
    void New();

    // A run brought back from the log's journal goes on: its last record
    // since New had No `lastNo` (0: New came last).
    void ContinueRun(int32_t lastNo);

    // The countdown value of an interval text: "", "-" and "+" give 0;
    // anything else must be a decimal whole number.
    static int32_t IntervalSeconds(std::string_view text);

    // The key that tells consecutive readings apart.
    static std::string Key(const Reading& r);

private:
    RecorderState& state_;
    ReadingTable& table_;
    IClock& clock_;
    std::string unloggedReason_;
};
