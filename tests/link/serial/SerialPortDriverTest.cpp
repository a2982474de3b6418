// TSerialPortDriver against a scripted device: connecting, settings writes,
// polling and delivery, a vanishing device; the settings mapping; port names.
#include "support/FakeSerialDevice.h"
#include "support/RunUntil.h"
#include "link/serial/SerialPortDriver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Delivery {
    TSerialPortDriver* sender;
    std::vector<uint8_t> bytes;
};

class DriverTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
    TSerialPortDriver driver{nullptr, FakeSerialFactory(line)};
    std::vector<Delivery> deliveries;

    void Listen()
    {
        driver.OnReceiveData = [this](TSerialPortDriver* sender, const uint8_t* data, int32_t size) {
            deliveries.push_back({sender, std::vector<uint8_t>(data, data + size)});
        };
    }
    std::vector<std::string> CallsSince(size_t from) const
    {
        return {line->calls.begin() + long(from), line->calls.end()};
    }
};

std::vector<uint8_t> Bytes(size_t n, uint8_t first = 0)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(first + i);
    return v;
}

}  // namespace

TEST_F(DriverTest, StartsWithTheStoredDefaults)
{
    EXPECT_EQ(driver.ComPort(), pnCOM1);
    EXPECT_EQ(driver.ComPortSpeed(), br9600);
    EXPECT_EQ(driver.ComPortDataBits(), db8BITS);
    EXPECT_EQ(driver.ComPortStopBits(), sb1BITS);
    EXPECT_EQ(driver.ComPortParity(), ptNONE);
    EXPECT_EQ(driver.ComPortHwHandshaking(), hhNONE);
    EXPECT_EQ(driver.ComPortSwHandshaking(), shNONE);
    EXPECT_EQ(driver.ComPortInBufSize(), 2048);
    EXPECT_EQ(driver.ComPortOutBufSize(), 2048);
    EXPECT_EQ(driver.ComPortPollingDelay(), 50);
    EXPECT_TRUE(driver.EnableDTROnOpen());
    EXPECT_EQ(driver.OutputTimeout(), 4000);
    EXPECT_FALSE(driver.OnReceiveData);
    EXPECT_FALSE(driver.IsConnected());
    EXPECT_EQ(line->devicesMade, 0);  // nothing is opened before Connect
}

TEST_F(DriverTest, ConnectOpensAppliesPurgesAndStartsPolling)
{
    driver.setComPortSpeed(br2400);
    driver.setComPortPollingDelay(100);
    EXPECT_TRUE(line->calls.empty());  // settings while closed are only stored

    ASSERT_TRUE(driver.Connect());
    EXPECT_TRUE(driver.IsConnected());
    EXPECT_TRUE(driver.LastError().isEmpty());
    ASSERT_EQ(line->calls.size(), 4u);
    EXPECT_EQ(line->calls[0].rfind("open ", 0), 0u);
    EXPECT_EQ(CallsSince(1), (std::vector<std::string>{"apply", "purge io", "queues"}));
    EXPECT_EQ(line->applied.back().BaudRate, 2400u);
    EXPECT_TRUE(driver.PollTimer().isActive());
    EXPECT_EQ(driver.PollTimer().interval(), 100);

    driver.Disconnect();
    EXPECT_FALSE(driver.IsConnected());
    EXPECT_FALSE(driver.PollTimer().isActive());
    EXPECT_EQ(line->calls.back(), "close");
    driver.Disconnect();  // nothing more to do
    EXPECT_EQ(line->Count("close"), 1);
}

TEST_F(DriverTest, FailedConnectReportsTheReasonAndRetriesNextTime)
{
    struct Case {
        int err;
        const char* text;
        bool permission;
    };
    for (const Case& c : {Case{ENOENT, "No such file or directory", false}, Case{EBUSY, "Device or resource busy", false},
                          Case{EACCES, "Permission denied", true}, Case{EPERM, "Operation not permitted", true}}) {
        SCOPED_TRACE(c.text);
        line->openFails = true;
        line->openErrno = c.err;
        const int opensBefore = line->devicesMade;
        EXPECT_FALSE(driver.Connect());
        EXPECT_FALSE(driver.IsConnected());
        EXPECT_FALSE(driver.PollTimer().isActive());
        EXPECT_EQ(driver.LastError(), QString(c.text));
        EXPECT_EQ(driver.LastErrorIsPermission(), c.permission);
        EXPECT_FALSE(driver.Connect());  // tries the open again
        EXPECT_EQ(line->devicesMade, opensBefore + 2);
    }
    EXPECT_EQ(line->Count("apply"), 0);

    line->openFails = false;
    EXPECT_TRUE(driver.Connect());
    EXPECT_TRUE(driver.LastError().isEmpty());
    EXPECT_FALSE(driver.LastErrorIsPermission());
}

TEST_F(DriverTest, ConnectWhileConnectedChangesNothing)
{
    ASSERT_TRUE(driver.Connect());
    const size_t before = line->calls.size();
    EXPECT_TRUE(driver.Connect());
    EXPECT_EQ(line->calls.size(), before);
    EXPECT_EQ(line->devicesMade, 1);
}

TEST_F(DriverTest, PortChangeIsIgnoredWhileConnected)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    ASSERT_TRUE(QFile::link(QCoreApplication::applicationFilePath(), work.filePath("COM1")));
    ASSERT_TRUE(QFile::link(QCoreApplication::applicationFilePath(), work.filePath("COM3")));
    driver.setPortLinkDir(work.path());

    ASSERT_TRUE(driver.Connect());
    EXPECT_EQ(driver.DevicePath(), QDir(work.path()).filePath("COM1"));
    driver.setComPort(pnCOM3);
    EXPECT_EQ(driver.ComPort(), pnCOM1);
    EXPECT_EQ(line->devicesMade, 1);

    driver.Disconnect();
    driver.setComPort(pnCOM3);
    EXPECT_EQ(driver.ComPort(), pnCOM3);
    ASSERT_TRUE(driver.Connect());
    EXPECT_EQ(driver.DevicePath(), QDir(work.path()).filePath("COM3"));
    EXPECT_EQ(line->calls[0], "open " + QDir(work.path()).filePath("COM1").toStdString());
}

TEST_F(DriverTest, LineSettingChangeWhileConnectedWritesAndPurgesAtOnce)
{
    ASSERT_TRUE(driver.Connect());
    line->Queue(Bytes(10));
    const size_t before = line->calls.size();
    driver.setComPortSpeed(br19200);
    EXPECT_EQ(CallsSince(before), (std::vector<std::string>{"apply", "purge io", "queues"}));
    EXPECT_EQ(line->applied.back().BaudRate, 19200u);
    EXPECT_TRUE(line->waiting.empty());

    const size_t before2 = line->calls.size();
    driver.setComPortParity(ptEVEN);
    EXPECT_EQ(CallsSince(before2), (std::vector<std::string>{"apply", "purge io", "queues"}));
    EXPECT_EQ(line->applied.back().Parity, SerialParity::Even);
    EXPECT_EQ(line->applied.back().BaudRate, 19200u);
}

TEST_F(DriverTest, BufferSizesAreFixedWhileConnected)
{
    ASSERT_TRUE(driver.Connect());
    driver.setComPortInBufSize(64);
    driver.setComPortOutBufSize(64);
    EXPECT_EQ(driver.ComPortInBufSize(), 2048);
    EXPECT_EQ(driver.ComPortOutBufSize(), 2048);
    driver.Disconnect();
    driver.setComPortInBufSize(64);
    EXPECT_EQ(driver.ComPortInBufSize(), 64);
}

TEST_F(DriverTest, PollingDelayRestartsTheTimerOnlyWhenItChanges)
{
    driver.setComPortPollingDelay(100);
    EXPECT_FALSE(driver.PollTimer().isActive());
    ASSERT_TRUE(driver.Connect());
    EXPECT_EQ(driver.PollTimer().interval(), 100);

    driver.setComPortPollingDelay(100);
    EXPECT_TRUE(driver.PollTimer().isActive());
    EXPECT_EQ(driver.PollTimer().interval(), 100);

    driver.setComPortPollingDelay(250);
    EXPECT_EQ(driver.ComPortPollingDelay(), 250);
    EXPECT_TRUE(driver.PollTimer().isActive());
    EXPECT_EQ(driver.PollTimer().interval(), 250);

    // 0 ms would poll whenever the event loop is idle; the timer keeps a floor.
    driver.setComPortPollingDelay(0);
    EXPECT_EQ(driver.ComPortPollingDelay(), 0);
    EXPECT_EQ(driver.PollTimer().interval(), 10);
}

TEST_F(DriverTest, BytesWaitingAtATickArriveAsOneEvent)
{
    Listen();
    ASSERT_TRUE(driver.Connect());
    driver.PollTick();
    EXPECT_TRUE(deliveries.empty());  // nothing waiting, no event

    line->Queue(Bytes(30, 0x41));
    driver.PollTick();
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].sender, &driver);
    EXPECT_EQ(deliveries[0].bytes, Bytes(30, 0x41));

    driver.PollTick();
    EXPECT_EQ(deliveries.size(), 1u);
}

TEST_F(DriverTest, OneReadPerTickOfAtMostTheInputBufferSize)
{
    Listen();
    driver.setComPortInBufSize(16);
    ASSERT_TRUE(driver.Connect());
    line->Queue(Bytes(40));
    driver.PollTick();
    driver.PollTick();
    driver.PollTick();
    ASSERT_EQ(deliveries.size(), 3u);
    EXPECT_EQ(deliveries[0].bytes, Bytes(16, 0));
    EXPECT_EQ(deliveries[1].bytes, Bytes(16, 16));
    EXPECT_EQ(deliveries[2].bytes, Bytes(8, 32));
}

TEST_F(DriverTest, BytesWithoutAHandlerAreDropped)
{
    ASSERT_TRUE(driver.Connect());
    line->Queue(Bytes(5));
    driver.PollTick();
    EXPECT_TRUE(line->waiting.empty());
    Listen();
    driver.PollTick();
    EXPECT_TRUE(deliveries.empty());
}

TEST_F(DriverTest, NoPollingWhileDisconnected)
{
    Listen();
    line->Queue(Bytes(5));
    driver.PollTick();
    ASSERT_TRUE(driver.Connect());
    driver.Disconnect();
    driver.PollTick();
    EXPECT_EQ(line->Count("read"), 0);
    EXPECT_TRUE(deliveries.empty());
}

TEST_F(DriverTest, VanishedDeviceIsClosedOnceAndNotPolledAgain)
{
    Listen();
    ASSERT_TRUE(driver.Connect());
    line->Queue(Bytes(3));
    line->vanished = true;
    driver.PollTick();  // the last bytes still arrive
    ASSERT_EQ(deliveries.size(), 1u);
    driver.PollTick();  // now the device reports it is gone
    EXPECT_EQ(line->Count("close"), 1);
    EXPECT_TRUE(driver.IsConnected());
    EXPECT_TRUE(driver.DeviceLost());
    EXPECT_FALSE(driver.PollTimer().isActive());

    const int reads = line->Count("read");
    for (int i = 0; i < 5; ++i)
        driver.PollTick();
    driver.setComPortSpeed(br2400);      // no device to write to
    driver.setComPortPollingDelay(500);  // and no timer to restart
    driver.PurgeBuffers(true, true);
    EXPECT_EQ(line->Count("read"), reads);
    EXPECT_EQ(line->Count("apply"), 1);
    EXPECT_FALSE(driver.PollTimer().isActive());
    EXPECT_EQ(deliveries.size(), 1u);

    EXPECT_TRUE(driver.Connect());  // still connected: no reopen
    EXPECT_EQ(line->devicesMade, 1);
    driver.Disconnect();
    EXPECT_FALSE(driver.IsConnected());
    EXPECT_FALSE(driver.DeviceLost());
    line->vanished = false;
    ASSERT_TRUE(driver.Connect());
    EXPECT_EQ(line->devicesMade, 2);
    EXPECT_TRUE(driver.PollTimer().isActive());
}

TEST_F(DriverTest, HandlerRunningANestedLoopDoesNotGetItsBytesOverwritten)
{
    ASSERT_TRUE(driver.Connect());
    std::vector<std::vector<uint8_t>> seen;
    driver.OnReceiveData = [&](TSerialPortDriver* sender, const uint8_t* data, int32_t size) {
        std::vector<uint8_t> before(data, data + size);
        sender->PollTick();  // what a timer firing inside a modal box would do
        seen.emplace_back(data, data + size);
        EXPECT_EQ(seen.back(), before);
    };
    line->Queue(Bytes(4, 1));
    driver.PollTick();
    line->Queue(Bytes(4, 9));
    driver.PollTick();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], Bytes(4, 1));
    EXPECT_EQ(seen[1], Bytes(4, 9));
}

TEST_F(DriverTest, HandlerMayDisconnect)
{
    ASSERT_TRUE(driver.Connect());
    driver.OnReceiveData = [](TSerialPortDriver* sender, const uint8_t*, int32_t) { sender->Disconnect(); };
    line->Queue(Bytes(4));
    driver.PollTick();
    EXPECT_FALSE(driver.IsConnected());
    EXPECT_EQ(line->Count("close"), 1);
}

TEST_F(DriverTest, TheTimerDeliversOnTheEventLoop)
{
    Listen();
    driver.setComPortPollingDelay(10);
    ASSERT_TRUE(driver.Connect());
    line->Queue(Bytes(14));
    RunUntil([&] { return !deliveries.empty(); });
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].bytes, Bytes(14));
}

TEST(LineSettingsMapping, FollowsTheProperties)
{
    struct Case {
        const char* name;
        SerialPortSettings in;
        LineSettings out;
    };
    auto expect = [](auto change) {
        LineSettings l;
        l.BaudRate = 9600;
        l.ByteSize = 8;
        l.DtrEnable = true;
        l.XonLim = 512;
        l.XoffLim = 1;
        change(l);
        return l;
    };
    auto props = [](auto change) {
        SerialPortSettings s;
        change(s);
        return s;
    };
    const Case cases[] = {
        {"defaults", props([](auto&) {}), expect([](auto&) {})},
        {"meter line", props([](auto& s) { s.Speed = br2400; }), expect([](auto& l) { l.BaudRate = 2400; })},
        {"14400", props([](auto& s) { s.Speed = br14400; }), expect([](auto& l) { l.BaudRate = 14400; })},
        {"56000", props([](auto& s) { s.Speed = br56000; }), expect([](auto& l) { l.BaudRate = 56000; })},
        {"lowest", props([](auto& s) { s.Speed = br110; }), expect([](auto& l) { l.BaudRate = 110; })},
        {"highest", props([](auto& s) { s.Speed = br115200; }), expect([](auto& l) { l.BaudRate = 115200; })},
        {"5 bits, 1.5 stop", props([](auto& s) { s.DataBits = db5BITS; s.StopBits = sb1HALFBITS; }),
         expect([](auto& l) { l.ByteSize = 5; l.StopBits = SerialStopBits::OneAndHalf; })},
        {"7 bits, 2 stop", props([](auto& s) { s.DataBits = db7BITS; s.StopBits = sb2BITS; }),
         expect([](auto& l) { l.ByteSize = 7; l.StopBits = SerialStopBits::Two; })},
        {"odd", props([](auto& s) { s.Parity = ptODD; }), expect([](auto& l) { l.Parity = SerialParity::Odd; })},
        {"mark", props([](auto& s) { s.Parity = ptMARK; }), expect([](auto& l) { l.Parity = SerialParity::Mark; })},
        {"space", props([](auto& s) { s.Parity = ptSPACE; }), expect([](auto& l) { l.Parity = SerialParity::Space; })},
        {"no DTR", props([](auto& s) { s.EnableDTROnOpen = false; }), expect([](auto& l) { l.DtrEnable = false; })},
        {"RTS/CTS", props([](auto& s) { s.HwHandshaking = hhRTSCTS; }), expect([](auto& l) { l.RtsCtsHandshake = true; })},
        {"XON/XOFF", props([](auto& s) { s.SwHandshaking = shXONXOFF; }),
         expect([](auto& l) { l.XonXoffInput = true; l.XonXoffOutput = true; })},
        {"small buffer", props([](auto& s) { s.InBufSize = 7; }), expect([](auto& l) { l.XonLim = 1; })},
        {"largest buffer", props([](auto& s) { s.InBufSize = 65535; }), expect([](auto& l) { l.XonLim = 16383; })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(MakeLineSettings(c.in) == c.out);
    }
    const LineSettings d = MakeLineSettings({});
    EXPECT_TRUE(d.Binary);
    EXPECT_EQ(d.XonChar, 0x11);
    EXPECT_EQ(d.XoffChar, 0x13);
}

TEST(PortDevice, LinkInTheWorkingDirectoryThenUsbThenBuiltIn)
{
    QTemporaryDir work, dev;
    ASSERT_TRUE(work.isValid() && dev.isValid());
    const QString target = QCoreApplication::applicationFilePath();
    ASSERT_TRUE(QFile::link(target, work.filePath("COM2")));
    ASSERT_TRUE(QFile::link(work.filePath("nowhere"), work.filePath("COM3")));  // left by a dead simulator
    QFile plain(work.filePath("COM4"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    QFile usb(dev.filePath("ttyUSB2"));
    ASSERT_TRUE(usb.open(QIODevice::WriteOnly));
    usb.close();

    const QString w = work.path(), d = dev.path();
    EXPECT_EQ(ResolvePortDevice(1, w, d), QDir(d).filePath("ttyS0"));
    EXPECT_EQ(ResolvePortDevice(2, w, d), QDir(w).filePath("COM2"));
    EXPECT_EQ(ResolvePortDevice(3, w, d), QDir(d).filePath("ttyUSB2"));
    EXPECT_EQ(ResolvePortDevice(4, w, d), QDir(d).filePath("ttyS3"));  // a plain file is no link
    EXPECT_EQ(ResolvePortDevice(1, w), QStringLiteral("/dev/") + (QFile::exists("/dev/ttyUSB0") ? "ttyUSB0" : "ttyS0"));
}
