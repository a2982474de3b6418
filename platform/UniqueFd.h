#pragma once
// An open file descriptor that is closed when its owner ends, unless it was
// released first; -1 holds none. Plain C++ without allocation: a signal
// handler may own one.
#include <cerrno>
#include <unistd.h>

#include <utility>

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        reset(other.release());
        return *this;
    }

    int get() const { return fd_; }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }
    // Closes the descriptor held, if any, and holds `fd`.
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // Closes the descriptor held now, for a caller that needs to know how that
    // went: the last write-back error of a file (a full disk, a network file
    // system) may show only here. 0, or the error number of the close that
    // failed; 0 when none was held. Holds none afterwards either way: the
    // descriptor is gone even when closing it failed.
    int close()
    {
        const int fd = release();
        if (fd < 0)
            return 0;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_ = -1;
};
