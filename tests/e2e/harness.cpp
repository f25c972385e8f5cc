#include "harness.h"

#include "win32.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <ctime>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

bool SaverSession::start_display(int width, int height)
{
    width_ = width;
    height_ = height;
    if (!xvfb_.start(width, height, 24)) return false;
    auto desktop = known_desktop(width, height);
    if (!paint_root(xvfb_.display(), width, height, desktop.data())) return false;
    dpy_ = XOpenDisplay(xvfb_.display().c_str());
    char tmpl[] = "/tmp/tidefold-e2e-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    config_dir_ = tmpl;
    setenv("XDG_CONFIG_HOME", config_dir_.c_str(), 1);
    return dpy_ != nullptr;
}

SaverSession::~SaverSession()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (dpy_) XCloseDisplay(dpy_);
    std::error_code ignored;
    if (!config_dir_.empty()) std::filesystem::remove_all(config_dir_, ignored);
    for (const std::string &path : {output_path_, error_path_})
        if (!path.empty()) unlink(path.c_str());
}

bool SaverSession::set_monitors(const std::vector<MonitorSpec> &monitors)
{
    return ::set_monitors(xvfb_.display(), monitors.data(), (int)monitors.size());
}

void SaverSession::paint_desktop(const std::vector<unsigned> &pixels)
{
    paint_root(xvfb_.display(), width_, height_, pixels.data());
}

// The parent id and state letter from /proc/PID/stat (the name in brackets may hold blanks).
static bool process_status(pid_t pid, pid_t *parent, char *state)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return false;
    size_t close = line.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream rest(line.substr(close + 1));
    long ppid = 0;
    rest >> *state >> ppid;
    *parent = (pid_t)ppid;
    return true;
}

bool process_ended(pid_t pid)
{
    pid_t parent;
    char state = 0;
    return !process_status(pid, &parent, &state) || state == 'Z' || state == 'X';
}

std::vector<pid_t> SaverSession::child_processes() { return child_processes_of(pid_); }

std::vector<pid_t> child_processes_of(pid_t pid_)
{
    std::vector<pid_t> out;
    if (pid_ <= 0) return out;
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        std::string name = entry.path().filename();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
        pid_t parent;
        char state = 0;
        pid_t p = (pid_t)std::stol(name);
        if (process_status(p, &parent, &state) && parent == pid_ && state != 'Z') out.push_back(p);
    }
    return out;
}

void SaverSession::kill_program(int sig)
{
    if (pid_ > 0) kill(pid_, sig);
}

void SaverSession::store_setting(const char *name, unsigned value) { store_saver_setting(name, value); }

// The saver's settings key, created if it is not there yet; null when it cannot be.
static HKEY open_saver_key()
{
    HKEY key;
    DWORD disposition;
    char no_class[] = "";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Brindlewick Productions\\Tidefold Screen Saver", 0, no_class,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

void store_saver_setting(const char *name, unsigned value)
{
    HKEY key = open_saver_key();
    if (!key) return;
    DWORD v = value;
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v), 4);
    RegCloseKey(key);
}

void store_saver_string(const char *name, const std::string &value)
{
    HKEY key = open_saver_key();
    if (!key) return;
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()), DWORD(value.size() + 1));
    RegCloseKey(key);
}

bool SaverSession::launch(const std::string &args)
{
    std::vector<std::string> words = {TIDEFOLD_EXE};
    std::istringstream in(args);
    for (std::string w; in >> w;) words.push_back(w);
    for (std::string *path : {&output_path_, &error_path_}) {
        if (!path->empty()) continue;
        char tmpl[] = "/tmp/tidefold-output-XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd < 0) return false;
        close(fd);
        *path = tmpl;
    }
    pid_ = fork();
    if (pid_ == 0) {
        int out = open(output_path_.c_str(), O_WRONLY | O_TRUNC);
        int err = open(error_path_.c_str(), O_WRONLY | O_TRUNC);
        if (out >= 0) dup2(out, 1);
        if (err >= 0) dup2(err, 2);
        std::vector<char *> argv;
        for (auto &w : words) argv.push_back(const_cast<char *>(w.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid_ > 0;
}

int SaverSession::wait_exit(int timeout_ms)
{
    if (pid_ <= 0) return -1;
    for (int waited = 0; waited <= timeout_ms; waited += 10) {
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        sleep_ms(10);
    }
    return -1;
}

std::string SaverSession::read_text(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void SaverSession::signal(int sig)
{
    if (pid_ > 0) kill(pid_, sig);
}

void SaverSession::stop_display()
{
    // The test's own windows (a preview's parent among them) stay until the server goes, so a
    // program inside one sees the server end, not its window destroyed first.
    if (dpy_) XSetCloseDownMode(dpy_, RetainPermanent);
    if (dpy_) XCloseDisplay(dpy_);
    dpy_ = nullptr;
    xvfb_.stop();
}

std::string dead_display_name()
{
    for (int n = 90; n < 400; n++) {
        std::string id = std::to_string(n);
        bool socket = access(("/tmp/.X11-unix/X" + id).c_str(), F_OK) == 0;
        bool lock = access(("/tmp/.X" + id + "-lock").c_str(), F_OK) == 0;
        if (!socket && !lock) return ":" + id;
    }
    return ":399";
}

bool SaverSession::running() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

static Window find_named(Display *dpy, Window w, const char *name)
{
    char *title = nullptr;
    if (XFetchName(dpy, w, &title) && title) {
        bool match = strcmp(title, name) == 0;
        XFree(title);
        XWindowAttributes wa;
        if (match && XGetWindowAttributes(dpy, w, &wa) && wa.map_state == IsViewable) return w;
    }
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &children, &n)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < n && !found; i++) found = find_named(dpy, children[i], name);
    if (children) XFree(children);
    return found;
}

static void collect_named(Display *dpy, Window w, const char *name, std::vector<MonitorSpec> &out)
{
    char *title = nullptr;
    if (XFetchName(dpy, w, &title) && title) {
        bool match = strcmp(title, name) == 0;
        XFree(title);
        XWindowAttributes wa;
        Window child;
        int x = 0, y = 0;
        if (match && XGetWindowAttributes(dpy, w, &wa) && wa.map_state == IsViewable &&
            XTranslateCoordinates(dpy, w, wa.root, 0, 0, &x, &y, &child))
            out.push_back({x, y, wa.width, wa.height, false});
    }
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &children, &n)) return;
    for (unsigned i = 0; i < n; i++) collect_named(dpy, children[i], name, out);
    if (children) XFree(children);
}

static int ignore_x_error(Display *, XErrorEvent *) { return 0; }

std::vector<MonitorSpec> SaverSession::saver_windows() { return saver_windows_on(dpy_); }

std::vector<MonitorSpec> saver_windows_on(Display *dpy_)
{
    std::vector<MonitorSpec> out;
    // Windows may go away while the tree is walked.
    XErrorHandler previous = XSetErrorHandler(ignore_x_error);
    collect_named(dpy_, DefaultRootWindow(dpy_), "screensaver", out);
    XSync(dpy_, False);
    XSetErrorHandler(previous);
    std::sort(out.begin(), out.end(), [](const MonitorSpec &a, const MonitorSpec &b) { return a.x < b.x; });
    return out;
}

Window SaverSession::wait_for_window(const char *title, int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += 20) {
        Window w = find_named(dpy_, DefaultRootWindow(dpy_), title);
        if (w) return w;
        sleep_ms(20);
    }
    return 0;
}

Picture SaverSession::screenshot(int x, int y, int width, int height)
{
    Picture p;
    p.width = width;
    p.height = height;
    p.pixels.resize((size_t)width * height);
    if (!read_screen(xvfb_.display(), x, y, width, height, p.pixels.data())) p.pixels.clear();
    return p;
}

void SaverSession::move_pointer(int x, int y)
{
    XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), x, y, CurrentTime);
    XSync(dpy_, False);
}

void SaverSession::key(const char *keysym_name, bool press, bool release)
{
    KeyCode code = XKeysymToKeycode(dpy_, XStringToKeysym(keysym_name));
    if (press) XTestFakeKeyEvent(dpy_, code, True, CurrentTime);
    if (release) XTestFakeKeyEvent(dpy_, code, False, CurrentTime);
    XSync(dpy_, False);
}

void SaverSession::button(unsigned number)
{
    XTestFakeButtonEvent(dpy_, number, True, CurrentTime);
    XTestFakeButtonEvent(dpy_, number, False, CurrentTime);
    XSync(dpy_, False);
}
