#include "display/LcdFont.h"

#include <QFontDatabase>
#include <QStringList>
#include <QtGlobal>

// Q_INIT_RESOURCE must be used at global namespace scope.
static void InitDisplayResources()
{
    Q_INIT_RESOURCE(display);
}

namespace {

const char* const kFamily = "SEGO-A2";
const char* const kFontResource = ":/fonts/SEGO-A2.ttf";

QString LoadFamily()
{
    InitDisplayResources();
    const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(kFontResource));
    const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        qWarning("The LCD font %s could not be loaded", kFamily);
        return QString::fromLatin1(kFamily);
    }
    return families.first();
}

}  // namespace

QString LcdFontFamily()
{
    static const QString family = LoadFamily();
    return family;
}

QFont LcdFont(int pixelHeight, bool bold)
{
    QFont font(LcdFontFamily());
    font.setPixelSize(qMax(1, pixelHeight));
    font.setBold(bold);
    return font;
}
