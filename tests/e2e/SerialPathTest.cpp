// The serial path end to end: meter-sim on a pseudo-terminal linked as COMn in
// the working directory, the window on the real serial devices, the
// connection commands clicked as a user clicks them.
#include "LiveRig.h"

#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

#include "link/serial/SerialPortDriver.h"
#include "platform/PortLock.h"
#include "platform/SerialDevice.h"

namespace e2e {
namespace {

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

std::string Join(const std::vector<LiveWindow::Shown>& shown)
{
    std::string s;
    for (const auto& x : shown)
        s += x.value + " " + x.unit + "; ";
    return s;
}

TEST(SerialPath, FramesFromTheMeterReachTheDisplays)
{
    Rig rig;
    rig.StartSim(1, "steady");
    LiveWindow& lw = rig.OpenWindow();
    TFCOMM& w = *lw.w;

    lw.ClickConnect();
    ASSERT_TRUE(Parts(w).COMM2.IsConnected()) << Parts(w).COMM2.LastError().toStdString();
    ExpectConnected(w, true);
    ASSERT_TRUE(lw.WaitFrames(3));
    ASSERT_TRUE(WaitFor([&] { return lw.LinkShown(); }));

    // The steady meter shows 5.012 V DC, auto range.
    EXPECT_EQ(Parts(w).reading.ValueText, "5.012");
    EXPECT_EQ(Parts(w).reading.UnitText, "V");
    EXPECT_EQ(Parts(w).reading.CouplingText, "DC");
    EXPECT_EQ(Parts(w).reading.RangeModeText, "AUTO");
    EXPECT_FLOAT_EQ(Parts(w).reading.CountValue, 5012.0f);
    const QString digits = Parts(w).ui->LcdDa->text() + Parts(w).ui->LcdDb->text() + Parts(w).ui->LcdDc->text() + Parts(w).ui->LcdDd->text();
    EXPECT_EQ(digits, "5012");
    EXPECT_EQ(Parts(w).ui->MaxText->text(), "5.012");
    EXPECT_TRUE(lw.Boxes().isEmpty()) << lw.Boxes().join(" | ").toStdString();
}

TEST(SerialPath, EveryReadingArrivesAsTheMeterSentIt)
{
    using S = LiveWindow::Shown;
    struct Case {
        const char* scenario;
        std::vector<S> expected;
    };
    const Case cases[] = {
        {"units",
         {{"5.012", "V"}, {"230.4", "V"}, {"-123.4", "mV"}, {"012.5", "mV"}, {"1.234", "A"}, {"45.67", "mA"}, {"345.6", "uA"}, {"220.5", "*"}, {"4.700", "k*"}, {"10.00", "M*"}, {"47.00", "nF"}, {"1.000", "uF"}, {"0023", "#"}, {"0073", "?"}, {"50.00", "Hz"}, {"050.0", "%"}, {"-5.999", "V"}}},
        {"overload",
         {{"0.L", "M*"}, {"0L.", "*"}, {".0L", "V"}, {"0L", "V"}, {"0.L", "mA"}, {"0.L", "Hz"}, {"1.234", "V"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        Rig rig;
        rig.StartSim(1, c.scenario, {"--interval", "0"});
        LiveWindow& lw = rig.OpenWindow();
        lw.ClickConnect();
        ASSERT_TRUE(Parts(*lw.w).COMM2.IsConnected()) << Parts(*lw.w).COMM2.LastError().toStdString();
        const auto allSeen = [&] {
            return std::all_of(c.expected.begin(), c.expected.end(), [&](const S& e) {
                return std::find(lw.shown.begin(), lw.shown.end(), e) != lw.shown.end();
            });
        };
        EXPECT_TRUE(WaitFor(allSeen, 20000)) << Join(lw.shown);
        EXPECT_TRUE(lw.Boxes().isEmpty()) << lw.Boxes().join(" | ").toStdString();
    }
}

TEST(SerialPath, NoiseOnTheLineLetOnlyWholeFramesThrough)
{
    Rig rig;
    rig.StartSim(1, "noise", {"--interval", "0", "--seed", "7"});
    LiveWindow& lw = rig.OpenWindow();
    lw.ClickConnect();
    ASSERT_TRUE(Parts(*lw.w).COMM2.IsConnected());
    ASSERT_TRUE(lw.WaitFrames(25)) << lw.frames;
    // Every frame the noisy meter sends whole is a DC voltage of at most 5999
    // counts with the point after the first digit; broken runs never decode.
    const QRegularExpression volts("^-?\\d\\.\\d{3}$");
    for (const auto& s : lw.shown) {
        EXPECT_TRUE(volts.match(QString::fromStdString(s.value)).hasMatch()) << s.value;
        EXPECT_EQ(s.unit, "V");
    }
    EXPECT_TRUE(lw.Boxes().isEmpty()) << lw.Boxes().join(" | ").toStdString();
}

TEST(SerialPath, DisconnectStopsTheFramesAndConnectBringsThemBack)
{
    Rig rig;
    rig.StartSim(1, "steady");
    LiveWindow& lw = rig.OpenWindow();
    TFCOMM& w = *lw.w;
    lw.ClickConnect();
    ASSERT_TRUE(lw.WaitFrames(2));

    lw.ClickConnect();  // up: disconnect
    EXPECT_FALSE(Parts(w).COMM2.IsConnected());
    ExpectConnected(w, false);
    const int framesAtDisconnect = lw.frames;
    Serve(600);
    EXPECT_EQ(lw.frames, framesAtDisconnect);
    EXPECT_TRUE(WaitFor([&] { return !lw.LinkShown(); }));

    lw.ClickConnect();  // down again
    ASSERT_TRUE(Parts(w).COMM2.IsConnected()) << Parts(w).COMM2.LastError().toStdString();
    ExpectConnected(w, true);
    ASSERT_TRUE(lw.WaitFrames(3));
    EXPECT_TRUE(WaitFor([&] { return lw.LinkShown(); }));
    EXPECT_EQ(Parts(w).reading.ValueText, "5.012");

    // The menu's and the panel's commands use the same port.
    Parts(w).ui->STOP1->trigger();
    ExpectConnected(w, false);
    Parts(w).ui->START1->trigger();
    ExpectConnected(w, true);
    EXPECT_TRUE(lw.WaitFrames(2));
    EXPECT_TRUE(lw.Boxes().isEmpty()) << lw.Boxes().join(" | ").toStdString();
}

TEST(SerialPath, MeterGoneMidStreamLeavesTheProgramIdleAndReconnectable)
{
    // SIGKILL leaves the simulator's link behind, pointing nowhere; SIGTERM
    // lets it remove the link.
    for (const int sig : {SIGKILL, SIGTERM}) {
        SCOPED_TRACE(strsignal(sig));
        Rig rig;
        ChildProcess& sim = rig.StartSim(1, "sweep");
        LiveWindow& lw = rig.OpenWindow();
        TFCOMM& w = *lw.w;
        lw.ClickConnect();
        ASSERT_TRUE(lw.WaitFrames(3));

        sim.Signal(sig);
        ASSERT_TRUE(sim.WaitEnded());
        ASSERT_TRUE(WaitFor([&] { return Parts(w).COMM2.DeviceLost(); })) << "the hang-up was not noticed";
        EXPECT_TRUE(WaitFor([&] { return !lw.LinkShown(); }));

        // One second of the event loop with the device gone costs next to no
        // processor time (a generous bound: this catches a spinning loop).
        const double before = ProcessCpuSeconds();
        Serve(1000);
        const double used = ProcessCpuSeconds() - before;
        EXPECT_LT(used, 0.3) << "CPU seconds in one second after the hang-up";
        ::testing::Test::RecordProperty(std::string("cpu_seconds_after_") + (sig == SIGKILL ? "sigkill" : "sigterm"),
                                        std::to_string(used));

        // Nothing was reported and the controls still show Connected until
        // the user disconnects.
        EXPECT_TRUE(lw.Boxes().isEmpty()) << lw.Boxes().join(" | ").toStdString();
        EXPECT_TRUE(Parts(w).COMM2.IsConnected());
        ExpectConnected(w, true);
        lw.ClickConnect();
        ExpectConnected(w, false);

        // A new meter on the same port: connecting again brings frames. (The
        // link a killed simulator left behind goes first: the new simulator
        // may be given the same terminal and would then refuse the link.)
        QFile::remove(rig.ws.File("COM1"));
        rig.StartSim(1, "steady");
        lw.ClickConnect();
        ASSERT_TRUE(Parts(w).COMM2.IsConnected()) << Parts(w).COMM2.LastError().toStdString();
        ASSERT_TRUE(lw.WaitFrames(2));
        EXPECT_EQ(Parts(w).reading.ValueText, "5.012");
        EXPECT_TRUE(lw.Boxes().isEmpty()) << lw.Boxes().join(" | ").toStdString();
    }
}

TEST(SerialPath, ASecondOpenerOfAConnectedPortIsRefused)
{
    Rig rig;
    rig.StartSim(1, "steady");
    LiveWindow& first = rig.OpenWindow();
    first.ClickConnect();
    ASSERT_TRUE(first.WaitFrames(2));

    const QString link = rig.ws.File("COM1");
    const QString terminal = QFileInfo(link).symLinkTarget();
    ASSERT_TRUE(terminal.startsWith("/dev/pts/")) << terminal.toStdString();
    const std::string busy = std::strerror(EBUSY);

    // Devices opened by name: the link and the terminal it points to.
    for (const QString& path : {link, terminal}) {
        PosixSerialDevice dev;
        EXPECT_FALSE(dev.Open(path.toStdString())) << path.toStdString();
        EXPECT_EQ(dev.LastErrorCode(), EBUSY) << path.toStdString();
    }
    // A second driver on the same port.
    {
        TSerialPortDriver other(nullptr, SystemSeams::SerialDevices());
        EXPECT_FALSE(other.Connect());
        EXPECT_FALSE(other.IsConnected());
        EXPECT_EQ(other.LastError().toStdString(), busy);
    }
    // A second window: the failure is told and its controls stay Disconnected.
    LiveWindow& second = rig.OpenWindow();
    second.ClickConnect();
    EXPECT_FALSE(Parts(*second.w).COMM2.IsConnected());
    EXPECT_EQ(second.dialogs.messages,
              QStringList{QString("Could not open COM1 (%1): %2.").arg(link, QString::fromStdString(busy))});
    EXPECT_FALSE(Parts(*second.w).ui->COMCon->isChecked());
    ExpectConnected(*second.w, false);

    // None of that disturbed the first window's stream.
    EXPECT_TRUE(first.WaitFrames(3));
    EXPECT_EQ(Parts(*first.w).reading.ValueText, "5.012");
    EXPECT_TRUE(first.Boxes().isEmpty()) << first.Boxes().join(" | ").toStdString();

    // Once the first lets go, the second gets the port.
    first.ClickConnect();
    ExpectConnected(*first.w, false);
    second.ClickConnect();
    ASSERT_TRUE(Parts(*second.w).COMM2.IsConnected()) << Parts(*second.w).COMM2.LastError().toStdString();
    ExpectConnected(*second.w, true);
    EXPECT_TRUE(second.WaitFrames(2));
    EXPECT_EQ(second.dialogs.messages.size(), 1);
}

TEST(SerialPath, APortAnotherProgramReadsIsRefusedAndTheProgramNamed)
{
    Rig rig;
    rig.StartSim(1, "steady");
    const QString link = rig.ws.File("COM1");
    struct stat device {};
    ASSERT_EQ(::stat(link.toLocal8Bit().constData(), &device), 0);

    // A plain reader left running on the port.
    ChildProcess cat("/bin/cat", {link}, rig.ws.Path(), rig.ws.File("cat.log"));
    ASSERT_TRUE(WaitFor([&] { return OpenFileHolder(device.st_rdev).has_value(); }));

    LiveWindow& lw = rig.OpenWindow();
    lw.ClickConnect();
    EXPECT_FALSE(Parts(*lw.w).COMM2.IsConnected());
    ExpectConnected(*lw.w, false);
    EXPECT_EQ(lw.dialogs.messages,
              QStringList{QString("Could not open COM1 (%1): In use by cat (pid %2).").arg(link).arg(cat.Pid())});
    EXPECT_TRUE(cat.Running());

    // Once it has ended, the port is the program's.
    cat.Signal(SIGTERM);
    ASSERT_TRUE(cat.WaitEnded());
    lw.ClickConnect();
    ASSERT_TRUE(Parts(*lw.w).COMM2.IsConnected()) << Parts(*lw.w).COMM2.LastError().toStdString();
    EXPECT_TRUE(lw.WaitFrames(2));
    EXPECT_EQ(lw.dialogs.messages.size(), 1);
}

TEST(SerialPath, APortThatCannotBeOpenedIsToldAndLeftDisconnected)
{
    // Without a COM2 link the port falls back to the system's devices.
    if (QFileInfo::exists("/dev/ttyUSB1") || QFileInfo::exists("/dev/ttyS1"))
        GTEST_SKIP() << "this machine has a second serial device; COM2 is not missing here";

    struct Case {
        const char* what;
        std::function<void(const Workspace&)> prepare;
        QString device;  // empty: the fallback device
        QString reason;
    };
    const QString missing = QString::fromLocal8Bit(std::strerror(ENOENT));
    const Case cases[] = {
        {"no link", [](const Workspace&) {}, {}, missing},
        {"a link left behind by a simulator that is gone",
         [](const Workspace& ws) { QFile::link("/dev/pts/no-such-terminal", ws.File("COM2")); },
         {},
         missing},
        {"a link to a file that is no terminal",
         [](const Workspace& ws) {
             QFile f(ws.File("plain"));
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write("not a terminal");
             f.close();
             QFile::link(ws.File("plain"), ws.File("COM2"));
         },
         "COM2", "Not a serial device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.StartSim(1, "steady");  // a meter on COM1 does not help COM2
        c.prepare(rig.ws);
        LiveWindow& lw = rig.OpenWindow();
        TFCOMM& w = *lw.w;
        Parts(w).ui->COM21->trigger();
        ASSERT_EQ(Parts(w).COMM2.ComPort(), pnCOM2);

        lw.ClickConnect();
        EXPECT_FALSE(Parts(w).COMM2.IsConnected());
        const QString device = c.device.isEmpty() ? QString("/dev/ttyS1") : rig.ws.File(c.device);
        EXPECT_EQ(lw.dialogs.messages,
                  QStringList{QString("Could not open COM2 (%1): %2.").arg(device, c.reason)});
        EXPECT_FALSE(Parts(w).ui->COMCon->isChecked());
        ExpectConnected(w, false);
        Serve(300);
        EXPECT_EQ(lw.frames, 0);
        EXPECT_EQ(lw.dialogs.messages.size(), 1);
    }
}

}  // namespace
}  // namespace e2e
