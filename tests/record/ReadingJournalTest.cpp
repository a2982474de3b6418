// ReadingJournal: a run of the recorder, ended without the user's exit, is
// replayed into the log at the next open: posts, deletions and New in order,
// every whole record before a cut-off tail; a journal that is not this
// table's is kept aside and told.
#include "record/ReadingJournal.h"
#include "record/ReadingTable.h"
#include "record/Recorder.h"

#include "meter/Reading.h"
#include "support/FakeClock.h"
#include "support/NullSeams.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace paradox;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Spit(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A log table with `records` records of its own, numbered from `firstNo`.
void MakeLog(const std::string& path, int records, const Schema& schema = ReadingLogSchema(), int firstNo = 101)
{
    RowStore rows(schema.recordSize);
    for (int i = 0; i < records; ++i) {
        uint8_t* r = rows.append();
        setInteger(r, schema.fields[size_t(schema.find("No"))], firstNo + i);
        setText(r, schema.fields[size_t(schema.find("Value"))], "file" + std::to_string(i));
    }
    writeTableFile(path, schema, rows);
}

// One run of the program on a log: the table opened with its journal and
// the recorder writing into it. Ending the run without detaching (the
// destructor) leaves the journal as a killed program does.
struct Session {
    int64_t ms = 1'700'000'000'000;
    ReadingTable table;
    ReadingJournal journal{table, [this] { return ms += 1000; }};
    std::vector<std::string> notices;
    RecorderState state;
    FakeClock clock{QTime(9, 30, 0)};
    Recorder recorder{state, table, clock};

    explicit Session(const std::string& path, const std::function<void(ReadingJournal&)>& beforeOpen = {})
    {
        journal.onNotice = [this](const QString& t) { notices.push_back(t.toStdString()); };
        if (beforeOpen)
            beforeOpen(journal);
        table.setTableName(path);
        table.open();
        if (const auto no = journal.recovery().lastNo)
            recorder.ContinueRun(*no);
    }
    void Record(const std::string& value)
    {
        Reading r;
        r.ValueText = value;
        r.UnitText = "V";
        r.CouplingText = "DC";
        r.RangeModeText = "AUTO";
        r.CountValue = 1234;
        ASSERT_EQ(recorder.INDataToTable(r, RecorderControls{}), RecordOutcome::Written);
    }
    // A script: "r" records a reading, "d<row>" deletes a record, "n" is New.
    void Play(const std::vector<std::string>& steps)
    {
        int n = 0;
        for (const std::string& s : steps) {
            if (s == "r")
                Record("v" + std::to_string(++n));
            else if (s == "n")
                recorder.New();
            else
                table.deleteRecord(std::stoul(s.substr(1)));
        }
    }
    // Every record's bytes, in table order.
    std::vector<Bytes> Rows() const
    {
        std::vector<Bytes> out;
        for (size_t i = 0; i < table.recordCount(); ++i)
            out.emplace_back(table.rowData(i), table.rowData(i) + table.schema().recordSize);
        return out;
    }
    std::string Text(size_t row, const char* field) const { return table.cellText(row, table.fieldIndex(field)); }
};

class JournalTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    const std::string log = (dir.path() + "/Queltdb.DB").toStdString();
    const std::string journal = ReadingJournal::PathFor(log);
    const size_t entry = ReadingJournal::PostEntrySize(ReadingLogSchema().recordSize);
    const size_t header = ReadingJournal::Header(ReadingLogSchema()).size();
};

TEST_F(JournalTest, ARunEndedWithoutExitIsReplayedAsTheLogShowedIt)
{
    struct Case {
        const char* name;
        int fileRecords;
        std::vector<std::string> steps;
        size_t readings;  // recovered records left in the log
        int32_t lastNo;   // the run's last No since New
    } cases[] = {
        {"readings", 0, {"r", "r", "r", "r"}, 4, 4},
        {"deleted, of the file and of the run", 3, {"r", "r", "r", "d0", "d3", "r"}, 3, 4},
        {"New, then more", 2, {"r", "r", "n", "r", "r", "r", "d1"}, 2, 3},
        {"New last", 2, {"r", "r", "n"}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeLog(log, c.fileRecords);
        fs::remove(journal);
        std::vector<Bytes> shown;
        {
            Session before(log);
            before.Play(c.steps);
            shown = before.Rows();
        }
        ASSERT_TRUE(fs::exists(journal));
        Session after(log);
        EXPECT_EQ(after.Rows(), shown);
        EXPECT_EQ(after.journal.recovery().entries, c.steps.size());
        EXPECT_EQ(after.journal.recovery().readings, c.readings);
        EXPECT_EQ(after.journal.recovery().lastNo, c.lastNo);
        ASSERT_EQ(after.notices.size(), 1u);
        if (c.readings > 1) {
            EXPECT_NE(after.notices[0].find(std::to_string(c.readings) + " unsaved readings"), std::string::npos)
                << after.notices[0];
        }
        EXPECT_EQ(after.notices[0].find("Save keeps") != std::string::npos, c.readings > 0) << after.notices[0];
        // The numbering goes on after the recovered run.
        after.Record("next");
        EXPECT_EQ(after.Text(after.table.recordCount() - 1, "No"), std::to_string(c.lastNo + 1));
    }
}

TEST_F(JournalTest, TheJournalGoesOnAfterARecoveryAndOnlyRemoveDeletesIt)
{
    MakeLog(log, 0);
    {
        Session first(log);
        first.Play({"r", "r"});
    }
    {
        Session second(log);  // recovers two, adds one, and ends without exit again
        second.Record("third");
        EXPECT_EQ(second.Text(2, "No"), "3");
    }
    {
        Session third(log);
        ASSERT_EQ(third.table.recordCount(), 3u);
        EXPECT_EQ(third.Text(2, "Value"), "third");
        EXPECT_EQ(third.journal.recovery().readings, 3u);
        // Closing the table (another table opened) keeps the journal.
        third.table.close();
        EXPECT_TRUE(fs::exists(journal));
        third.table.open();
        EXPECT_EQ(third.table.recordCount(), 3u);
        third.journal.detach(ReadingJournal::End::Remove);
        EXPECT_FALSE(fs::exists(journal));
    }
    Session fourth(log);
    EXPECT_EQ(fourth.table.recordCount(), 0u);
    EXPECT_TRUE(fourth.notices.empty());
    EXPECT_EQ(fs::file_size(journal), header);
}

TEST_F(JournalTest, ACutOffTailGivesEveryWholeRecordBeforeIt)
{
    MakeLog(log, 0);
    Bytes whole;
    std::vector<Bytes> shown;
    {
        Session run(log);
        run.Play({"r", "r", "r"});
        shown = run.Rows();
    }
    whole = Slurp(journal);
    ASSERT_EQ(whole.size(), header + 3 * entry);
    const Bytes twoRecords(whole.begin(), whole.end() - long(entry));

    std::vector<std::pair<std::string, Bytes>> tails;
    for (size_t cut = 0; cut < entry; ++cut)  // the last record written up to byte `cut`
        tails.emplace_back("cut at " + std::to_string(cut), Bytes(whole.begin(), whole.end() - long(entry - cut)));
    Bytes torn = whole;  // written whole in length, not in content
    torn[torn.size() - 5] ^= 0x40;
    tails.emplace_back("torn last record", torn);
    Bytes zeros = twoRecords;  // the file grew, its last block never came
    zeros.resize(twoRecords.size() + 4096, 0);
    tails.emplace_back("zeros", zeros);

    for (const auto& [name, bytes] : tails) {
        SCOPED_TRACE(name);
        Spit(journal, bytes);
        {
            Session run(log);
            EXPECT_EQ(run.Rows(), std::vector<Bytes>(shown.begin(), shown.begin() + 2));
            EXPECT_EQ(run.journal.recovery().readings, 2u);
            EXPECT_EQ(run.journal.recovery().keptAs, "");
            // The journal is whole again and goes on.
            EXPECT_EQ(Slurp(journal), twoRecords);
            run.Record("after");
        }
        Session again(log);
        ASSERT_EQ(again.table.recordCount(), 3u);
        EXPECT_EQ(again.Text(2, "Value"), "after");
        EXPECT_EQ(again.Text(2, "No"), "3");
        EXPECT_FALSE(fs::exists(journal + ".1"));
    }

    // Killed while the header of a new journal was being written: nothing in
    // it to keep, so it is started again.
    Spit(journal, Bytes(whole.begin(), whole.begin() + long(header / 2)));
    Session cutHeader(log);
    EXPECT_TRUE(cutHeader.notices.empty());
    EXPECT_EQ(Slurp(journal), Bytes(whole.begin(), whole.begin() + long(header)));
    EXPECT_FALSE(fs::exists(journal + ".1"));
}

TEST_F(JournalTest, AJournalThatCannotBeThisLogsIsKeptAsideAndTold)
{
    const Bytes ours = ReadingJournal::Header(ReadingLogSchema());
    // A journal written for a table with one field more.
    const std::string other = (dir.path() + "/Other.DB").toStdString();
    Schema wider = Schema::make({{"No", ftLong, 0}, {"Time", ftTime, 0}, {"DC/AC", ftAlpha, 2}, {"Value", ftAlpha, 6}, {"Unit", ftAlpha, 2}, {"AUTO", ftAlpha, 4}, {"Nval", ftNumber, 0}, {"Probe", ftAlpha, 10}});
    MakeLog(other, 0, wider);
    {
        Session run(other);
        run.Play({"r", "r"});
    }
    const Bytes otherFields = Slurp(ReadingJournal::PathFor(other));
    Bytes badHeader = ours;
    badHeader[20] ^= 1;
    Bytes newer = ours;  // the same fields, a later layout
    newer[8] = 2;
    newer.insert(newer.end(), 2 * entry, 'A');

    struct Case {
        const char* name;
        Bytes bytes;
        const char* told;
    } cases[] = {
        {"other fields", otherFields, "other fields"},
        {"a newer version", newer, "newer version of the program (journal version 2)"},
        {"not a journal", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, "damaged at its start"},
        {"header cut short", Bytes(badHeader.begin(), badHeader.begin() + 24), "damaged at its start"},
        {"header checksum wrong", badHeader, "damaged at its start"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeLog(log, 1);
        for (const char* suffix : {"", ".1", ".2"})
            fs::remove(journal + suffix);
        Spit(journal + ".1", {'o', 'l', 'd'});  // kept before: never replaced
        Spit(journal, c.bytes);
        Session run(log);
        EXPECT_EQ(run.table.recordCount(), 1u);
        EXPECT_EQ(run.journal.recovery().keptAs, journal + ".2");
        EXPECT_EQ(Slurp(journal + ".2"), c.bytes);
        EXPECT_EQ(Slurp(journal + ".1"), (Bytes{'o', 'l', 'd'}));
        ASSERT_EQ(run.notices.size(), 1u);
        EXPECT_NE(run.notices[0].find(c.told), std::string::npos) << run.notices[0];
        EXPECT_NE(run.notices[0].find(journal + ".2"), std::string::npos) << run.notices[0];
        // A new journal for this table took its place.
        EXPECT_EQ(Slurp(journal), ours);
        EXPECT_TRUE(run.journal.isWriting());
    }
}

TEST_F(JournalTest, DamageAfterTheStartSkipsOnlyTheDamagedEntriesAndKeepsTheWholeFile)
{
    MakeLog(log, 0);
    std::vector<Bytes> shown;
    {
        Session run(log);
        run.Play({"r", "r", "r", "r", "r", "r"});
        shown = run.Rows();
    }
    const Bytes whole = Slurp(journal);
    auto at = [&](size_t record) { return long(header + record * entry); };
    auto overwritten = [&](size_t record, size_t offset, size_t n) {
        Bytes b = whole;
        for (size_t i = 0; i < n; ++i)
            b[size_t(at(record)) + offset + i] ^= 0xA5;
        return b;
    };
    Bytes inserted = whole;  // garbage between the second and the third record
    inserted.insert(inserted.begin() + at(2), 100, uint8_t('A'));
    Bytes garbageAtEnd = whole;
    for (int i = 0; i < 4096; ++i)
        garbageAtEnd.push_back(uint8_t(i * 7 + 1));
    Bytes twoPlaces = overwritten(1, 12, 4);
    twoPlaces[size_t(at(4))] = 'Z';  // the tag of the fifth

    struct Case {
        const char* name;
        Bytes bytes;
        std::vector<size_t> back;  // the records read again
        const char* told;
    } cases[] = {
        {"4 bytes inside the third record", overwritten(2, 12, 4), {0, 1, 3, 4, 5}, "1 place(s), 43 bytes in all (about 1 entries)"},
        {"the tag of the first", overwritten(0, 0, 1), {1, 2, 3, 4, 5}, "1 place(s), 43 bytes"},
        {"the checksum of the fifth", overwritten(4, entry - 2, 1), {0, 1, 2, 3, 5}, "1 place(s)"},
        {"two places", twoPlaces, {0, 2, 3, 5}, "2 place(s), 86 bytes"},
        {"garbage between records", inserted, {0, 1, 2, 3, 4, 5}, "1 place(s), 100 bytes"},
        {"garbage at the end", garbageAtEnd, {0, 1, 2, 3, 4, 5}, "1 place(s), 4096 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* suffix : {"", ".1"})
            fs::remove(journal + suffix);
        Spit(journal, c.bytes);
        std::vector<Bytes> expected;
        Bytes rewritten(whole.begin(), whole.begin() + long(header));
        for (size_t i : c.back) {
            expected.push_back(shown[i]);
            rewritten.insert(rewritten.end(), whole.begin() + at(i), whole.begin() + at(i + 1));
        }
        {
            Session run(log);
            EXPECT_EQ(run.Rows(), expected);
            EXPECT_EQ(Slurp(journal + ".1"), c.bytes);
            EXPECT_EQ(Slurp(journal), rewritten);
            ASSERT_EQ(run.notices.size(), 1u);
            EXPECT_NE(run.notices[0].find(std::to_string(expected.size()) + " unsaved readings"), std::string::npos)
                << run.notices[0];
            EXPECT_NE(run.notices[0].find(c.told), std::string::npos) << run.notices[0];
            EXPECT_NE(run.notices[0].find(journal + ".1"), std::string::npos) << run.notices[0];
            run.Record("after");
        }
        // The kept-aside journal gave all it had: not mentioned again.
        Session again(log);
        EXPECT_EQ(again.table.recordCount(), expected.size() + 1);
        ASSERT_EQ(again.notices.size(), 1u);
        EXPECT_EQ(again.notices[0].find(".1"), std::string::npos) << again.notices[0];
        EXPECT_FALSE(fs::exists(journal + ".2"));
    }
}

// A recovery of a damaged journal killed at each of its moments: the next
// open brings back every readable record and names the kept-aside journal,
// and no leftover stays behind.
TEST_F(JournalTest, AKillDuringARecoveryHidesNoReading)
{
    using Step = ReadingJournal::RecoveryStep;
    MakeLog(log, 0);
    std::vector<Bytes> shown;
    {
        Session run(log);
        run.Play({"r", "r", "r", "r", "r"});
        shown = run.Rows();
    }
    Bytes damaged = Slurp(journal);
    damaged[header + 2 * entry + 12] ^= 0xFF;
    shown.erase(shown.begin() + 2);
    Bytes foreign = ReadingJournal::Header(ReadingLogSchema());
    foreign[8] = 2;  // a newer version
    foreign.insert(foreign.end(), damaged.begin() + long(header), damaged.end());

    struct Case {
        Step step;
        bool damagedJournal;
        const char* told;  // the kept-aside journal named this way at the next open
    } cases[] = {
        {Step::NewJournalPartWritten, true, "damaged in 1 place"},
        {Step::NewJournalWritten, true, "damaged in 1 place"},
        {Step::DamagedKeptAside, true, "was cut short"},
        {Step::NewJournalInPlace, true, nullptr},
        {Step::OtherKeptAside, false, "holds readings that are not in this log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.step));
        for (const char* suffix : {"", ".1", ".1.new", ".2"})
            fs::remove(journal + suffix);
        Spit(journal, c.damagedJournal ? damaged : foreign);
        const pid_t child = ::fork();
        if (child == 0) {
            Session killed(log, [&](ReadingJournal& j) {
                j.onRecoveryStep = [&](Step s) {
                    if (s == c.step)
                        ::raise(SIGKILL);
                };
            });
            ::_exit(0);
        }
        ASSERT_GT(child, 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the step was not reached";

        Session next(log);
        EXPECT_EQ(next.Rows(), c.damagedJournal ? shown : std::vector<Bytes>{});
        ASSERT_EQ(next.notices.size(), c.told ? 1u : size_t(c.damagedJournal));
        if (c.told) {
            EXPECT_NE(next.notices[0].find(c.told), std::string::npos) << next.notices[0];
            EXPECT_NE(next.notices[0].find(journal + ".1\""), std::string::npos) << next.notices[0];
        }
        if (c.damagedJournal) {
            EXPECT_NE(next.notices[0].find("4 unsaved readings"), std::string::npos) << next.notices[0];
        }
        EXPECT_EQ(Slurp(journal + ".1"), c.damagedJournal ? damaged : foreign);
        EXPECT_FALSE(fs::exists(journal + ".1.new"));
        EXPECT_FALSE(fs::exists(journal + ".2"));
    }
}

TEST_F(JournalTest, EveryOpenNamesTheKeptAsideJournalsWhoseReadingsAreNotInTheLog)
{
    const Bytes ours = ReadingJournal::Header(ReadingLogSchema());
    Bytes newer = ours;
    newer[8] = 7;
    newer.insert(newer.end(), 43, 'A');
    Bytes oursWithEntries = ours;
    oursWithEntries.insert(oursWithEntries.end(), 43, 'A');
    MakeLog(log, 0);
    Spit(journal + ".1", oursWithEntries);  // kept when its entries were brought back
    Spit(journal + ".2", newer);
    Spit(journal + ".3", Bytes(ours.begin(), ours.begin() + 10));  // a header that never reached it whole
    Spit(journal + ".5", {'x'});
    Spit(journal + ".old", {'x'});
    for (int open = 0; open < 2; ++open) {
        Session run(log);
        ASSERT_EQ(run.notices.size(), 1u);
        EXPECT_EQ(run.journal.recovery().keptWithReadings, (std::vector<std::string>{journal + ".2", journal + ".5"}));
        EXPECT_NE(run.notices[0].find("The journals \"" + journal + ".2\", \"" + journal + ".5\""), std::string::npos)
            << run.notices[0];
        EXPECT_NE(run.notices[0].find("delete them"), std::string::npos) << run.notices[0];
    }
    fs::remove(journal + ".2");
    fs::remove(journal + ".5");
    Session dealtWith(log);
    EXPECT_TRUE(dealtWith.notices.empty());
}

TEST_F(JournalTest, ADeletionIsNotRepeatedOnALogFileThatChanged)
{
    MakeLog(log, 3);
    {
        Session run(log);
        run.Play({"r", "d1", "r"});
    }
    MakeLog(log, 4, ReadingLogSchema(), 201);  // another file put in the log's place since
    Session run(log);
    ASSERT_EQ(run.table.recordCount(), 6u);  // its second record is not the one deleted
    EXPECT_EQ(run.Text(1, "Value"), "file1");
    EXPECT_EQ(run.Text(5, "Value"), "v2");
    EXPECT_EQ(run.journal.recovery().deletionsSkipped, 1u);
    ASSERT_EQ(run.notices.size(), 1u);
    EXPECT_NE(run.notices[0].find("not repeated"), std::string::npos) << run.notices[0];
}

TEST_F(JournalTest, AJournalThatCannotBeWrittenIsToldAndTheLogWorks)
{
    const std::string elsewhere = (dir.path() + "/elsewhere").toStdString();
    struct Case {
        const char* name;
        std::function<void()> block;
        const char* told;
    } cases[] = {
        {"a folder in its place", [&] { fs::create_directory(journal); }, "cannot be opened"},
        {"a link in its place", [&] {
             Spit(elsewhere, {'k', 'e', 'e', 'p'});
             fs::create_symlink(elsewhere, journal);
         },
         "is a symbolic link; the journal must be an ordinary file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeLog(log, 0);
        fs::remove_all(journal);
        c.block();
        {
            Session run(log);
            EXPECT_FALSE(run.journal.isWriting());
            ASSERT_EQ(run.notices.size(), 1u);
            EXPECT_NE(run.notices[0].find("cannot be kept"), std::string::npos) << run.notices[0];
            EXPECT_NE(run.notices[0].find(c.told), std::string::npos) << run.notices[0];
            run.Play({"r", "r"});
            EXPECT_EQ(run.table.recordCount(), 2u);
            run.journal.detach(ReadingJournal::End::Remove);  // removes nothing it does not own
        }
        EXPECT_TRUE(fs::exists(fs::symlink_status(journal)));
    }
    EXPECT_EQ(Slurp(elsewhere), (Bytes{'k', 'e', 'e', 'p'}));
}

}  // namespace

TEST_F(JournalTest, AReplayKeepsTheRecordsDatesAndDatesThoseOfAnEarlierVersionFromTheirEntries)
{
    MakeLog(log, 2);
    const QDateTime beforeMidnight(QDate(2026, 12, 10), QTime(23, 59, 59, 850));
    int64_t undatedPostedAt = 0;
    {
        Session first(log);
        first.clock.set(beforeMidnight);
        first.Record("a");
        first.clock.advance(300);  // the next day
        first.Record("b");
        // Posted without a date, as an earlier version posted every record:
        // its entry holds the time it was posted.
        first.table.append();
        first.table.setFieldString("Value", "old");
        first.table.post();
        undatedPostedAt = first.ms;
        EXPECT_EQ(first.table.recordStamp(4), ReadingTable::kUndated);
        first.table.deleteRecord(0);  // one of the file's: the dates move with their records
    }
    Session second(log);
    ASSERT_EQ(second.table.recordCount(), 4u);
    EXPECT_EQ(second.Text(0, "Value"), "file1");
    EXPECT_EQ(second.table.recordStamp(0), ReadingTable::kUndated);  // the table file holds no dates
    EXPECT_EQ(second.table.recordStamp(1), beforeMidnight.toMSecsSinceEpoch());
    EXPECT_EQ(second.table.recordStamp(2), beforeMidnight.toMSecsSinceEpoch() + 300);
    EXPECT_EQ(second.Text(3, "Value"), "old");
    EXPECT_EQ(second.table.recordStamp(3), undatedPostedAt);
    EXPECT_EQ(second.journal.recovery().firstMs, beforeMidnight.toMSecsSinceEpoch());
}
