// quelt-decode [--csv] [--speed BPS] [SOURCE]: shows what a meter sends. Runs
// the program's own plain framing and decoder over the bytes of SOURCE,
// carrying the scale set from frame to frame from the stored profile's set,
// and prints one tab-separated line per decoded frame:
//   ValueText, CountValue, UnitText, CouplingText, RangeModeText, set flags
// or, with --csv, the lines of the program's CSV files (a header first): the
// arrival date and time for a port, none for a file or a pipe, and the
// frames counted from 1.
//
// SOURCE is a capture file, standard input ("-" or nothing), a serial device
// such as /dev/ttyUSB0, or a port name COM1 ... COM4, found as the program
// finds it. A terminal device is opened for this tool alone and set raw at
// 2400 bit/s 8N1 (--speed for meters that send faster), as the program sets
// it. From a port or a pipe every line is written as soon as its frame is
// decoded. The tool ends at the end of a file, when the port hangs up, and on
// Ctrl-C, SIGTERM or SIGHUP, having written every line decoded so far.
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QDateTime>

#include "meter/FrameDecoder.h"
#include "meter/FrameAssembler.h"
#include "link/serial/SerialPortDriver.h"
#include "meter/Convert.h"
#include "platform/UniqueFd.h"
#include "record/CsvFormat.h"
#include "record/FrameCsvRecords.h"

namespace {

const char kUsage[] =
    "Usage: quelt-decode [--csv] [--speed BPS] [SOURCE]\n"
    "Decodes a meter's frames and prints one tab-separated line per frame:\n"
    "value, count, unit, coupling, range mode, flags.\n"
    "\n"
    "  --csv         print the program's CSV lines instead, with a header:\n"
    "                timestamp, no, time, value (in the SI base unit), unit,\n"
    "                display, prefix_unit, coupling, range, overload; the\n"
    "                timestamp and time are the arrival of each frame from a\n"
    "                port, and empty for a file or a pipe\n"
    "  SOURCE        a capture file, a serial device (/dev/ttyUSB0), a port\n"
    "                COM1 ... COM4 (found as the program finds it), or '-' for\n"
    "                standard input (the default)\n"
    "  --speed BPS   line speed of a serial device (default 2400; 19200 for\n"
    "                meters that send at that speed)\n"
    "  --help        show this text\n"
    "\n"
    "A serial device is set raw, 8N1, at the speed given. Reading a port goes on\n"
    "until Ctrl-C or until the port hangs up.\n";

// Exit codes: 0 done, 2 bad usage or a source that cannot be read.
constexpr int kFailed = 2;

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int sig)
{
    g_stopSignal = sig;
}

struct Options {
    std::string source = "-";
    TComPortBaudRate speed = br2400;
    bool csv = false;
    bool help = false;
};

struct UsageError {
    std::string text;
};

TComPortBaudRate SpeedOption(const char* text)
{
    if (const std::optional<TComPortBaudRate> rate = BaudRateOf(text))
        return *rate;
    throw UsageError{"--speed must be one of " + BaudRateChoices() + ", not '" + text + "'"};
}

Options ParseOptions(int argc, char** argv)
{
    Options o;
    bool sourceGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--csv") {
            o.csv = true;
        } else if (arg == "--speed") {
            if (i + 1 >= argc)
                throw UsageError{"--speed needs a value"};
            o.speed = SpeedOption(argv[++i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option '" + arg + "' (see --help)"};
        } else if (sourceGiven) {
            throw UsageError{"one source only (see --help)"};
        } else {
            o.source = arg;
            sourceGiven = true;
        }
    }
    return o;
}

// Prints each decoded frame as one line; a frame that fails to decode is
// reported and decoding goes on with the next.
class LinePrinter {
public:
    explicit LinePrinter(bool csv) : csv_(csv)
    {
        assembler_.onFrame = [this](const std::string& frameText) { Print(frameText); };
        if (csv_)
            std::fwrite(csvHeader().data(), 1, csvHeader().size(), stdout);
    }

    // The frames come from a port: each is dated with its arrival.
    void DateArrivals() { dated_ = true; }

    void Feed(const uint8_t* data, size_t size)
    {
        // Byte by byte, so a frame that fails to decode costs no more than it
        // does in the program (the run after it).
        for (size_t i = 0; i < size; ++i) {
            try {
                assembler_.RECEIVE_COM_Data(data + i, 1);
            } catch (const std::exception& e) {
                std::fflush(stdout);
                std::fprintf(stderr, "%s\n", e.what());
            }
        }
    }

private:
    void Print(const std::string& frameText)
    {
        const DecodedFrame d = DecodeFrame(frameText, scale_);
        d.ThrowIfFailed();  // told on the error stream by Feed
        scale_ = d.scale;
        const Reading& r = d.reading;
        if (csv_) {
            PrintCsv(r);
            return;
        }
        std::string flags;
        for (int f = 0; f < kFlagCount; ++f)
            if (r.Flags[Flag(f)]) {
                if (!flags.empty())
                    flags += ',';
                flags += FlagName(Flag(f));
            }
        std::printf("%s\t%ld\t%s\t%s\t%s\t%s\n", r.ValueText.c_str(), std::lround(r.CountValue), r.UnitText.c_str(),
                    r.CouplingText.c_str(), r.RangeModeText.c_str(), flags.c_str());
    }

    void PrintCsv(const Reading& r)
    {
        const CsvReading& line =
            records_.next(r, dated_ ? QDateTime::currentMSecsSinceEpoch() : CsvReading::kUndated);
        std::string out;
        appendCsvLine(out, line, records_.stamps());
        std::fwrite(out.data(), 1, out.size(), stdout);
    }

    const bool csv_;
    bool dated_ = false;
    FrameCsvRecords records_;
    ScaleSet scale_ = ScaleSet::Set6();
    FrameAssembler assembler_;
};

// Waits until `fd` is readable or a stop signal arrives; the stop signals are
// blocked everywhere else, so none is missed between a check and the wait.
bool WaitReadable(int fd, const sigset_t& waitMask)
{
    pollfd p{fd, POLLIN, 0};
    while (!g_stopSignal) {
        if (::ppoll(&p, 1, nullptr, &waitMask) > 0)
            return true;
        if (errno != EINTR)
            return false;
    }
    return false;
}

// A file, a pipe or standard input, read to its end.
int DecodeStream(int fd, const std::string& name, LinePrinter& printer, const sigset_t& waitMask)
{
    uint8_t buffer[4096];
    while (WaitReadable(fd, waitMask)) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            std::fflush(stdout);
            std::fprintf(stderr, "quelt-decode: cannot read '%s': %s\n", name.c_str(), std::strerror(errno));
            return kFailed;
        }
        printer.Feed(buffer, size_t(n));
    }
    return 0;
}

// A terminal device: opened for this tool alone, set raw at the chosen speed
// and read until it hangs up or a stop signal arrives. Its former settings
// are put back at the end.
int DecodePort(const std::string& label, const std::string& device, TComPortBaudRate speed, LinePrinter& printer,
               const sigset_t& waitMask)
{
    PosixSerialDevice port;
    termios former{};
    if (const std::string why = OpenMeterPort(port, device, speed, &former); !why.empty()) {
        const int err = port.LastErrorCode();
        std::fprintf(stderr, "quelt-decode: cannot open %s: %s%s\n", label.c_str(), why.c_str(),
                     err == EACCES || err == EPERM ? ("\nquelt-decode: " + DeviceGroupHint(device)).c_str() : "");
        return kFailed;
    }
    std::fprintf(stderr, "quelt-decode: reading %s at %u bit/s, 8N1 (Ctrl-C ends)\n", label.c_str(),
                 unsigned(BaudRateValue(speed)));
    printer.DateArrivals();

    int rc = 0;
    uint8_t buffer[4096];
    while (WaitReadable(port.Descriptor(), waitMask)) {
        const SerialReadResult r = port.Read(buffer, sizeof buffer);
        if (r.Status == SerialReadStatus::Gone) {
            std::fflush(stdout);
            std::fprintf(stderr, "quelt-decode: %s hung up\n", label.c_str());
            break;
        }
        if (r.Status == SerialReadStatus::Error) {
            std::fflush(stdout);
            std::fprintf(stderr, "quelt-decode: cannot read %s: %s\n", label.c_str(), port.LastError().c_str());
            rc = kFailed;
            break;
        }
        printer.Feed(buffer, r.Count);
    }
    if (former.c_cflag != 0)
        ::tcsetattr(port.Descriptor(), TCSANOW, &former);
    return rc;
}

int Run(const Options& o)
{
    // The stop signals only end the waits; everything decoded so far is
    // written before the tool ends.
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&stopSignals, sig);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaction(sig, &sa, nullptr);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGHUP);
    sigdelset(&waitMask, SIGPIPE);

    LinePrinter printer(o.csv);
    int rc = 0;
    if (const int n = ComPortNumber(o.source)) {
        const std::string device = ResolvePortDevice(n, QString()).toStdString();
        setvbuf(stdout, nullptr, _IOLBF, 0);
        rc = DecodePort(o.source + " (" + device + ")", device, o.speed, printer, waitMask);
    } else {
        const bool standardInput = o.source == "-";
        UniqueFd opened(standardInput ? -1 : ::open(o.source.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
        const int fd = standardInput ? STDIN_FILENO : opened.get();
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            std::fprintf(stderr, "quelt-decode: cannot read '%s': %s\n", o.source.c_str(), std::strerror(errno));
            return kFailed;
        }
        // Lines from anything but a stored file are wanted as they come.
        if (!S_ISREG(st.st_mode))
            setvbuf(stdout, nullptr, _IOLBF, 0);
        if (::isatty(fd)) {
            // The terminal this tool was started from is no meter: setting it
            // raw would take the user's keyboard away.
            if (::tcgetsid(fd) >= 0) {
                std::fprintf(stderr, "quelt-decode: %s is your terminal, not a meter's port; name a port (COM1, "
                                     "/dev/ttyUSB0) or a capture file (see --help)\n",
                             standardInput ? "standard input" : o.source.c_str());
                return kFailed;
            }
            const std::string device = standardInput ? std::string("/proc/self/fd/0") : o.source;
            opened.reset();  // the port is opened anew, exclusively
            rc = DecodePort(standardInput ? "standard input" : o.source, device, o.speed, printer, waitMask);
        } else {
            rc = DecodeStream(fd, standardInput ? "standard input" : o.source, printer, waitMask);
        }
    }
    std::fflush(stdout);
    if (const int sig = g_stopSignal) {
        // End as the signal would have ended the tool, so a shell or a script
        // sees why it stopped.
        std::signal(sig, SIG_DFL);
        sigprocmask(SIG_UNBLOCK, &stopSignals, nullptr);
        ::raise(sig);
    }
    return rc;
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
        return Run(o);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "quelt-decode: %s\n", e.text.c_str());
        return kFailed;
    }
}
