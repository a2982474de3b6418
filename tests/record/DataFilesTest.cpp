// DataFiles: the text export byte for byte, the table copy read back by pxlib
// and by our reader and opened as the log, opening old tables, and failures
// that lose nothing.
#include "record/DataFiles.h"
#include "record/ReadingLog.h"
#include "record/ReadingTable.h"
#include "record/Recorder.h"
#include "support/PxlibIo.h"
#include "meter/Reading.h"
#include "platform/UniqueFd.h"
#include "support/FakeDialogs.h"
#include "support/FakeClock.h"
#include "support/NullSeams.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace paradox;
namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& path)
{
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))  // a device such as /dev/full reads without end
        return fs::exists(path, ec) ? "(not a file)" : "(none)";
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string FixturePath(const char* name)
{
    return std::string(std::getenv("QUELT_SOURCE_DIR")) + "/tests/record/fixtures/" + name;
}

// Files the writer left beside its targets (there must be none).
std::vector<std::string> Leftovers(const std::string& dir)
{
    std::vector<std::string> left;
    for (const auto& e : fs::recursive_directory_iterator(dir, fs::directory_options::skip_permission_denied))
        if (e.path().filename().string().find(".tmp") != std::string::npos)
            left.push_back(e.path().string());
    return left;
}

// Holds record locks on files from another process, as another program may.
class LockHolder {
public:
    explicit LockHolder(const std::vector<std::string>& paths)
    {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            throw std::runtime_error("pipe");
        UniqueFd readyIn(ready[0]), readyOut(ready[1]), releaseIn(release[0]);
        releaseFd_.reset(release[1]);
        pid_ = ::fork();
        if (pid_ == 0) {
            readyIn.reset();
            releaseFd_.reset();
            for (const std::string& p : paths) {
                const int fd = ::open(p.c_str(), O_RDWR);
                struct flock fl {};
                fl.l_type = F_WRLCK;
                fl.l_whence = SEEK_SET;
                if (fd < 0 || ::fcntl(fd, F_SETLKW, &fl) != 0)
                    ::_exit(1);
            }
            char c = 'x';
            (void)!::write(readyOut.get(), &c, 1);
            (void)!::read(releaseIn.get(), &c, 1);  // until the parent lets go
            ::_exit(0);
        }
        readyOut.reset();
        releaseIn.reset();
        char c;
        held_ = ::read(readyIn.get(), &c, 1) == 1;
    }
    ~LockHolder()
    {
        releaseFd_.reset();
        ::waitpid(pid_, nullptr, 0);
    }
    bool held() const { return held_; }

private:
    pid_t pid_ = -1;
    UniqueFd releaseFd_;
    bool held_ = false;
};

// File access as an ordinary user for the scope (root passes every
// permission check otherwise).
class AsOrdinaryUser {
public:
    AsOrdinaryUser() : root_(::geteuid() == 0)
    {
        if (root_)
            ::setfsuid(65534);
    }
    ~AsOrdinaryUser()
    {
        if (root_)
            ::setfsuid(0);
    }

private:
    bool root_;
};

class DataFilesTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    QTemporaryDir dir;
    ReadingTable table;
    ReadingLog log{table};
    FakeDialogs dialogs;
    DataFiles files{table, log, dialogs};

    std::string Path(const std::string& name) const { return (dir.path() + "/").toStdString() + name; }
    QString QPath(const std::string& name) const { return QString::fromStdString(Path(name)); }

    // The log of the byte fixture: its fields in another order with one
    // more, two records in the file (one with empty fields) and one pending.
    void OpenFixtureLog()
    {
        const Schema s = Schema::make({{"Note", ftAlpha, 10}, {"AUTO", ftAlpha, 4}, {"Value", ftAlpha, 6}, {"No", ftLong, 0}, {"Time", ftTime, 0}, {"DC/AC", ftAlpha, 2}, {"Unit", ftAlpha, 2}, {"Nval", ftNumber, 0}});
        auto f = [&](const char* name) { return s.fields[size_t(s.find(name))]; };
        RowStore rows(s.recordSize);
        uint8_t* r = rows.append();
        setText(r, f("Note"), "x");
        setText(r, f("AUTO"), "AUTO");
        setText(r, f("Value"), "1.234");
        setInteger(r, f("No"), 1);
        setInteger(r, f("Time"), (13 * 3600 + 5 * 60 + 9) * 1000);
        setText(r, f("DC/AC"), "DC");
        setText(r, f("Unit"), "V");
        r = rows.append();
        setText(r, f("AUTO"), "MANU");
        setText(r, f("Value"), "0L");
        setInteger(r, f("No"), 2);
        setText(r, f("Unit"), "M*");
        writeTableFile(Path("Queltdb.DB"), s, rows);
        log.open(Path("Queltdb.DB"));
        table.append();
        table.setFieldInteger("No", 3);
        table.setFieldTime("Time", QTime(23, 59, 59));
        table.setFieldString("DC/AC", "AC");
        table.setFieldString("Value", "-5.999");
        table.setFieldString("Unit", "\xB5"
                                     "A");  // an ANSI byte from another program's table
        table.post();
    }
    void Save(const QString& path)
    {
        dialogs.files.push_back(path);
        files.Save();
    }
    void ExpectLogUntouched(const std::string& logBytes)
    {
        ASSERT_TRUE(table.isOpen());
        EXPECT_EQ(table.filePath(), Path("Queltdb.DB"));
        EXPECT_EQ(table.recordCount(), 3u);
        EXPECT_EQ(table.cellText(2, table.fieldIndex("Value")), "-5.999");
        EXPECT_EQ(Slurp(Path("Queltdb.DB")), logBytes);
    }
};

TEST_F(DataFilesTest, TextIsTheFixtureByteForByteForEveryNameButDotDb)
{
    OpenFixtureLog();
    const std::string fixture = Slurp(FixturePath("export.txt"));
    ASSERT_FALSE(fixture.empty());
    table.setCurrentRecord(0);
    const std::vector<std::string> names = {"log.xls", "log.txt", "log.DB", "log.Db", "log"};
    for (const std::string& name : names) {
        Save(QPath(name));
        EXPECT_EQ(Slurp(Path(name)), fixture) << name;
        EXPECT_EQ(dialogs.messages.last(), "save table to specified file: " + QPath(name) + " Scuss!");
    }
    EXPECT_EQ(dialogs.filters, QStringList(names.size(), DataFiles::kSaveFilter));
    EXPECT_EQ(dialogs.defaultSuffixes, QStringList(names.size(), "xls"));
    EXPECT_EQ(table.currentRecord(), 2);  // the grid ends on the last record
    EXPECT_EQ(table.recordCount(), 3u);

    // A cancelled dialog does nothing; an empty log gives the header alone.
    files.Save();
    EXPECT_EQ(dialogs.messages.size(), qsizetype(names.size()));
    table.empty();
    Save(QPath("empty.txt"));
    EXPECT_EQ(Slurp(Path("empty.txt")), "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n");
}

TEST_F(DataFilesTest, TableCopyReadsBackEverywhereAndOpensAsTheLog)
{
    OpenFixtureLog();
    std::ofstream(Path("copy.db")) << "an older file, replaced";
    Save(QPath("copy.db"));
    EXPECT_TRUE(dialogs.messages.isEmpty());

    // pxlib and our reader see the log's fields in order and every record.
    const pxio::ReadResult px = pxio::readTable(Path("copy.db"));
    std::vector<std::string> names;
    for (const auto& f : px.fields)
        names.push_back(f.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Note", "AUTO", "Value", "No", "Time", "DC/AC", "Unit", "Nval"}));
    ASSERT_EQ(px.rows.size(), 3u);
    EXPECT_EQ(px.rows[0][0].s, "x");
    EXPECT_TRUE(px.rows[1][5].isNull);  // DC/AC left empty
    EXPECT_EQ(px.rows[2][2].s, "-5.999");
    EXPECT_EQ(px.rows[2][3].l, 3);
    EXPECT_EQ(px.rows[2][4].l, (23 * 3600 + 59 * 60 + 59) * 1000);
    const Table ours = readTableFile(Path("copy.db"));
    EXPECT_EQ(ours.rows.size(), 3u);
    EXPECT_EQ(ours.schema.fields.size(), 8u);
    EXPECT_FALSE(ours.schema.keyed);
    EXPECT_EQ(table.recordCount(), 3u);  // the log keeps its pending record

    // Opened as the log, it records on with the numbering of the run.
    dialogs.files.push_back(QPath("copy.db"));
    files.OpenOld();
    EXPECT_EQ(dialogs.filters.last(), DataFiles::kOpenFilter);
    ASSERT_EQ(table.filePath(), Path("copy.db"));
    EXPECT_EQ(table.currentRecord(), 0);
    RecorderState state;
    state.NextRecordNo = 21;
    state.RecordedCount = 20;
    FakeClock clock{QTime(8, 0, 0)};
    Recorder recorder(state, table, clock);
    Reading r;
    r.ValueText = "0.500";
    ASSERT_EQ(recorder.INDataToTable(r, {}), RecordOutcome::Written);
    ASSERT_EQ(table.recordCount(), 4u);
    EXPECT_EQ(table.cellText(3, table.fieldIndex("No")), "21");
    EXPECT_EQ(table.cellText(3, table.fieldIndex("Note")), "");
    Save(QPath("again.db"));
    EXPECT_EQ(pxio::readTable(Path("again.db")).rows.size(), 4u);
}

TEST_F(DataFilesTest, FailedSavesLoseNothing)
{
    OpenFixtureLog();
    const std::string logBytes = Slurp(Path("Queltdb.DB"));
    fs::permissions(dir.path().toStdString(), fs::perms(0755));
    fs::create_symlink("/dev/full", Path("full.txt"));
    fs::create_symlink("/dev/full", Path("full.db"));
    std::ofstream(Path("plain")) << "a file, not a folder";
    fs::create_directory(Path("ro"));
    for (const char* good : {"ro/good.txt", "ro/good.db", "locked.txt", "locked.db"})
        std::ofstream(Path(good)) << "a good file that must stay as it is";
    fs::permissions(Path("ro"), fs::perms(0555));
    fs::create_symlink(Path("Queltdb.DB"), Path("alias.db"));
    LockHolder other({Path("locked.txt"), Path("locked.db")});
    ASSERT_TRUE(other.held());

    const struct Case {
        const char* name;
        std::string text, copy;  // targets
        const char* reason;
        bool asOrdinaryUser;
    } cases[] = {
        {"full disk", "full.txt", "full.db", "No space left on device", false},
        {"missing folder", "nowhere/log.txt", "nowhere/log.db", "No such file or directory", false},
        {"a file for a folder", "plain/log.txt", "plain/log.db", "Not a directory", false},
        {"unwritable folder", "ro/good.txt", "ro/good.db", "Permission denied", true},
        // Its name ends in ".DB", so it gets the text; the copy goes through another name.
        {"the open log", "Queltdb.DB", "alias.db", "is in use", false},
        {"locked by another program", "locked.txt", "locked.db", "is in use", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string goodText = Slurp(Path(c.text)), goodCopy = Slurp(Path(c.copy));
        {
            std::optional<AsOrdinaryUser> user;
            if (c.asOrdinaryUser)
                user.emplace();
            Save(QPath(c.text));
            try {
                Save(QPath(c.copy));
                ADD_FAILURE() << "the copy to " << c.copy << " succeeded";
            } catch (const std::exception& e) {
                EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
            }
        }
        ASSERT_FALSE(dialogs.messages.isEmpty());
        EXPECT_TRUE(dialogs.messages.last().startsWith("Could not save table to specified file: " + QPath(c.text) + "\n"))
            << dialogs.messages.last().toStdString();
        EXPECT_TRUE(dialogs.messages.last().contains(c.reason)) << dialogs.messages.last().toStdString();
        EXPECT_EQ(Slurp(Path(c.text)), goodText);
        EXPECT_EQ(Slurp(Path(c.copy)), goodCopy);
        ExpectLogUntouched(logBytes);
    }
    struct stat st {};
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_FALSE(fs::exists(Path("nowhere")));
    EXPECT_EQ(Leftovers(dir.path().toStdString()), std::vector<std::string>{});
    fs::permissions(Path("ro"), fs::perms(0755));
}

TEST_F(DataFilesTest, AWriteThatFailsMidwayLeavesTheGoodFileStanding)
{
    OpenFixtureLog();
    for (int i = 0; i < 2000; ++i) {
        table.append();
        table.setFieldInteger("No", 4 + i);
        table.post();
    }
    for (const char* good : {"good.txt", "good.db"})
        std::ofstream(Path(good)) << "a good file that must stay as it is";
    // A file-size limit stands in for a disk that fills up while writing.
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{16384, 16384};
        ::setrlimit(RLIMIT_FSIZE, &small);
        int failures = 0;
        Save(QPath("good.txt"));
        failures += dialogs.messages.last().startsWith("Could not save") && dialogs.messages.last().contains("File too large");
        try {
            Save(QPath("good.db"));
        } catch (const std::exception& e) {
            failures += std::string(e.what()).find("File too large") != std::string::npos;
        }
        ::_exit(failures == 2 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the writes did not fail as a full disk fails";
    for (const char* good : {"good.txt", "good.db"})
        EXPECT_EQ(Slurp(Path(good)), "a good file that must stay as it is") << good;
    EXPECT_EQ(Leftovers(dir.path().toStdString()), std::vector<std::string>{});
}

TEST_F(DataFilesTest, OpenTakesThePathAsChosenAndAFailureKeepsTheLog)
{
    OpenFixtureLog();
    const std::string logBytes = Slurp(Path("Queltdb.DB"));
    const Schema s = ReadingLogSchema();
    for (const auto& [name, records] : {std::pair{"old.db", 5}, std::pair{"OLD.DB", 2}}) {
        RowStore rows(s.recordSize);
        for (int i = 0; i < records; ++i)
            rows.append();
        writeTableFile(Path(name), s, rows);
    }
    std::ofstream(Path("junk.db")) << std::string(4000, 'j');
    writeTableFile(Path("damaged.db"), s, RowStore(s.recordSize));
    fs::resize_file(Path("damaged.db"), 100);
    ReadingTable other;
    other.setTableName(Path("old.db"));
    other.open();
    const struct Case {
        const char* chosen;
        const char* reason;
    } failures[] = {
        {"junk.db", "is not a Paradox data table"},
        {"damaged.db", "is damaged"},
        {"missing.db", "No such file or directory"},
        {"old.DB", "No such file or directory"},  // the chosen name in another case is another file
        {"old.db", "is busy"},                    // held by another handle
    };
    for (const Case& c : failures) {
        SCOPED_TRACE(c.chosen);
        dialogs.files.push_back(QPath(c.chosen));
        try {
            files.OpenOld();
            ADD_FAILURE() << "opened";
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
        ExpectLogUntouched(logBytes);
    }
    other.close();
    for (const auto& [name, records] : {std::pair{"old.db", 5u}, std::pair{"OLD.DB", 2u}}) {
        dialogs.files.push_back(QPath(name));
        files.OpenOld();
        EXPECT_EQ(table.filePath(), Path(name));
        EXPECT_EQ(table.recordCount(), records);  // the pending record of the log before is gone
    }
    files.OpenOld();  // cancelled: the log stays
    EXPECT_EQ(table.filePath(), Path("OLD.DB"));
}

}  // namespace
