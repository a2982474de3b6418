#include "platform/PortLock.h"

#include "platform/UniqueFd.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Pseudo-terminal slaves (/dev/pts/N) and their master multiplexer (/dev/ptmx).
constexpr unsigned kPtySlaveFirstMajor = 136;
constexpr unsigned kPtySlaveLastMajor = 143;
const dev_t kPtmx = makedev(5, 2);

bool IsAlive(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::string ProcessName(pid_t pid, const std::string& procDir = "/proc")
{
    std::ifstream in(procDir + "/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

enum class LockState { None,
                       Stale,
                       Ours,
                       Other };

// The state of a lock file, and the process id it holds (0 when none can be read).
LockState ReadLock(const std::string& path, pid_t& pid)
{
    pid = 0;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0)
        return errno == ENOENT ? LockState::None : LockState::Other;
    char text[64] = {};
    const ssize_t n = ::read(fd.get(), text, sizeof text - 1);
    fd.reset();
    // Ten ASCII digits and a newline; leading blanks, and further lines that
    // some programs add, are allowed.
    char* end = nullptr;
    const long value = n > 0 ? std::strtol(text, &end, 10) : 0;
    if (end == text || value <= 0 || value > 0x7fffffffL)
        return LockState::Other;  // no readable id: nothing shows that it is stale
    pid = pid_t(value);
    if (pid == ::getpid())
        return LockState::Ours;
    return IsAlive(pid) ? LockState::Other : LockState::Stale;
}

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsNumber(const char* s)
{
    if (!*s)
        return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9')
            return false;
    return true;
}

// The pseudo-terminal index that the master descriptor `fd` of `pid` serves, or -1.
long PtyIndexOfMaster(const std::string& pidDir, const char* fd)
{
    std::ifstream in(pidDir + "/fdinfo/" + fd);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("tty-index:", 0) == 0)
            return std::strtol(line.c_str() + 10, nullptr, 10);
    return -1;
}

}  // namespace

std::string PortHolder::Describe() const
{
    std::string text;
    if (Pid > 0)
        text = (Name.empty() ? std::string("a program") : Name) + " (pid " + std::to_string(Pid) + ")";
    else
        text = "a program that wrote no process id";
    if (!LockFile.empty())
        text += ", lock file " + LockFile;
    return text;
}

std::string DefaultLockDir()
{
    struct stat st {};
    if (::stat("/var/lock", &st) == 0 && S_ISDIR(st.st_mode))
        return "/var/lock";
    return "/run/lock";
}

std::string LockFileName(const std::string& devicePath)
{
    std::string name;
    if (devicePath.rfind("/dev/", 0) == 0)
        name = devicePath.substr(5);
    else
        name = devicePath.substr(devicePath.rfind('/') + 1);
    for (char& c : name)
        if (c == '/')
            c = '_';
    return "LCK.." + name;
}

std::optional<PortHolder> OpenFileHolder(dev_t rdev, const std::string& procDir)
{
    const unsigned devMajor = major(rdev);
    const bool ptySlave = devMajor >= kPtySlaveFirstMajor && devMajor <= kPtySlaveLastMajor;
    const long ptyIndex = ptySlave ? long(minor(rdev)) + 256L * long(devMajor - kPtySlaveFirstMajor) : -1;
    const pid_t self = ::getpid();

    DIR* proc = ::opendir(procDir.c_str());
    if (!proc)
        return std::nullopt;
    std::optional<PortHolder> found;
    while (!found) {
        const dirent* entry = ::readdir(proc);
        if (!entry)
            break;
        if (!IsNumber(entry->d_name))
            continue;
        const pid_t pid = pid_t(std::strtol(entry->d_name, nullptr, 10));
        if (pid == self)
            continue;
        const std::string pidDir = procDir + "/" + entry->d_name;
        DIR* fds = ::opendir((pidDir + "/fd").c_str());
        if (!fds)
            continue;  // another user's process, or one that has just ended
        bool holdsDevice = false, holdsMaster = false;
        while (const dirent* fd = ::readdir(fds)) {
            if (!IsNumber(fd->d_name))
                continue;
            struct stat st {};
            if (::stat((pidDir + "/fd/" + fd->d_name).c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
                continue;
            if (st.st_rdev == rdev)
                holdsDevice = true;
            else if (ptySlave && st.st_rdev == kPtmx && PtyIndexOfMaster(pidDir, fd->d_name) == ptyIndex)
                holdsMaster = true;
        }
        ::closedir(fds);
        if (holdsDevice && !holdsMaster)
            found = PortHolder{pid, ProcessName(pid, procDir), {}};
    }
    ::closedir(proc);
    return found;
}

UucpLock::Outcome UucpLock::Take(const std::string& lockPath)
{
    holder_ = {};
    if (Owned())
        return Outcome::Taken;

    // The lock appears whole or not at all: it is written under a name of its
    // own, then linked to the lock's name, which fails if the lock exists.
    static std::atomic<unsigned> serial{0};
    const pid_t self = ::getpid();
    const std::string temp = DirectoryOf(lockPath) + "/LTMP." + std::to_string(self) + "." +
                             std::to_string(serial.fetch_add(1));
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", int(self));

    for (int attempt = 0; attempt < 3; ++attempt) {
        UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd.get() < 0)
            return Outcome::Skipped;
        const bool written = ::write(fd.get(), text, size_t(length)) == length;
        ::fchmod(fd.get(), 0644);  // readable by every program that checks it
        fd.reset();
        const int linked = written ? ::link(temp.c_str(), lockPath.c_str()) : -1;
        const int err = written ? errno : EIO;
        ::unlink(temp.c_str());
        if (linked == 0) {
            path_ = lockPath;
            return Outcome::Taken;
        }
        if (err != EEXIST)
            return Outcome::Skipped;

        pid_t pid = 0;
        switch (ReadLock(lockPath, pid)) {
        case LockState::Other:
            holder_ = {pid, pid > 0 ? ProcessName(pid) : std::string(), lockPath};
            return Outcome::Held;
        case LockState::Ours:
            return Outcome::Skipped;
        case LockState::Stale:
            // Left behind by a process that ended without removing it.
            ::unlink(lockPath.c_str());
            break;
        case LockState::None:
            break;  // removed meanwhile: try again
        }
    }
    return Outcome::Skipped;
}

void UucpLock::Release()
{
    if (!Owned())
        return;
    pid_t pid = 0;
    if (ReadLock(path_, pid) == LockState::Ours)
        ::unlink(path_.c_str());
    path_.clear();
}
