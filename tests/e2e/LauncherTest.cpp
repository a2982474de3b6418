// The menu entry's launcher (build/bin/quelt-launch, made from the same
// template as the installed one): the program runs in the user's data folder,
// with an empty reading log made there the first time and an existing one
// left alone, and gets that folder with --dir and nothing else.
#include "LiveRig.h"

#include "record/ReadingTable.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <sys/stat.h>

namespace e2e {
namespace {

QString ProcLink(qint64 pid, const char* name)
{
    return QFileInfo(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name))).symLinkTarget();
}

ino_t Inode(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

TEST(Launcher, RunsTheProgramInTheUsersDataFolderWithALog)
{
    QTemporaryDir home;
    const QString data = home.filePath("data");
    const QString standard = home.filePath(".local/share/quelt");
    struct Case {
        const char* name;
        std::optional<QString> xdgDataHome;  // nothing: unset
        QString folder;                      // where the program must run
        bool logThere;                       // a log is there before
    };
    const Case cases[] = {
        {"XDG_DATA_HOME set", data, data + "/quelt", false},
        {"XDG_DATA_HOME unset", std::nullopt, standard, false},
        {"XDG_DATA_HOME relative, ignored", QString("relative/data"), standard, true},
        {"XDG_DATA_HOME empty", QString(""), standard, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString log = QDir(c.folder).filePath("Queltdb.DB");
        ASSERT_EQ(QFileInfo::exists(log), c.logThere);
        const ino_t before = Inode(log);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("XDG_DATA_HOME");
        if (c.xdgDataHome)
            env.insert("XDG_DATA_HOME", *c.xdgDataHome);
        QProcess launcher;
        launcher.setProcessEnvironment(env);
        launcher.setWorkingDirectory(home.path());  // a folder the program must not use
        launcher.setProcessChannelMode(QProcess::ForwardedChannels);
        launcher.start(BinDir() + "/quelt-launch", QStringList{});
        ASSERT_TRUE(launcher.waitForStarted(10000));
        const qint64 pid = launcher.processId();

        // The launcher becomes the program. Its command line is set a moment
        // after its executable changes, as the new program is being set up.
        const auto cmdline = [pid] {
            QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        ASSERT_TRUE(WaitFor([&] {
            return (ProcLink(pid, "exe") == QFileInfo(BinDir() + "/quelt").canonicalFilePath() && !cmdline().isEmpty()) ||
                   launcher.state() == QProcess::NotRunning;
        },
                            20000));
        ASSERT_EQ(launcher.state(), QProcess::Running);
        // The program moves into the folder itself, at once.
        EXPECT_TRUE(WaitFor([&] { return ProcLink(pid, "cwd") == QFileInfo(c.folder).canonicalFilePath(); }, 10000))
            << ProcLink(pid, "cwd").toStdString();
        EXPECT_EQ(cmdline(), QFile::encodeName(BinDir() + "/quelt") + '\0' + "--dir" + '\0' +
                                 QFile::encodeName(c.folder) + '\0');

        launcher.terminate();
        EXPECT_TRUE(launcher.waitForFinished(20000));

        ASSERT_TRUE(QFileInfo::exists(log));
        if (c.logThere) {
            EXPECT_EQ(Inode(log), before);  // left alone, not made again
        } else {
            // A log the program can open (it has closed it now).
            ReadingTable table;
            table.setTableName(log.toStdString());
            EXPECT_NO_THROW(table.open());
            EXPECT_TRUE(table.isOpen());
        }
    }
}

}  // namespace
}  // namespace e2e
