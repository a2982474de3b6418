#include "StopSignals.h"

#include <csignal>
#include <initializer_list>

namespace metersim {

namespace {

volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int)
{
    g_stop = 1;
}

}  // namespace

void CatchStopSignals()
{
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &sa, nullptr);
}

bool StopAsked()
{
    return g_stop != 0;
}

void ClearStopAsked()
{
    g_stop = 0;
}

}  // namespace metersim
