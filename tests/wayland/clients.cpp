// The clients the Wayland tests run in the session: the pointer driver and tidefold itself.
#include "compositor.h"

#include <dirent.h>
#include <poll.h>

namespace {

// Whether the process's environment holds entry (NAME=value) exactly.
bool has_env_entry(pid_t pid, const std::string &entry)
{
    std::istringstream env(read_file("/proc/" + std::to_string(pid) + "/environ"));
    for (std::string e; std::getline(env, e, '\0');)
        if (e == entry) return true;
    return false;
}

std::string real_path(const std::string &path)
{
    char real[4096];
    return realpath(path.c_str(), real) ? real : path;
}

} // namespace

bool InputDriver::start(HeadlessCompositor &session)
{
    std::string exe = session.home.for_user(WL_INPUT_DRIVER);
    std::vector<std::string> env = session.client_env();
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        clearenv();
        for (const std::string &e : env) putenv(strdup(e.c_str()));
        if (session.home.user >= 0 &&
            (setgroups(0, nullptr) != 0 || setgid(gid_t(session.home.group)) != 0 || setuid(uid_t(session.home.user)) != 0))
            _exit(126);
        execl(exe.c_str(), exe.c_str(), (char *)nullptr);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
    std::string line;
    return pid_ > 0 && read_line(line, 5000) && line == "ready";
}

InputDriver::~InputDriver()
{
    if (to_ >= 0) close(to_); // end of input: the driver lets its pointer go and ends
    if (from_ >= 0) close(from_);
    if (pid_ <= 0) return;
    for (int waited = 0; waitpid(pid_, nullptr, WNOHANG) != pid_; waited += 10) {
        if (waited == 2000) kill(pid_, SIGKILL);
        sleep_ms(10);
    }
}

bool InputDriver::send(const std::string &command)
{
    std::string text = command + "\n", line;
    return write(to_, text.data(), text.size()) == ssize_t(text.size()) && read_line(line, 5000) && line == "ok";
}

bool InputDriver::read_line(std::string &line, int timeout_ms)
{
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        pollfd p = {from_, POLLIN, 0};
        char buf[256];
        if (poll(&p, 1, timeout_ms) != 1) return false;
        ssize_t n = read(from_, buf, sizeof buf);
        if (n <= 0) return false;
        pending_.append(buf, size_t(n));
    }
}

bool WaylandSaver::launch(const std::vector<std::string> &args, const std::vector<std::string> &extra_env)
{
    std::vector<std::string> argv = {session_.home.exe}, env = session_.client_env();
    argv.insert(argv.end(), args.begin(), args.end());
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    unlink((session_.home.home + "/tidefold.log").c_str());
    return process_.start(argv, env, true, session_.home.user, session_.home.home + "/tidefold.log", session_.home.home);
}

std::vector<pid_t> WaylandSaver::processes() const
{
    std::vector<pid_t> found;
    const std::string exe = real_path(session_.home.exe), runtime = "XDG_RUNTIME_DIR=" + session_.runtime_dir;
    DIR *proc = opendir("/proc");
    if (!proc) return found;
    while (dirent *e = readdir(proc)) {
        char *end;
        long pid = strtol(e->d_name, &end, 10);
        if (*end || pid <= 0) continue;
        // A zombie has neither an executable nor an environment left.
        if (real_path("/proc/" + std::string(e->d_name) + "/exe") == exe && has_env_entry(pid_t(pid), runtime))
            found.push_back(pid_t(pid));
    }
    closedir(proc);
    return found;
}

bool WaylandSaver::all_gone(int timeout_ms) const
{
    for (int waited = 0; !processes().empty(); waited += 20) {
        if (waited >= timeout_ms) return false;
        sleep_ms(20);
    }
    return true;
}

bool WaylandSaver::end_all()
{
    for (pid_t p : processes()) kill(p, SIGKILL);
    process_.wait_exit(1000);
    return all_gone(1000);
}
