// The real tty device, and the driver on it, on a pseudo-terminal.
#include "link/serial/SerialPortDriver.h"
#include "platform/SerialDevice.h"
#include "platform/UniqueFd.h"
#include "support/RunUntil.h"

// termios2, as the device layer uses it (not <termios.h>, which clashes).
#include <asm/termbits.h>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

// A pseudo-terminal whose slave side plays the serial device; the test writes
// the "meter's" bytes into the master side.
class Pty {
public:
    Pty()
    {
        master_.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (master_.get() >= 0 && grantpt(master_.get()) == 0 && unlockpt(master_.get()) == 0)
            slave_ = ptsname(master_.get());
    }
    ~Pty() { CloseMaster(); }
    bool Ok() const { return !slave_.empty(); }
    const std::string& Slave() const { return slave_; }
    void Send(const std::vector<uint8_t>& bytes) const
    {
        ASSERT_EQ(::write(master_.get(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    void CloseMaster() { master_.reset(); }

private:
    UniqueFd master_;
    std::string slave_;
};

// Reads until `want` bytes came, the device reports something else than Ok,
// or a generous deadline passes (a safeguard against hanging, not a timing check).
std::vector<uint8_t> ReadSome(ISerialDevice& dev, size_t want, SerialReadStatus* last = nullptr)
{
    std::vector<uint8_t> got;
    uint8_t buf[256];
    QDeadlineTimer deadline(5000);
    while (got.size() < want && !deadline.hasExpired()) {
        const SerialReadResult r = dev.Read(buf, sizeof buf);
        if (last)
            *last = r.Status;
        if (r.Status != SerialReadStatus::Ok)
            break;
        got.insert(got.end(), buf, buf + r.Count);
        if (r.Count == 0)
            ::usleep(2000);
    }
    return got;
}

// Waits until the slave side has bytes queued.
void WaitForInput(int fd)
{
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, 5000);
}

termios2 Termios(int fd)
{
    termios2 t{};
    EXPECT_EQ(::ioctl(fd, TCGETS2, &t), 0);
    return t;
}

}  // namespace

TEST(PosixSerialDevice, ReadsRawBytesWithoutBlocking)
{
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    PosixSerialDevice dev;
    ASSERT_TRUE(dev.Open(pty.Slave())) << dev.LastError();
    ASSERT_TRUE(dev.ApplySettings({}));

    uint8_t buf[64];
    const SerialReadResult none = dev.Read(buf, sizeof buf);
    EXPECT_EQ(none.Status, SerialReadStatus::Ok);
    EXPECT_EQ(none.Count, 0u);

    // CR, LF, XON, XOFF, a control character and a high byte pass unchanged.
    const std::vector<uint8_t> bytes{0x0A, 0x2B, 0x0D, 0x11, 0x13, 0x03, 0xFF, 0x0D};
    pty.Send(bytes);
    EXPECT_EQ(ReadSome(dev, bytes.size()), bytes);
}

TEST(PosixSerialDevice, ReadNeverReturnsMoreThanAsked)
{
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    PosixSerialDevice dev;
    ASSERT_TRUE(dev.Open(pty.Slave()));
    ASSERT_TRUE(dev.ApplySettings({}));
    pty.Send(std::vector<uint8_t>(30, 0x41));
    WaitForInput(dev.Descriptor());
    uint8_t buf[10];
    const SerialReadResult r = dev.Read(buf, sizeof buf);
    EXPECT_EQ(r.Status, SerialReadStatus::Ok);
    EXPECT_EQ(r.Count, 10u);
    EXPECT_EQ(dev.Read(buf, 0).Count, 0u);
}

TEST(PosixSerialDevice, OnlyOneOpenerAlsoThroughALinkAndAsRoot)
{
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath("COM1");
    ASSERT_TRUE(QFile::link(QString::fromStdString(pty.Slave()), link));

    PosixSerialDevice first;
    ASSERT_TRUE(first.Open(pty.Slave()));
    for (const std::string& path : {pty.Slave(), link.toStdString()}) {
        SCOPED_TRACE(path + (::geteuid() == 0 ? " as root" : ""));
        PosixSerialDevice second;
        EXPECT_FALSE(second.Open(path));
        EXPECT_FALSE(second.IsOpen());
        EXPECT_EQ(second.LastErrorCode(), EBUSY);
        EXPECT_EQ(second.LastError(), "Device or resource busy");
    }
    // The same object opening again gives up its old descriptor first.
    EXPECT_TRUE(first.Open(link.toStdString()));

    first.Close();
    EXPECT_FALSE(first.IsOpen());
    PosixSerialDevice later;
    EXPECT_TRUE(later.Open(link.toStdString())) << later.LastError();
}

TEST(PosixSerialDevice, OpenFailuresSayWhy)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile plain(dir.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();

    struct Case {
        std::string path;
        int err;
        const char* text;
    };
    const Case cases[] = {
        {dir.filePath("missing").toStdString(), ENOENT, "No such file or directory"},
        {plain.fileName().toStdString(), ENOTTY, "Not a serial device"},
        {dir.path().toStdString(), EISDIR, "Is a directory"},
        {"", ENOENT, "No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        PosixSerialDevice dev;
        EXPECT_FALSE(dev.Open(c.path));
        EXPECT_FALSE(dev.IsOpen());
        EXPECT_EQ(dev.LastErrorCode(), c.err);
        EXPECT_EQ(dev.LastError(), c.text);
    }
}

namespace {

struct SettingsCase {
    const char* name;
    LineSettings in;
    tcflag_t cflag;  // the bits of CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS
    tcflag_t iflag;  // the bits of IXON | IXOFF
};

std::vector<SettingsCase> SettingsCases()
{
    auto with = [](auto change) {
        LineSettings s;
        change(s);
        return s;
    };
    return {
        {"meter line", with([](auto& s) { s.BaudRate = 2400; }), CS8, 0},
        {"14400", with([](auto& s) { s.BaudRate = 14400; }), CS8, 0},
        {"56000", with([](auto& s) { s.BaudRate = 56000; }), CS8, 0},
        {"110", with([](auto& s) { s.BaudRate = 110; }), CS8, 0},
        {"115200", with([](auto& s) { s.BaudRate = 115200; }), CS8, 0},
        {"5 bits, 1.5 stop bits become 2", with([](auto& s) { s.ByteSize = 5; s.StopBits = SerialStopBits::OneAndHalf; }),
         CS5 | CSTOPB, 0},
        {"6 bits odd", with([](auto& s) { s.ByteSize = 6; s.Parity = SerialParity::Odd; }), CS6 | PARENB | PARODD, 0},
        {"7 bits even 2 stop", with([](auto& s) { s.ByteSize = 7; s.Parity = SerialParity::Even; s.StopBits = SerialStopBits::Two; }),
         CS7 | PARENB | CSTOPB, 0},
        {"mark", with([](auto& s) { s.Parity = SerialParity::Mark; }), CS8 | PARENB | CMSPAR | PARODD, 0},
        {"space", with([](auto& s) { s.Parity = SerialParity::Space; }), CS8 | PARENB | CMSPAR, 0},
        {"RTS/CTS", with([](auto& s) { s.RtsCtsHandshake = true; }), CS8 | CRTSCTS, 0},
        {"XON/XOFF", with([](auto& s) { s.XonXoffInput = s.XonXoffOutput = true; }), CS8, IXON | IXOFF},
    };
}

constexpr tcflag_t kFramingBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr tcflag_t kInputBits = IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | INPCK | PARMRK;

}  // namespace

TEST(PosixSerialDevice, LineSettingsBecomeTermiosFlags)
{
    for (const SettingsCase& c : SettingsCases()) {
        SCOPED_TRACE(c.name);
        const TermiosFlags f = TermiosFlagsFor(c.in);
        EXPECT_EQ(f.Control & kFramingBits, c.cflag);
        EXPECT_EQ(f.Control & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
        EXPECT_EQ(f.Input & kInputBits, c.iflag);
    }
}

TEST(PosixSerialDevice, WritesSpeedsAndRawModeToTheDevice)
{
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    PosixSerialDevice dev;
    ASSERT_TRUE(dev.Open(pty.Slave()));

    for (const SettingsCase& c : SettingsCases()) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(dev.ApplySettings(c.in)) << dev.LastError();
        const termios2 t = Termios(dev.Descriptor());
        EXPECT_EQ(t.c_ospeed, c.in.BaudRate);
        EXPECT_EQ(t.c_ispeed, c.in.BaudRate);
        // A pseudo-terminal always keeps 8 bits without parity; the rest sticks.
        const tcflag_t kept = kFramingBits & ~(CSIZE | PARENB);
        EXPECT_EQ(t.c_cflag & kept, c.cflag & kept);
        EXPECT_EQ(t.c_iflag & kInputBits, c.iflag);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_cc[VSTART], 0x11);
        EXPECT_EQ(t.c_cc[VSTOP], 0x13);
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_cc[VTIME], 0);
    }
}

TEST(PosixSerialDevice, PurgeDropsWaitingInput)
{
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    PosixSerialDevice dev;
    ASSERT_TRUE(dev.Open(pty.Slave()));
    ASSERT_TRUE(dev.ApplySettings({}));
    pty.Send({1, 2, 3});
    WaitForInput(dev.Descriptor());
    EXPECT_TRUE(dev.Purge(true, true));
    uint8_t buf[8];
    EXPECT_EQ(dev.Read(buf, sizeof buf).Count, 0u);
    EXPECT_TRUE(dev.SetQueueSizes(2048, 2048));  // accepted, nothing to do
    dev.Close();
    EXPECT_FALSE(dev.Purge(true, true));
    EXPECT_FALSE(dev.ApplySettings({}));
}

TEST(PosixSerialDevice, HangUpIsReportedAsGone)
{
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    PosixSerialDevice dev;
    ASSERT_TRUE(dev.Open(pty.Slave()));
    ASSERT_TRUE(dev.ApplySettings({}));
    pty.Send({7, 8, 9});
    EXPECT_EQ(ReadSome(dev, 3), (std::vector<uint8_t>{7, 8, 9}));

    pty.CloseMaster();  // the far side goes away, as an unplugged adapter does
    uint8_t buf[8];
    const SerialReadResult gone = dev.Read(buf, sizeof buf);
    EXPECT_EQ(gone.Status, SerialReadStatus::Gone);
    EXPECT_EQ(gone.Count, 0u);
    EXPECT_EQ(dev.Read(buf, sizeof buf).Status, SerialReadStatus::Gone);  // and stays gone
    dev.Close();
    EXPECT_EQ(dev.Read(buf, sizeof buf).Status, SerialReadStatus::Gone);
}

TEST(PosixSerialDevice, DriverOnAPseudoTerminalLinkedAsCom2)
{
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QFile::link(QString::fromStdString(pty.Slave()), dir.filePath("COM2")));

    TSerialPortDriver driver(nullptr, [] { return std::make_unique<PosixSerialDevice>(); });
    driver.setPortLinkDir(dir.path());
    driver.setComPort(pnCOM2);
    driver.setComPortSpeed(br2400);
    driver.setComPortPollingDelay(10);
    std::vector<uint8_t> got;
    driver.OnReceiveData = [&](TSerialPortDriver*, const uint8_t* data, int32_t size) {
        got.insert(got.end(), data, data + size);
    };
    ASSERT_TRUE(driver.Connect()) << driver.LastError().toStdString();

    TSerialPortDriver other(nullptr, [] { return std::make_unique<PosixSerialDevice>(); });
    other.setPortLinkDir(dir.path());
    other.setComPort(pnCOM2);
    EXPECT_FALSE(other.Connect());
    EXPECT_EQ(other.LastError(), "Device or resource busy");

    const std::vector<uint8_t> run{0x0A, 0x2B, '0', '1', '2', '3', 0x20, '2', 0, 0, 0, 0, 0, 0x0D};
    pty.Send(run);
    RunUntil([&] { return got.size() >= run.size(); });
    EXPECT_EQ(got, run);

    pty.CloseMaster();
    EXPECT_TRUE(RunUntil([&] { return driver.DeviceLost(); }));
    EXPECT_TRUE(driver.IsConnected());
    driver.Disconnect();
    EXPECT_FALSE(driver.IsConnected());
}
