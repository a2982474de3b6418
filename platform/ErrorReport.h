#pragma once
// The general error report. A failure that no command handles ends the event
// that raised it and is shown in a modal box titled with the application title;
// the program then goes on.
//
// While a report is open its box runs a nested event loop, so timers keep
// delivering bytes and a stream of bad frames could raise a failure per frame.
// Those are not stacked: while one report is open, further failures are counted
// and not shown.
#include <QObject>
#include <QString>
#include <exception>
#include <utility>

class IDialogs;

class ErrorReport {
public:
    explicit ErrorReport(IDialogs& dialogs) : dialogs_(dialogs) {}

    void Show(const QString& text);
    void Show(const std::exception& e);

    // Shows the report from the event loop, once the current event is done.
    // Used where the failure happens inside a component that must finish its
    // own work first (the serial port's delivery of received bytes), so the
    // component keeps running while the box is open.
    void Post(const QString& text);

    // Runs f; a failure it raises is shown here instead of travelling on.
    template <class F>
    void Guard(F&& f) noexcept
    {
        Run(std::forward<F>(f), false);
    }

    // As Guard, but a failure is posted rather than shown at once.
    template <class F>
    void GuardPosted(F&& f) noexcept
    {
        Run(std::forward<F>(f), true);
    }

    bool IsOpen() const { return open_; }
    int Suppressed() const { return suppressed_; }

private:
    template <class F>
    void Run(F&& f, bool posted) noexcept
    {
        QString text;
        try {
            std::forward<F>(f)();
            return;
        } catch (const std::exception& e) {
            text = QString::fromLocal8Bit(e.what());
        } catch (...) {
            text = QStringLiteral("Unknown failure");
        }
        if (posted)
            Post(text);
        else
            Show(text);
    }

    IDialogs& dialogs_;
    QObject context_;  // posted reports die with the report
    bool open_ = false;
    bool posted_ = false;
    int suppressed_ = 0;
};
