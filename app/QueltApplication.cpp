#include "app/QueltApplication.h"

#include <QApplication>

#include "app/TFCOMM.h"
#include "platform/Beeper.h"
#include "platform/Dialogs.h"

int Quelt(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Dessa");
    // The menu entry the desktop shows this window's icon and name from.
    QGuiApplication::setDesktopFileName("org.quelt.Quelt");

    QtDialogs dialogs;
    QtBeeper beeper;
    AppServices services{dialogs, beeper};
    TFCOMM FCOMM(services);
    FCOMM.show();
    return app.exec();
}
