#include "record/FrameCsvRecords.h"

#include "meter/Reading.h"

#include <QDateTime>
#include <QTime>

const CsvReading& FrameCsvRecords::next(const Reading& r, int64_t arrivalMs)
{
    no_ = std::to_string(++count_);
    time_.clear();
    if (arrivalMs != CsvReading::kUndated)
        time_ = times_.timeOfDay(QDateTime::fromMSecsSinceEpoch(arrivalMs).time().msecsSinceStartOfDay());
    record_.stamp = arrivalMs;
    record_.no = no_;
    record_.time = time_;
    record_.display = r.ValueText;
    record_.unit = r.UnitText;
    record_.coupling = r.CouplingText;
    record_.range = r.RangeModeText;
    return record_;
}
