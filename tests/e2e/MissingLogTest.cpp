// The program started without a usable reading log: the failure is told once,
// the meter is shown as with a log, and the recorder says once that its
// readings are not being logged.
#include "LiveRig.h"

#include <QAbstractItemModel>
#include <QToolButton>

namespace e2e {
namespace {

TEST(MissingLog, TheMeterIsShownAndTheUserToldOnce)
{
    using Prepare = std::function<void(Rig&, std::optional<ChildProcess>&)>;
    struct Case {
        const char* name;
        Prepare prepare;
        const char* reason;
    } cases[] = {
        {"no table", [](Rig& rig, auto&) { ASSERT_TRUE(QFile::remove(rig.ws.File("Queltdb.DB"))); },
         "No such file or directory"},
        {"damaged table", [](Rig& rig, auto&) { ASSERT_TRUE(QFile(rig.ws.File("Queltdb.DB")).resize(1000)); },
         "is damaged"},
        {"held by another process",
         [](Rig& rig, std::optional<ChildProcess>& holder) {
             // A second copy of the program, started first, holds the log.
             holder.emplace(BinDir() + "/quelt", QStringList{}, rig.ws.Path(), rig.ws.File("holder.log"),
                            std::vector<std::string>{"QT_QPA_PLATFORM=offscreen"});
             ASSERT_TRUE(WaitFor([&] { return HeldElsewhere(rig.ws.File("Queltdb.DB")) || !holder->Running(); }) && holder->Running())
                 << holder->Log().toStdString();
         },
         "is busy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        const QString log = rig.ws.File("Queltdb.DB");
        std::optional<ChildProcess> holder;
        c.prepare(rig, holder);
        if (::testing::Test::HasFatalFailure())
            return;
        rig.StartSim(1, "steady");
        LiveWindow lw(rig.ws.Path());
        TFCOMM& w = *lw.w;
        ASSERT_EQ(lw.dialogs.errors.size(), 1);
        EXPECT_TRUE(lw.dialogs.errors[0].contains(c.reason)) << lw.dialogs.errors[0].toStdString();
        EXPECT_EQ(w.windowTitle(), "Dessa Interface Program _Ver: 1.00");
        EXPECT_EQ(Parts(w).ui->Setmax->text(), "6000");

        lw.ClickConnect();
        ASSERT_TRUE(Parts(w).COMM2.IsConnected()) << Parts(w).COMM2.LastError().toStdString();
        ASSERT_TRUE(lw.WaitFrames(3));
        ASSERT_TRUE(WaitFor([&] { return lw.LinkShown() && !lw.dialogs.messages.isEmpty(); }));
        EXPECT_EQ(Parts(w).ui->LcdDa->text() + Parts(w).ui->LcdDb->text() + Parts(w).ui->LcdDc->text() + Parts(w).ui->LcdDd->text(), "5012");
        ASSERT_TRUE(lw.WaitFrames(10));
        ASSERT_EQ(lw.dialogs.messages.size(), 1) << lw.Boxes().join(" | ").toStdString();
        EXPECT_TRUE(lw.dialogs.messages[0].contains(log + " is not open")) << lw.dialogs.messages[0].toStdString();
        EXPECT_TRUE(lw.dialogs.messages[0].contains(c.reason)) << lw.dialogs.messages[0].toStdString();
        EXPECT_EQ(lw.Boxes().size(), 2) << lw.Boxes().join(" | ").toStdString();
        EXPECT_EQ(Parts(w).ui->DBGrid1->model()->rowCount(), 0);

        // Opening a good table as the log: recording resumes, numbered from 1.
        QDir(rig.ws.Path()).mkpath("fresh");
        MakeLogTable(rig.ws.File("fresh"));
        const QString fresh = rig.ws.File("fresh/Queltdb.DB");
        lw.dialogs.files.push_back(fresh);
        QTest::mouseClick(Parts(w).ui->OpenDataFiles, Qt::LeftButton);
        ASSERT_EQ(Parts(w).readingTable.filePath(), fresh.toStdString());
        ASSERT_TRUE(WaitFor([&] { return Parts(w).ui->DBGrid1->model()->rowCount() >= 3; }));
        EXPECT_EQ(Parts(w).ui->DBGrid1->model()->index(0, 0).data().toString(), "1");
        EXPECT_EQ(Parts(w).ui->DBGrid1->model()->index(0, 3).data().toString(), "5.012");
        EXPECT_EQ(lw.Boxes().size(), 2) << lw.Boxes().join(" | ").toStdString();
    }
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// The program itself, with its real message box "Cannot open table" open from
// its start-up: one signal ends it, by that signal.
TEST(MissingLog, ASignalEndsTheProgramWhileTheStartUpBoxIsOpen)
{
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        Workspace ws;
        ASSERT_TRUE(QFile::remove(ws.File("Queltdb.DB")));
        ChildProcess program(BinDir() + "/quelt", QStringList{}, ws.Path(), ws.File("quelt.log"),
                             {"QT_QPA_PLATFORM=offscreen", "XDG_STATE_HOME=" + ws.File("state").toStdString()});
        ASSERT_TRUE(WaitFor([&] { return Catches(program.Pid(), sig) || !program.Running(); }))
            << program.Log().toStdString();
        Serve(300);  // the box is up by now
        ASSERT_TRUE(program.Running()) << program.Log().toStdString();

        program.Signal(sig);
        const std::optional<int> status = program.WaitEnded();
        ASSERT_TRUE(status) << "the program did not end";
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == sig) << program.Log().toStdString();
    }
}

}  // namespace
}  // namespace e2e
