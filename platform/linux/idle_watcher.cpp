// tidefold --idle SECONDS: a watcher for sessions with no screen-saver host. It sleeps until the
// session's own idle source says nobody has used it for that long, starts the full-screen saver
// unless something holds the session awake, waits for the saver to end, and then for the user to
// come back before the next idle period counts. One watcher per display, one saver at a time.
#include "idle_source.h"
#include "session_commands.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {
namespace {

// A saver that fails this many times in a row ends the watcher.
constexpr int kMaxFailures = 3;

int g_stop_pipe[2] = {-1, -1};

void on_stop_signal(int)
{
    const char byte = 1;
    ssize_t ignored = write(g_stop_pipe[1], &byte, 1);
    (void)ignored;
}

// SIGTERM, SIGINT and SIGHUP make the stop pipe readable, which every wait watches.
bool catch_stop_signals()
{
    if (pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
    return true;
}

// The lock that keeps a second watcher of the same display from starting savers too.
bool take_watcher_lock()
{
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    const char *wayland = getenv("WAYLAND_DISPLAY");
    const char *x = getenv("DISPLAY");
    std::string display = wayland && *wayland ? wayland : x && *x ? x : "none";
    for (char &c : display)
        if (c == '/') c = '_';
    const std::string path = (runtime && *runtime ? std::string(runtime) : "/tmp/tidefold-" + std::to_string(getuid())) +
                             "/tidefold-idle-" + display + ".lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;  // held until the process ends
}

std::unique_ptr<IdleSource> choose_idle_source(unsigned timeout_ms)
{
    const char *wayland = getenv("WAYLAND_DISPLAY"), *x = getenv("DISPLAY");
    if (wayland && *wayland)
        if (auto source = wayland_idle_source(timeout_ms)) return source;
    if (auto source = mutter_idle_source(timeout_ms)) return source;
    if (x && *x)
        if (auto source = x11_idle_source(timeout_ms)) return source;
    return nullptr;
}

pid_t start_saver()
{
    const pid_t watcher = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // The saver goes with the watcher, however the watcher ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != watcher) _exit(0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execl("/proc/self/exe", "tidefold", "/s", (char *)nullptr);
        _exit(127);
    }
    return pid;
}

int status_of(int wait_status)
{
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

// Waits for the saver to end, or for a stop signal, which ends the saver too. The saver's exit
// status; -1 when stopped.
int wait_for_saver(pid_t pid)
{
    const int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
    int wait_status = 0;
    for (;;) {
        if (waitpid(pid, &wait_status, WNOHANG) == pid) break;
        pollfd fds[2] = {{g_stop_pipe[0], POLLIN, 0}, {pidfd, POLLIN, 0}};
        // Without pidfd_open (kernels before 5.3), the saver's end is looked for five times a second.
        if (poll(fds, pidfd >= 0 ? 2 : 1, pidfd >= 0 ? -1 : 200) > 0 && fds[0].revents) {
            kill(pid, SIGTERM);
            for (int waited = 0; waitpid(pid, &wait_status, WNOHANG) != pid; waited += 10) {
                if (waited == 3000) kill(pid, SIGKILL);
                usleep(10000);
            }
            if (pidfd >= 0) close(pidfd);
            return -1;
        }
    }
    if (pidfd >= 0) close(pidfd);
    return status_of(wait_status);
}

// Ends a wait that did not give the state asked for: 0 on a stop signal, 1 when the session went.
int ending(IdleWake wake)
{
    if (wake == IdleWake::stop) return 0;
    fputs("tidefold: lost the session's idle source\n", stderr);
    return 1;
}

} // namespace

int watch_idle(unsigned seconds)
{
    if (!catch_stop_signals()) return 1;
    if (!take_watcher_lock()) {
        fputs("tidefold: another idle watcher runs for this display\n", stderr);
        return 1;
    }
    const unsigned timeout_ms = seconds * 1000;
    std::unique_ptr<IdleSource> source = choose_idle_source(timeout_ms);
    if (!source) {
        fputs("tidefold: this session tells no idle time (no Wayland idle notification, GNOME idle monitor or X "
              "screen saver extension)\n",
              stderr);
        return 1;
    }
    printf("tidefold: starting the saver after %u idle seconds (%s)\n", seconds, source->name());
    fflush(stdout);
    int failures = 0;
    for (;;) {
        IdleWake wake = source->wait(true, -1, g_stop_pipe[0]);
        if (wake != IdleWake::idle) return ending(wake);
        // Held awake: looked at again every idle time while the user stays away; coming back
        // starts a new idle period.
        bool inhibited = idle_inhibited();
        while (inhibited) {
            wake = source->wait(false, int(timeout_ms), g_stop_pipe[0]);
            if (wake == IdleWake::active) break;
            if (wake != IdleWake::timeout) return ending(wake);
            inhibited = idle_inhibited();
        }
        if (inhibited) continue;

        const pid_t saver = start_saver();
        const int status = saver > 0 ? wait_for_saver(saver) : 127;
        if (status == -1) return 0;
        if (status != 0) {
            fprintf(stderr, "tidefold: the saver ended with status %d\n", status);
            if (++failures >= kMaxFailures) {
                fputs("tidefold: the saver failed three times in a row; the idle watcher stops\n", stderr);
                return 1;
            }
        } else {
            failures = 0;
        }
        // One saver an idle period: the next waits for the user to come back and leave again.
        wake = source->wait(false, -1, g_stop_pipe[0]);
        if (wake != IdleWake::active) return ending(wake);
    }
}

} // namespace platform
