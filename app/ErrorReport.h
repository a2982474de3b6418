#pragma once
// The general error report. A failure that no command handles ends the event
// that raised it and is shown in a modal box titled with the application title;
// the program then goes on.
//
// While a report is open its box runs a nested event loop, so timers keep
// delivering bytes and a stream of bad frames could raise a failure per frame.
// Those are not stacked: while one report is open, further failures are counted
// and not shown.
#include <QString>
#include <exception>
#include <utility>

class IDialogs;

class ErrorReport {
public:
    explicit ErrorReport(IDialogs& dialogs) : dialogs_(dialogs) {}

    void Show(const QString& text);
    void Show(const std::exception& e);

    // Runs f; a failure it raises is shown here instead of travelling on.
    template <class F>
    void Guard(F&& f) noexcept
    {
        try {
            std::forward<F>(f)();
        } catch (const std::exception& e) {
            Show(e);
        } catch (...) {
            Show(QStringLiteral("Unknown failure"));
        }
    }

    bool IsOpen() const { return open_; }
    int Suppressed() const { return suppressed_; }

private:
    IDialogs& dialogs_;
    bool open_ = false;
    int suppressed_ = 0;
};
