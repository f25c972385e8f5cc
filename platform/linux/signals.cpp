// Termination signals: before the message loop runs they end the process at once; after, they
// become a request the queue acts on.
#include "signals.h"

#include <csignal>
#include <cstring>
#include <initializer_list>
#include <unistd.h>

namespace platform {
namespace {

volatile sig_atomic_t g_loop_running = 0;
volatile sig_atomic_t g_termination = 0;

void on_termination(int)
{
    if (!g_loop_running) _exit(0);
    g_termination = 1;
}

} // namespace

void catch_termination_signals()
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_termination;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool take_termination_request()
{
    g_loop_running = 1;
    if (!g_termination) return false;
    g_termination = 0;
    return true;
}

} // namespace platform
