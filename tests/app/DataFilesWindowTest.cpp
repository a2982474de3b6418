// Save and Open old data files from the window's buttons and menu.
#include "WindowFixture.h"

#include <QAction>
#include <QFile>
#include <QToolButton>

#include "record/DataFiles.h"

namespace {

TEST(DataFilesWindow, SaveAndOpenFromTheWindow)
{
    QLocale::setDefault(QLocale::c());
    WindowFixture f;
    TFCOMM& w = *f.w;
    const QDir dir(f.workDir.path());
    QAbstractItemModel* grid = Parts(w).ui->DBGrid1->model();
    f.Feed(MeterRun('+', "1234", '1', 0x30, 0, 0, 0x80));
    f.Feed(MeterRun('-', "0042", '0', 0x08, 0, 0x20, 0x20));

    // The button and the menu item both save; text tells, a table copy does not.
    f.dialogs.files = {dir.filePath("run.txt"), dir.filePath("run.db")};
    Parts(w).ui->saveas->click();
    Parts(w).ui->RecordSave1->trigger();
    EXPECT_EQ(f.dialogs.filters, QStringList(2, DataFiles::kSaveFilter));
    EXPECT_EQ(f.dialogs.messages, QStringList{"save table to specified file: " + dir.filePath("run.txt") + " Scuss!"});
    EXPECT_EQ(FileBytes(dir.filePath("run.txt")),
              "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n1\t12:34:56\tDC\t1.234\tV\tAUTO\r\n"
              "2\t12:34:56\tAC\t-0042\tk*\tMANU\r\n");
    EXPECT_TRUE(f.dialogs.errors.isEmpty()) << f.dialogs.errors.join(" | ").toStdString();

    // A copy that fails goes to the general error report; the log stays.
    ASSERT_TRUE(QFile::link(dir.filePath("Queltdb.DB"), dir.filePath("log-link.db")));
    f.dialogs.files = {dir.filePath("log-link.db")};  // the open log under another name
    Parts(w).ui->saveas->click();
    ASSERT_EQ(f.dialogs.errors.size(), 1);
    EXPECT_TRUE(f.dialogs.errors[0].contains("is in use")) << f.dialogs.errors[0].toStdString();
    EXPECT_EQ(grid->rowCount(), 2);

    // A failed open keeps the log; a good one replaces it and recording goes on.
    QFile junk(dir.filePath("junk.DB"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(3000, 'j'));
    junk.close();
    f.dialogs.files = {dir.filePath("junk.DB")};
    Parts(w).ui->OpenDataFiles->click();
    EXPECT_EQ(f.dialogs.filters.last(), DataFiles::kOpenFilter);
    ASSERT_EQ(f.dialogs.errors.size(), 2);
    EXPECT_TRUE(f.dialogs.errors[1].contains("is not a Paradox data table")) << f.dialogs.errors[1].toStdString();
    EXPECT_EQ(grid->rowCount(), 2);
    const QString oldJournal = dir.filePath("Queltdb.DB.journal");
    EXPECT_EQ(Parts(w).journal.path(), oldJournal.toStdString());
    EXPECT_TRUE(QFile::exists(oldJournal));

    // The records given up go with their journal; the opened table has its own.
    f.dialogs.files = {dir.filePath("run.db")};
    Parts(w).ui->OpenDataFiles->click();
    EXPECT_EQ(Parts(w).readingTable.filePath(), dir.filePath("run.db").toStdString());
    EXPECT_FALSE(QFile::exists(oldJournal));
    EXPECT_EQ(Parts(w).journal.path(), dir.filePath("run.db.journal").toStdString());
    f.Feed(MeterRun('+', "0007"));
    ASSERT_EQ(grid->rowCount(), 3);
    EXPECT_EQ(grid->index(2, 0).data().toString(), "3");
    EXPECT_EQ(f.dialogs.errors.size(), 2);
    EXPECT_EQ(f.dialogs.messages.size(), 1);
    QLocale::setDefault(QLocale::system());
}

}  // namespace
