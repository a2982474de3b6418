// quelt-decode as a program: captured bytes from a file or a pipe, and a live
// port (a pseudo-terminal of the test's own, and meter-sim's through its COMn
// link).
#include "platform/SerialDevice.h"
#include "platform/UniqueFd.h"
#include "support/RunUntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

// The kernel's termios2, to read the speed the tool set; <termios.h> cannot
// be included beside it.
#include <asm/termbits.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

QString BinDir() { return QString::fromLocal8Bit(qgetenv("QUELT_BIN_DIR")); }
QString Tool() { return BinDir() + "/quelt-decode"; }

struct Result {
    int exitCode;
    QByteArray out, err;
};

Result RunTool(const QStringList& args, const QByteArray& input = {})
{
    QProcess p;
    p.start(Tool(), args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(10000);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

QByteArray Run14(const char* body)  // body: sign, 4 digits, spare, point, 4 status, spare
{
    return QByteArray("\x0A", 1) + QByteArray(body, 12) + "\x0D";
}

// Reads the tool's output until `lines` whole lines arrived or it ended.
bool WaitForLines(QProcess& p, QByteArray& out, int lines)
{
    return RunUntil([&] {
               out += p.readAllStandardOutput();
               return out.count('\n') >= lines || p.state() == QProcess::NotRunning;
           },
                    20000) &&
           out.count('\n') >= lines;
}

bool WaitForStartLine(QProcess& p, QByteArray& err)
{
    return RunUntil([&] {
               err += p.readAllStandardError();
               return err.contains('\n') || p.state() == QProcess::NotRunning;
           },
                    20000) &&
           err.contains("reading");
}

// The master side of a fresh pseudo-terminal; the tool opens the other side.
class PseudoTerminal {
public:
    PseudoTerminal()
    {
        master_.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (master_.get() >= 0 && ::grantpt(master_.get()) == 0 && ::unlockpt(master_.get()) == 0)
            name_ = QString::fromLocal8Bit(::ptsname(master_.get()));
    }
    ~PseudoTerminal() { HangUp(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const QString& SlaveName() const { return name_; }
    bool Send(const QByteArray& bytes) const { return ::write(master_.get(), bytes.data(), size_t(bytes.size())) == bytes.size(); }
    // The line settings of the slave side, as the tool left them.
    termios2 Settings() const
    {
        termios2 t{};
        ::ioctl(master_.get(), TCGETS2, &t);
        return t;
    }
    void HangUp() { master_.reset(); }

private:
    UniqueFd master_;
    QString name_;
};

TEST(QueltDecodeTool, PrintsOneLinePerFrameAndGoesOnAfterAFailure)
{
    const QByteArray stream = Run14("+0123 2\x20\x00\x40\x80\x00") + Run14("+12:4 0\x00\x00\x00\x00\x00") +
                              Run14("+1111 0\x00\x00\x00\x00\x00") + Run14("-?0:? 2\x00\x00\x00\x08\x00") +
                              Run14("+0500 0\x00\x00\x02\x00\x00");
    const Result r = RunTool({}, stream);
    EXPECT_EQ(r.exitCode, 0);
    // The bad frame is reported, the run after it is lost, then decoding goes on.
    EXPECT_EQ(r.out, "01.23\t123\tmV\t\tAUTO\tAuto,Milli,Volt\n"
                     "0.L\t-6001\tHz\t\tMANU\tHertz\n"
                     "0500\t500\t%\t\tMANU\tPercent\n");
    EXPECT_EQ(r.err, "'12A4' is not a valid integer value\n");
}

TEST(QueltDecodeTool, RefusesBadUsageAndUnreadableSources)
{
    struct Case {
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        {{"/nonexistent/capture.bin"}, "cannot read '/nonexistent/capture.bin'"},
        {{"--speed", "12345"}, "--speed must be one of"},
        {{"--speed", "fast"}, "--speed must be one of"},
        {{"--speed"}, "--speed needs a value"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"a.bin", "b.bin"}, "one source only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Result r = RunTool(c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
}

// A terminal in its default line mode turns 0x0D into 0x0A, eats editing and
// signal characters and holds bytes back until a line ends. Set raw, the port
// gives the tool exactly what a file of the same bytes gives it, each line as
// soon as its frame arrived.
TEST(QueltDecodeTool, ReadsAPortRawAtItsSpeedLineByLineUntilItHangsUp)
{
    const QByteArray frames[] = {
        Run14("+0123 2\x20\x00\x40\x80\x03"),  // ^C as the spare byte
        Run14("-0456 1\x11\x13\x16\x17\x7F"),  // XON, XOFF, ^V, ^W, DEL
        Run14("+1111 0\x04\x12\x15\x1A\x1C"),  // ^D, ^R, ^U, ^Z, ^\ .
    };
    const QByteArray stream = frames[0] + frames[1] + frames[2];
    const Result fromFile = RunTool({}, stream);
    ASSERT_EQ(fromFile.out.count('\n'), 3) << fromFile.err.toStdString();

    struct Case {
        QStringList options;
        unsigned speed;
    };
    for (const Case& c : {Case{{}, 2400}, Case{{"--speed", "19200"}, 19200}}) {
        SCOPED_TRACE(c.speed);
        PseudoTerminal pty;
        ASSERT_FALSE(pty.SlaveName().isEmpty());
        QProcess tool;
        tool.start(Tool(), c.options + QStringList{pty.SlaveName()});
        QByteArray out, err;
        ASSERT_TRUE(WaitForStartLine(tool, err)) << err.toStdString();

        const termios2 t = pty.Settings();
        EXPECT_EQ(t.c_ispeed, c.speed);
        EXPECT_EQ(t.c_ospeed, c.speed);
        EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
        EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);

        // One frame at a time: its line comes while the tool is still reading.
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(pty.Send(frames[i]));
            ASSERT_TRUE(WaitForLines(tool, out, i + 1)) << "frame " << i << ": " << out.toStdString();
            EXPECT_EQ(tool.state(), QProcess::Running);
        }
        EXPECT_EQ(out, fromFile.out);

        pty.HangUp();
        ASSERT_TRUE(tool.waitForFinished(20000));
        EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(tool.exitCode(), 0);
        err += tool.readAllStandardError();
        EXPECT_TRUE(err.endsWith(" hung up\n")) << err.toStdString();
    }
}

// The port named as the program names it, read from meter-sim until Ctrl-C:
// every line decoded so far is out, whole, and the port is free again.
TEST(QueltDecodeTool, ReadsMeterSimThroughItsComLinkUntilCtrlC)
{
    QTemporaryDir dir;
    QProcess sim;
    sim.start(BinDir() + "/meter-sim", {"--dir", dir.path(), "--port", "2", "--interval", "50"});
    ASSERT_TRUE(RunUntil([&] { return sim.canReadLine() || sim.state() == QProcess::NotRunning; }, 20000));
    ASSERT_EQ(sim.state(), QProcess::Running) << sim.readAllStandardError().toStdString();

    QProcess tool;
    tool.setWorkingDirectory(dir.path());
    tool.start(Tool(), {"COM2"});
    QByteArray out, err;
    ASSERT_TRUE(WaitForStartLine(tool, err)) << err.toStdString();
    EXPECT_TRUE(err.contains("COM2 (" + QDir(dir.path()).filePath("COM2").toLocal8Bit() + ")"));
    ASSERT_TRUE(WaitForLines(tool, out, 3)) << out.toStdString();

    ::kill(pid_t(tool.processId()), SIGINT);
    ASSERT_TRUE(tool.waitForFinished(20000));
    // It ends as Ctrl-C ends a program, so a shell or script sees the interruption.
    EXPECT_EQ(tool.exitStatus(), QProcess::CrashExit);
    out += tool.readAllStandardOutput();
    err += tool.readAllStandardError();
    EXPECT_TRUE(out.endsWith('\n'));
    const QList<QByteArray> lines = out.trimmed().split('\n');
    EXPECT_GE(lines.size(), 3);
    for (const QByteArray& line : lines)
        EXPECT_EQ(line, lines.front());  // the steady scenario: one reading, again and again
    EXPECT_EQ(lines.front().count('\t'), 5);
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();  // the start line, no complaint

    PosixSerialDevice again;
    EXPECT_TRUE(again.Open(QDir(dir.path()).filePath("COM2").toStdString())) << again.LastError();
    again.Close();
    sim.terminate();
    EXPECT_TRUE(sim.waitForFinished(20000));
}

}  // namespace
