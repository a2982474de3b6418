// The CSV files: the line format (exact SI values, units, quoting, local
// timestamps), Export CSV of the whole log and the daily files of the CSV log,
// read back with Python's csv module; and quelt-decode --csv agreeing with them.
#include "record/CsvExport.h"
#include "record/CsvFormat.h"
#include "record/CsvLog.h"
#include "record/ReadingTable.h"
#include "record/Recorder.h"
#include "record/paradox/ReplacingFile.h"

#include "meter/FrameDecoder.h"
#include "support/CentralEuropeanTime.h"
#include "support/FakeClock.h"
#include "support/FakeDialogs.h"
#include "support/NullSeams.h"
#include "support/PythonCsv.h"
#include "support/RunUntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

using namespace paradox;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kColumns = {"timestamp", "no", "time", "value", "unit",
                                           "display", "prefix_unit", "coupling", "range", "overload"};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The computer's zone is Central European Time for every test here: an offset
// that changes twice a year and is not UTC.
class CsvTest : public CentralEuropeanTime {
protected:
    static int64_t Berlin(QDate d, QTime t) { return QDateTime(d, t).toMSecsSinceEpoch(); }
};

// A log table holding `records` records of its own, as an earlier Save left it.
void MakeOldLog(const std::string& path, int records)
{
    const Schema schema = ReadingLogSchema();
    RowStore rows(schema.recordSize);
    for (int i = 0; i < records; ++i) {
        uint8_t* r = rows.append();
        setInteger(r, schema.fields[size_t(schema.find("No"))], 1 + i);
        setInteger(r, schema.fields[size_t(schema.find("Time"))], (8 * 3600 + i) * 1000);
        setText(r, schema.fields[size_t(schema.find("Value"))], "1.500");
        setText(r, schema.fields[size_t(schema.find("Unit"))], "k*");
        setText(r, schema.fields[size_t(schema.find("AUTO"))], "MANU");
    }
    writeTableFile(path, schema, rows);
}

Reading MakeReading(const std::string& value, const std::string& unit, const std::string& coupling = "DC")
{
    Reading r;
    r.ValueText = value;
    r.UnitText = unit;
    r.CouplingText = coupling;
    r.RangeModeText = "AUTO";
    return r;
}

// A log open on a table of the temporary folder, with the recorder on a
// clock the test sets.
struct Log {
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/Queltdb.DB").toStdString();
    ReadingTable table;
    RecorderState state;
    FakeClock clock{QDateTime(QDate(2026, 12, 10), QTime(23, 59, 59, 0))};
    Recorder recorder{state, table, clock};

    explicit Log(int oldRecords = 0)
    {
        MakeOldLog(path, oldRecords);
        table.setTableName(path);
        table.open();
    }
    void Record(const Reading& r, int afterMs = 250)
    {
        clock.advance(afterMs);
        ASSERT_EQ(recorder.INDataToTable(r, RecorderControls{}), RecordOutcome::Written);
    }
};

}  // namespace

// ---- The line format -----------------------------------------------------------

TEST(CsvFormat, TheValueIsTheDisplaysDecimalInTheBaseUnitWithNoFloatNoise)
{
    const struct {
        const char* display;
        const char* unit;
        std::optional<std::string> value;
    } cases[] = {
        {"000.6", "mV", "0.0006"},
        {"-1.234", "k*", "-1234"},
        {"1.234", "M*", "1234000"},
        {"00.12", "mV", "0.00012"},
        {"0.003", "uF", "0.000000003"},
        {"5.999", "nF", "0.000000005999"},
        {"-123.4", "", "-123.4"},
        {"60.00", "Hz", "60"},
        {"0123", "#", "123"},
        {"-0.000", "V", "0"},  // no negative zero
        {"0.000", "uA", "0"},
        {"5999", "mA", "5.999"},  // no point on the display
        {"0.L", "V", std::nullopt},
        {".0L", "k*", std::nullopt},
        {"1A23", "V", std::nullopt},  // digits that are no digits
        {"1.2.3", "V", std::nullopt},
        {"-", "V", std::nullopt},
        {"", "V", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.display) + " " + c.unit);
        EXPECT_EQ(siValue(c.display, c.unit), c.value);
    }
}

TEST(CsvFormat, UnitsAreTheirSISymbolsAndTheDisplaysOwnInRealCharacters)
{
    const struct {
        const char* lcd;
        const char* si;
        const char* shown;
    } cases[] = {
        {"V", "V", "V"}, {"mV", "V", "mV"}, {"k*", "\u03A9", "k\u03A9"}, {"M*", "\u03A9", "M\u03A9"}, {"*", "\u03A9", "\u03A9"}, {"uA", "A", "\u00B5A"}, {"nF", "F", "nF"}, {"mF", "F", "mF"}, {"#", "\u00B0C", "\u00B0C"}, {"?", "\u00B0F", "\u00B0F"}, {"Hz", "Hz", "Hz"}, {"%", "%", "%"}, {"", "", ""}, {"x*", "x\u03A9", "x\u03A9"},  // never sent by the meter: as it is, in real characters
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lcd);
        EXPECT_EQ(siUnit(c.lcd), c.si);
        EXPECT_EQ(prefixUnit(c.lcd), c.shown);
    }
}

TEST_F(CsvTest, ALineQuotesOnlyWhereNeededAndDatesInLocalTimeWithItsOffset)
{
    CsvTimestamps stamps;
    std::string out;
    CsvReading r;
    r.stamp = Berlin(QDate(2026, 12, 10), QTime(23, 59, 59, 850));
    r.no = "7";
    r.time = "23:59:59";
    r.display = "-1.234";
    r.unit = "k*";
    r.coupling = "AC";
    r.range = "MANU";
    appendCsvLine(out, r, stamps);
    EXPECT_EQ(out, "2026-12-10T23:59:59.850+01:00,7,23:59:59,-1234,\u03A9,-1.234,k\u03A9,AC,MANU,0\r\n");

    out.clear();
    r.stamp = CsvReading::kUndated;
    r.time = "11:59:59 \"p\xE9m\", late";  // Latin-1, a quote and a comma
    r.display = "0.L";
    r.unit = "";
    r.coupling = "";
    appendCsvLine(out, r, stamps);
    EXPECT_EQ(out, ",7,\"11:59:59 \"\"p\u00E9m\"\", late\",,,OL,,,MANU,1\r\n");
}

TEST_F(CsvTest, TimestampsFollowTheZoneAcrossItsChangesOfOffset)
{
    CsvTimestamps stamps;
    auto iso = [&](int64_t ms) {
        std::string s;
        stamps.appendIso(s, ms);
        return s;
    };
    EXPECT_EQ(iso(Berlin(QDate(2026, 7, 1), QTime(12, 0))), "2026-07-01T12:00:00.000+02:00");
    EXPECT_EQ(iso(Berlin(QDate(1969, 12, 31), QTime(23, 0, 0, 1))), "1969-12-31T23:00:00.001+01:00");
    // Summer time begins on 29 March 2026 at 01:00 UTC. Readings every 7.5 s
    // through that hour: each the local time Qt itself gives.
    const int64_t from = QDateTime(QDate(2026, 3, 29), QTime(0, 30), Qt::UTC).toMSecsSinceEpoch();
    for (int64_t ms = from; ms < from + 3600000; ms += 7500) {
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
        ASSERT_EQ(QString::fromStdString(iso(ms)), t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs));
    }
    EXPECT_EQ(iso(QDateTime(QDate(2026, 3, 29), QTime(0, 59, 59, 999), Qt::UTC).toMSecsSinceEpoch()),
              "2026-03-29T01:59:59.999+01:00");
    EXPECT_EQ(iso(QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch()),
              "2026-03-29T03:00:00.000+02:00");
}

// ---- Export CSV ------------------------------------------------------------------

TEST_F(CsvTest, ExportWritesTheWholeLogThatPythonReadsWithOldRecordsUndated)
{
    Log log(2);
    log.Record(MakeReading("000.6", "mV"));
    log.Record(MakeReading("-1.234", "k*", "AC"));
    log.Record(MakeReading("0.L", "*", ""));  // past midnight
    log.Record(MakeReading("25.0", "#", ""));
    log.table.setCurrentRecord(1);
    const std::string file = log.dir.filePath("out.csv").toStdString();
    exportTableCsv(log.table, file);

    EXPECT_EQ(log.table.currentRecord(), 1);  // the export walks nothing
    EXPECT_EQ(log.table.recordCount(), 6u);
    const PythonCsv csv = ReadCsvWithPython(QString::fromStdString(file));
    ASSERT_TRUE(csv.read) << csv.error;
    EXPECT_TRUE(csv.crlfOnly);
    EXPECT_FALSE(csv.bom);
    EXPECT_EQ(csv.header, kColumns);
    ASSERT_EQ(csv.rows.size(), 6u);
    for (size_t row : {0, 1}) {  // from the table file: no date
        EXPECT_EQ(csv.at(row, "timestamp"), "");
        EXPECT_EQ(csv.at(row, "no"), std::to_string(row + 1));
        EXPECT_EQ(csv.at(row, "time"), log.table.cellText(row, 1));
        EXPECT_EQ(csv.at(row, "value"), "1500");
        EXPECT_EQ(csv.at(row, "prefix_unit"), "k\u03A9");
        EXPECT_EQ(csv.at(row, "range"), "MANU");
    }
    const std::vector<std::vector<std::string>> expected = {
        // timestamp, no, time, value, unit, display, prefix_unit, coupling, range, overload
        {"2026-12-10T23:59:59.250+01:00", "1", "", "0.0006", "V", "000.6", "mV", "DC", "AUTO", "0"},
        {"2026-12-10T23:59:59.500+01:00", "2", "", "-1234", "\u03A9", "-1.234", "k\u03A9", "AC", "AUTO", "0"},
        {"2026-12-10T23:59:59.750+01:00", "3", "", "", "\u03A9", "OL", "\u03A9", "", "AUTO", "1"},
        {"2026-12-11T00:00:00.000+01:00", "4", "", "25", "\u00B0C", "25.0", "\u00B0C", "", "AUTO", "0"},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        for (size_t c = 0; c < kColumns.size(); ++c) {
            if (kColumns[c] != "time") {
                EXPECT_EQ(csv.at(i + 2, kColumns[c]), expected[i][c]) << kColumns[c];
            }
        }
        EXPECT_EQ(csv.at(i + 2, "time"), log.table.cellText(i + 2, 1));
    }
}

TEST_F(CsvTest, AnExportThatFailsSaysWhyAndChangesNothing)
{
    Log log;
    log.Record(MakeReading("1.000", "V"));
    FakeDialogs dialogs;
    CsvExport exporter(log.table, dialogs);
    const QString missing = log.dir.filePath("no such folder/out.csv");
    dialogs.files = {missing, QString("/dev/full"), log.dir.filePath("good.csv")};
    exporter.ExportCsv();
    exporter.ExportCsv();
    exporter.ExportCsv();
    EXPECT_EQ(dialogs.filters, QStringList(3, "CSV File(*.csv)|*.csv"));
    EXPECT_EQ(dialogs.defaultSuffixes, QStringList(3, "csv"));
    ASSERT_EQ(dialogs.messages.size(), 3);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Could not export the log to " + missing)) << dialogs.messages[0].toStdString();
    EXPECT_TRUE(dialogs.messages[1].contains("No space left on device")) << dialogs.messages[1].toStdString();
    EXPECT_EQ(dialogs.messages[2], "The log was exported to " + log.dir.filePath("good.csv") + ".");
    EXPECT_FALSE(fs::exists(missing.toStdString()));
    EXPECT_EQ(log.table.recordCount(), 1u);
}

TEST_F(CsvTest, AnExportOfATableWithoutTheLogsFieldsTouchesNoFile)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Other.DB").toStdString();
    writeTableFile(path, Schema::make({{"No", ftLong, 0}, {"Time", ftTime, 0}}), RowStore(8));
    ReadingTable table;
    table.setTableName(path);
    table.open();
    const std::string file = dir.filePath("out.csv").toStdString();
    EXPECT_THROW(exportTableCsv(table, file), ParadoxError);
    EXPECT_FALSE(fs::exists(file));
}

// ---- quelt-decode --csv ----------------------------------------------------------

TEST_F(CsvTest, QueltDecodeGivesTheValuesTheLogExportsForTheSameFrames)
{
    // Runs of the meter: sign, four digits, spare, point code, four status bytes.
    const std::vector<std::string> bodies = {
        std::string("+0012 2\x30\x00\x40\x80", 11),  // 00.12 mV DC auto
        std::string("-1234 1\x20\x00\x20\x20", 11),  // -1.234 kOhm, auto
        std::string("+0006 4\x10\x00\x40\x80", 11),  // 000.6 mV DC, manual
        std::string("+?000 1\x20\x00\x00\x20", 11),  // overload, ohm
        std::string("+5999 1\x10\x00\x80\x40", 11),  // 5.999 uA DC, manual
        std::string("+0250 4\x20\x00\x00\x02", 11),  // 025.0 degrees Celsius
        // A digit that is none: reported and never a line (last, since a
        // frame that fails costs the framing the run after it too).
        std::string("+:000 2\x20\x00\x00\x80", 11),
    };
    std::string capture;
    Log log;
    ScaleSet scale = ScaleSet::Set6();
    for (const std::string& b : bodies) {
        capture += '\x0A' + b + '\x00' + '\x0D';
        // The window's road: framing, decoding, and the recorder for the frames that decode.
        std::string text;
        for (const unsigned char c : b + '\x00' + '\x0D') {
            static const char kHex[] = "0123456789ABCDEF";
            text += kHex[c >> 4];
            text += kHex[c & 15];
        }
        try {
            const DecodedFrame d = DecodeFrame(text.substr(0, 26), scale);
            d.ThrowIfFailed();
            scale = d.scale;
            log.Record(d.reading);
        } catch (const std::exception&) {
        }
    }
    ASSERT_EQ(log.table.recordCount(), bodies.size() - 1);
    const QString exported = log.dir.filePath("log.csv");
    exportTableCsv(log.table, exported.toStdString());
    const QString frames = log.dir.filePath("frames.bin");
    {
        std::ofstream out(frames.toStdString(), std::ios::binary);
        out << capture;
    }
    QProcess tool;
    tool.setStandardOutputFile(log.dir.filePath("decoded.csv"));
    tool.start(qEnvironmentVariable("QUELT_BIN_DIR") + "/quelt-decode", {"--csv", frames});
    ASSERT_TRUE(tool.waitForFinished(20000));
    EXPECT_EQ(tool.exitCode(), 0);
    EXPECT_TRUE(tool.readAllStandardError().contains("is not a valid integer value"));

    const PythonCsv logged = ReadCsvWithPython(exported), decoded = ReadCsvWithPython(log.dir.filePath("decoded.csv"));
    ASSERT_TRUE(logged.read) << logged.error;
    ASSERT_TRUE(decoded.read) << decoded.error;
    EXPECT_TRUE(decoded.crlfOnly);
    EXPECT_EQ(decoded.header, kColumns);
    ASSERT_EQ(decoded.rows.size(), logged.rows.size());
    for (size_t i = 0; i < decoded.rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(decoded.at(i, "timestamp"), "");  // a file: no arrival time
        EXPECT_EQ(decoded.at(i, "time"), "");
        EXPECT_EQ(decoded.at(i, "no"), std::to_string(i + 1));
        for (const char* c : {"value", "unit", "display", "prefix_unit", "coupling", "range", "overload"})
            EXPECT_EQ(decoded.at(i, c), logged.at(i, c)) << c;
    }
    EXPECT_EQ(decoded.at(0, "value"), "0.00012");
    EXPECT_EQ(decoded.at(3, "overload"), "1");
}

// ---- The CSV log -----------------------------------------------------------------

namespace {

struct FileLog : Log {
    const std::string folder = dir.filePath("logs/csv").toStdString();
    CsvLog csv{table};
    QStringList notices;

    FileLog()
    {
        csv.onNotice = [this](const QString& t) { notices << t; };
        csv.start(folder);
    }
    std::string File(const char* date) const { return folder + "/" + CsvLog::fileName(date); }
};

}  // namespace

TEST_F(CsvTest, TheLogSplitsAtMidnightIntoDailyFilesThatNewAndDeletionsLeaveAlone)
{
    FileLog log;
    log.Record(MakeReading("1.000", "V"));
    log.Record(MakeReading("1.001", "V"));
    log.Record(MakeReading("1.002", "V"), 1000);  // 00:00:00.500 of the 11th
    log.csv.flush();
    log.recorder.New();  // empties the log, not the files
    log.Record(MakeReading("1.003", "V"));
    log.table.deleteRecord(0);
    log.Record(MakeReading("1.004", "V"));
    log.csv.stop();
    log.csv.start(log.folder);  // an existing day's file is appended to
    log.Record(MakeReading("1.005", "V"));
    log.csv.flush();
    EXPECT_TRUE(log.notices.isEmpty()) << log.notices.join("\n").toStdString();

    const PythonCsv first = ReadCsvWithPython(QString::fromStdString(log.File("2026-12-10")));
    const PythonCsv second = ReadCsvWithPython(QString::fromStdString(log.File("2026-12-11")));
    ASSERT_TRUE(first.read) << first.error;
    ASSERT_TRUE(second.read) << second.error;
    EXPECT_EQ(first.header, kColumns);
    EXPECT_EQ(second.header, kColumns);
    EXPECT_TRUE(first.crlfOnly && second.crlfOnly);
    ASSERT_EQ(first.rows.size(), 2u);
    ASSERT_EQ(second.rows.size(), 4u);  // one header only
    const std::vector<std::pair<std::string, std::string>> lines = {
        {"1", "1"}, {"2", "1.001"}, {"3", "1.002"}, {"1", "1.003"}, {"2", "1.004"}, {"3", "1.005"}};
    std::string last;
    for (size_t i = 0; i < lines.size(); ++i) {
        const PythonCsv& f = i < 2 ? first : second;
        const size_t row = i < 2 ? i : i - 2;
        SCOPED_TRACE(i);
        EXPECT_EQ(f.at(row, "no"), lines[i].first);
        EXPECT_EQ(f.at(row, "value"), lines[i].second);
        const std::string stamp = f.at(row, "timestamp");
        EXPECT_EQ(stamp.substr(0, 10), i < 2 ? "2026-12-10" : "2026-12-11");
        EXPECT_GT(stamp, last);  // same length and offset: the text order is the time order
        last = stamp;
    }
    EXPECT_EQ(log.table.recordCount(), 2u);
}

TEST_F(CsvTest, TheLogWritesByItselfAndLeavesReplayedRecordsOut)
{
    FileLog log;
    std::vector<uint8_t> row(log.table.schema().recordSize, 0);
    const uint8_t* rows[] = {row.data()};
    log.table.appendRows(rows);  // as the journal's replay adds them
    EXPECT_EQ(log.csv.pendingBytes(), 0u);
    log.Record(MakeReading("1.000", "V"));
    EXPECT_GT(log.csv.pendingBytes(), 0u);
    EXPECT_FALSE(fs::exists(log.File("2026-12-10")));  // no system call for the frame itself
    EXPECT_TRUE(RunUntil([&] { return log.csv.pendingBytes() == 0; }));
    const std::string written = Slurp(log.File("2026-12-10"));
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2);
}

TEST_F(CsvTest, AFailingWriteIsToldOnceKeepsItsLinesAndIsToldAgainOnlyAfterItWorked)
{
    FileLog log;
    log.Record(MakeReading("1.000", "V"));
    log.csv.flush();
    fs::remove_all(log.folder);  // the folder goes while the day's file is open
    log.Record(MakeReading("1.001", "V"));
    log.csv.flush();
    log.Record(MakeReading("1.002", "V"));
    log.csv.flush();
    ASSERT_EQ(log.notices.size(), 1);
    EXPECT_TRUE(log.notices[0].contains(QString::fromStdString(log.File("2026-12-10")))) << log.notices[0].toStdString();
    EXPECT_TRUE(log.notices[0].contains("No such file or directory"));
    EXPECT_EQ(log.table.recordCount(), 3u);  // the log goes on

    fs::create_directories(log.folder);
    log.csv.flush();  // the next batch takes up the lines missed
    const PythonCsv csv = ReadCsvWithPython(QString::fromStdString(log.File("2026-12-10")));
    ASSERT_TRUE(csv.read) << csv.error;
    ASSERT_EQ(csv.rows.size(), 2u);
    EXPECT_EQ(csv.at(0, "value"), "1.001");
    EXPECT_EQ(csv.at(1, "value"), "1.002");
    EXPECT_EQ(log.notices.size(), 1);

    fs::remove_all(log.folder);
    log.Record(MakeReading("1.003", "V"));
    log.csv.flush();
    EXPECT_EQ(log.notices.size(), 2);
}

TEST_F(CsvTest, AFolderThatCannotBeMadeIsToldAndLeavesTheLogOff)
{
    Log log;
    const std::string file = log.dir.filePath("plain").toStdString();
    std::ofstream(file) << "x";
    CsvLog csv(log.table);
    try {
        csv.start(file + "/logs");
        ADD_FAILURE() << "started";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find(file + "/logs"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(csv.isOn());
    EXPECT_TRUE(CsvLog::defaultFolder().endsWith("/quelt/logs"));
}
