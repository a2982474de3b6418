#include "record/paradox/ReplacingFile.h"

#include "platform/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// True when some program holds the open file `fd` locked: an exclusive open
// (flock, as the log is held) or a record lock of another process.
bool lockedElsewhere(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    return ::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}

}  // namespace

int WriteAll(int fd, const void* data, size_t n)
{
    auto* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            return errno;
        p += w;
        n -= size_t(w);
    }
    return 0;
}

void ReplacingFile::fail(const std::string& what, int err) const
{
    throw FileWriteError(what + " '" + target_ + "': " + std::strerror(err));
}

ReplacingFile::ReplacingFile(const std::string& path) : target_(path)
{
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(fs::path(path), ec);
    if (!ec)
        target_ = resolved.string();

    struct stat st {};
    mode_t mode = 0;
    if (::stat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            fail("Cannot write", EISDIR);
        if (!S_ISREG(st.st_mode)) {
            // A device or a pipe: there is nothing to keep, and nothing to rename over.
            fd_.reset(::open(target_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
            if (fd_.get() < 0)
                fail("Cannot write", errno);
            ::fcntl(fd_.get(), F_SETFL, ::fcntl(fd_.get(), F_GETFL) & ~O_NONBLOCK);
            return;
        }
        lockFd_.reset(::open(target_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (lockFd_.get() >= 0 && lockedElsewhere(lockFd_.get())) {
            lockFd_.reset();
            throw FileWriteError("'" + target_ + "' is in use: another program, or this one's log, holds it open");
        }
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        fail("Cannot write", errno);
    }

    for (int attempt = 0; attempt < 100 && fd_.get() < 0; ++attempt) {
        temp_ = target_ + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd_.reset(::open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd_.get() < 0 && errno != EEXIST)
            break;
    }
    if (fd_.get() < 0) {
        const int err = errno;
        temp_.clear();
        lockFd_.reset();
        fail("Cannot create", err);
    }
    if (mode)
        ::fchmod(fd_.get(), mode);
}

ReplacingFile::~ReplacingFile()
{
    fd_.reset();
    if (!temp_.empty())
        ::unlink(temp_.c_str());
    lockFd_.reset();
}

void ReplacingFile::write(const void* data, size_t n)
{
    if (const int err = WriteAll(fd_.get(), data, n))
        fail("Cannot write", err);
}

void ReplacingFile::commit()
{
    if (fd_.get() < 0)
        return;
    if (temp_.empty()) {
        if (const int err = fd_.close())
            fail("Cannot write", err);
        return;
    }
    // On disk before it takes the place of an older file.
    if (::fdatasync(fd_.get()) != 0)
        fail("Cannot write", errno);
    if (const int err = fd_.close())
        fail("Cannot write", err);
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
        fail("Cannot replace", errno);
    temp_.clear();
    // The rename itself on disk.
    const std::string dir = fs::path(target_).parent_path().string();
    if (const UniqueFd dirFd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        dirFd.get() >= 0)
        ::fsync(dirFd.get());
    lockFd_.reset();
}
