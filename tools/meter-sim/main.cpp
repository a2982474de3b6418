// meter-sim: a stand-in for the meter on a pseudo-terminal. It links "COMn" in
// a directory to the terminal, where the program finds it as port n, and sends
// 14-byte runs at the pace of the meter's 2400 bit/s line.
#include "MeterFrame.h"
#include "StopSignals.h"
#include "UsbCable.h"
#include "meter/Convert.h"
#include "platform/PortLock.h"
#include "platform/UniqueFd.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr long kByteNanos = 4166667;  // 10 bits at 2400 bit/s
constexpr long long kMaxReplayBytes = 64LL * 1024 * 1024;

const char kUsage[] =
    "Usage: meter-sim [options]\n"
    "Plays a 6000-count multimeter on a pseudo-terminal linked as COMn.\n"
    "\n"
    "  --port N          link name COMN, N = 1..4 (default 1)\n"
    "  --dir DIR         make the link in DIR (default: the working directory)\n"
    "  --scenario NAME   steady (default), sweep, units, overload, noise\n"
    "  --seed N          seed of the noise scenario (default 1)\n"
    "  --interval MS     time from one frame to the next (default 400)\n"
    "  --fast            send without pacing\n"
    "  --count N         stop after N frames (with --replay: N passes, default 1)\n"
    "  --replay FILE     send the bytes of FILE instead of a scenario\n"
    "  --help            show this text\n"
    "\n"
    "Runs until killed (SIGINT, SIGTERM) or until --count is reached, and removes\n"
    "the link when it ends.\n"
    "\n"
    "Usage: meter-sim --usb [options] -- PROGRAM [ARGS]\n"
    "Plays the meter on its USB cable instead: an emulated HID device \"USB to\n"
    "Serial\" (a umockdev test bed) that PROGRAM, started on it, finds as\n"
    "/dev/hidraw0. Frames go out as bursts of input reports at the meter's pace,\n"
    "with reports that carry no meter bytes in between. Ends with PROGRAM.\n"
    "\n"
    "  --scenario, --seed, --interval, --count   as above (--count per cable)\n"
    "  --cables N         N cables, 1..8 (default 1), each with a meter of its own,\n"
    "                     plugged in one after the other as /dev/hidraw0 ... N-1;\n"
    "                     cable K plays seed + K - 1 (only noise uses the seed)\n"
    "  --idle-ms MS       time between reports without meter bytes (default 10)\n"
    "  --unplug-after S   unplug a cable S seconds after the start\n"
    "  --replug-after S   plug it in again S seconds after the unplug\n"
    "  --unplug-cable K   the cable they move, 1..N (default 1)\n";

// The scenario, its pace and the count are the USB cable's as well; the
// rest belongs to the serial line.
struct Options : metersim::UsbOptions {
    bool usb = false;
    bool cablesGiven = false;
    int port = 1;
    std::string dir = ".";
    bool fast = false;
    std::string replay;
    bool help = false;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

int IntOption(const std::string& name, const char* text, int low, int high)
{
    int value = 0;
    try {
        value = StrToInt(text);
    } catch (const std::exception& e) {
        throw UsageError(e.what());
    }
    if (value < low || value > high)
        throw UsageError(name + " must be " + std::to_string(low) + " to " + std::to_string(high));
    return value;
}

Options ParseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                throw UsageError(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h")
            o.help = true;
        else if (arg == "--port")
            o.port = IntOption(arg, value(), 1, 4);
        else if (arg == "--dir")
            o.dir = value();
        else if (arg == "--scenario")
            o.scenario = value();
        else if (arg == "--seed")
            o.seed = uint32_t(IntOption(arg, value(), 0, INT_MAX));
        else if (arg == "--interval")
            o.interval = IntOption(arg, value(), 0, 3600000);
        else if (arg == "--fast")
            o.fast = true;
        else if (arg == "--count")
            o.count = IntOption(arg, value(), 1, INT_MAX);
        else if (arg == "--replay")
            o.replay = value();
        else if (arg == "--usb")
            o.usb = true;
        else if (arg == "--idle-ms")
            o.idleMs = IntOption(arg, value(), 1, 60000);
        else if (arg == "--unplug-after")
            o.unplugAfter = IntOption(arg, value(), 0, 86400);
        else if (arg == "--replug-after")
            o.replugAfter = IntOption(arg, value(), 0, 86400);
        else if (arg == "--cables") {
            o.cables = IntOption(arg, value(), 1, metersim::kMaxCables);
            o.cablesGiven = true;
        } else if (arg == "--unplug-cable")
            o.unplugCable = IntOption(arg, value(), 1, metersim::kMaxCables);
        else if (arg == "--") {
            for (++i; i < argc; ++i)
                o.program.push_back(argv[i]);
        } else
            throw UsageError("unknown option '" + arg + "' (see --help)");
    }
    if (o.unplugCable > o.cables)
        throw UsageError("--unplug-cable must be 1 to " + std::to_string(o.cables) + " (the number of --cables)");
    if (o.cablesGiven && !o.usb)
        throw UsageError("--cables is given with --usb only; for several meters on serial lines, start one "
                         "meter-sim per --port");
    if (o.replay.empty() && !metersim::MakeScenario(o.scenario, o.seed))
        throw UsageError("unknown scenario '" + o.scenario + "'; choose steady, sweep, units, overload or noise");
    return o;
}

std::vector<uint8_t> ReadReplayFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    struct stat st {};
    if (!in || ::stat(path.c_str(), &st) != 0)
        throw std::runtime_error("cannot read '" + path + "': " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw std::runtime_error("'" + path + "' is not a file");
    if (st.st_size > kMaxReplayBytes)
        throw std::runtime_error("'" + path + "' is too large to replay (more than 64 MiB)");
    if (st.st_size == 0)
        throw std::runtime_error("'" + path + "' is empty");
    std::vector<uint8_t> bytes(size_t(st.st_size));
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    bytes.resize(size_t(in.gcount()));
    return bytes;
}

timespec Now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

void Advance(timespec& t, long long nanos)
{
    const long long total = t.tv_nsec + nanos;
    t.tv_sec += time_t(total / 1000000000);
    t.tv_nsec = long(total % 1000000000);
}

bool Before(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// What a sleep also waits for: a descriptor, and what to do when it becomes
// readable.
struct Wakeup {
    int fd = -1;
    std::function<void()> handle;

    // Waits for the descriptor, at most `timeout`; handles it when readable.
    void Wait(const timespec* timeout, pollfd* other = nullptr) const
    {
        pollfd fds[2];
        nfds_t n = 0;
        if (other)
            fds[n++] = *other;
        if (fd >= 0)
            fds[n++] = {fd, POLLIN, 0};
        if (::ppoll(fds, n, timeout, nullptr) > 0 && fd >= 0 && (fds[n - 1].revents & POLLIN) && handle)
            handle();
    }
};

// Sleeps until `t`, serving `wake` meanwhile; false when a stop was asked for.
bool SleepUntil(const timespec& t, const Wakeup& wake)
{
    while (!metersim::StopAsked()) {
        const timespec now = Now();
        if (!Before(now, t))
            return true;
        timespec left{t.tv_sec - now.tv_sec, t.tv_nsec - now.tv_nsec};
        if (left.tv_nsec < 0) {
            left.tv_nsec += 1000000000;
            --left.tv_sec;
        }
        wake.Wait(&left);  // a signal ends it at once (no SA_RESTART)
    }
    return false;
}

// Writes to the terminal's master side. When nobody reads and the terminal's
// queue is full, it waits for room, so no run is ever cut in two.
class LineWriter {
public:
    // `wake` is served while the writer waits, between bytes or for room.
    LineWriter(int fd, bool paced, const Wakeup& wake) : fd_(fd),
                                                         paced_(paced),
                                                         next_(Now()),
                                                         wake_(wake) {}

    bool Send(const uint8_t* data, size_t size)
    {
        if (!paced_)
            return WriteAll(data, size);
        for (size_t i = 0; i < size; ++i) {
            const timespec now = Now();
            if (Before(next_, now))
                next_ = now;  // fell behind (the queue was full): no catching up in a burst
            if (!SleepUntil(next_, wake_) || !WriteAll(data + i, 1))
                return false;
            Advance(next_, kByteNanos);
        }
        return true;
    }

private:
    bool WriteAll(const uint8_t* data, size_t size)
    {
        while (size > 0) {
            if (metersim::StopAsked())
                return false;
            const ssize_t n = ::write(fd_, data, size);
            if (n > 0) {
                data += n;
                size -= size_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                std::fprintf(stderr, "meter-sim: write failed: %s\n", std::strerror(errno));
                return false;
            }
            pollfd p{fd_, POLLOUT, 0};
            const timespec step{0, 100000000};
            wake_.Wait(&step, &p);
        }
        return true;
    }

    int fd_;
    bool paced_;
    timespec next_;
    const Wakeup& wake_;
};

class PseudoTerminal {
public:
    PseudoTerminal()
    {
        master_.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (master_.get() < 0 || grantpt(master_.get()) != 0 || unlockpt(master_.get()) != 0)
            throw std::runtime_error(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
        const char* name = ptsname(master_.get());
        if (!name)
            throw std::runtime_error(std::string("cannot name the pseudo-terminal: ") + std::strerror(errno));
        slaveName_ = name;
        // Holding the slave side open keeps sent bytes queued while no program
        // has the port open, and keeps the terminal alive between its opens.
        slave_.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (slave_.get() < 0)
            throw std::runtime_error("cannot open " + slaveName_ + ": " + std::strerror(errno));
        termios tio{};
        tcgetattr(slave_.get(), &tio);
        cfmakeraw(&tio);  // no echo, no CR to LF translation
        cfsetspeed(&tio, B2400);
        tcsetattr(slave_.get(), TCSANOW, &tio);
        ::fcntl(master_.get(), F_SETFL, ::fcntl(master_.get(), F_GETFL) | O_NONBLOCK);
    }

    int Master() const { return master_.get(); }
    int Slave() const { return slave_.get(); }
    const std::string& SlaveName() const { return slaveName_; }

    // Gives a reader up to two seconds to take what is still queued: the
    // terminal drops its queue when the simulator closes it.
    void Linger() const
    {
        timespec deadline = Now();
        Advance(deadline, 2000000000LL);
        const timespec step{0, 20000000};
        // Empty for 300 ms on end: bytes written to the master reach the
        // terminal's queue only when the kernel's worker gets to them, which on
        // a loaded machine takes a while.
        int emptyChecks = 0;
        while (!metersim::StopAsked() && emptyChecks < 15 && Before(Now(), deadline)) {
            nanosleep(&step, nullptr);
            int queued = 0;
            if (::ioctl(slave_.get(), FIONREAD, &queued) != 0)
                break;
            emptyChecks = queued > 0 ? 0 : emptyChecks + 1;
        }
    }

private:
    // Members end in reverse order: the slave side is closed first.
    UniqueFd master_;
    UniqueFd slave_;
    std::string slaveName_;
};

// A program that opens a serial port exclusively (TIOCEXCL) and is killed
// leaves a real port free, as the port's last close resets it. This terminal
// never closes (the simulator holds both sides), so its exclusive mode would
// outlive the program and refuse every later open by a user other than root.
// So whenever the terminal is closed by someone, and it is still exclusive
// while nobody but the simulator has it open, the simulator clears the mode.
class ExclusiveRelease {
public:
    explicit ExclusiveRelease(const PseudoTerminal& pty) : pty_(pty)
    {
        watch_.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (watch_.get() >= 0 && ::inotify_add_watch(watch_.get(), pty.SlaveName().c_str(), IN_CLOSE) < 0)
            watch_.reset();
    }

    // Readable when the terminal was closed by someone; -1 without a watch.
    int Fd() const { return watch_.get(); }

    void Poll()
    {
        if (watch_.get() < 0)
            return;
        alignas(inotify_event) char events[4096];
        bool closed = false;
        while (::read(watch_.get(), events, sizeof events) > 0)
            closed = true;
        int exclusive = 0;
        if (!closed || ::ioctl(pty_.Slave(), TIOCGEXCL, &exclusive) != 0 || !exclusive)
            return;
        struct stat st {};
        if (::fstat(pty_.Slave(), &st) == 0 && !OpenFileHolder(st.st_rdev))
            ::ioctl(pty_.Slave(), TIOCNXCL);
    }

private:
    const PseudoTerminal& pty_;
    UniqueFd watch_;
};

std::string AbsoluteDir(const std::string& dir)
{
    char buf[PATH_MAX];
    if (::realpath(dir.c_str(), buf))
        return buf;
    throw std::runtime_error("cannot use the directory '" + dir + "': " + std::strerror(errno));
}

// The link "COMn" to the terminal; removed when the simulator ends, if it is
// still the link this simulator made. Terminal numbers are reused at once, so a
// simulator started in its place may have linked the very same terminal name:
// the link's own inode tells the two apart.
class PortLink {
public:
    PortLink(const std::string& dir, int port, const std::string& target)
        : path_(AbsoluteDir(dir) + "/COM" + std::to_string(port)),
          target_(target)
    {
        struct stat st {};
        if (::lstat(path_.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode))
                throw std::runtime_error("'" + path_ + "' exists and is not a link; not touching it");
            // A link left by a killed simulator points nowhere, or at the
            // terminal number that this simulator has just been given.
            char old[4096];
            const ssize_t n = ::readlink(path_.c_str(), old, sizeof old - 1);
            const bool ours = n > 0 && std::string(old, size_t(n)) == target_;
            if (!ours && ::stat(path_.c_str(), &st) == 0)
                throw std::runtime_error("'" + path_ + "' is in use (it links to an existing device); remove it or choose another --port");
            ::unlink(path_.c_str());
        }
        if (::symlink(target_.c_str(), path_.c_str()) != 0)
            throw std::runtime_error("cannot make the link '" + path_ + "': " + std::strerror(errno));
        if (::lstat(path_.c_str(), &st) == 0)
            inode_ = st.st_ino;
    }
    ~PortLink()
    {
        struct stat st {};
        if (::lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && st.st_ino == inode_)
            ::unlink(path_.c_str());
    }
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::string target_;
    ino_t inode_ = 0;
};

int Run(const Options& o)
{
    std::vector<uint8_t> replay;
    if (!o.replay.empty())
        replay = ReadReplayFile(o.replay);

    metersim::CatchStopSignals();
    std::signal(SIGPIPE, SIG_IGN);

    PseudoTerminal pty;
    PortLink link(o.dir, o.port, pty.SlaveName());
    std::printf("meter-sim: %s -> %s\n", link.Path().c_str(), pty.SlaveName().c_str());
    std::fflush(stdout);

    ExclusiveRelease release(pty);
    const Wakeup wake{release.Fd(), [&release] { release.Poll(); }};
    LineWriter writer(pty.Master(), !o.fast, wake);
    bool completed = false;
    if (!replay.empty()) {
        const long long passes = o.count > 0 ? o.count : 1;
        long long pass = 0;
        while (pass < passes && writer.Send(replay.data(), replay.size()))
            ++pass;
        completed = pass == passes;
    } else {
        auto scenario = metersim::MakeScenario(o.scenario, o.seed);
        timespec frameStart = Now();
        long long sent = 0;
        while (!metersim::StopAsked() && (o.count == 0 || sent < o.count)) {
            if (!o.fast && !SleepUntil(frameStart, wake))
                break;
            const std::vector<uint8_t> piece = scenario->Next();
            if (!writer.Send(piece.data(), piece.size()))
                break;
            ++sent;
            Advance(frameStart, o.interval * 1000000LL);
            const timespec now = Now();
            if (Before(frameStart, now))
                frameStart = now;
        }
        completed = o.count > 0 && sent == o.count;
    }
    if (completed)
        pty.Linger();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        const Options o = ParseOptions(argc, argv);
        if (o.help) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (o.usb)
            return metersim::RunUsb(o, argv);
        if (!o.program.empty())
            throw UsageError("a program to run is given with --usb only");
        return Run(o);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "meter-sim: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "meter-sim: %s\n", e.what());
        return 1;
    }
}
