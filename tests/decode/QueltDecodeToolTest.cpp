#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryFile>

namespace {

QString Tool() { return QString::fromLocal8Bit(qgetenv("QUELT_BIN_DIR")) + "/quelt-decode"; }

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

TEST(QueltDecodeTool, UnreadableFileExitsWithTwo)
{
    const Result r = RunTool({"/nonexistent/capture.bin"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("cannot read"));
}

}  // namespace
