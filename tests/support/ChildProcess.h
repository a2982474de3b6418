#pragma once
// A child process of a test (meter-sim, a program under test), started with
// fork/exec: its output goes to a log file, it dies with the test process, and
// the destructor kills and reaps it.
#include <gtest/gtest.h>

#include "support/RunUntil.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

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
        RunUntil([this] { return !Running(); }, limitMs);
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
