// Termination signals: before the message loop runs they end the process at once; after, they
// become a request the queue acts on, and the process ends anyway if the loop has not ended it
// half a second later.
#include "signals.h"

#include <csignal>
#include <cstring>
#include <initializer_list>
#include <sys/time.h>
#include <unistd.h>

namespace platform {
namespace {

volatile sig_atomic_t g_loop_running = 0;
volatile sig_atomic_t g_termination = 0;
volatile sig_atomic_t g_ending_timed = 0;

// How long the normal ending may take once a termination signal came. A call into the display
// library can wait on the server without end (a stopped X server, a compositor that gives back
// no buffer), and the loop would never see the request; then the process ends without it. The
// servers let go of our grabs and surfaces as the connection closes.
constexpr long kEndingGraceUs = 500000;

void on_ending_overdue(int) { _exit(0); }

void on_termination(int)
{
    if (!g_loop_running) _exit(0);
    g_termination = 1;
    if (g_ending_timed) return;
    g_ending_timed = 1;
    itimerval grace = {{0, 0}, {0, kEndingGraceUs}};
    setitimer(ITIMER_REAL, &grace, nullptr);
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
    sa.sa_handler = on_ending_overdue;
    sigaction(SIGALRM, &sa, nullptr);
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
