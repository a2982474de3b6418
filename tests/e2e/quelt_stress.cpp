// Drives the program's window through the two flows that once ended it
// without a trace, for runs under the address sanitizer:
//
//   quelt-stress preview DIR [RECORDS]   a log of RECORDS (1 000 000) records
//       in DIR (made once, reused); Print, the preview drawn at its first and
//       last pages and through the job of saving it as PDF, then closed as
//       with its close box; then Exit.
//   quelt-stress full-save DIR [READINGS [LEAVE_KB]]   DIR is a small file
//       system (a 256 KB tmpfs). An empty log there, READINGS (4574) readings
//       held in memory, the file system filled up to LEAVE_KB (0) free, so
//       the journal cannot grow either and the table fails part-way or at once; Save as a .db table there (fails: disk full), the event
//       loop served for 3 s, more readings, Save again, then Exit.
//
// Message boxes are printed to standard error and answered with their first
// button; prints "done" at the end.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTime>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <string>
#include <sys/statvfs.h>

#include "app/TFCOMM.h"
#include "platform/Beeper.h"
#include "platform/CrashReport.h"
#include "platform/Dialogs.h"
#include "record/paradox/ParadoxTable.h"
#include "report/ReadingReport.h"
#include "record/Recorder.h"
#include "report/ReportPageView.h"
#include "report/ReportPreview.h"
#include "report/ReportPrintJob.h"
#include "ui_TFCOMM.h"
#include "support/NullSeams.h"
#include "support/PrintingDialogs.h"
#include "support/SampleLog.h"
#include "support/SystemSeams.h"
#include "support/WindowParts.h"

namespace {

void Serve(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool ServeUntil(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

// Readings posted as the recorder posts them, held only in memory.
void Post(ReadingTable& t, int count)
{
    for (int i = 0; i < count; ++i) {
        t.append();
        t.setFieldInteger("No", int64_t(t.recordCount()) + 1);
        t.setFieldTime("Time", QTime(12, 0).addSecs(i));
        t.setFieldString("DC/AC", "DC");
        t.setFieldString("Value", "5.012");
        t.setFieldString("Unit", "V");
        t.setFieldString("AUTO", "AUTO");
        t.setFieldFloat("Nval", 5012);
        t.post();
    }
}

int Preview(TFCOMM& w, PrintingDialogs& dialogs, const QDir& dir)
{
    Parts(w).ui->BtPrint->click();
    ReportPreview* preview = w.reportPreview();
    if (!preview)
        return 2;
    std::fprintf(stderr, "preview of %d pages\n", preview->report().pageCount());
    ServeUntil([&] { return !preview->pageView()->lastPaintedPages().empty(); }, 30000);
    preview->pageView()->showPage(preview->report().pageCount() - 1);
    Serve(200);
    // A save under way as the preview closes.
    dialogs.saveAs = dir.filePath("report.pdf");
    preview->saveAsPdf();
    ServeUntil([&] { return preview->job() && preview->job()->pagesDone() >= 20; }, 30000);
    preview->close();
    ServeUntil([&] { return w.reportPreview() == nullptr; }, 10000);
    Serve(300);
    return w.reportPreview() ? 3 : 0;
}

uint64_t FreeBytes(const QDir& dir)
{
    struct statvfs fs {};
    return ::statvfs(QFile::encodeName(dir.path()).constData(), &fs) == 0 ? uint64_t(fs.f_bavail) * fs.f_frsize : 0;
}

int FullSave(TFCOMM& w, PrintingDialogs& dialogs, const QDir& dir, int readings, uint64_t leave)
{
    Post(Parts(w).readingTable, readings);
    Serve(300);  // the journal takes what fits
    {
        QFile filler(dir.filePath("filler"));
        if (filler.open(QIODevice::WriteOnly)) {
            const QByteArray block(4096, 'x');
            while (FreeBytes(dir) > leave && filler.write(block) == block.size() && filler.flush()) {
            }
        }
    }
    dialogs.saveAs = dir.filePath("run.db");
    Parts(w).ui->saveas->click();
    Serve(3000);
    Post(Parts(w).readingTable, 200);
    Serve(500);
    Parts(w).ui->saveas->click();
    Serve(500);
    std::fprintf(stderr, "%zu readings in the log\n", Parts(w).readingTable.recordCount());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    CrashReport::Install("quelt-stress");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Dessa");
    if (argc < 3) {
        std::fprintf(stderr, "usage: quelt-stress preview|full-save DIR [COUNT]\n");
        return 64;
    }
    const std::string mode = argv[1];
    const QDir dir(QString::fromLocal8Bit(argv[2]));
    const int count = argc > 3 ? std::atoi(argv[3]) : mode == "preview" ? 1000000
                                                                        : 4574;
    const QString log = dir.filePath("Queltdb.DB");
    if (mode == "preview" && !QFile::exists(log))
        WriteSampleLog(log.toStdString(), count);
    else if (mode == "full-save")
        WriteSampleLog(log.toStdString(), 0);
    QDir::setCurrent(dir.path());

    PrintingDialogs dialogs;
    SilentBeeper beeper;
    SystemSeams system;
    int result = 1;
    {
        TFCOMM w(AppServices{dialogs, beeper, system.clock, system.hid, SystemSeams::SerialDevices()});
        w.show();
        Serve(100);
        result = mode == "preview" ? Preview(w, dialogs, dir) : FullSave(w, dialogs, dir, count, argc > 4 ? uint64_t(std::atoi(argv[4])) * 1024 : 0);
        Parts(w).ui->BtExit1->trigger();
    }
    std::fprintf(stderr, "done %d\n", result);
    return result;
}
