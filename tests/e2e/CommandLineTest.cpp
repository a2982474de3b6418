// The built program's command line: what ends at once (and how), and a start
// in another folder on a chosen port, connected, that records the meter.
#include "LiveRig.h"

#include <QProcess>

#include "record/ReadingTable.h"

namespace e2e {
namespace {

struct Ended {
    int status;
    QString out, err;
};

// Runs the program to its end, without a display: whatever ends at once must
// not need one.
Ended RunToEnd(const QStringList& args)
{
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    program.setProcessEnvironment(env);
    program.start(BinDir() + "/quelt", args);
    if (!program.waitForFinished(20000))
        return {-1, {}, {}};
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
            QString::fromLocal8Bit(program.readAllStandardOutput()), QString::fromLocal8Bit(program.readAllStandardError())};
}

TEST(CommandLine, HelpVersionAndMistakesEndAtOnce)
{
    const Ended help = RunToEnd({"--help"});
    EXPECT_EQ(help.status, 0) << help.err.toStdString();
    for (const char* option : {"--port", "--connect", "--usb", "--dir", "--no-settings", "--version"})
        EXPECT_TRUE(help.out.contains(option)) << option;
    EXPECT_TRUE(help.out.startsWith("Usage: quelt")) << help.out.toStdString();

    const Ended version = RunToEnd({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quelt " QUELT_TEST_VERSION "\n");

    struct Case {
        QStringList args;
        const char* told;
    };
    const Case mistakes[] = {
        {{"--frobnicate"}, "frobnicate"},
        {{"--port", "5"}, "--port"},
        {{"--port"}, "port"},
        {{"--connect", "--usb"}, "--usb"},
        {{"stray"}, "stray"},
        {{"--dir", "/nonexistent/folder"}, "/nonexistent/folder"},
    };
    for (const Case& c : mistakes) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Ended e = RunToEnd(c.args);
        EXPECT_EQ(e.status, 2) << e.err.toStdString();
        EXPECT_TRUE(e.err.contains(c.told)) << e.err.toStdString();
        EXPECT_TRUE(e.out.isEmpty());
    }
}

TEST(CommandLine, StartsInTheFolderOnThePortConnected)
{
    Rig rig;
    rig.StartSim(2, "steady");
    QTemporaryDir elsewhere;  // where it is started: not where it runs
    ChildProcess program(BinDir() + "/quelt", {"--dir", rig.ws.Path(), "--port", "2", "--connect"}, elsewhere.path(),
                         elsewhere.filePath("quelt.log"), {"QT_QPA_PLATFORM=offscreen"});
    // Readings reach the log's journal in the folder given: it grows past
    // what its opening wrote, and readings reach the disk within a second.
    const QString journal = rig.ws.File("Queltdb.DB.journal");
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(journal) || !program.Running(); }, 20000))
        << program.Log().toStdString();
    const qint64 opened = QFileInfo(journal).size();
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(journal).size() > opened || !program.Running(); }, 20000))
        << program.Log().toStdString();
    Serve(1500);
    ASSERT_TRUE(program.Running()) << program.Log().toStdString();
    program.Signal(SIGTERM);
    ASSERT_TRUE(program.WaitEnded());

    // The next start finds them.
    LiveWindow again(rig.ws.Path());
    ASSERT_TRUE(WaitFor([&] { return Parts(*again.w).readingTable.recordCount() > 0; }))
        << program.Log().toStdString() << again.Boxes().join(" | ").toStdString();
    EXPECT_FALSE(QFileInfo::exists(elsewhere.filePath("Queltdb.DB.journal")));
}

}  // namespace
}  // namespace e2e
