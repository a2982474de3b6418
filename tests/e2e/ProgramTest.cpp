// The built program as a user starts it: headless, in a directory where a
// meter is linked as COM1.
#include "LiveRig.h"

#include <csignal>

namespace e2e {
namespace {

TEST(Program, RunsAndEndsCleanlyOnSigterm)
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
    // Ending by the signal itself is fine; a crash is not.
    if (WIFSIGNALED(*status))
        EXPECT_EQ(WTERMSIG(*status), SIGTERM) << strsignal(WTERMSIG(*status)) << "\n" << program.Log().toStdString();
    else
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << program.Log().toStdString();
}

}  // namespace
}  // namespace e2e
