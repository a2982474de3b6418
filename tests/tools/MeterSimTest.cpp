// meter-sim as a program: what it sends on its pseudo-terminal, its link, its
// options. The runs are checked with checks of their own here, not with the
// simulator's encoder.
#include "platform/SerialDevice.h"
#include "platform/UniqueFd.h"
#include "tools/meter-sim/CableSchedule.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <functional>
#include <set>
#include <string>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

QString SimProgram()
{
    const QByteArray dir = qgetenv("QUELT_BIN_DIR");
    return (dir.isEmpty() ? QCoreApplication::applicationDirPath() : QString::fromLocal8Bit(dir)) + "/meter-sim";
}

using LineRun = std::vector<uint8_t>;

// What is wrong with a 14-byte run, or empty.
std::string RunProblem(const LineRun& r)
{
    if (r.size() != 14)
        return "length " + std::to_string(r.size());
    if (r[0] != 0x0A)
        return "lead byte";
    if (r[1] != '+' && r[1] != '-')
        return "sign";
    const bool overload = r[2] == 0x3F && r[3] == 0x30 && r[4] == 0x3A && r[5] == 0x3F;
    for (int i = 2; i <= 5 && !overload; ++i)
        if (r[size_t(i)] < '0' || r[size_t(i)] > '9')
            return "digit " + std::to_string(i - 1);
    if (r[6] != 0x20)
        return "spare byte";
    if (r[7] != '0' && r[7] != '1' && r[7] != '2' && r[7] != '4')
        return "point code";
    // Bits no meter sets: byte 1 bits 7, 6, 0; byte 2 bits 7, 6, 3, 0; byte 3 bit 0; byte 4 bit 4.
    if ((r[8] & 0xC1) || (r[9] & 0xC9) || (r[10] & 0x01) || (r[11] & 0x10))
        return "unused status bit";
    if ((r[12] & 0x7F) > 41)
        return "bar length";
    if (bool(r[12] & 0x80) != (r[1] == '-'))
        return "bar side";
    if (r[13] != 0x0D)
        return "end byte";
    return {};
}

bool IsOverload(const LineRun& r)
{
    return r[2] == 0x3F && r[4] == 0x3A;
}

int UnitBits(const LineRun& r)
{
    // V, A, ohm, Hz, F, degrees C, degrees F in byte 4; % in byte 3.
    return __builtin_popcount(r[11] & 0xEF) + ((r[10] >> 1) & 1);
}

class MeterSim : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QProcess sim;

    QString Link() const { return QDir(dir.path()).filePath("COM2"); }

    // Starts the simulator on port 2 in the test's directory and waits for its
    // start line.
    bool Start(QStringList args)
    {
        // The previous run's simulator may still be on its way out.
        if (sim.state() != QProcess::NotRunning)
            sim.waitForFinished(10000);
        args << "--dir" << dir.path() << "--port"
             << "2";
        sim.start(SimProgram(), args);
        if (!sim.waitForStarted(10000))
            return false;
        QDeadlineTimer deadline(10000);
        while (!sim.canReadLine() && sim.state() == QProcess::Running && !deadline.hasExpired())
            sim.waitForReadyRead(100);
        return sim.canReadLine();
    }

    // Reads everything the simulator sends until it ends.
    std::vector<uint8_t> ReadAll()
    {
        std::vector<uint8_t> got;
        PosixSerialDevice dev;
        if (!dev.Open(Link().toStdString())) {
            ADD_FAILURE() << dev.LastError();
            return got;
        }
        uint8_t buf[512];
        QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired()) {
            const SerialReadResult r = dev.Read(buf, sizeof buf);
            if (r.Status == SerialReadStatus::Gone)
                break;
            got.insert(got.end(), buf, buf + r.Count);
            if (r.Count == 0)
                ::usleep(1000);
        }
        EXPECT_TRUE(sim.waitForFinished(10000));
        EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(sim.exitCode(), 0) << sim.readAllStandardError().toStdString();
        EXPECT_FALSE(QFileInfo(Link()).isSymLink());  // removed at the end
        return got;
    }

    std::vector<LineRun> Runs(const std::vector<uint8_t>& bytes)
    {
        std::vector<LineRun> runs;
        for (size_t i = 0; i + 14 <= bytes.size(); i += 14)
            runs.emplace_back(bytes.begin() + long(i), bytes.begin() + long(i) + 14);
        return runs;
    }
};

}  // namespace

TEST_F(MeterSim, ScenariosSendWellFormedRuns)
{
    struct Case {
        const char* scenario;
        int count;
        std::function<void(const std::vector<LineRun>&)> check;
    };
    const Case cases[] = {
        {"steady", 5, [](const std::vector<LineRun>& runs) {
             for (const LineRun& r : runs)
                 EXPECT_EQ(r, runs[0]);
         }},
        {"units", 27, [](const std::vector<LineRun>& runs) {
             std::set<int> units;
             bool ac = false, dc = false, manual = false, automatic = false;
             for (const LineRun& r : runs) {
                 EXPECT_EQ(UnitBits(r), 1);            // a meter shows one unit
                 EXPECT_FALSE((r[8] & 0x18) == 0x18);  // never AC and DC at once
                 units.insert((r[10] & 0x02) | (r[11] << 8));
                 ac |= (r[8] & 0x08) != 0;
                 dc |= (r[8] & 0x10) != 0;
                 automatic |= (r[8] & 0x20) != 0;
                 manual |= (r[8] & 0x20) == 0;
             }
             EXPECT_GE(units.size(), 8u);
             EXPECT_TRUE(ac && dc && automatic && manual);
         }},
        {"overload", 9, [](const std::vector<LineRun>& runs) {
             int positive = 0, negative = 0, normal = 0;
             for (const LineRun& r : runs) {
                 if (!IsOverload(r))
                     ++normal;
                 else if (r[1] == '-')
                     ++negative;
                 else
                     ++positive;
             }
             EXPECT_GT(positive, 0);
             EXPECT_GT(negative, 0);
             EXPECT_EQ(normal, 1);
         }},
        {"sweep", 700, [](const std::vector<LineRun>& runs) {
             std::set<uint8_t> points, signs;
             bool barIsEndByte = false;
             for (const LineRun& r : runs) {
                 points.insert(r[7]);
                 signs.insert(r[1]);
                 barIsEndByte |= r[12] == 0x0D;  // 13 segments
             }
             EXPECT_EQ(points.size(), 4u);
             EXPECT_EQ(signs.size(), 2u);
             EXPECT_TRUE(barIsEndByte);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        ASSERT_TRUE(Start({"--scenario", c.scenario, "--fast", "--count", QString::number(c.count)}));
        const std::vector<uint8_t> bytes = ReadAll();
        ASSERT_EQ(bytes.size(), size_t(14 * c.count));
        const std::vector<LineRun> runs = Runs(bytes);
        for (size_t i = 0; i < runs.size(); ++i)
            ASSERT_EQ(RunProblem(runs[i]), "") << "run " << i;
        c.check(runs);
    }
}

TEST_F(MeterSim, PacedRunsArriveWhole)
{
    ASSERT_TRUE(Start({"--count", "3", "--interval", "0"}));
    const std::vector<uint8_t> bytes = ReadAll();
    ASSERT_EQ(bytes.size(), 42u);
    for (const LineRun& r : Runs(bytes))
        EXPECT_EQ(RunProblem(r), "");
}

TEST_F(MeterSim, NoiseMixesValidAndBrokenRuns)
{
    ASSERT_TRUE(Start({"--scenario", "noise", "--fast", "--count", "300", "--seed", "7"}));
    const std::vector<uint8_t> bytes = ReadAll();
    int valid = 0, broken = 0;
    LineRun run;
    for (uint8_t b : bytes) {
        run.push_back(b);
        if (b != 0x0D)
            continue;
        (RunProblem(run).empty() ? valid : broken)++;
        run.clear();
    }
    EXPECT_GT(valid, 50);
    EXPECT_GT(broken, 20);
}

TEST_F(MeterSim, ReplaysAFileByteForByte)
{
    std::vector<uint8_t> capture;
    for (int i = 0; i < 100; ++i)
        capture.push_back(uint8_t(i * 37));
    capture.push_back(0x0D);
    QFile file(dir.filePath("capture.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(capture.data()), qint64(capture.size()));
    file.close();

    ASSERT_TRUE(Start({"--replay", file.fileName(), "--count", "2", "--fast"}));
    std::vector<uint8_t> twice = capture;
    twice.insert(twice.end(), capture.begin(), capture.end());
    EXPECT_EQ(ReadAll(), twice);
}

TEST_F(MeterSim, TerminationRemovesTheLink)
{
    ASSERT_TRUE(Start({}));
    EXPECT_TRUE(QString::fromLocal8Bit(sim.readLine()).contains(Link()));
    const QFileInfo link(Link());
    ASSERT_TRUE(link.isSymLink());
    EXPECT_TRUE(link.symLinkTarget().startsWith("/dev/pts/"));
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(10000));
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_FALSE(QFileInfo(Link()).isSymLink());
}

// A program that held the port exclusively and ended without giving it back
// (killed) leaves it free for the next program, as a real port's last close
// does; while the program still has it, it stays exclusive.
TEST_F(MeterSim, AnExclusiveHoldEndsWithItsLastHolder)
{
    ASSERT_TRUE(Start({"--interval", "20"}));
    const std::string link = Link().toStdString();
    auto exclusive = [&] {
        // Root may open an exclusive terminal; the mode is read from it.
        const UniqueFd fd(::open(link.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (fd.get() < 0)
            return errno == EBUSY ? 1 : -1;
        int on = -1;
        if (::ioctl(fd.get(), TIOCGEXCL, &on) != 0)
            on = -1;
        return on;
    };
    UniqueFd holder(::open(link.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_GE(holder.get(), 0);
    ASSERT_EQ(::ioctl(holder.get(), TIOCEXCL), 0);
    // Another open and close of the terminal, while the holder has it.
    ::usleep(200000);
    EXPECT_EQ(exclusive(), 1);
    ::usleep(200000);
    EXPECT_EQ(exclusive(), 1);
    holder.reset();  // without TIOCNXCL, as a killed program
    QDeadlineTimer deadline(5000);
    int now = 1;
    while ((now = exclusive()) == 1 && !deadline.hasExpired())
        ::usleep(20000);
    EXPECT_EQ(now, 0);
    sim.terminate();
    EXPECT_TRUE(sim.waitForFinished(10000));
}

TEST_F(MeterSim, LeavesOtherFilesAloneAndReplacesADeadLink)
{
    QFile plain(Link());
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_FALSE(Start({}));
    sim.waitForFinished(10000);
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 1);
    EXPECT_TRUE(sim.readAllStandardError().contains("is not a link"));
    EXPECT_TRUE(QFileInfo(Link()).isFile());

    ASSERT_TRUE(QFile::remove(Link()));
    ASSERT_TRUE(QFile::link(dir.filePath("gone"), Link()));
    ASSERT_TRUE(Start({}));
    EXPECT_TRUE(QFileInfo(Link()).symLinkTarget().startsWith("/dev/pts/"));
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(10000));
}

TEST_F(MeterSim, BadOptionsAreRefusedWithAMessage)
{
    QFile empty(dir.filePath("empty.bin"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    struct Case {
        QStringList args;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {{"--port", "0"}, 2, "meter-sim: --port must be 1 to 4"},
        {{"--port", "5"}, 2, "meter-sim: --port must be 1 to 4"},
        {{"--count", "abc"}, 2, "meter-sim: 'abc' is not a valid integer value"},
        {{"--count", "0"}, 2, "meter-sim: --count must be 1 to"},
        {{"--interval", "-1"}, 2, "meter-sim: --interval must be 0 to"},
        {{"--interval"}, 2, "meter-sim: --interval needs a value"},
        {{"--scenario", "loud"}, 2, "meter-sim: unknown scenario 'loud'"},
        {{"--bogus"}, 2, "meter-sim: unknown option '--bogus'"},
        {{"--usb", "--cables", "9"}, 2, "meter-sim: --cables must be 1 to 8"},
        {{"--usb", "--cables", "2", "--unplug-cable", "3"}, 2, "meter-sim: --unplug-cable must be 1 to 2"},
        {{"--unplug-cable", "2", "--usb"}, 2, "meter-sim: --unplug-cable must be 1 to 1"},
        {{"--cables", "2"}, 2, "meter-sim: --cables is given with --usb only"},
        {{"--replay", dir.filePath("missing.bin")}, 1, "No such file or directory"},
        {{"--replay", empty.fileName()}, 1, "is empty"},
        {{"--replay", dir.path()}, 1, "is not a file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QProcess p;
        p.start(SimProgram(), QStringList{"--dir", dir.path()} + c.args);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), c.exitCode);
        EXPECT_TRUE(p.readAllStandardError().contains(c.message));
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    }
    EXPECT_EQ(QDir(dir.path()).entryList({"COM*"}, QDir::AllEntries | QDir::System).size(), 0);

    QProcess help;
    help.start(SimProgram(), {"--help"});
    ASSERT_TRUE(help.waitForFinished(10000));
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().contains("--scenario"));
}

namespace {

// Reads every node the test names, as a program on the emulated bus does:
// /dev/hidrawN's input reports go to DIR/hidrawN.bin until each node has
// delivered the meter bytes asked for, and a moment longer for any surplus.
const char kCableReader[] = R"(
import os, sys, time
out, want = sys.argv[1], [int(n) for n in sys.argv[2:]]
nodes = [os.open('/dev/hidraw%d' % i, os.O_RDONLY | os.O_NONBLOCK) for i in range(len(want))]
files = [open('%s/hidraw%d.bin' % (out, i), 'wb') for i in range(len(want))]
got = [0] * len(want)
deadline, extra = time.time() + 30, None
while time.time() < deadline and (extra is None or time.time() < extra):
    idle = True
    for i, fd in enumerate(nodes):
        try:
            r = os.read(fd, 64)
        except BlockingIOError:
            continue
        idle = False
        files[i].write(r)
        got[i] += r[0] if r else 0
    if extra is None and all(g >= w for g, w in zip(got, want)):
        extra = time.time() + 0.3
    if idle:
        time.sleep(0.001)
)";

// The bytes a cable's reports carry: a count of meter bytes (0 to 7), then
// those bytes. Empty, and a failure, for anything else.
std::vector<uint8_t> CableBytes(const QByteArray& reports)
{
    std::vector<uint8_t> bytes;
    if (reports.size() % 8 != 0) {
        ADD_FAILURE() << "reports of " << reports.size() << " bytes in all";
        return {};
    }
    for (qsizetype at = 0; at < reports.size(); at += 8) {
        const auto n = uint8_t(reports[at]);
        if (n > 7) {
            ADD_FAILURE() << "a report counts " << int(n) << " meter bytes";
            return {};
        }
        bytes.insert(bytes.end(), reports.begin() + at + 1, reports.begin() + at + 1 + n);
    }
    return bytes;
}

// The cable sends a run's lead byte after its frame rather than before it;
// without lead bytes, the line and the cable carry the same bytes.
std::vector<uint8_t> WithoutLeadBytes(std::vector<uint8_t> bytes)
{
    std::erase(bytes, uint8_t(0x0A));
    return bytes;
}

}  // namespace

// Several cables on one bus, each its own meter: cable K plays the line's
// frames for seed + K - 1, so with the noise scenario each cable carries
// what a meter-sim on a serial line sends for that seed.
TEST_F(MeterSim, UsbCablesEachPlayTheirOwnMeter)
{
    const int count = 30;
    std::vector<uint8_t> line[2];
    QString want[2];  // meter bytes per cable, for the reader to wait for
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(Start({"--scenario", "noise", "--fast", "--count", QString::number(count), "--seed",
                           QString::number(7 + k)}));
        const std::vector<uint8_t> bytes = ReadAll();
        want[k] = QString::number(bytes.size());
        line[k] = WithoutLeadBytes(bytes);
    }
    ASSERT_NE(line[0], line[1]);

    QProcess usb;
    usb.start(SimProgram(), {"--usb", "--cables", "2", "--scenario", "noise", "--seed", "7", "--count",
                             QString::number(count), "--interval", "50", "--idle-ms", "50", "--", "python3", "-c",
                             kCableReader, dir.path(), want[0], want[1]});
    ASSERT_TRUE(usb.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(usb.readAllStandardOutput());
    ASSERT_EQ(usb.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(usb.exitCode(), 0) << usb.readAllStandardError().toStdString() << out.toStdString();
    EXPECT_TRUE(out.contains("USB cable 1 \"USB to Serial\" plugged in as /dev/hidraw0\n")) << out.toStdString();
    EXPECT_TRUE(out.contains("USB cable 2 \"USB to Serial\" plugged in as /dev/hidraw1\n")) << out.toStdString();
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE("cable " + std::to_string(k + 1));
        QFile reports(dir.filePath(QString("hidraw%1.bin").arg(k)));
        ASSERT_TRUE(reports.open(QIODevice::ReadOnly));
        EXPECT_EQ(WithoutLeadBytes(CableBytes(reports.readAll())), line[k]);
    }
}

// The USB cable's loop never wakes for a time already past that nothing will
// move on: after the last of --count frames, or while the cable is unplugged,
// it would spin instead of sleeping.
TEST(MeterSimCableSchedule, WakesOnlyForWhatIsStillToCome)
{
    struct Case {
        const char* what;
        long long nextFrame, nextIdle;
        bool plugged, framesLeft;
        long long wake;
    };
    const long long now = 1000;
    for (const Case& c : {
             Case{"frame due first", 1005, 1010, true, true, 1005},
             Case{"idle report due first", 1030, 1010, true, true, 1010},
             Case{"nothing due soon", 5000, 5000, true, true, 1050},
             Case{"frame overdue", 900, 1010, true, true, 900},
             Case{"count reached: the stale frame time is ignored", 900, 1010, true, false, 1010},
             Case{"unplugged: both times stale", 900, 900, false, true, 1050},
             Case{"unplugged after the count", 900, 900, false, false, 1050},
         })
        EXPECT_EQ(metersim::CableWakeAt(now, c.nextFrame, c.nextIdle, c.plugged, c.framesLeft), c.wake) << c.what;
}
