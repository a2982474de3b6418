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
#include "support/ChildProcess.h"
#include "support/FakeDialogs.h"
#include "support/SystemSeams.h"
#include "support/WindowParts.h"
#include "ui_TFCOMM.h"

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
