#include "platform/desktop/QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>

namespace {
QWidget* dialogParent() { return QApplication::activeWindow(); }
QString title() { return QApplication::applicationName(); }
}  // namespace

void QtDialogs::showMessage(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, title(), text, QMessageBox::Ok, dialogParent());
    box.exec();
}

DialogButton QtDialogs::ask(const QString& text, DialogButtons buttons)
{
    QMessageBox::StandardButtons std;
    if (buttons.has(DialogButton::Ok)) std |= QMessageBox::Ok;
    if (buttons.has(DialogButton::Cancel)) std |= QMessageBox::Cancel;
    if (buttons.has(DialogButton::Yes)) std |= QMessageBox::Yes;
    if (buttons.has(DialogButton::No)) std |= QMessageBox::No;
    QMessageBox box(QMessageBox::Information, title(), text, std, dialogParent());
    switch (box.exec()) {
    case QMessageBox::Ok: return DialogButton::Ok;
    case QMessageBox::Yes: return DialogButton::Yes;
    case QMessageBox::No: return DialogButton::No;
    default: return buttons.has(DialogButton::Cancel) ? DialogButton::Cancel
                    : buttons.has(DialogButton::No)   ? DialogButton::No
                                                      : DialogButton::Ok;
    }
}

void QtDialogs::showError(const QString& text)
{
    QMessageBox box(QMessageBox::Critical, title(), text, QMessageBox::Ok, dialogParent());
    box.exec();
}

QString QtDialogs::toQtFilter(const QString& filter)
{
    const QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString caption = parts[i];
        const QString pattern = QString(parts[i + 1]).replace(';', ' ');
        // Captions that already name their pattern keep it once.
        if (!caption.contains('('))
            caption += " (" + pattern + ")";
        out << caption;
    }
    return out.join(";;");
}

std::optional<QString> QtDialogs::openFileName(const QString& filter, const QString& startFolder)
{
    const QString path = QFileDialog::getOpenFileName(dialogParent(), QString(), startFolder, toQtFilter(filter));
    if (path.isEmpty()) return std::nullopt;
    return path;
}

std::optional<QString> QtDialogs::saveFileName(const QString& filter, const QString& defaultSuffix,
                                               const QString& startFolder)
{
    QFileDialog dialog(dialogParent(), QString(), startFolder, toQtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    // A name typed without an extension takes the chosen type's ("run1" under
    // "DB File" becomes "run1.db"); under a type of any extension, the default.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, defaultSuffix](const QString& f) {
        static const QRegularExpression single(QStringLiteral("\\(\\*\\.(\\w+)\\)$"));
        const QRegularExpressionMatch m = single.match(f);
        dialog.setDefaultSuffix(m.hasMatch() ? m.captured(1) : defaultSuffix);
    });
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> QtDialogs::folderName(const QString& start)
{
    const QString chosen = QFileDialog::getExistingDirectory(dialogParent(), QString(), start);
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen;
}

bool QtDialogs::setUpPrinter(QPrinter& printer, int pageCount)
{
    QPrintDialog dialog(&printer, dialogParent());
    dialog.setMinMax(1, pageCount);
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange |
                      QAbstractPrintDialog::PrintCollateCopies | QAbstractPrintDialog::PrintShowPageSize);
    return dialog.exec() == QDialog::Accepted;
}
