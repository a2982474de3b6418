// The built program as a user starts it: headless, in a directory where a
// meter is linked as COM1.
#include "LiveRig.h"

#include <csignal>

namespace e2e {
namespace {

TEST(Program, RunsAndEndsCleanlyOnSigtermKeepingTheJournal)
{
    Rig rig;
    rig.StartSim(1, "steady");
    ChildProcess program(BinDir() + "/quelt", {}, rig.ws.Path(), rig.ws.File("quelt.log"),
                         {"QT_QPA_PLATFORM=offscreen"});
    Serve(2000);
    ASSERT_TRUE(program.Running()) << "the program ended by itself: " << program.Log().toStdString();

    program.Signal(SIGTERM);
    const std::optional<int> status = program.WaitEnded();
    ASSERT_TRUE(status) << "the program did not end on SIGTERM";
    // It closes the log, keeps the log's journal for the next start, and ends
    // by the signal so that whoever sent it sees how it ended.
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM) << program.Log().toStdString();
    EXPECT_TRUE(QFile::exists(rig.ws.File("Queltdb.DB.journal")));
}

}  // namespace
}  // namespace e2e
