// The log's journal seen from the window: only the user's own exit removes
// it, a restart brings the run back as the grid showed it, and a second
// program on the same log leaves it alone.
#include "WindowFixture.h"

#include <QFile>

#include "record/grid/ReadingGridView.h"
#include "support/RunUntil.h"

namespace {

QString JournalOf(const QString& dir) { return QDir(dir).filePath("Queltdb.DB.journal"); }

// Every cell the grid shows.
std::vector<QStringList> Cells(TFCOMM& w)
{
    const QAbstractItemModel* m = Parts(w).ui->DBGrid1->model();
    std::vector<QStringList> rows;
    for (int r = 0; r < m->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < m->columnCount(); ++c)
            row << m->index(r, c).data().toString();
        rows.push_back(row);
    }
    return rows;
}

// The program started again in the working directory of an earlier one.
struct Restart {
    FakeClock clock;
    FakeDialogs dialogs;
    FakeBeeper beeper;
    FakeHidBackend hid;
    std::unique_ptr<TFCOMM> w;

    explicit Restart(const QString& dir)
    {
        InDirectory in(dir);
        w = std::make_unique<TFCOMM>(
            AppServices{dialogs, beeper, clock, hid, FakeSerialFactory(std::make_shared<FakeSerialLine>())});
    }
    void Feed(const std::vector<uint8_t>& bytes) { w->ReceiveData(bytes.data(), int32_t(bytes.size())); }
};

TEST(Journal, OnlyTheUsersOwnExitRemovesIt)
{
    struct Case {
        const char* name;
        std::function<void(WindowFixture&)> end;
        bool kept;
    } cases[] = {
        {"EXIT, Yes", [](WindowFixture& f) { f.dialogs.answers = {DialogButton::Yes}; Parts(*f.w).ui->BitBtn1->click(); }, false},
        {"menu Exit", [](WindowFixture& f) { Parts(*f.w).ui->BtExit1->trigger(); }, false},
        {"close box", [](WindowFixture& f) { EXPECT_TRUE(f.w->close()); }, false},
        {"EXIT, No", [](WindowFixture& f) { f.dialogs.answers = {DialogButton::No}; Parts(*f.w).ui->BitBtn1->click(); }, true},
        {"termination signal", [](WindowFixture& f) { f.w->EndBySignal(); }, true},
        {"gone without exit", [](WindowFixture& f) { f.w.reset(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowFixture f;
        const QString journal = JournalOf(f.workDir.path());
        f.Feed(MeterRun('+', "0001"));
        f.Feed(MeterRun('+', "0002"));
        ASSERT_TRUE(QFile::exists(journal));
        c.end(f);
        EXPECT_EQ(QFile::exists(journal), c.kept);
        if (!c.kept)
            continue;
        f.w.reset();
        Restart again(f.workDir.path());
        ASSERT_TRUE(RunUntil([&] { return !again.dialogs.messages.isEmpty(); }));
        EXPECT_TRUE(again.dialogs.messages[0].contains("2 unsaved readings")) << again.dialogs.messages[0].toStdString();
        EXPECT_EQ(Parts(*again.w).readingTable.recordCount(), 2u);
    }
}

TEST(Journal, ARestartShowsTheRunAsTheGridDidWithNewAndDeletionsAndGoesOnNumbering)
{
    WindowFixture f;
    ReadingGridView* grid = Parts(*f.w).ui->DBGrid1;
    for (const char* d : {"0001", "0002", "0003"})
        f.Feed(MeterRun('+', d));
    grid->setCurrentIndex(grid->model()->index(0, 0));
    f.w->DeleteRecordKey();
    f.w->RecordNewClick();
    for (const char* d : {"0004", "0005", "0006"})
        f.Feed(MeterRun('-', d, '1'));
    grid->setCurrentIndex(grid->model()->index(1, 0));
    f.w->DeleteRecordKey();
    const std::vector<QStringList> shown = Cells(*f.w);
    ASSERT_EQ(shown.size(), 2u);
    f.w.reset();

    Restart again(f.workDir.path());
    ASSERT_TRUE(RunUntil([&] { return !again.dialogs.messages.isEmpty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(again.dialogs.messages.size(), 1);
    EXPECT_TRUE(again.dialogs.messages[0].contains("2 unsaved readings")) << again.dialogs.messages[0].toStdString();
    EXPECT_EQ(Cells(*again.w), shown);
    EXPECT_EQ(again.dialogs.errors, QStringList());

    again.Feed(MeterRun('+', "0007"));
    const std::vector<QStringList> now = Cells(*again.w);
    ASSERT_EQ(now.size(), 3u);
    EXPECT_EQ(now[2][0].toStdString(), "4");  // after the run's No 1 to 3 since New
    EXPECT_EQ(now[2][3].toStdString(), "0007");
}

TEST(Journal, ASecondProgramOnTheSameLogNeitherReadsNorRemovesIt)
{
    WindowFixture first;
    const QString journal = JournalOf(first.workDir.path());
    first.Feed(MeterRun('+', "0001"));
    first.Feed(MeterRun('+', "0002"));
    const qsizetype written = qsizetype(ReadingJournal::Header(ReadingLogSchema()).size() +
                                        2 * ReadingJournal::PostEntrySize(ReadingLogSchema().recordSize));
    ASSERT_TRUE(RunUntil([&] { return FileBytes(journal).size() == written; }));
    const QByteArray before = FileBytes(journal);

    {
        Restart second(first.workDir.path());
        ASSERT_EQ(second.dialogs.errors.size(), 1);
        EXPECT_TRUE(second.dialogs.errors[0].contains("busy")) << second.dialogs.errors[0].toStdString();
        QCoreApplication::processEvents();
        EXPECT_EQ(second.dialogs.messages, QStringList());  // nothing recovered
        EXPECT_FALSE(Parts(*second.w).journal.isAttached());
        Parts(*second.w).ui->BtExit1->trigger();
    }
    EXPECT_EQ(FileBytes(journal), before);

    first.Feed(MeterRun('+', "0003"));
    EXPECT_TRUE(RunUntil([&] { return FileBytes(journal).size() > before.size(); }));
    EXPECT_TRUE(FileBytes(journal).startsWith(before));
}

}  // namespace
