#include "app/ErrorReport.h"

#include "platform/Dialogs.h"

void ErrorReport::Show(const std::exception& e)
{
    Show(QString::fromLocal8Bit(e.what()));
}

void ErrorReport::Show(const QString& text)
{
    if (open_) {
        ++suppressed_;
        return;
    }
    open_ = true;
    try {
        dialogs_.showError(text);
    } catch (...) {
    }
    open_ = false;
}
