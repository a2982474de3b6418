// Settings kept between runs: what the file gives back (and what it refuses),
// how it is written, and the window that applies and remembers them.
#include "WindowFixture.h"

#include "app/AppSettings.h"

#include <QSettings>
#include <sys/stat.h>

namespace {

// A settings file in a folder of its own, and the lines it warned.
struct KeptFile {
    QTemporaryDir dir;
    QString path = dir.filePath("quelt/quelt.conf");
    QStringList warnings;
    std::unique_ptr<AppSettings> store;

    void Open()
    {
        store = std::make_unique<AppSettings>(path, [this](const QString& line) { warnings << line; });
    }
    void Write(const QString& text)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.toUtf8());
    }
};

ino_t Inode(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

TEST(AppSettings, TheDefaultFileIsInTheConfigFolder)
{
    // The tests' own folder (tests/support/test_main.cpp), never the user's.
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    ASSERT_FALSE(config.isEmpty());
    EXPECT_EQ(AppSettings::defaultPath(), QFile::decodeName(config) + "/quelt/quelt.conf");
}

TEST(AppSettings, ReadsEveryValueAndIgnoresEachBadOneWithOneLine)
{
    KeptFile kept;
    kept.Write("[serial]\nport=3\n"
               "[record]\nlimit=limitless\ninterval=5\nintervalOn=true\nrepeat=false\n"
               "[limits]\nmax=1234\nmaxOn=true\nmin=-\nminOn=false\n"
               "[chart]\npointsPerPage=500\nfill=false\n"
               "[csvLog]\non=true\nfolder=/tmp/logs\n"
               "[folders]\nsave=/tmp/a\nexport=/tmp/b\nopen=/tmp/c\n");
    kept.Open();
    const KeptValues v = kept.store->read();
    EXPECT_TRUE(kept.warnings.isEmpty()) << kept.warnings.join('\n').toStdString();
    EXPECT_EQ(v.port, 3);
    EXPECT_EQ(v.recordLimit, kLimitless);
    EXPECT_EQ(v.samplingInterval, "5");
    EXPECT_EQ(v.samplingOn, true);
    EXPECT_EQ(v.repeat, false);
    EXPECT_EQ(v.setMax, "1234");
    EXPECT_EQ(v.setMaxOn, true);
    EXPECT_EQ(v.setMin, "-");
    EXPECT_EQ(v.setMinOn, false);
    EXPECT_EQ(v.pointsPerPage, "500");
    EXPECT_EQ(v.fill, false);
    EXPECT_EQ(v.csvLogOn, true);
    EXPECT_EQ(v.csvLogFolder, "/tmp/logs");
    EXPECT_EQ(v.saveFolder, "/tmp/a");
    EXPECT_EQ(v.exportFolder, "/tmp/b");
    EXPECT_EQ(v.openFolder, "/tmp/c");

    // Out of range or unreadable: each is left out, told once, and does not
    // hide the good value after it.
    struct Case {
        const char* line;
        const char* key;
    };
    const Case bad[] = {
        {"[serial]\nport=5", "serial/port"},
        {"[serial]\nport=0", "serial/port"},
        {"[serial]\nport=two", "serial/port"},
        {"[record]\nlimit=7000", "record/limit"},
        {"[record]\nlimit=", "record/limit"},
        {"[record]\ninterval=5s", "record/interval"},
        {"[record]\ninterval=99999999999", "record/interval"},
        {"[record]\nintervalOn=1", "record/intervalOn"},
        {"[record]\nrepeat=yes", "record/repeat"},
        {"[limits]\nmax=12.5", "limits/max"},
        {"[limits]\nmin=--", "limits/min"},
        {"[chart]\npointsPerPage=-3", "chart/pointsPerPage"},
        {"[csvLog]\non=", "csvLog/on"},
        {"[csvLog]\nfolder=logs", "csvLog/folder"},
        {"[folders]\nsave=", "folders/save"},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(c.line);
        KeptFile one;
        one.Write(QString(c.line) + "\n[chart]\nfill=false\n");
        one.Open();
        const KeptValues w = one.store->read();
        ASSERT_EQ(one.warnings.size(), 1) << one.warnings.join('\n').toStdString();
        EXPECT_TRUE(one.warnings[0].contains(c.key)) << one.warnings[0].toStdString();
        EXPECT_TRUE(one.warnings[0].contains(one.path)) << one.warnings[0].toStdString();
        EXPECT_EQ(w.fill, false);
        EXPECT_FALSE(w.port || w.recordLimit || w.samplingInterval || w.samplingOn || w.repeat || w.setMax ||
                     w.setMin || w.pointsPerPage || w.csvLogFolder || w.saveFolder);
    }
}

TEST(AppSettings, NoFileReadsNothingAndMakesNone)
{
    KeptFile kept;
    kept.Open();
    const KeptValues v = kept.store->read();
    EXPECT_TRUE(kept.warnings.isEmpty());
    EXPECT_FALSE(v.port || v.recordLimit || v.fill || v.csvLogOn || v.openFolder);
    EXPECT_FALSE(QFileInfo::exists(kept.path));
}

TEST(AppSettings, AChangeIsInTheFileAtOnceThroughANewFile)
{
    KeptFile kept;
    kept.Open();
    kept.store->set(AppSettings::kPort, 2);
    ASSERT_TRUE(QFileInfo::exists(kept.path));  // the folder is made too
    EXPECT_EQ(QSettings(kept.path, QSettings::IniFormat).value("serial/port").toString(), "2");
    const ino_t first = Inode(kept.path);

    // The same value again: the file stays as it is.
    kept.store->set(AppSettings::kPort, 2);
    EXPECT_EQ(Inode(kept.path), first);

    // Another value replaces the file whole (written aside, then renamed), so
    // an end at any moment leaves the old file or the new one.
    kept.store->set(AppSettings::kFill, false);
    EXPECT_NE(Inode(kept.path), first);
    QSettings back(kept.path, QSettings::IniFormat);
    EXPECT_EQ(back.value("serial/port").toString(), "2");
    EXPECT_EQ(back.value("chart/fill").toString(), "false");
    EXPECT_TRUE(kept.warnings.isEmpty());
}

TEST(AppSettings, AFileThatCannotBeWrittenIsToldOnce)
{
    KeptFile kept;
    kept.Write("");
    // The folder of the file is a file: nothing can be written there.
    kept.path = kept.dir.filePath("quelt/quelt.conf/inner.conf");
    kept.Open();
    kept.store->set(AppSettings::kPort, 2);
    kept.store->set(AppSettings::kPort, 3);
    ASSERT_EQ(kept.warnings.size(), 1);
    EXPECT_TRUE(kept.warnings[0].contains(kept.path));
}

// The window with a kept file: what the user set comes back at the next start.
TEST(SettingsWindow, WhatTheUserSetComesBackAtTheNextStart)
{
    KeptFile kept;
    kept.Open();
    QTemporaryDir folders;
    const QString saved = folders.filePath("saved/run1.txt");
    QDir().mkpath(QFileInfo(saved).path());
    {
        WindowFixture f(std::nullopt, true, 0, kept.store.get());
        EXPECT_FALSE(QFileInfo::exists(kept.path)) << "the start-up wrote the file";
        Ui::TFCOMM* ui = Parts(*f.w).ui;
        f.w->COM31Click();
        f.w->limitessClick();
        ui->Setmax->setText("1234");
        ui->SetMaxB->click();
        ui->SetMin->setText("-77");
        ui->RecordSITime->setText("5");
        ui->RecordSI->click();
        ui->RepeatSet->click();
        ui->Maxrecord->setText("500");
        ui->BtFill->click();
        f.dialogs.files.push_back(saved);
        f.w->saveasClick();
        EXPECT_TRUE(f.dialogs.errors.isEmpty()) << f.dialogs.errors.join('\n').toStdString();
        f.w->BtExit1Click();
    }
    KeptFile again;
    again.path = kept.path;
    again.Open();
    WindowFixture f(std::nullopt, true, 0, again.store.get());
    WindowParts p = Parts(*f.w);
    EXPECT_TRUE(again.warnings.isEmpty()) << again.warnings.join('\n').toStdString();
    EXPECT_EQ(p.COMM2.ComPort(), TComPortNumber(2));
    EXPECT_TRUE(p.ui->COM31->isChecked());
    EXPECT_TRUE(p.ui->BtCOM3->isVisibleTo(f.w.get()));
    EXPECT_EQ(p.recorderState.RecordLimit, kLimitless);
    EXPECT_TRUE(p.ui->limitess->isChecked());
    EXPECT_FALSE(p.ui->N100001->isChecked());
    // Through SetmaxExit: the limit, not only the text.
    EXPECT_EQ(p.ui->Setmax->text(), "1234");
    EXPECT_EQ(p.limits.MaxLimit, 1234.0f);
    EXPECT_TRUE(p.ui->SetMaxB->isChecked());
    EXPECT_EQ(p.limits.MinLimit, -77.0f);
    EXPECT_FALSE(p.ui->SetMinB->isChecked());
    EXPECT_EQ(p.ui->RecordSITime->text(), "5");
    EXPECT_EQ(p.recorderState.SampleCountdown, 5);
    EXPECT_TRUE(p.ui->RecordSI->isChecked());
    EXPECT_FALSE(p.ui->RepeatSet->isChecked());
    EXPECT_EQ(p.chart.PointsPerPage, 500);
    EXPECT_FALSE(p.ui->BtFill->isChecked());
    EXPECT_FALSE(p.ui->Fill1->isChecked());
    EXPECT_EQ(p.chart.shownSeries(), TrendChart::kLineSeries);
    // The save dialog opens where the last file went; the others where they did.
    f.w->saveasClick();
    f.w->SpeedButton2Click();
    ASSERT_EQ(f.dialogs.fileStarts.size(), 2);
    EXPECT_EQ(f.dialogs.fileStarts[0], QFileInfo(saved).absolutePath());
    EXPECT_EQ(f.dialogs.fileStarts[1], QString());
    EXPECT_TRUE(f.dialogs.errors.isEmpty()) << f.dialogs.errors.join('\n').toStdString();
}

TEST(SettingsWindow, WithoutAFileTheWindowStartsAsWithoutSettings)
{
    KeptFile kept;
    kept.Open();
    WindowFixture plain;
    WindowFixture withStore(std::nullopt, true, 0, kept.store.get());
    WindowParts a = Parts(*plain.w), b = Parts(*withStore.w);
    EXPECT_EQ(a.COMM2.ComPort(), b.COMM2.ComPort());
    EXPECT_EQ(a.recorderState.RecordLimit, b.recorderState.RecordLimit);
    EXPECT_EQ(a.ui->Setmax->text(), b.ui->Setmax->text());
    EXPECT_EQ(a.limits.MaxLimit, b.limits.MaxLimit);
    EXPECT_EQ(a.ui->RecordSITime->text(), b.ui->RecordSITime->text());
    EXPECT_EQ(a.ui->RepeatSet->isChecked(), b.ui->RepeatSet->isChecked());
    EXPECT_EQ(a.chart.PointsPerPage, b.chart.PointsPerPage);
    EXPECT_EQ(a.ui->BtFill->isChecked(), b.ui->BtFill->isChecked());
    EXPECT_FALSE(b.csvLog.isOn());
    EXPECT_FALSE(QFileInfo::exists(kept.path));
    EXPECT_TRUE(withStore.dialogs.messages.isEmpty() && withStore.dialogs.errors.isEmpty());
}

TEST(SettingsWindow, TheCsvLogGoesOnWhereItWasOrSaysWhyNot)
{
    QTemporaryDir logs;
    {
        // Its folder is there: logging is on again, into it.
        KeptFile kept;
        kept.Write("[csvLog]\non=true\nfolder=" + logs.path() + "\n");
        kept.Open();
        WindowFixture f(std::nullopt, true, 0, kept.store.get());
        WindowParts p = Parts(*f.w);
        EXPECT_TRUE(p.csvLog.isOn());
        EXPECT_EQ(QString::fromStdString(p.csvLog.folder()), logs.path());
        EXPECT_TRUE(p.ui->RecordLogCsv1->isChecked());
    }
    {
        // Off: the folder is the one the dialog offers.
        KeptFile kept;
        kept.Write("[csvLog]\non=false\nfolder=" + logs.path() + "\n");
        kept.Open();
        WindowFixture f(std::nullopt, true, 0, kept.store.get());
        EXPECT_FALSE(Parts(*f.w).csvLog.isOn());
        Parts(*f.w).ui->RecordLogCsv1->setChecked(true);
        f.w->LogCsvClick();
        EXPECT_EQ(f.dialogs.folderStarts, QStringList{logs.path()});
    }
    {
        // A folder that cannot be made: told once the window is up, logging off,
        // everything else applied.
        QFile blocker(logs.filePath("file"));
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        KeptFile kept;
        kept.Write("[csvLog]\non=true\nfolder=" + logs.filePath("file/sub") + "\n[serial]\nport=4\n");
        kept.Open();
        WindowFixture f(std::nullopt, true, 0, kept.store.get());
        EXPECT_FALSE(Parts(*f.w).csvLog.isOn());
        EXPECT_FALSE(Parts(*f.w).ui->RecordLogCsv1->isChecked());
        EXPECT_EQ(Parts(*f.w).COMM2.ComPort(), TComPortNumber(3));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !f.dialogs.messages.isEmpty(); }, 5000));
        EXPECT_TRUE(f.dialogs.messages[0].contains(logs.filePath("file/sub"))) << f.dialogs.messages[0].toStdString();
    }
}

}  // namespace
