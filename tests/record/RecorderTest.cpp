#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "meter/Reading.h"
#include "record/ReadingTable.h"
#include "record/Recorder.h"
#include "support/FakeClock.h"

namespace {

Reading Value(const std::string& text, const std::string& unit = "V")
{
    Reading r;
    r.ValueText = text;
    r.CountValue = 1;
    r.UnitText = unit;
    r.CouplingText = "DC";
    r.RangeModeText = "AUTO";
    return r;
}

struct RecorderFixture : ::testing::Test {
    QTemporaryDir dir;
    ReadingTable table;
    RecorderState state;
    FakeClock clock{QTime(13, 5, 9)};
    Recorder recorder{state, table, clock};
    RecorderControls controls;

    void SetUp() override
    {
        const std::string path = QDir(dir.path()).filePath("Queltdb.DB").toStdString();
        paradox::writeTableFile(path, ReadingLogSchema(), paradox::RowStore(ReadingLogSchema().recordSize));
        table.setTableName(path);
        table.open();
    }

    // Feeds the readings; returns how many were written.
    int Feed(const std::vector<std::string>& values)
    {
        int written = 0;
        for (const std::string& v : values)
            written += recorder.INDataToTable(Value(v), controls) == RecordOutcome::Written;
        return written;
    }
    std::string LastNo() { return table.cellText(table.recordCount() - 1, table.fieldIndex("No")); }
};

TEST_F(RecorderFixture, FirstRecordCarriesEveryField)
{
    Reading r = Value("-1.234", "k*");
    r.CountValue = -1234;
    ASSERT_EQ(recorder.INDataToTable(r, controls), RecordOutcome::Written);
    ASSERT_EQ(table.recordCount(), 1u);
    EXPECT_EQ(table.fieldText("No"), "1");
    EXPECT_EQ(table.fieldText("value"), "-1.234");
    EXPECT_EQ(table.fieldText("UNIT"), "k*");
    EXPECT_EQ(table.fieldText("DC/AC"), "DC");
    EXPECT_EQ(table.fieldText("auto"), "AUTO");
    EXPECT_EQ(table.fieldText("Nval"), "-1234");
    EXPECT_NE(table.fieldText("Time").find("05"), std::string::npos);
    EXPECT_NE(table.fieldText("Time").find("09"), std::string::npos);
    EXPECT_EQ(state.NextRecordNo, 2);
    EXPECT_EQ(state.RecordedCount, 1);
}

TEST_F(RecorderFixture, LimitWritesOneMoreRecordThanItsNumber)
{
    state.RecordLimit = 1000;
    for (int i = 0; i < 1100; ++i) recorder.INDataToTable(Value(std::to_string(i)), controls);
    EXPECT_EQ(table.recordCount(), 1001u);
    EXPECT_EQ(LastNo(), "1001");
}

TEST_F(RecorderFixture, LoweringTheLimitStopsAtOnceAndNewStartsAFreshRun)
{
    state.RecordLimit = kLimitless;
    for (int i = 0; i < 5000; ++i) recorder.INDataToTable(Value(std::to_string(i)), controls);
    state.RecordLimit = 1000;
    EXPECT_EQ(Feed({"a", "b"}), 0);
    recorder.New();
    EXPECT_EQ(table.recordCount(), 0u);
    for (int i = 0; i < 1100; ++i) recorder.INDataToTable(Value(std::to_string(i)), controls);
    EXPECT_EQ(table.recordCount(), 1001u);
    EXPECT_EQ(LastNo(), "1001");
}

TEST_F(RecorderFixture, RepeatOffSkipsOnlyConsecutiveEqualReadings)
{
    controls.RepeatSet = false;
    EXPECT_EQ(Feed({"1.000", "1.000", "1.000"}), 1);
    EXPECT_EQ(Feed({"1.001"}), 1);
    EXPECT_EQ(Feed({"1.000"}), 1);  // back to the earlier reading: written again
    // The same digits in another unit are another reading.
    EXPECT_EQ(recorder.INDataToTable(Value("1.000", "mV"), controls), RecordOutcome::Written);
    // After New, a reading equal to the last one written waits for a change.
    recorder.New();
    EXPECT_EQ(recorder.INDataToTable(Value("1.000", "mV"), controls), RecordOutcome::Skipped);
    EXPECT_EQ(Feed({"2.000"}), 1);
    EXPECT_EQ(LastNo(), "1");
}

TEST_F(RecorderFixture, SamplingIntervalDrivenByTicks)
{
    struct Case {
        const char* box;
        int ticksBetween;
        std::vector<bool> written;  // one reading per step, after ticksBetween ticks
    } cases[] = {
        {"0", 0, {true, true, true}},
        {"", 0, {true, true, true}},
        // With 10 s: written at once, then only after the tenth tick.
        {"10", 3, {true, false, false, false, true, false}},
        {"10", 9, {true, false, true}},
    };
    for (const Case& c : cases) {
        RecorderState s;
        Recorder rec{s, table, clock};
        RecorderControls ctl;
        ctl.RecordSI = true;
        ctl.RecordSITime = c.box;
        std::vector<bool> got;
        for (size_t i = 0; i < c.written.size(); ++i) {
            if (i > 0)
                for (int t = 0; t < c.ticksBetween; ++t) rec.TrecordTimer(ctl.RecordSI);
            got.push_back(rec.INDataToTable(Value(std::to_string(i)), ctl) == RecordOutcome::Written);
        }
        EXPECT_EQ(got, c.written) << c.box << "/" << c.ticksBetween;
    }
}

TEST_F(RecorderFixture, CountdownStandsStillWhileTheIntervalIsOff)
{
    Feed({"1"});  // loads the countdown from "10" even with the interval off
    EXPECT_EQ(state.SampleCountdown, 10);
    recorder.TrecordTimer(false);
    EXPECT_EQ(state.SampleCountdown, 10);
    controls.RecordSI = true;
    EXPECT_EQ(Feed({"2"}), 0);
    recorder.RecordSITimeChange("");
    EXPECT_EQ(Feed({"3"}), 1);
    EXPECT_THROW(recorder.RecordSITimeChange("99999999999"), std::exception);
}

TEST_F(RecorderFixture, NewOnAnEmptyTableRestartsTheNumbering)
{
    state.NextRecordNo = 7;
    state.RecordedCount = 6;
    recorder.New();
    EXPECT_EQ(Feed({"x"}), 1);
    EXPECT_EQ(LastNo(), "1");
}

TEST(Recorder, AReadingTheLogCannotTakeLeavesLogAndStateAsTheyWere)
{
    QTemporaryDir dir;
    const std::string noNvalPath = QDir(dir.path()).filePath("t.DB").toStdString();
    const paradox::Schema noNval = paradox::Schema::make({{"No", paradox::ftLong, 0}, {"Value", paradox::ftAlpha, 6}});
    paradox::writeTableFile(noNvalPath, noNval, paradox::RowStore(noNval.recordSize));
    ReadingTable noNvalTable;
    noNvalTable.setTableName(noNvalPath);
    noNvalTable.open();
    ReadingTable closed;

    const struct Case {
        const char* name;
        ReadingTable& table;
        const char* reason;
    } cases[] = {
        {"closed", closed, "Cannot perform this operation on a closed dataset"},
        {"no Nval field", noNvalTable, "Field 'Nval' not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecorderState s;
        s.NextRecordNo = 5;
        s.RecordedCount = 4;
        FakeClock clock{QTime(13, 5, 9)};
        Recorder rec{s, c.table, clock};
        RecorderControls ctl;
        ctl.RepeatSet = false;
        for (int i = 0; i < 2; ++i)  // the same reading is due again: it was never written
            EXPECT_EQ(rec.INDataToTable(Value("1"), ctl), RecordOutcome::Unlogged);
        EXPECT_EQ(rec.UnloggedReason(), c.reason);
        EXPECT_EQ(s.NextRecordNo, 5);
        EXPECT_EQ(s.RecordedCount, 4);
        EXPECT_EQ(s.SampleCountdown, 0);
        EXPECT_EQ(s.LastRecordedKey, "");
        // Readings the rules hold back are not due, log or no log.
        s.RecordedCount = s.RecordLimit + 1;
        EXPECT_EQ(rec.INDataToTable(Value("2"), ctl), RecordOutcome::Skipped);
    }
    EXPECT_EQ(noNvalTable.recordCount(), 0u);
    noNvalTable.first();  // no half-filled record is waiting to be posted
    EXPECT_EQ(noNvalTable.recordCount(), 0u);
}

}  // namespace
