#pragma once
// The program's pictures (button glyphs, indicator lamps, LCD pictures, the
// scale backdrop and the window icon), compiled into the program.
#include <QIcon>
#include <QPixmap>
#include <QString>

// The picture named after its control, e.g. "LCDsend", "CONok", "BtNext".
// Looks for ":/pictures/<name>.jpg", then ".png". An unknown name gives a
// null pixmap (and a warning on the log).
QPixmap Picture(const QString& name);

// The main window's 32 x 32 icon.
QIcon WindowIcon();
