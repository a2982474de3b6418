#include "platform/ErrorReport.h"

#include "platform/Dialogs.h"

#include <QTimer>

void ErrorReport::Show(const std::exception& e)
{
    Show(QString::fromLocal8Bit(e.what()));
}

void ErrorReport::Post(const QString& text)
{
    if (open_ || posted_) {
        ++suppressed_;
        return;
    }
    posted_ = true;
    QTimer::singleShot(0, &context_, [this, text] {
        posted_ = false;
        Show(text);
    });
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
