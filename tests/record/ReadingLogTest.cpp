// ReadingLog with the recorder: the log's open and close, and the one message
// for readings that cannot be logged.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "meter/Reading.h"
#include "record/ReadingLog.h"
#include "record/ReadingTable.h"
#include "record/Recorder.h"
#include "support/FakeClock.h"
#include "support/NullSeams.h"

namespace {

struct LogFixture : ::testing::Test {
    QTemporaryDir dir;
    ReadingTable table;
    ReadingLog log{table};
    RecorderState state;
    FakeClock clock{QTime(9, 0, 0)};
    Recorder recorder{state, table, clock};

    std::string File(const char* name) const { return QDir(dir.path()).filePath(name).toStdString(); }
    std::string MakeLog(const char* name) const
    {
        paradox::writeTableFile(File(name), ReadingLogSchema(), paradox::RowStore(ReadingLogSchema().recordSize));
        return File(name);
    }
    // One due reading; the notice it brings, if any.
    std::optional<std::string> Reading1()
    {
        Reading r;
        r.ValueText = "1.000";
        if (recorder.INDataToTable(r, {}) != RecordOutcome::Unlogged)
            return std::nullopt;
        return log.unloggedNotice(recorder.UnloggedReason());
    }
    // Notices given over `n` due readings.
    std::vector<std::string> Readings(int n)
    {
        std::vector<std::string> told;
        for (int i = 0; i < n; ++i)
            if (auto t = Reading1())
                told.push_back(*t);
        return told;
    }
};

TEST_F(LogFixture, ToldOnceUntilATableIsOpenedAndLostAgain)
{
    // No log at all: one notice naming the table and why.
    EXPECT_THROW(log.open(File("Queltdb.DB")), std::exception);
    std::vector<std::string> told = Readings(20);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("not being logged"), std::string::npos) << told[0];
    EXPECT_NE(told[0].find(File("Queltdb.DB") + " is not open"), std::string::npos) << told[0];
    EXPECT_NE(told[0].find("No such file"), std::string::npos) << told[0];

    // Another failed open while there is no log: that failure was reported, no new notice.
    QFile junk(QString::fromStdString(File("junk.db")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(5000, '\x7f'));
    junk.close();
    EXPECT_THROW(log.open(File("junk.db")), std::exception);
    EXPECT_TRUE(Readings(5).empty());

    // A good table: recording resumes with the numbering of the run.
    log.open(MakeLog("good.db"));
    EXPECT_TRUE(Readings(3).empty());
    EXPECT_EQ(table.recordCount(), 3u);
    EXPECT_EQ(table.cellText(2, table.fieldIndex("No")), "3");

    // A failed open keeps the log and what it holds; recording goes on.
    EXPECT_THROW(log.open(File("junk.db")), std::exception);
    ASSERT_TRUE(log.isOpen());
    EXPECT_TRUE(Readings(1).empty());
    EXPECT_EQ(table.recordCount(), 4u);
    EXPECT_EQ(table.filePath(), File("good.db"));

    // Lost again, to a table that cannot take readings: told once more.
    const paradox::Schema noNval = paradox::Schema::make({{"No", paradox::ftLong, 0}, {"Value", paradox::ftAlpha, 6}});
    paradox::writeTableFile(File("other.db"), noNval, paradox::RowStore(noNval.recordSize));
    log.open(File("other.db"));
    told = Readings(10);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(File("other.db") + " cannot take them"), std::string::npos) << told[0];
    EXPECT_NE(told[0].find("Field 'Nval' not found"), std::string::npos) << told[0];
    EXPECT_EQ(table.recordCount(), 0u);
}

}  // namespace
