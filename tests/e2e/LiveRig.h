#pragma once
// What the end-to-end tests stand on: a private working directory the test
// process moves into, child processes (meter-sim, the program itself) that
// are always killed and reaped, and windows on the real serial devices.
// Everything is released in reverse order of creation, also when a test fails:
// windows first (they close their ports), then the children, then the
// directory.
#include <gtest/gtest.h>

#include "support/RunUntil.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "app/TFCOMM.h"
#include "platform/UniqueFd.h"
#include "record/paradox/ParadoxTable.h"
#include "record/Recorder.h"
#include "support/FakeDialogs.h"
#include "support/SystemSeams.h"
#include "support/WindowParts.h"
#include "ui_TFCOMM.h"

extern char** environ;

// Readable QStrings in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace e2e {

// Serves the event loop until `done()` holds or `limitMs` passed; returns
// done(). The limit only keeps a broken test from hanging.
inline bool WaitFor(const std::function<bool()>& done, int limitMs = 10000) { return RunUntil(done, limitMs); }

// Serves the event loop for `ms` milliseconds.
inline void Serve(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

inline QString BinDir()
{
    const QByteArray dir = qgetenv("QUELT_BIN_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() : QString::fromLocal8Bit(dir);
}

// Makes an empty reading log "Queltdb" in `dir`: the program opens it at
// start-up and never creates it.
inline void MakeLogTable(const QString& dir)
{
    paradox::writeTableFile(QDir(dir).filePath("Queltdb.DB").toStdString(), ReadingLogSchema(),
                            paradox::RowStore(ReadingLogSchema().recordSize));
}

// A temporary directory with an empty reading log that is the process's
// working directory while it lives; the previous one is restored before the
// directory is removed.
class Workspace {
public:
    Workspace() : previous_(QDir::currentPath())
    {
        if (!dir_.isValid() || !QDir::setCurrent(dir_.path()))
            ADD_FAILURE() << "cannot make and enter a temporary directory";
        MakeLogTable(dir_.path());
    }
    ~Workspace() { QDir::setCurrent(previous_); }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    QString Path() const { return dir_.path(); }
    QString File(const QString& name) const { return QDir(dir_.path()).filePath(name); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

// A child process started with fork/exec. Its output goes to a log file; it
// dies with the test process, and the destructor kills and reaps it.
class ChildProcess {
public:
    ChildProcess(const QString& program, const QStringList& args, const QString& workDir, const QString& logPath,
                 const std::vector<std::string>& extraEnv = {})
        : logPath_(logPath)
    {
        // Everything the child needs is prepared before fork: after it only
        // async-signal-safe calls are allowed.
        std::vector<std::string> argStore{program.toStdString()};
        for (const QString& a : args)
            argStore.push_back(a.toStdString());
        std::vector<char*> argv;
        for (std::string& a : argStore)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        std::vector<std::string> envStore;
        for (char** e = environ; *e; ++e) {
            const std::string entry(*e);
            bool replaced = false;
            for (const std::string& x : extraEnv)
                replaced = replaced || entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0;
            if (!replaced)
                envStore.push_back(entry);
        }
        envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> envp;
        for (std::string& e : envStore)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        const std::string dir = workDir.toStdString();
        const std::string log = logPath.toStdString();
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(126);
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                ::dup2(fd, STDOUT_FILENO);
                ::dup2(fd, STDERR_FILENO);
            }
            if (::chdir(dir.c_str()) != 0)
                ::_exit(126);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        if (pid_ < 0)
            ADD_FAILURE() << "fork failed";
    }
    ~ChildProcess()
    {
        if (Running())
            ::kill(pid_, SIGKILL);
        if (pid_ > 0 && !status_)
            Reap(0);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running()
    {
        if (pid_ <= 0 || status_)
            return false;
        return !Reap(WNOHANG);
    }
    void Signal(int sig)
    {
        if (Running())
            ::kill(pid_, sig);
    }
    // Serves the event loop until the child has ended; its wait status, or
    // nothing when it still runs after `limitMs`.
    std::optional<int> WaitEnded(int limitMs = 10000)
    {
        WaitFor([this] { return !Running(); }, limitMs);
        return status_;
    }
    QString Log() const
    {
        QFile f(logPath_);
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }

private:
    // True once the child is reaped.
    bool Reap(int flags)
    {
        int status = 0;
        pid_t r;
        do
            r = ::waitpid(pid_, &status, flags);
        while (r < 0 && errno == EINTR);
        if (r == pid_)
            status_ = status;
        else if (r < 0)
            status_ = -1;  // not our child any more; nothing to wait for
        return bool(status_);
    }

    QString logPath_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// True once another process holds the table at `path` exclusively.
inline bool HeldElsewhere(const QString& path)
{
    const UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    return ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0;
}

// True once process `pid` catches signal `sig` (its handler is installed).
inline bool Catches(pid_t pid, int sig)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (sig - 1)) & 1;
    return false;
}

// The state of the connection controls: Connected or Disconnected.
inline void ExpectConnected(TFCOMM& w, bool connected)
{
    EXPECT_EQ(Parts(w).ui->ComSetup1->menuAction()->isEnabled(), !connected);
    EXPECT_EQ(Parts(w).ui->START1->isEnabled(), !connected);
    EXPECT_EQ(Parts(w).ui->START1->isChecked(), connected);
    EXPECT_EQ(Parts(w).ui->STOP1->isEnabled(), connected);
    EXPECT_EQ(Parts(w).ui->BTCon->isVisibleTo(&w), !connected);
    EXPECT_EQ(Parts(w).ui->BtDiscon->isVisibleTo(&w), connected);
    for (QLabel* panel : {Parts(w).ui->BtCOM1, Parts(w).ui->BtCOM2, Parts(w).ui->BtCOM3, Parts(w).ui->BtCOM4})
        EXPECT_EQ(panel->isEnabled(), !connected);
}

// A window on the real serial ports that counts the frames it decodes and
// keeps what each one showed.
struct LiveWindow {
    struct Shown {
        std::string value, unit;
        bool operator==(const Shown&) const = default;
    };

    FakeDialogs dialogs;
    FakeBeeper beeper;
    SystemSeams system;
    std::unique_ptr<TFCOMM> w;
    int frames = 0;
    std::vector<Shown> shown;

    // The window opens the reading log of `logDir` (the log is held
    // exclusively, so every window needs one of its own) and looks for its
    // ports in the working directory.
    explicit LiveWindow(const QString& logDir)
    {
        const QString workDir = QDir::currentPath();
        QDir::setCurrent(logDir);
        w = std::make_unique<TFCOMM>(
            AppServices{dialogs, beeper, system.clock, system.hid, SystemSeams::SerialDevices()});
        QDir::setCurrent(workDir);
        auto decode = Parts(*w).assembler.onFrame;
        Parts(*w).assembler.onFrame = [this, decode](const std::string& text) {
            decode(text);
            ++frames;
            shown.push_back({Parts(*w).reading.ValueText, Parts(*w).reading.UnitText});
        };
    }

    void ClickConnect() { QTest::mouseClick(Parts(*w).ui->COMCon, Qt::LeftButton); }
    // Serves the event loop until `n` more frames were decoded.
    bool WaitFrames(int n)
    {
        const int target = frames + n;
        return WaitFor([&] { return frames >= target; });
    }
    bool LinkShown() const { return Parts(*w).ui->CONok->isVisibleTo(w.get()) && !Parts(*w).ui->CONokN->isVisibleTo(w.get()); }
    // Every box the window showed, of any kind.
    QStringList Boxes() const { return dialogs.messages + dialogs.questions + dialogs.errors; }
};

// A workspace with the simulators and windows of one test.
class Rig {
public:
    Workspace ws;

    // Starts meter-sim for port `port` in the workspace and waits for its link.
    ChildProcess& StartSim(int port, const QString& scenario, const QStringList& more = {"--interval", "50"})
    {
        const QString log = ws.File(QString("meter-sim-%1.log").arg(sims_.size()));
        QStringList args{"--port", QString::number(port), "--dir", ws.Path(), "--scenario", scenario};
        sims_.push_back(std::make_unique<ChildProcess>(BinDir() + "/meter-sim", args + more, ws.Path(), log));
        ChildProcess& sim = *sims_.back();
        const QString link = ws.File(QString("COM%1").arg(port));
        EXPECT_TRUE(WaitFor([&] { return QFileInfo(link).exists() || !sim.Running(); }) && sim.Running())
            << "meter-sim did not make " << link.toStdString() << ": " << sim.Log().toStdString();
        return sim;
    }
    // A window; the first uses the workspace's log, every further one a log
    // in a subdirectory of its own.
    LiveWindow& OpenWindow()
    {
        QString logDir = ws.Path();
        if (!windows_.empty()) {
            logDir = ws.File(QString("window%1").arg(windows_.size() + 1));
            QDir().mkpath(logDir);
            MakeLogTable(logDir);
        }
        windows_.push_back(std::make_unique<LiveWindow>(logDir));
        LiveWindow& lw = *windows_.back();
        EXPECT_TRUE(lw.Boxes().isEmpty()) << "at start-up: " << lw.Boxes().join(" | ").toStdString();
        return lw;
    }

private:
    std::vector<std::unique_ptr<ChildProcess>> sims_;
    std::vector<std::unique_ptr<LiveWindow>> windows_;  // destroyed before the simulators
};

}  // namespace e2e
