// Export CSV and Log to CSV file from the window's Record menu.
#include "WindowFixture.h"

#include <QAction>
#include <QMenu>

#include "record/CsvExport.h"
#include "record/CsvLog.h"
#include "support/RunUntil.h"

namespace {

TEST(CsvWindow, TheRecordMenuExportsAndLogsToDailyFiles)
{
    QLocale::setDefault(QLocale::c());
    WindowFixture f;
    TFCOMM& w = *f.w;
    const QDir dir(f.workDir.path());
    const QList<QAction*> items = Parts(w).ui->RecordSave1->associatedObjects().isEmpty()
                                      ? QList<QAction*>()
                                      : qobject_cast<QMenu*>(Parts(w).ui->RecordSave1->associatedObjects().first())->actions();
    const qsizetype save = items.indexOf(Parts(w).ui->RecordSave1);
    ASSERT_GE(save, 0);
    EXPECT_EQ(items.value(save + 1), Parts(w).ui->RecordExportCsv1);
    EXPECT_EQ(items.value(save + 2), Parts(w).ui->RecordLogCsv1);
    EXPECT_TRUE(Parts(w).ui->RecordLogCsv1->isCheckable());
    EXPECT_FALSE(Parts(w).ui->RecordLogCsv1->isChecked());

    // Cancelling the folder leaves the log off; choosing one starts it.
    qputenv("XDG_DATA_HOME", dir.filePath("data").toLocal8Bit());
    Parts(w).ui->RecordLogCsv1->trigger();
    EXPECT_FALSE(Parts(w).ui->RecordLogCsv1->isChecked());
    EXPECT_EQ(f.dialogs.folderStarts, QStringList{dir.filePath("data/quelt/logs")});
    EXPECT_TRUE(QDir(dir.filePath("data/quelt/logs")).exists());
    f.dialogs.files = {dir.filePath("logs")};
    Parts(w).ui->RecordLogCsv1->trigger();
    EXPECT_TRUE(Parts(w).ui->RecordLogCsv1->isChecked());

    f.Feed(MeterRun('+', "1234", '1', 0x30, 0, 0, 0x80));
    const QString today = dir.filePath("logs/" + QString::fromStdString(CsvLog::fileName(
                                                     f.clock.now().date().toString(Qt::ISODate).toStdString())));
    EXPECT_TRUE(RunUntil([&] { return FileBytes(today).count('\n') == 2; }));
    EXPECT_TRUE(FileBytes(today).endsWith(",1,12:34:56,1.234,V,1.234,V,DC,AUTO,0\r\n")) << FileBytes(today).toStdString();

    // Unchecked, the next reading goes to the log only.
    Parts(w).ui->RecordLogCsv1->trigger();
    EXPECT_FALSE(Parts(w).ui->RecordLogCsv1->isChecked());
    f.Feed(MeterRun('-', "0042", '0', 0x08, 0, 0x20, 0x20));
    EXPECT_EQ(FileBytes(today).count('\n'), 2);

    f.dialogs.files = {dir.filePath("all.csv")};
    Parts(w).ui->RecordExportCsv1->trigger();
    EXPECT_EQ(f.dialogs.filters.last(), CsvExport::kFilter);
    EXPECT_EQ(f.dialogs.messages.last(), "The log was exported to " + dir.filePath("all.csv") + ".");
    EXPECT_EQ(FileBytes(dir.filePath("all.csv")).count('\n'), 3);
    EXPECT_TRUE(f.dialogs.errors.isEmpty()) << f.dialogs.errors.join(" | ").toStdString();
    qunsetenv("XDG_DATA_HOME");
}

}  // namespace
