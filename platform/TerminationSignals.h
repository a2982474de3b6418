#pragma once
// SIGTERM, SIGINT and SIGHUP (a shutdown, Ctrl-C in a shell, a logout or a
// closed terminal) as an event of the Qt event loop, so the program can end
// cleanly instead of dying where it stands. The handler only writes the
// signal's number into a pipe that the event loop watches.
//
// The first signal caught is emitted as caught() from whichever event loop
// runs at the time, the nested loop of an open message box or dialog
// included. Once its receivers have returned, the process ends by that
// signal, as if it had not been caught, so a shell or a service manager sees
// how the program ended: the receivers do their clean end right there, and no
// stack of open boxes has to unwind first. A second signal of the same kind
// ends the process at once, should the clean end hang. One instance at a time.
//
// A program that ends with a status of its own instead (a service that
// counts a stop by the service manager as a success) asks for
// Ending::ByReceivers: the process then goes on after the receivers return,
// and they end it, for instance by quitting the event loop.
#include "platform/UniqueFd.h"

#include <QObject>

#include <csignal>

class QSocketNotifier;

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    enum class Ending { BySignal,
                        ByReceivers };
    explicit TerminationSignals(QObject* parent = nullptr) : TerminationSignals(Ending::BySignal, parent) {}
    explicit TerminationSignals(Ending ending, QObject* parent = nullptr);
    ~TerminationSignals() override;  // restores the handlers it replaced

    // The first signal caught, 0 while none.
    int caughtSignal() const { return caught_; }

signals:
    // From the event loop, once, for the first signal caught; the process
    // ends by the signal when the receivers return. Receivers must not let
    // an exception out.
    void caught(int signo);

private:
    void drain();
    [[noreturn]] void endProcessBySignal();

    UniqueFd readFd_;
    UniqueFd writeFd_;  // the handler writes to it, knowing only its number
    Ending ending_;
    int caught_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previous_[3] = {};
};
