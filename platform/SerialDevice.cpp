#include "platform/SerialDevice.h"

// The kernel's termios2 (asm/termbits.h) is used instead of <termios.h>: it is
// the only way to set speeds without a Bxxx constant, such as 14400 and 56000.
// The two headers cannot be included together, so this file uses ioctl() only.
#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <climits>
#include <cstdlib>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

tcflag_t DataBitsFlag(uint8_t byteSize)
{
    switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

tcflag_t ParityFlags(SerialParity parity)
{
    switch (parity) {
    case SerialParity::None: return 0;
    case SerialParity::Odd: return PARENB | PARODD;
    case SerialParity::Even: return PARENB;
    // Mark and space: the parity bit is stuck at 1 or 0 (CMSPAR).
    case SerialParity::Mark: return PARENB | CMSPAR | PARODD;
    case SerialParity::Space: return PARENB | CMSPAR;
    }
    return 0;
}

bool IsVanished(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

}  // namespace

std::string DeviceGroupHint(const std::string& device)
{
    struct stat st {};
    std::string groupName = "dialout";
    if (::stat(device.c_str(), &st) == 0)
        if (const struct group* g = ::getgrgid(st.st_gid))
            groupName = g->gr_name;
    return "you must be a member of the group '" + groupName +
           "' that owns the device: add yourself to it, then log out and log in again";
}

TermiosFlags TermiosFlagsFor(const LineSettings& s)
{
    TermiosFlags f;
    // No parity checking or stripping of input, breaks ignored.
    f.Input = IGNBRK;
    if (s.XonXoffOutput)
        f.Input |= IXON;
    if (s.XonXoffInput)
        f.Input |= IXOFF;
    f.Control = CREAD | CLOCAL | DataBitsFlag(s.ByteSize) | ParityFlags(s.Parity);
    // Linux has one or two stop bits; 1.5 (meant for 5 data bits) becomes 2.
    if (s.StopBits != SerialStopBits::One)
        f.Control |= CSTOPB;
    if (s.RtsCtsHandshake)
        f.Control |= CRTSCTS;
    return f;
}

PosixSerialDevice::~PosixSerialDevice()
{
    Close();
}

bool PosixSerialDevice::Fail(int err)
{
    lastErrno_ = err;
    lastError_ = err == ENOTTY ? std::string("Not a serial device") : std::string(std::strerror(err));
    return false;
}

bool PosixSerialDevice::Refuse(const PortHolder& holder)
{
    lock_.Release();
    lastErrno_ = EBUSY;
    lastError_ = "In use by " + holder.Describe();
    return false;
}

bool PosixSerialDevice::Open(const std::string& path)
{
    Close();
    lastErrno_ = 0;
    lastError_.clear();

    // Whether another program holds the device is settled before it is opened:
    // the lock file under the device's own name (links resolved), then the
    // open files of the processes.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        char real[PATH_MAX];
        const std::string device = ::realpath(path.c_str(), real) ? std::string(real) : path;
        if (lock_.Take(lockDir_ + "/" + LockFileName(device)) == UucpLock::Outcome::Held)
            return Refuse(lock_.Holder());
        if (const std::optional<PortHolder> holder = OpenFileHolder(st.st_rdev))
            return Refuse(*holder);
    }

    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        lock_.Release();
        return Fail(errno);
    }

    struct termios2 tio {};
    if (::ioctl(fd.get(), TCGETS2, &tio) != 0) {
        const int err = errno;
        fd.reset();
        lock_.Release();
        return Fail(err == EINVAL ? ENOTTY : err);
    }
    // TIOCEXCL refuses later opens, but not to root; the lock on the device
    // node refuses every other opener that locks too, whatever name it used.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        fd.reset();
        lock_.Release();
        return Fail(err == EWOULDBLOCK ? EBUSY : err);
    }
    ::ioctl(fd.get(), TIOCEXCL);
    fd_ = std::move(fd);
    return true;
}

void PosixSerialDevice::Close()
{
    if (fd_.get() >= 0) {
        // The exclusive flag belongs to the tty, which may outlive this descriptor
        // (a pseudo-terminal whose other side stays open): clear it for the next open.
        ::ioctl(fd_.get(), TIOCNXCL);
        fd_.reset();
    }
    // The lock file goes last, once the device is free.
    lock_.Release();
}

bool PosixSerialDevice::ApplySettings(const LineSettings& s)
{
    if (fd_.get() < 0)
        return Fail(EBADF);

    struct termios2 tio {};
    if (::ioctl(fd_.get(), TCGETS2, &tio) != 0)
        return Fail(errno);

    // Raw mode: no line editing, echo, signals or character translation.
    const TermiosFlags flags = TermiosFlagsFor(s);
    tio.c_iflag = flags.Input;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = flags.Control;
    // Any speed, in bit/s, for both directions.
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = s.BaudRate;
    tio.c_ospeed = s.BaudRate;

    // Reads return at once with whatever is waiting.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tio.c_cc[VSTART] = s.XonChar;
    tio.c_cc[VSTOP] = s.XoffChar;
    // XonLim and XoffLim have no counterpart: the kernel throttles its input
    // queue at fixed marks.

    if (::ioctl(fd_.get(), TCSETS2, &tio) != 0)
        return Fail(errno);

    // Modem lines. Devices without them (pseudo-terminals) refuse; that is fine.
    int dtr = TIOCM_DTR;
    ::ioctl(fd_.get(), s.DtrEnable ? TIOCMBIS : TIOCMBIC, &dtr);
    int rts = TIOCM_RTS;
    ::ioctl(fd_.get(), s.RtsCtsHandshake ? TIOCMBIS : TIOCMBIC, &rts);
    return true;
}

bool PosixSerialDevice::Purge(bool input, bool output)
{
    if (fd_.get() < 0)
        return Fail(EBADF);
    if (!input && !output)
        return true;
    const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH
                                                          : TCOFLUSH;
    if (::ioctl(fd_.get(), TCFLSH, which) != 0)
        return Fail(errno);
    return true;
}

bool PosixSerialDevice::SetQueueSizes(uint32_t, uint32_t)
{
    // No counterpart on Linux: the tty layer's queues have fixed sizes.
    // Accepted and ignored.
    return true;
}

SerialReadResult PosixSerialDevice::Read(uint8_t* buffer, size_t capacity)
{
    if (fd_.get() < 0)
        return {SerialReadStatus::Gone, 0};
    if (capacity == 0)
        return {SerialReadStatus::Ok, 0};

    pollfd p{fd_.get(), POLLIN, 0};
    const int ready = ::poll(&p, 1, 0);
    if (ready < 0) {
        if (errno == EINTR)
            return {SerialReadStatus::Ok, 0};
        Fail(errno);
        return {SerialReadStatus::Error, 0};
    }
    if (ready == 0)
        return {SerialReadStatus::Ok, 0};
    if (p.revents & POLLNVAL) {
        Fail(EBADF);
        return {SerialReadStatus::Gone, 0};
    }

    // A hung-up device may still hold bytes that arrived before: read them
    // first, report the hang-up once nothing is left.
    const bool hungUp = (p.revents & (POLLHUP | POLLERR)) != 0;
    const ssize_t n = ::read(fd_.get(), buffer, capacity);
    if (n > 0)
        return {SerialReadStatus::Ok, size_t(n)};
    if (n < 0) {
        const int err = errno;
        if (err == EAGAIN || err == EINTR) {
            if (!hungUp)
                return {SerialReadStatus::Ok, 0};
        } else {
            Fail(err);
            return {IsVanished(err) ? SerialReadStatus::Gone : SerialReadStatus::Error, 0};
        }
    }
    if (hungUp) {
        Fail(EIO);
        return {SerialReadStatus::Gone, 0};
    }
    return {SerialReadStatus::Ok, 0};
}
