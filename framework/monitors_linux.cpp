// The savers of the other monitors on Linux: the same program started once per monitor, told its
// area through the environment, ended with the process that started it however that one ends.
// Each is ended when its monitor goes; one that ends by itself ends the saver, unless it says its
// window went with its monitor. The area comes with proof that the starter is the parent: one end of a socket pair the parent
// made, inherited, whose peer is the parent process. A variable in the user's environment alone
// makes no monitor saver (which would cover its area without holding the keyboard).
#include "ssaver.h"

#include "monitor_plan.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

struct MONITOR_SAVER {
    pid_t pid;
    RECT area;
};
static std::vector<MONITOR_SAVER> monitor_savers;
// Set by SIGCHLD: some child ended and is waiting to be reaped.
static volatile sig_atomic_t child_ended = 0;

static void pause_ms(long ms)
{
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, NULL);
}

int ss_start_monitor_saver(const RECT *area)
{
    int proof[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, proof) != 0) return 0;
    char value[80];
    snprintf(value, sizeof value, "%d:%ld,%ld,%ld,%ld", proof[1], (long)area->left, (long)area->top,
             (long)(area->right - area->left), (long)(area->bottom - area->top));
    pid_t starter = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // A termination signal when the starter ends, even by SIGKILL; if it is gone already,
        // there is nothing to cover.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != starter) _exit(0);
        fcntl(proof[1], F_SETFD, 0);
        setenv(SS_MONITOR_VARIABLE, value, 1);
        execv("/proc/self/exe", monitor_saver_arguments());
        _exit(0);
    }
    close(proof[0]);
    close(proof[1]);
    if (pid < 0) return 0;
    MONITOR_SAVER started = {pid, *area};
    monitor_savers.push_back(started);
    return 1;
}

// Whether fd is a socket made by our parent process.
static int made_by_parent(int fd)
{
    struct ucred peer;
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer) return 0;
    pid_t parent = getppid();
    return parent > 1 && peer.pid == parent;
}

int ss_given_monitor(RECT *area)
{
    const char *given = getenv(SS_MONITOR_VARIABLE);
    if (!given) return 0;
    char *rest = NULL;
    long fd = strtol(given, &rest, 10);
    int proven = rest != given && *rest == ':' && fd >= 0 && fd < 65536 && made_by_parent((int)fd);
    int read = proven && ss_read_monitor_area(rest + 1, area);
    if (proven) close((int)fd);
    unsetenv(SS_MONITOR_VARIABLE);
    return read;
}

static void on_child_end(int sig)
{
    (void)sig;
    child_ended = 1;
}

void ss_watch_monitor_savers(HWND hWnd)
{
    (void)hWnd;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_child_end;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &sa, NULL);
    // One may have ended before the handler was there.
    child_ended = 1;
}

int ss_reap_monitor_savers(void)
{
    if (!child_ended) return 0;
    child_ended = 0;
    int gone = 0;
    for (size_t i = 0; i < monitor_savers.size();) {
        int status = 0;
        pid_t ended = waitpid(monitor_savers[i].pid, &status, WNOHANG);
        if (ended == 0) {
            i++;
            continue;
        }
        monitor_savers.erase(monitor_savers.begin() + (long)i);
        // A monitor saver that ends for any other reason leaves its monitor uncovered, so the
        // whole saver ends, the way a termination signal ends it.
        if (ended > 0 && WIFEXITED(status) && WEXITSTATUS(status) == SS_MONITOR_GONE_STATUS)
            gone = 1;
        else
            kill(getpid(), SIGTERM);
    }
    return gone;
}

std::vector<RECT> ss_monitor_saver_areas(void)
{
    std::vector<RECT> areas;
    for (const MONITOR_SAVER &m : monitor_savers) areas.push_back(m.area);
    return areas;
}

// Asks the savers to end and waits for them a little; what is left then is killed.
static void end_savers(std::vector<pid_t> left)
{
    for (size_t i = 0; i < left.size();)
        if (kill(left[i], SIGTERM) == 0)
            i++;
        else
            left.erase(left.begin() + (long)i);
    for (int waited = 0; !left.empty() && waited < 90; waited += 2) {
        for (size_t i = 0; i < left.size();)
            if (waitpid(left[i], NULL, WNOHANG) != 0)
                left.erase(left.begin() + (long)i);
            else
                i++;
        if (!left.empty()) pause_ms(2);
    }
    for (pid_t pid : left) {
        kill(pid, SIGKILL);
        waitpid(pid, NULL, 0);
    }
}

void ss_end_monitor_saver(const RECT *area)
{
    std::vector<pid_t> ending;
    for (size_t i = 0; i < monitor_savers.size();)
        if (ss_same_rect(&monitor_savers[i].area, area)) {
            ending.push_back(monitor_savers[i].pid);
            monitor_savers.erase(monitor_savers.begin() + (long)i);
        } else {
            i++;
        }
    end_savers(ending);
}

void ss_end_monitor_savers(void)
{
    if (monitor_savers.empty()) return;
    signal(SIGCHLD, SIG_DFL);
    std::vector<pid_t> ending;
    for (const MONITOR_SAVER &m : monitor_savers) ending.push_back(m.pid);
    monitor_savers.clear();
    end_savers(ending);
}
