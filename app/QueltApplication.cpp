#include "app/QueltApplication.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "app/AppSettings.h"
#include "app/CommandLine.h"
#include "app/TFCOMM.h"
#include "platform/Clock.h"
#include "platform/CrashReport.h"
#include "platform/LinuxHidBackend.h"
#include "platform/SerialDevice.h"
#include "platform/desktop/QtBeeper.h"
#include "platform/desktop/QtDialogs.h"
#include "platform/TerminationSignals.h"

int Quelt(int argc, char** argv)
{
    // First of all: an end by a crash anywhere, from here on, leaves a report.
    CrashReport::Install("quelt");
    // The command line first: --help, --version and a mistake end here,
    // without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = parseCommandLine(arguments, QStringLiteral(QUELT_VERSION));
    std::fputs(line.out.toLocal8Bit().constData(), stdout);
    std::fputs(line.err.toLocal8Bit().constData(), stderr);
    if (!line.start)
        return line.exitStatus;
    const StartOptions& start = *line.start;
    // Before the window opens the log there.
    if (!start.dir.isEmpty() && !QDir::setCurrent(start.dir)) {
        std::fprintf(stderr, "quelt: cannot work in the folder %s: %s\n", start.dir.toLocal8Bit().constData(),
                     QFileInfo(start.dir).isDir() ? "no access" : "there is no such folder");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(QUELT_VERSION));
    QApplication::setApplicationName("Dessa");
    // The menu entry the desktop shows this window's icon and name from.
    QGuiApplication::setDesktopFileName("org.quelt.Quelt");
    // Before the window: a signal at any moment ends the program cleanly.
    TerminationSignals endSignals;
    // The real system behind every seam of the window, made here alone.
    QtDialogs dialogs;
    QtBeeper beeper;
    SystemClock clock;
    LinuxHidBackend hid;
    AppServices services{dialogs, beeper, clock, hid, [] { return std::make_unique<PosixSerialDevice>(); }};
    services.endSignals = &endSignals;
    std::unique_ptr<AppSettings> settings;
    if (!start.noSettings) {
        settings = std::make_unique<AppSettings>(AppSettings::defaultPath(), [](const QString& line) {
            std::fprintf(stderr, "quelt: %s\n", line.toLocal8Bit().constData());
        });
        services.settings = settings.get();
    }
    TFCOMM FCOMM(services);
    // The command line acts as the user's clicks would, after the kept settings.
    if (start.port) {
        void (TFCOMM::*const clicks[])() = {&TFCOMM::COM11Click, &TFCOMM::COM21Click, &TFCOMM::COM31Click,
                                            &TFCOMM::COM41Click};
        (FCOMM.*clicks[*start.port - 1])();
    }
    if (start.connect || start.usb)
        QTimer::singleShot(0, &FCOMM, [&FCOMM, usb = start.usb] { usb ? FCOMM.pressUsbConnect() : FCOMM.pressComConnect(); });
    return RunWindow(FCOMM);
}

int RunWindow(TFCOMM& window)
{
    window.show();
    return QApplication::exec();
}
