// ReadingTable: exclusive open, pending changes, the walk, copies, messages;
// and the grid model over it.
#include "record/ReadingTable.h"
#include "record/grid/ReadingTableModel.h"
#include "support/PxlibIo.h"
#include "support/SampleLog.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QLocale>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <utility>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace paradox;
namespace fs = std::filesystem;

namespace {

const char* const kClosed = "Cannot perform this operation on a closed dataset";

std::vector<uint8_t> slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The log's seven fields, optionally in another order, other case and with extras.
std::vector<FieldSpec> logFields()
{
    return {{"No", ftLong, 0}, {"Time", ftTime, 0}, {"DC/AC", ftAlpha, 2}, {"Value", ftAlpha, 6}, {"Unit", ftAlpha, 2}, {"AUTO", ftAlpha, 4}, {"Nval", ftNumber, 0}};
}

// Writes a table whose records carry No 1..records.
std::string makeTable(const std::string& path, const std::vector<FieldSpec>& specs, int records)
{
    Schema s = Schema::make(specs);
    RowStore rows(s.recordSize);
    int no = s.find("No");
    for (int i = 1; i <= records; ++i) {
        uint8_t* r = rows.append();
        if (no >= 0)
            setInteger(r, s.fields[size_t(no)], i);
    }
    writeTableFile(path, s, rows);
    return path;
}

class ReadingTableTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }
    QTemporaryDir dir;
    std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
};

// Runs body in a child process and returns its exit status.
template <class F>
int inChild(F body)
{
    pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(ReadingTableTest, BareNameOpensInTheWorkingDirectoryAndPathsExactlyAsWritten)
{
    makeTable(path("QUELTDB.DB"), logFields(), 2);
    makeTable(path("old.db"), logFields(), 5);
    makeTable(path("OLD.DB"), logFields(), 3);
    makeTable(path("other.db"), logFields(), 1);
    const fs::path before = fs::current_path();
    fs::current_path(dir.path().toStdString());
    // The bare name is the log of the working directory, in whatever case
    // another system wrote its file name.
    ReadingTable t;
    t.setTableName("Queltdb");
    t.open();
    fs::current_path(before);
    EXPECT_EQ(t.filePath(), path("QUELTDB.DB"));
    EXPECT_EQ(t.recordCount(), 2u);
    t.close();

    // A path names one file: of two that differ only in case, the one written;
    // a path in another case than the file's names no file.
    for (const auto& [name, records] : {std::pair{"old.db", 5u}, std::pair{"OLD.DB", 3u}}) {
        t.setTableName(path(name));
        t.open();
        EXPECT_EQ(t.filePath(), path(name));
        EXPECT_EQ(t.recordCount(), records);
        t.close();
    }
    t.setTableName(path("OTHER.DB"));
    try {
        t.open();
        ADD_FAILURE() << "opened " << t.filePath();
    } catch (const ParadoxError& e) {
        EXPECT_NE(std::string(e.what()).find("OTHER.DB': No such file"), std::string::npos) << e.what();
    }
}

TEST_F(ReadingTableTest, PendingRecordsAreSeenButNeverWritten)
{
    const std::string file = makeTable(path("log.db"), logFields(), 2);
    const std::vector<uint8_t> original = slurp(file);
    {
        ReadingTable t;
        t.setTableName(file);
        t.open();
        EXPECT_EQ(t.currentRecord(), 0);
        AppendSampleReading(t, 3, "-1.234");
        AppendSampleReading(t, 4, "0L");
        EXPECT_EQ(t.recordCount(), 4u);
        EXPECT_EQ(t.currentRecord(), 3);  // the posted record is current
        EXPECT_EQ(t.fieldText("VALUE"), "0L");
        t.deleteRecord(0);

        std::vector<std::string> walk;
        for (t.first(); !t.eof(); t.next())
            walk.push_back(t.fieldText("No") + "|" + t.fieldText("Time") + "|" + t.fieldText("DC/AC") + "|" +
                           t.fieldText("Value") + "|" + t.fieldText("Unit") + "|" + t.fieldText("AUTO"));
        EXPECT_EQ(walk, (std::vector<std::string>{"2|||||", "3|13:05:09|DC|-1.234|k*|AUTO", "4|13:05:09|DC|0L|k*|AUTO"}));
        EXPECT_EQ(t.currentRecord(), 2);  // the walk ends on the last record
        EXPECT_EQ(slurp(file), original);
        t.close();
        t.open();
        EXPECT_EQ(t.recordCount(), 2u);
        EXPECT_EQ(t.fieldText("No"), "1");
    }
    EXPECT_EQ(slurp(file), original);
}

TEST_F(ReadingTableTest, EmptyAndCloseDiscardWhatIsPending)
{
    ReadingTable t;
    t.setTableName(makeTable(path("log.db"), logFields(), 3));
    t.open();
    t.append();
    t.setFieldInteger("No", 9);  // never posted
    t.empty();
    EXPECT_EQ(t.recordCount(), 0u);
    t.first();
    EXPECT_TRUE(t.eof());
    EXPECT_EQ(t.currentRecord(), -1);
    EXPECT_EQ(t.fieldText("No"), "");
    AppendSampleReading(t, 1, "1.000");
    EXPECT_EQ(t.recordCount(), 1u);
    t.append();
    t.close();
    t.open();
    EXPECT_EQ(t.recordCount(), 3u);
}

TEST_F(ReadingTableTest, ExtraFieldsAndLowerCaseNamesWorkAndSurviveACopy)
{
    const std::vector<FieldSpec> odd = {{"note", ftAlpha, 10}, {"value", ftAlpha, 8}, {"unit", ftAlpha, 3}, {"no", ftLong, 0}, {"time", ftTime, 0}, {"dc/ac", ftAlpha, 2}, {"auto", ftAlpha, 4}, {"nval", ftNumber, 0}, {"Count", ftShort, 0}};
    ReadingTable t;
    t.setTableName(makeTable(path("odd.db"), odd, 1));
    t.open();
    AppendSampleReading(t, 2, "5.500");
    EXPECT_EQ(t.fieldText("Value"), "5.500");
    EXPECT_EQ(t.fieldText("Note"), "");
    t.copyTo(path("copy.db"));

    pxio::ReadResult px = pxio::readTable(path("copy.db"));
    ASSERT_EQ(px.fields.size(), odd.size());
    for (size_t i = 0; i < odd.size(); ++i)
        EXPECT_EQ(px.fields[i].name, odd[i].name);
    ASSERT_EQ(px.rows.size(), 2u);
    EXPECT_EQ(px.rows[1][1].s, "5.500");
    EXPECT_EQ(px.rows[1][2].s, "k*");
    EXPECT_EQ(px.rows[1][3].l, 2);
    EXPECT_EQ(px.rows[1][4].l, (13 * 3600 + 5 * 60 + 9) * 1000);
    EXPECT_EQ(px.rows[1][7].d, 1234.0);
    EXPECT_EQ(px.rows[1][0].s, "");  // the extra fields stay empty
}

TEST_F(ReadingTableTest, CopyReplacesATableButNotOneThatIsOpen)
{
    const std::string log = makeTable(path("log.db"), logFields(), 2);
    const std::string other = makeTable(path("other.db"), logFields(), 7);
    ReadingTable t;
    t.setTableName(log);
    t.open();
    AppendSampleReading(t, 3, "1.111");
    t.copyTo(other);
    EXPECT_EQ(pxio::readTable(other).rows.size(), 3u);

    const std::vector<uint8_t> original = slurp(log);
    fs::create_symlink(log, path("alias.db"));
    for (const std::string& self : {log, path("alias.db")}) {
        try {
            t.copyTo(self);
            ADD_FAILURE() << "copied onto the open table through " << self;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("is in use"), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(slurp(log), original);

    // The saved copy opened exclusively takes an index request on a real field only.
    ReadingTable dest;
    dest.setTableName(other);
    dest.open();
    EXPECT_NO_THROW(dest.addIndex("no"));
    try {
        dest.addIndex("Not");
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Field 'Not' not found");
    }
}

TEST_F(ReadingTableTest, ATableWithMemoFieldsCopiesItsMemoFile)
{
    const std::string src = makeTable(path("memo.db"), {{"No", ftLong, 0}, {"Note", ftMemo, 20}}, 1);
    ReadingTable t;
    t.setTableName(src);
    t.open();
    EXPECT_EQ(t.fieldText("Note"), "");
    try {
        t.copyTo(path("copy.db"));
        ADD_FAILURE() << "copied without its memo file";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("memo file"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(path("copy.db")));
    std::ofstream(path("memo.mb")) << "memo data";
    t.copyTo(path("copy.db"));
    EXPECT_EQ(slurp(path("copy.MB")), slurp(path("memo.mb")));
    EXPECT_EQ(readTableFile(path("copy.db")).rows.size(), 1u);
}

TEST_F(ReadingTableTest, OpenIsExclusiveAcrossHandlesAndProcesses)
{
    const std::string file = makeTable(path("log.db"), logFields(), 1);
    fs::create_symlink(file, path("alias.db"));
    ReadingTable first;
    first.setTableName(file);
    first.open();

    for (const std::string& name : {file, path("alias.db")}) {
        ReadingTable second;
        second.setTableName(name);
        try {
            second.open();
            ADD_FAILURE() << "second open of " << name;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("is busy"), std::string::npos) << e.what();
        }
        EXPECT_FALSE(second.isOpen());
    }
    auto otherProcessOpens = [&] {
        return inChild([&] {
            try {
                ReadingTable t;
                t.setTableName(file);
                t.open();
                return 0;
            } catch (const std::exception&) {
                return 1;
            }
        });
    };
    EXPECT_EQ(otherProcessOpens(), 1);
    first.close();
    EXPECT_EQ(otherProcessOpens(), 0);
}

TEST_F(ReadingTableTest, MessagesForClosedTablesMissingFieldsAndBadFiles)
{
    ReadingTable t;
    const std::vector<std::pair<const char*, std::function<void()>>> closedOps = {
        {"append", [&] { t.append(); }},
        {"post", [&] { t.post(); }},
        {"record count", [&] { t.recordCount(); }},
        {"empty", [&] { t.empty(); }},
        {"first", [&] { t.first(); }},
        {"next", [&] { t.next(); }},
        {"eof", [&] { t.eof(); }},
        {"field text", [&] { t.fieldText("No"); }},
        {"delete", [&] { t.deleteRecord(0); }},
        {"copy", [&] { t.copyTo(path("x.db")); }},
        {"add index", [&] { t.addIndex("No"); }},
        {"set field", [&] { t.setFieldString("Value", "1"); }},
    };
    for (const auto& [what, op] : closedOps) {
        try {
            op();
            ADD_FAILURE() << what;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), kClosed) << what;
        }
    }
    EXPECT_FALSE(fs::exists(path("x.db")));

    t.setTableName(makeTable(path("log.db"), logFields(), 1));
    t.open();
    t.append();
    for (const char* name : {"Bogus", "Nott"}) {
        try {
            t.setFieldString(name, "x");
            ADD_FAILURE() << name;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "Field '" + std::string(name) + "' not found");
        }
    }
    EXPECT_THROW(t.setTableName("other"), std::runtime_error);
    EXPECT_THROW(t.setFieldString("No", "12x"), std::runtime_error);
    EXPECT_THROW(t.setFieldInteger("No", -2147483648LL), std::runtime_error);  // would read as blank
    t.close();

    std::ofstream(path("junk.db")) << "not a table at all";
    t.setTableName(path("junk.db"));
    EXPECT_THROW(t.open(), ParadoxError);
    EXPECT_FALSE(t.isOpen());
    t.setTableName(path("missing.db"));
    EXPECT_THROW(t.open(), ParadoxError);
    ASSERT_EQ(::mkfifo(path("fifo.db").c_str(), 0600), 0);
    t.setTableName(path("fifo.db"));
    EXPECT_THROW(t.open(), ParadoxError);  // refused, not waited on
}

TEST(ReadingTableTime, LongFormatLosesItsZone)
{
    const std::vector<std::pair<QString, QString>> cases = {
        {"HH:mm:ss t", "HH:mm:ss"},
        {"h:mm:ss AP t", "h:mm:ss AP"},
        {"tttt HH:mm:ss", "HH:mm:ss"},
        {"HH:mm:ss", "HH:mm:ss"},
        {"'at' HH:mm:ss (t)", "'at' HH:mm:ss ()"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(timeFormatWithoutZone(in), out) << in.toStdString();
}

TEST_F(ReadingTableTest, TimeTextFollowsTheLocale)
{
    ReadingTable t;
    t.setTableName(makeTable(path("log.db"), logFields(), 0));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    t.open();
    AppendSampleReading(t, 1, "1", QTime(13, 5, 9));
    EXPECT_EQ(t.fieldText("Time"), "1:05:09" + QLocale().pmText().prepend(' ').toStdString());
}

// ---- The grid model -------------------------------------------------------------

TEST_F(ReadingTableTest, ModelShowsTheSixColumnsReadOnly)
{
    // Fields in another order, "Unit" missing, an extra field.
    const std::vector<FieldSpec> fields = {{"value", ftAlpha, 6}, {"No", ftLong, 0}, {"Extra", ftAlpha, 3}, {"Time", ftTime, 0}, {"dc/ac", ftAlpha, 2}, {"AUTO", ftAlpha, 4}, {"Nval", ftNumber, 0}};
    ReadingTable t;
    t.setTableName(makeTable(path("log.db"), fields, 0));
    ReadingTableModel m(t);
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(m.rowCount(), 0);  // closed
    t.open();

    std::vector<int> inserted;
    QObject::connect(&m, &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex&, int first, int last) { inserted.push_back(last - first + 1); });
    for (int no : {1, 2}) {
        t.append();
        t.setFieldInteger("No", no);
        t.setFieldTime("Time", QTime(13, 5, 9));
        t.setFieldString("DC/AC", "DC");
        t.setFieldString("Value", no == 1 ? "-1.234" : "0.000");
        t.setFieldString("AUTO", "AUTO");
        t.post();
    }
    EXPECT_EQ(inserted, (std::vector<int>{1, 1}));
    ASSERT_EQ(m.rowCount(), 2);
    ASSERT_EQ(m.columnCount(), 6);

    const QStringList titles = {"No", "Time", "dc/ac", "value", "Unit", "AUTO"};
    const QStringList row0 = {"1", "13:05:09", "DC", "-1.234", "", "AUTO"};
    const std::vector<Qt::Alignment> align = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignHCenter,
                                              Qt::AlignRight, Qt::AlignRight, Qt::AlignLeft};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(m.headerData(c, Qt::Horizontal).toString(), titles[c]);
        const QModelIndex i = m.index(0, c);
        EXPECT_EQ(m.data(i).toString(), row0[c]) << c;
        EXPECT_TRUE(Qt::Alignment(m.data(i, Qt::TextAlignmentRole).toInt()) & align[size_t(c)]) << c;
        EXPECT_FALSE(m.flags(i) & Qt::ItemIsEditable);
    }

    // A walk over every record reaches the view as one move, to the last row.
    std::vector<int> moves;
    QObject::connect(&m, &ReadingTableModel::currentRowChanged, [&](int row) { moves.push_back(row); });
    QCoreApplication::processEvents();
    moves.clear();
    for (t.first(); !t.eof(); t.next()) {
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(moves, std::vector<int>{1});

    t.deleteRecord(0);
    EXPECT_EQ(m.rowCount(), 1);
    EXPECT_EQ(m.data(m.index(0, 0)).toString(), "2");
    t.empty();
    EXPECT_EQ(m.rowCount(), 0);
    t.close();
    EXPECT_EQ(m.rowCount(), 0);
}

TEST_F(ReadingTableTest, ModelOutlivingItsTableShowsNothing)
{
    auto t = std::make_unique<ReadingTable>();
    t->setTableName(makeTable(path("log.db"), logFields(), 3));
    t->open();
    ReadingTableModel m(*t);
    EXPECT_EQ(m.rowCount(), 3);
    t.reset();
    EXPECT_EQ(m.rowCount(), 0);
    EXPECT_FALSE(m.data(m.index(0, 0)).isValid());
}

TEST_F(ReadingTableTest, AnObserverLeavingWhileToldSkipsNoOther)
{
    // Counts appends; the first one leaves the list on its first append.
    struct Counter final : ReadingTableObserver {
        ReadingTable* leaveFrom = nullptr;
        int appended = 0;
        void rowAppended(size_t) override
        {
            ++appended;
            if (leaveFrom)
                std::exchange(leaveFrom, nullptr)->removeObserver(this);
        }
    };
    ReadingTable t;
    t.setTableName(makeTable(path("log.db"), logFields(), 0));
    t.open();
    Counter leaving, staying;
    leaving.leaveFrom = &t;
    t.addObserver(&leaving);
    t.addObserver(&staying);
    AppendSampleReading(t, 1, "1.000");
    AppendSampleReading(t, 2, "2.000");
    EXPECT_EQ(leaving.appended, 1);
    EXPECT_EQ(staying.appended, 2);
    t.removeObserver(&staying);
}
