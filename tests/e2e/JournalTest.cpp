// The log's journal with the program as a process of its own, recording what
// meter-sim sends: killed outright or ended by a signal, the next start finds
// its readings in the log.
#include "LiveRig.h"

#include <QRegularExpression>

#include <csignal>
#include <ctime>

namespace e2e {
namespace {

// A record as the recording program printed it once it was in the log.
struct Printed {
    std::string no, value;
    int64_t ms = 0;  // CLOCK_MONOTONIC
};

int64_t MonotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::vector<Printed> PrintedRecords(const ChildProcess& program)
{
    static const QRegularExpression line("^(\\d+)\\t([^\\t]*)\\t(\\d+)$", QRegularExpression::MultilineOption);
    std::vector<Printed> out;
    for (auto it = line.globalMatch(program.Log()); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out.push_back({m.captured(1).toStdString(), m.captured(2).toStdString(), m.captured(3).toLongLong()});
    }
    return out;
}

// No and Value of every record of the log.
std::vector<std::pair<std::string, std::string>> Rows(ReadingTable& t)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t i = 0; i < t.recordCount(); ++i)
        out.emplace_back(t.cellText(i, t.fieldIndex("No")), t.cellText(i, t.fieldIndex("Value")));
    return out;
}

std::unique_ptr<ChildProcess> StartRecording(Rig& rig, const QStringList& args = {})
{
    return std::make_unique<ChildProcess>(BinDir() + "/quelt-recording", args, rig.ws.Path(),
                                          rig.ws.File("quelt.log"), std::vector<std::string>{"QT_QPA_PLATFORM=offscreen"});
}

TEST(Journal, AKilledProgramsReadingsComeBackUpToASecondBeforeTheKill)
{
    Rig rig;
    rig.StartSim(1, "sweep");
    std::unique_ptr<ChildProcess> program = StartRecording(rig);
    ASSERT_TRUE(WaitFor([&] { return PrintedRecords(*program).size() >= 40 || !program->Running(); }, 30000))
        << program->Log().toStdString();
    ASSERT_TRUE(program->Running()) << program->Log().toStdString();

    const int64_t killedAt = MonotonicMs();
    program->Signal(SIGKILL);
    ASSERT_TRUE(program->WaitEnded());
    const std::vector<Printed> printed = PrintedRecords(*program);
    const size_t due = size_t(std::count_if(printed.begin(), printed.end(),
                                            [&](const Printed& p) { return p.ms <= killedAt - 1000; }));
    ASSERT_GT(due, 0u);

    LiveWindow again(rig.ws.Path());
    ASSERT_TRUE(WaitFor([&] { return !again.dialogs.messages.isEmpty(); })) << again.Boxes().join(" | ").toStdString();
    const auto rows = Rows(Parts(*again.w).readingTable);
    ASSERT_GE(rows.size(), due);
    // The log holds what was recorded, in order: every reading up to a second
    // before the kill and perhaps some later ones (the kill may even have come
    // between a record and its printed line).
    EXPECT_LE(rows.size(), printed.size() + 1);
    for (size_t i = 0; i < std::min(rows.size(), printed.size()); ++i) {
        ASSERT_EQ(rows[i].first, printed[i].no) << "record " << i;
        ASSERT_EQ(rows[i].second, printed[i].value) << "record " << i;
    }
    EXPECT_EQ(again.dialogs.messages.size(), 1);
    EXPECT_TRUE(again.dialogs.messages[0].contains(QString("%1 unsaved readings").arg(rows.size())))
        << again.dialogs.messages[0].toStdString();
    EXPECT_TRUE(again.dialogs.errors.isEmpty()) << again.dialogs.errors.join(" | ").toStdString();

    // Recording goes on with the next number.
    again.ClickConnect();
    ASSERT_TRUE(WaitFor([&] { return Parts(*again.w).readingTable.recordCount() > rows.size(); }))
        << again.Boxes().join(" | ").toStdString();
    EXPECT_EQ(Rows(Parts(*again.w).readingTable)[rows.size()].first, std::to_string(std::stoi(rows.back().first) + 1));
}

TEST(Journal, ATerminationSignalEndsTheProgramCleanlyAndKeepsEveryReading)
{
    // With no box open, and with the real file dialog of "Open old data
    // files" open (its own event loop runs, and recording goes on).
    for (const bool dialogOpen : {false, true})
        for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
            SCOPED_TRACE(std::string(strsignal(sig)) + (dialogOpen ? ", file dialog open" : ""));
            Rig rig;
            rig.StartSim(1, "sweep");
            std::unique_ptr<ChildProcess> program = StartRecording(rig, dialogOpen ? QStringList{"--open-dialog"}
                                                                                   : QStringList{});
            ASSERT_TRUE(WaitFor(
                [&] {
                    return !program->Running() || (PrintedRecords(*program).size() >= 20 && (!dialogOpen || program->Log().contains("opening the file dialog")));
                },
                30000))
                << program->Log().toStdString();

            program->Signal(sig);
            const std::optional<int> status = program->WaitEnded();
            ASSERT_TRUE(status) << "the program did not end";
            // It ends by the signal, as a caller expects, once the log is closed.
            EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == sig) << program->Log().toStdString();
            EXPECT_TRUE(program->Log().contains("log closed")) << program->Log().toStdString();
            EXPECT_FALSE(program->Log().contains("file dialog closed")) << program->Log().toStdString();
            ASSERT_TRUE(QFile::exists(rig.ws.File("Queltdb.DB.journal")));

            const std::vector<Printed> printed = PrintedRecords(*program);
            LiveWindow again(rig.ws.Path());
            ASSERT_TRUE(WaitFor([&] { return !again.dialogs.messages.isEmpty(); }));
            const auto rows = Rows(Parts(*again.w).readingTable);
            ASSERT_EQ(rows.size(), printed.size());
            for (size_t i = 0; i < rows.size(); ++i)
                EXPECT_EQ(rows[i], std::make_pair(printed[i].no, printed[i].value)) << "record " << i;
        }
}

// The program itself, showing in its real message box the readings it
// brought back from a killed run: one SIGTERM ends it by the signal and the
// readings stay for the next start.
TEST(Journal, ASignalWhileTheRecoveryNoticeIsOpenKeepsTheRecoveredReadings)
{
    Rig rig;
    rig.StartSim(1, "sweep");
    std::unique_ptr<ChildProcess> recording = StartRecording(rig);
    ASSERT_TRUE(WaitFor([&] { return PrintedRecords(*recording).size() >= 10 || !recording->Running(); }, 30000))
        << recording->Log().toStdString();
    recording->Signal(SIGKILL);
    ASSERT_TRUE(recording->WaitEnded());
    std::vector<std::pair<std::string, std::string>> recovered;
    {
        LiveWindow first(rig.ws.Path());  // brings them back and keeps the journal
        ASSERT_TRUE(WaitFor([&] { return !first.dialogs.messages.isEmpty(); }));
        recovered = Rows(Parts(*first.w).readingTable);
    }
    ASSERT_FALSE(recovered.empty());

    ChildProcess program(BinDir() + "/quelt", QStringList{}, rig.ws.Path(), rig.ws.File("quelt.log"),
                         {"QT_QPA_PLATFORM=offscreen", "XDG_STATE_HOME=" + rig.ws.File("state").toStdString()});
    ASSERT_TRUE(WaitFor([&] {
        return (Catches(program.Pid(), SIGTERM) && HeldElsewhere(rig.ws.File("Queltdb.DB"))) || !program.Running();
    })) << program.Log().toStdString();
    Serve(300);  // the notice is up by now
    ASSERT_TRUE(program.Running()) << program.Log().toStdString();
    program.Signal(SIGTERM);
    const std::optional<int> status = program.WaitEnded();
    ASSERT_TRUE(status) << "the program did not end";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM) << program.Log().toStdString();

    LiveWindow again(rig.ws.Path());
    ASSERT_TRUE(WaitFor([&] { return !again.dialogs.messages.isEmpty(); }));
    EXPECT_EQ(Rows(Parts(*again.w).readingTable), recovered);
}

}  // namespace
}  // namespace e2e
