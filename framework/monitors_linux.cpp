// The savers of the other monitors on Linux: the same program started once per monitor, told its
// area through the environment, ended with the process that started it however that one ends.
// The area comes with proof that the starter is the parent: one end of a socket pair the parent
// made, inherited, whose peer is the parent process. A variable in the user's environment alone
// makes no monitor saver (which would cover its area without holding the keyboard).
#include "ssaver.h"

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

#define MAX_MONITOR_SAVERS 16
static pid_t monitor_savers[MAX_MONITOR_SAVERS];
static int monitor_saver_count = 0;

static void pause_ms(long ms)
{
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, NULL);
}

int ss_start_monitor_saver(const RECT *area)
{
    if (monitor_saver_count >= MAX_MONITOR_SAVERS) return 0;
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
    monitor_savers[monitor_saver_count++] = pid;
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

// A monitor saver that ends leaves its monitor uncovered, so the whole saver ends, the way a
// termination signal ends it.
static void on_monitor_saver_end(int sig)
{
    (void)sig;
    kill(getpid(), SIGTERM);
}

void ss_watch_monitor_savers(HWND hWnd)
{
    (void)hWnd;
    if (!monitor_saver_count) return;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_monitor_saver_end;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &sa, NULL);
    for (int i = 0; i < monitor_saver_count; i++)
        if (waitpid(monitor_savers[i], NULL, WNOHANG) != 0) kill(getpid(), SIGTERM);
}

// Asks every monitor saver to end and waits for them a little; what is left then is killed.
void ss_end_monitor_savers(void)
{
    if (!monitor_saver_count) return;
    signal(SIGCHLD, SIG_DFL);
    int left = 0;
    for (int i = 0; i < monitor_saver_count; i++)
        if (kill(monitor_savers[i], SIGTERM) == 0) monitor_savers[left++] = monitor_savers[i];
    for (int waited = 0; left && waited < 90; waited += 2) {
        for (int i = 0; i < left; i++)
            if (waitpid(monitor_savers[i], NULL, WNOHANG) != 0) monitor_savers[i--] = monitor_savers[--left];
        if (left) pause_ms(2);
    }
    for (int i = 0; i < left; i++) {
        kill(monitor_savers[i], SIGKILL);
        waitpid(monitor_savers[i], NULL, 0);
    }
    monitor_saver_count = 0;
}
