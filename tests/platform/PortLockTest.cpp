// A port held by another program is refused and its holder named, and the
// device's own UUCP lock file is taken while it is open.
#include "platform/PortLock.h"
#include "platform/SerialDevice.h"
#include "platform/UniqueFd.h"

// termios2, as the device layer uses it (not <termios.h>, which clashes).
#include <asm/termbits.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// A pseudo-terminal: the test holds the master side, as a meter would be the
// far end of a serial line.
struct Pty {
    UniqueFd master;
    std::string slave;
    Pty()
    {
        master.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (master.get() >= 0 && grantpt(master.get()) == 0 && unlockpt(master.get()) == 0)
            slave = ptsname(master.get());
    }
    // The slave side's settings, read through the master.
    termios2 Settings() const
    {
        termios2 t{};
        EXPECT_EQ(::ioctl(master.get(), TCGETS2, &t), 0);
        return t;
    }
};

// A child process, killed and reaped when the test is done with it.
class Child {
public:
    // Runs `argv`; with `stdinPath`, standard input is that file opened for reading.
    Child(std::vector<const char*> argv, const std::string& stdinPath = {})
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!stdinPath.empty())
            posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY | O_NOCTTY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, const_cast<char* const*>(argv.data()), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { End(); }
    pid_t Pid() const { return pid_; }
    // Waits up to 5 s until /proc shows the child under `name`.
    bool WaitForName(const std::string& name) const
    {
        for (int i = 0; i < 500; ++i) {
            std::ifstream comm("/proc/" + std::to_string(pid_) + "/comm");
            std::string shown;
            if (std::getline(comm, shown) && shown == name)
                return true;
            ::usleep(10000);
        }
        return false;
    }
    bool Running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    void End()
    {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

void WriteFile(const QString& path, const std::string& text)
{
    std::ofstream(path.toStdString()) << text;
}

std::string ReadFile(const QString& path)
{
    std::ifstream in(path.toStdString());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string HdbPid(pid_t pid)
{
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", int(pid));
    return text;
}

}  // namespace

TEST(PortLock, LockFileNames)
{
    EXPECT_EQ(LockFileName("/dev/ttyS0"), "LCK..ttyS0");
    EXPECT_EQ(LockFileName("/dev/ttyUSB1"), "LCK..ttyUSB1");
    EXPECT_EQ(LockFileName("/dev/pts/3"), "LCK..pts_3");
    EXPECT_EQ(LockFileName("/home/me/ttyV0"), "LCK..ttyV0");
}

TEST(PortLock, AProgramReadingThePortIsNamedAndItsSettingsAreLeftAlone)
{
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    QTemporaryDir locks;
    ASSERT_TRUE(locks.isValid());

    // A plain reader on the port, as `cat` left running in a terminal.
    Child cat({"cat"}, pty.slave);
    ASSERT_GT(cat.Pid(), 0);
    const termios2 before = pty.Settings();

    PosixSerialDevice dev(locks.path().toStdString());
    EXPECT_FALSE(dev.Open(pty.slave));
    EXPECT_FALSE(dev.IsOpen());
    EXPECT_EQ(dev.LastErrorCode(), EBUSY);
    EXPECT_EQ(dev.LastError(), "In use by cat (pid " + std::to_string(cat.Pid()) + ")");
    EXPECT_FALSE(QFile::exists(locks.filePath(QString::fromStdString(LockFileName(pty.slave)))));

    // Its terminal settings are as they were, and it goes on reading.
    const termios2 after = pty.Settings();
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(0, std::memcmp(after.c_cc, before.c_cc, sizeof before.c_cc));
    EXPECT_TRUE(cat.Running());

    // Once it has ended, the port opens.
    cat.End();
    EXPECT_TRUE(dev.Open(pty.slave)) << dev.LastError();
}

TEST(PortLock, LockFilesOfOtherProgramsAndStaleOnes)
{
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    QTemporaryDir locks;
    ASSERT_TRUE(locks.isValid());
    // Through a link, as the program opens a simulator's port: the lock is
    // named after the device itself.
    const QString link = locks.filePath("COM1");
    ASSERT_TRUE(QFile::link(QString::fromStdString(pty.slave), link));
    const QString lockPath = locks.filePath(QString::fromStdString(LockFileName(pty.slave)));

    Child sleeper({"sleep", "60"});
    ASSERT_GT(sleeper.Pid(), 0);
    // The spawn returns once the child has left this program's memory, which
    // can be a moment before the kernel gives it the new program's name.
    ASSERT_TRUE(sleeper.WaitForName("sleep"));
    pid_t ended = 0;
    {
        Child gone({"true"});
        ended = gone.Pid();
        ::waitpid(ended, nullptr, 0);
    }
    const std::string sleeperPid = std::to_string(sleeper.Pid());

    struct Case {
        const char* what;
        std::string content;
        std::string refusal;  // empty: the stale lock is replaced and the port opens
    } cases[] = {
        {"a live process", HdbPid(sleeper.Pid()),
         "In use by sleep (pid " + sleeperPid + "), lock file " + lockPath.toStdString()},
        {"a live process, written by a program that adds its name", sleeperPid + "\nsleep\nhost\n",
         "In use by sleep (pid " + sleeperPid + "), lock file " + lockPath.toStdString()},
        {"no process id", "hello\n",
         "In use by a program that wrote no process id, lock file " + lockPath.toStdString()},
        {"a process that has ended", HdbPid(ended), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(lockPath, c.content);
        PosixSerialDevice dev(locks.path().toStdString());
        const bool opened = dev.Open(link.toStdString());
        if (!c.refusal.empty()) {
            EXPECT_FALSE(opened);
            EXPECT_EQ(dev.LastErrorCode(), EBUSY);
            EXPECT_EQ(dev.LastError(), c.refusal);
            EXPECT_EQ(ReadFile(lockPath), c.content);  // another program's lock stays
            continue;
        }
        ASSERT_TRUE(opened) << dev.LastError();
        EXPECT_TRUE(dev.HoldsLockFile());
        EXPECT_EQ(ReadFile(lockPath), HdbPid(::getpid()));
        struct stat st {};
        ASSERT_EQ(::stat(lockPath.toUtf8().constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0644u);  // every program that checks can read it
        dev.Close();
        EXPECT_FALSE(QFile::exists(lockPath));
    }
}

TEST(PortLock, TheLockIsHeldWhileOpenAndGivenBackOnClose)
{
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    QTemporaryDir locks;
    ASSERT_TRUE(locks.isValid());
    const QString lockPath = locks.filePath(QString::fromStdString(LockFileName(pty.slave)));

    {
        PosixSerialDevice first(locks.path().toStdString());
        ASSERT_TRUE(first.Open(pty.slave)) << first.LastError();
        EXPECT_EQ(ReadFile(lockPath), HdbPid(::getpid()));

        // A second opener in this process is refused by the device lock, and
        // leaves the first one's lock file in place.
        PosixSerialDevice second(locks.path().toStdString());
        EXPECT_FALSE(second.Open(pty.slave));
        EXPECT_EQ(second.LastErrorCode(), EBUSY);
        EXPECT_FALSE(second.HoldsLockFile());
        EXPECT_EQ(ReadFile(lockPath), HdbPid(::getpid()));
    }
    // Destroying the device gives the lock back, as the program's exit does.
    EXPECT_FALSE(QFile::exists(lockPath));

    // Without a usable lock directory the port still opens, without a lock.
    PosixSerialDevice unlocked(locks.filePath("missing").toStdString());
    EXPECT_TRUE(unlocked.Open(pty.slave)) << unlocked.LastError();
    EXPECT_FALSE(unlocked.HoldsLockFile());
    EXPECT_EQ(QDir(locks.path()).entryList(QDir::Files), QStringList{});
}
