#include "app/Pictures.h"

#include <QFile>
#include <QtGlobal>

// Q_INIT_RESOURCE must be used at global namespace scope.
static void InitPictureResources()
{
    Q_INIT_RESOURCE(pictures);
}

QPixmap Picture(const QString& name)
{
    static const bool registered = (InitPictureResources(), true);
    Q_UNUSED(registered);
    if (name.isEmpty() || name.contains(u'/')) {  // only names of our own pictures
        qWarning("No picture named %s", qPrintable(name));
        return QPixmap();
    }
    for (const char* ext : {".jpg", ".png"}) {
        const QString path = QStringLiteral(":/pictures/") + name + QLatin1String(ext);
        if (!QFile::exists(path))
            continue;
        QPixmap pixmap(path);
        if (pixmap.isNull())
            qWarning("Picture %s could not be decoded", qPrintable(path));
        return pixmap;
    }
    qWarning("No picture named %s", qPrintable(name));
    return QPixmap();
}

QIcon WindowIcon()
{
    return QIcon(Picture(QStringLiteral("Icon")));
}
