#include "record/Recorder.h"

#include "meter/Reading.h"
#include "platform/Clock.h"
#include "meter/Convert.h"
#include "record/ReadingTable.h"

#include <QDateTime>

#include <cstdint>

paradox::Schema ReadingLogSchema()
{
    using namespace paradox;
    return Schema::make({
        {"No", ftLong, 0},
        {"Time", ftTime, 0},
        {"DC/AC", ftAlpha, 2},
        {"Value", ftAlpha, 6},
        {"Unit", ftAlpha, 2},
        {"AUTO", ftAlpha, 4},
        {"Nval", ftNumber, 0},
    });
}

int32_t Recorder::IntervalSeconds(std::string_view text)
{
    if (text.empty() || text == "-" || text == "+")
        return 0;
    return StrToInt(text);
}

std::string Recorder::Key(const Reading& r)
{
    return r.ValueText + r.CouplingText + r.UnitText + r.RangeModeText;
}

RecordOutcome Recorder::INDataToTable(const Reading& r, const RecorderControls& c)
{
    if (state_.RecordLimit < state_.RecordedCount)
        return RecordOutcome::Skipped;  // one run writes RecordLimit + 1 records
    if (c.RecordSI && state_.SampleCountdown != 0)
        return RecordOutcome::Skipped;
    std::string key = Key(r);
    if (!c.RepeatSet && key == state_.LastRecordedKey)
        return RecordOutcome::Skipped;
    const int32_t countdown = IntervalSeconds(c.RecordSITime);

    try {
        const QDateTime now = clock_.now();
        table_.append();
        table_.setFieldString("Value", r.ValueText);
        table_.setFieldFloat("Nval", r.CountValue);
        table_.setFieldTime("Time", now.time());
        table_.setRecordStamp(now.toMSecsSinceEpoch());
        table_.setFieldInteger("No", state_.NextRecordNo);
        table_.setFieldString("DC/AC", r.CouplingText);
        table_.setFieldString("Unit", r.UnitText);
        table_.setFieldString("AUTO", r.RangeModeText);
        table_.post();
    } catch (const std::exception& e) {
        // A record that cannot be filled in whole is not kept half-filled,
        // and a reading that was not logged does not count as written.
        table_.cancel();
        unloggedReason_ = e.what();
        return RecordOutcome::Unlogged;
    }
    state_.LastRecordedKey = std::move(key);
    state_.SampleCountdown = countdown;
    ++state_.RecordedCount;
    ++state_.NextRecordNo;
    return RecordOutcome::Written;
}

void Recorder::TrecordTimer(bool recordSI)
{
    if (recordSI && state_.SampleCountdown > 0)
        --state_.SampleCountdown;
}

void Recorder::RecordSITimeChange(std::string_view text)
{
    state_.SampleCountdown = IntervalSeconds(text);
}

void Recorder::New()
{
    if (table_.recordCount() >= 1)
        table_.empty();
    state_.NextRecordNo = 1;
    state_.RecordedCount = 0;
}

void Recorder::ContinueRun(int32_t lastNo)
{
    if (lastNo < 0 || lastNo == INT32_MAX)
        return;
    state_.NextRecordNo = lastNo + 1;
    state_.RecordedCount = lastNo;
}
