#include "app/QueltApplication.h"

#include <QApplication>
#include <memory>

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
    QApplication app(argc, argv);
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
    TFCOMM FCOMM(services);
    return RunWindow(FCOMM);
}

int RunWindow(TFCOMM& window)
{
    window.show();
    return QApplication::exec();
}
