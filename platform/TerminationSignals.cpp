#include "platform/TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <pthread.h>
#include <stdexcept>
#include <unistd.h>

namespace {

constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};

// The number of the pipe's write end, which the TerminationSignals that exists
// owns; -1 while there is none. A signal handler reaches nothing else.
volatile sig_atomic_t g_writeFd = -1;

extern "C" void OnTerminationSignal(int signo)
{
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(signo);
    if (g_writeFd >= 0) {
        const ssize_t n = ::write(g_writeFd, &b, 1);  // a full pipe already holds a signal
        (void)n;
    }
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(Ending ending, QObject* parent) : QObject(parent), ending_(ending)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("Cannot make the pipe for termination signals");
    readFd_.reset(fds[0]);
    writeFd_.reset(fds[1]);
    notifier_ = new QSocketNotifier(qintptr(readFd_.get()), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::drain);
    g_writeFd = writeFd_.get();

    struct sigaction sa {};
    sa.sa_handler = OnTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    for (size_t i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &sa, &previous_[i]);
}

TerminationSignals::~TerminationSignals()
{
    for (size_t i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &previous_[i], nullptr);
    g_writeFd = -1;
    writeFd_.reset();
    readFd_.reset();
}

void TerminationSignals::drain()
{
    unsigned char buf[16];
    ssize_t n;
    while ((n = ::read(readFd_.get(), buf, sizeof buf)) > 0)
        for (ssize_t i = 0; i < n; ++i)
            if (caught_ == 0) {
                caught_ = buf[i];
                emit caught(caught_);
                if (ending_ == Ending::BySignal)
                    endProcessBySignal();
            }
}

void TerminationSignals::endProcessBySignal()
{
    ::signal(caught_, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, caught_);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(caught_);
    // Not reached: the default action of each of the three ends the process.
    ::_exit(128 + caught_);
}
