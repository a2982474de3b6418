#include "WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

namespace {

TEST(Recording, StartUpWithoutAUsableLogReportsAndSkipsTheRest)
{
    struct Case {
        const char* name;
        std::function<void(const QString& dir)> prepare;
        const char* errorStart;
    } cases[] = {
        {"Missing", [](const QString&) {}, "Cannot open table"},
        {"Damaged", [](const QString& dir) {
             QFile f(QDir(dir).filePath("Queltdb.DB"));
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write(QByteArray(3000, 'x'));
         }, ""},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        FakeDialogs dialogs;
        FakeBeeper beeper;
        c.prepare(dir.path());
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        TFCOMM w(AppServices{dialogs, beeper});
        QDir::setCurrent(previous);
        ASSERT_EQ(dialogs.errors.size(), 1) << c.name;
        EXPECT_TRUE(dialogs.errors[0].startsWith(c.errorStart)) << dialogs.errors[0].toStdString();
        EXPECT_EQ(w.windowTitle(), "") << c.name;
        EXPECT_EQ(w.attachedRoutine, ReceiveRoutine::None);
        EXPECT_EQ(w.scale, ScaleSet{});
        EXPECT_FALSE(w.readingTable.isOpen());
        EXPECT_FALSE(QFile::exists(QDir(dir.path()).filePath("Queltdb.DB")) && QString(c.name) == "Missing");
    }
}

TEST(Recording, ASecondProgramCannotOpenTheSameLog)
{
    WindowFixture first;
    FakeDialogs dialogs;
    FakeBeeper beeper;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(first.workDir.path());
    TFCOMM second(AppServices{dialogs, beeper});
    QDir::setCurrent(previous);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains("busy")) << dialogs.errors[0].toStdString();
}

TEST(Recording, ReadingsGoIntoTheGridAndAreGoneAfterExit)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    QTableView* grid = w.ui->DBGrid1;
    f.Feed(MeterRun('+', "1234", '1', 0x30, 0, 0, 0x80));
    f.Feed(MeterRun('-', "0042", '0', 0x08, 0, 0x20, 0x20));
    ASSERT_EQ(grid->model()->rowCount(), 2);
    QCoreApplication::processEvents();  // the grid follows the current record once per event-loop turn
    EXPECT_EQ(grid->currentIndex().row(), 1);
    auto cell = [&](int row, int col) { return grid->model()->index(row, col).data().toString(); };
    EXPECT_EQ(cell(0, 0), "1");
    EXPECT_EQ(cell(0, 3), "1.234");
    EXPECT_EQ(cell(0, 4), "V");
    EXPECT_EQ(cell(1, 2), "AC");
    EXPECT_EQ(cell(1, 3), "-0042");
    EXPECT_EQ(cell(1, 4), "k*");
    EXPECT_EQ(cell(1, 5), "MANU");
    EXPECT_TRUE(cell(1, 1).contains("34")) << cell(1, 1).toStdString();
    EXPECT_FALSE(grid->model()->flags(grid->model()->index(0, 3)) & Qt::ItemIsEditable);

    // Exit discards the pending records: the file still holds none.
    const QString path = QDir(f.workDir.path()).filePath("Queltdb.DB");
    w.ui->BtExit1->trigger();
    ReadingTable again;
    again.setTableName(path.toStdString());
    again.open();
    EXPECT_EQ(again.recordCount(), 0u);
}

TEST(Recording, RecordMenuAndNew)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    QAction* items[] = {w.ui->N10001, w.ui->N50001, w.ui->N100001, w.ui->N500001, w.ui->N1000001, w.ui->limitess};
    const int32_t limits[] = {1000, 5000, 10000, 50000, 100000, 10000000};
    EXPECT_EQ(w.recorderState.RecordLimit, 10000);
    for (int i = 0; i < 6; ++i) {
        items[i]->trigger();
        EXPECT_EQ(w.recorderState.RecordLimit, limits[i]);
        for (int j = 0; j < 6; ++j) EXPECT_EQ(items[j]->isChecked(), i == j);
    }

    f.Feed(MeterRun('+', "0001"));
    f.Feed(MeterRun('+', "0002"));
    w.ui->RecordNew->click();
    EXPECT_EQ(f.dialogs.questions, QStringList{" Record deleted "});
    EXPECT_EQ(w.ui->DBGrid1->model()->rowCount(), 0);
    f.Feed(MeterRun('+', "0003"));
    EXPECT_EQ(w.ui->DBGrid1->model()->index(0, 0).data().toString(), "1");
}

TEST(Recording, ControlsOfTheRecorder)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    w.ui->RepeatSet->setChecked(false);
    for (int i = 0; i < 3; ++i) f.Feed(MeterRun('+', "0001"));
    EXPECT_EQ(w.ui->DBGrid1->model()->rowCount(), 1);

    w.ui->RepeatSet->setChecked(true);
    w.ui->RecordSI->setChecked(true);
    w.ui->RecordSITime->setText("2");
    f.Feed(MeterRun('+', "0002"));
    EXPECT_EQ(w.ui->DBGrid1->model()->rowCount(), 1);  // the countdown restarted from 2
    w.TrecordTimer();
    w.TrecordTimer();
    f.Feed(MeterRun('+', "0003"));
    f.Feed(MeterRun('+', "0004"));
    EXPECT_EQ(w.ui->DBGrid1->model()->rowCount(), 2);
}

TEST(Recording, CtrlDeleteAsksAndDeletesTheSelectedRecord)
{
    WindowFixture f;
    TFCOMM& w = *f.w;
    for (const char* d : {"0001", "0002", "0003"}) f.Feed(MeterRun('+', d));
    QTableView* grid = w.ui->DBGrid1;
    grid->setCurrentIndex(grid->model()->index(1, 0));
    f.dialogs.answers = {DialogButton::Cancel, DialogButton::Ok};
    w.DeleteRecordKey();
    EXPECT_EQ(grid->model()->rowCount(), 3);
    w.DeleteRecordKey();
    EXPECT_EQ(f.dialogs.questions, (QStringList{"Delete record?", "Delete record?"}));
    ASSERT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(grid->model()->index(1, 3).data().toString(), "0003");
}

}  // namespace
