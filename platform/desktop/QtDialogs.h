#pragma once
#include "platform/Dialogs.h"

// The real dialogs, shown with Qt's message boxes and file dialogs.
class QtDialogs final : public IDialogs {
public:
    void showMessage(const QString& text) override;
    DialogButton ask(const QString& text, DialogButtons buttons) override;
    void showError(const QString& text) override;
    std::optional<QString> openFileName(const QString& filter, const QString& startFolder) override;
    std::optional<QString> saveFileName(const QString& filter, const QString& defaultSuffix,
                                        const QString& startFolder) override;
    std::optional<QString> folderName(const QString& start) override;
    bool setUpPrinter(QPrinter& printer, int pageCount) override;

    // "Caption|*.xls|Other|*.*" -> "Caption (*.xls);;Other (*.*)"
    static QString toQtFilter(const QString& filter);
};
