#include "app/QueltApplication.h"

#include <QApplication>

#include "app/TFCOMM.h"
#include "platform/desktop/QtBeeper.h"
#include "platform/CrashReport.h"
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
    QtDialogs dialogs;
    QtBeeper beeper;
    AppServices services{dialogs, beeper};
    services.endSignals = &endSignals;
    TFCOMM FCOMM(services);
    return RunWindow(FCOMM);
}

int RunWindow(TFCOMM& window)
{
    window.show();
    return QApplication::exec();
}
