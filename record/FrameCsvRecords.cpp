#include "record/FrameCsvRecords.h"

#include "meter/Reading.h"

#include <cstdint>

const CsvReading& FrameCsvRecords::next(const Reading& r, int64_t arrivalMs)
{
    no_ = std::to_string(++count_);
    time_.clear();
    if (arrivalMs != CsvReading::kUndated) {
        // The zone's offset as the timestamp column has it, looked up once a
        // quarter of an hour rather than for every frame.
        constexpr int64_t kDayMs = 86400000;
        const int64_t local = stamps_.localMs(arrivalMs);
        time_ = times_.timeOfDay(int32_t((local % kDayMs + kDayMs) % kDayMs));
    }
    record_.stamp = arrivalMs;
    record_.no = no_;
    record_.time = time_;
    record_.display = r.ValueText;
    record_.unit = r.UnitText;
    record_.coupling = r.CouplingText;
    record_.range = r.RangeModeText;
    return record_;
}
