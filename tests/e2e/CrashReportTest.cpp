// An end by a crash leaves a report on standard error and in the report
// folder, and the process still ends by the signal; the program's own journal
// stays.
#include "LiveRig.h"

#include <csignal>

namespace e2e {
namespace {

// The reports in `folder`, each with its text.
QStringList Reports(const QString& folder)
{
    QStringList out;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files, QDir::Name)) {
        QFile f(info.filePath());
        if (f.open(QIODevice::ReadOnly))
            out.push_back(info.fileName() + "\n" + QString::fromLocal8Bit(f.readAll()));
    }
    return out;
}

TEST(CrashReport, EveryKindOfCrashIsReportedAndEndsTheProcessAsBefore)
{
    struct Case {
        const char* how;
        int signal;
        const char* what;   // in the report
        const char* where;  // a frame of the backtrace
    } cases[] = {
        {"segv", SIGSEGV, "fatal signal SIGSEGV (invalid memory reference), address not mapped, at address 0x0",
         "CrashByNullWrite"},
        {"stack", SIGSEGV, "fatal signal SIGSEGV", "CrashByStackOverflow"},
        {"fpe", SIGFPE, "fatal signal SIGFPE", "CrashByDivision"},
        {"bus", SIGBUS, "fatal signal SIGBUS", "CrashByShrunkFile"},
        {"abort", SIGABRT, "fatal signal SIGABRT (aborted), sent by process", "(abort+"},
        {"throw", SIGABRT, "uncaught exception std::runtime_error: the meter went away.", "CrashByThrow"},
        {"throw-in-thread", SIGABRT, "uncaught exception std::runtime_error: the meter went away.", "CrashByThrow"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        Workspace ws;
        const QString folder = ws.File("state/quelt");
        ChildProcess victim(BinDir() + "/quelt-crashing", {c.how}, ws.Path(), ws.File("stderr.log"),
                            {"XDG_STATE_HOME=" + ws.File("state").toStdString()});
        const std::optional<int> status = victim.WaitEnded();
        ASSERT_TRUE(status) << "it did not end";
        const QString err = victim.Log();
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == c.signal) << err.toStdString();

        const QStringList reports = Reports(folder);
        ASSERT_EQ(reports.size(), 1) << err.toStdString();
        const QString report = reports[0].section('\n', 1);
        EXPECT_TRUE(reports[0].startsWith("crash-quelt-crashing-")) << reports[0].toStdString();
        EXPECT_TRUE(report.contains(QString("quelt-crashing: ") + c.what)) << report.toStdString();
        EXPECT_TRUE(report.contains("Backtrace")) << report.toStdString();
        EXPECT_TRUE(report.contains(c.where)) << report.toStdString();
        // Standard error has the same report and says where the file is.
        EXPECT_TRUE(err.contains(report.trimmed())) << err.toStdString();
        EXPECT_TRUE(err.contains("this report is in " + folder + "/crash-")) << err.toStdString();
        // The thread that threw is named, not the main one.
        if (QString(c.how) == "throw-in-thread") {
            EXPECT_FALSE(report.contains(QString("Process %1, thread %1.").arg(victim.Pid()))) << report.toStdString();
        }
    }
}

TEST(CrashReport, TheFolderDefaultsToTheUsersStateFolderAndIsMadeWhenMissing)
{
    Workspace ws;
    // An empty XDG_STATE_HOME counts as unset.
    ChildProcess victim(BinDir() + "/quelt-crashing", {"abort"}, ws.Path(), ws.File("stderr.log"),
                        {"XDG_STATE_HOME=", "HOME=" + ws.File("home").toStdString()});
    const std::optional<int> status = victim.WaitEnded();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGABRT);
    EXPECT_EQ(Reports(ws.File("home/.local/state/quelt")).size(), 1) << victim.Log().toStdString();
}

TEST(CrashReport, WithNoFolderTheReportStillGoesToStandardError)
{
    Workspace ws;
    QFile blocker(ws.File("state"));  // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    ChildProcess victim(BinDir() + "/quelt-crashing", {"segv"}, ws.Path(), ws.File("stderr.log"),
                        {"XDG_STATE_HOME=" + ws.File("state").toStdString()});
    const std::optional<int> status = victim.WaitEnded();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGSEGV);
    EXPECT_TRUE(victim.Log().contains("quelt-crashing: fatal signal SIGSEGV")) << victim.Log().toStdString();
    EXPECT_TRUE(victim.Log().contains("CrashByNullWrite")) << victim.Log().toStdString();
}

// The program itself: a fatal signal while its log is open leaves a report,
// the process ends by the signal and the journal stays for the next start.
TEST(CrashReport, TheProgramReportsAFatalSignalAndKeepsItsJournal)
{
    Workspace ws;
    ChildProcess program(BinDir() + "/quelt", QStringList{}, ws.Path(), ws.File("quelt.log"),
                         {"QT_QPA_PLATFORM=offscreen", "XDG_STATE_HOME=" + ws.File("state").toStdString()});
    // The log is locked a moment before its journal is made.
    ASSERT_TRUE(WaitFor([&] {
        return (HeldElsewhere(ws.File("Queltdb.DB")) && QFile::exists(ws.File("Queltdb.DB.journal"))) ||
               !program.Running();
    })) << program.Log().toStdString();
    ASSERT_TRUE(QFile::exists(ws.File("Queltdb.DB.journal")));
    program.Signal(SIGSEGV);
    const std::optional<int> status = program.WaitEnded();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGSEGV) << program.Log().toStdString();
    const QStringList reports = Reports(ws.File("state/quelt"));
    ASSERT_EQ(reports.size(), 1) << program.Log().toStdString();
    EXPECT_TRUE(reports[0].contains("quelt: fatal signal SIGSEGV")) << reports[0].toStdString();
    EXPECT_TRUE(QFile::exists(ws.File("Queltdb.DB.journal")));
}

}  // namespace
}  // namespace e2e
