// The program in a hostile setting: no display, a display that goes away under it, stray signals
// and handles that cannot name an X window; and the words any Linux program answers.
#include <gtest/gtest.h>

#include "harness.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kStartMs = 10000;
const char *const kLostLine = "tidefold: lost the connection to the display\n";

// Runs each mode that needs a display with DISPLAY as given (null: unset). With wayland_line, the
// modes that may use Wayland (all but the X11 window conventions) are expected to say that instead.
void expect_no_display_refused(const char *display, const std::string &expected_line,
                               const std::string &wayland_line = "")
{
    std::string saved = getenv("DISPLAY") ? getenv("DISPLAY") : "";
    if (display)
        setenv("DISPLAY", display, 1);
    else
        unsetenv("DISPLAY");
    setenv("XDG_CONFIG_HOME", "/nonexistent/tidefold-test", 1);
    for (const char *args : {"/s", "/p 123", "--root", "--window-id 0x123", "/c", ""}) {
        SaverSession s;
        ASSERT_TRUE(s.launch(args));
        EXPECT_EQ(s.wait_exit(5000), 1) << "\"" << args << "\"";
        bool x11_convention = args[0] == '-' || strncmp(args, "/p", 2) == 0;
        EXPECT_EQ(s.error_output(), wayland_line.empty() || x11_convention ? expected_line : wayland_line)
            << "\"" << args << "\"";
    }
    SaverSession s;
    ASSERT_TRUE(s.launch("/a"));
    EXPECT_EQ(s.wait_exit(5000), 0) << "the password request needs no display";
    EXPECT_EQ(s.error_output(), "");
    setenv("DISPLAY", saved.c_str(), 1);
}

TEST(NoDisplay, EveryModeButPasswordNamesTheDisplayAndExitsOne)
{
    std::string dead = dead_display_name();
    expect_no_display_refused(dead.c_str(), "tidefold: cannot open display \"" + dead + "\"\n");
    expect_no_display_refused(nullptr, "tidefold: cannot open display: DISPLAY is not set\n");
    // A backend that does not exist is named back, with the ones that do.
    setenv("TIDEFOLD_BACKEND", "X11", 1);
    expect_no_display_refused(dead.c_str(), "tidefold: TIDEFOLD_BACKEND is \"X11\"; it may be x11 or wayland\n");
    unsetenv("TIDEFOLD_BACKEND");
}

// A Wayland socket whose compositor accepts connections and never says a word (wedged, or
// half started), named by $WAYLAND_DISPLAY in a runtime folder of its own.
class SilentCompositor {
public:
    SilentCompositor()
    {
        char tmpl[] = "/tmp/tidefold-silent-XXXXXX";
        if (!mkdtemp(tmpl)) return;
        dir_ = tmpl;
        fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a = {};
        a.sun_family = AF_UNIX;
        snprintf(a.sun_path, sizeof a.sun_path, "%s/%s", dir_.c_str(), kName);
        if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd_, 64) != 0) return;
        saved_runtime_ = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        setenv("WAYLAND_DISPLAY", kName, 1);
        listening_ = true;
    }
    ~SilentCompositor()
    {
        unsetenv("WAYLAND_DISPLAY");
        if (listening_) setenv("XDG_RUNTIME_DIR", saved_runtime_.c_str(), 1);
        if (fd_ >= 0) close(fd_);
        std::error_code ignored;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    }
    bool listening() const { return listening_; }
    static constexpr const char *kName = "wayland-silent";

private:
    std::string dir_, saved_runtime_;
    int fd_ = -1;
    bool listening_ = false;
};

// A $WAYLAND_DISPLAY naming no compositor (a session that ended), or one that never answers,
// leaves X11 to be tried; asked for by name, a Wayland compositor that does not answer is
// reported as such.
TEST(NoDisplay, AStaleOrSilentWaylandDisplayFallsBackToX11UnlessWaylandIsAskedFor)
{
    std::string dead = dead_display_name();
    setenv("WAYLAND_DISPLAY", "tidefold-no-compositor", 1);
    expect_no_display_refused(dead.c_str(), "tidefold: cannot open display \"" + dead + "\"\n");
    setenv("TIDEFOLD_BACKEND", "wayland", 1);
    expect_no_display_refused(dead.c_str(), "tidefold: cannot open display \"" + dead + "\"\n",
                              "tidefold: cannot connect to the Wayland compositor \"tidefold-no-compositor\"\n");
    unsetenv("TIDEFOLD_BACKEND");
    unsetenv("WAYLAND_DISPLAY");

    SilentCompositor silent;
    ASSERT_TRUE(silent.listening());
    expect_no_display_refused(dead.c_str(), "tidefold: cannot open display \"" + dead + "\"\n");
    setenv("TIDEFOLD_BACKEND", "wayland", 1);
    expect_no_display_refused(dead.c_str(), "tidefold: cannot open display \"" + dead + "\"\n",
                              "tidefold: cannot connect to the Wayland compositor \"wayland-silent\"\n");
    unsetenv("TIDEFOLD_BACKEND");
}

// With a silent compositor and a working X display, the password request ends at once and the
// saver and the dialog come up on X11.
TEST(NoDisplay, ASilentWaylandCompositorLeavesTheModesToX11)
{
    SaverSession s;
    ASSERT_TRUE(s.start_display(640, 480));
    SilentCompositor silent;
    ASSERT_TRUE(silent.listening());
    ASSERT_TRUE(s.launch("/a"));
    EXPECT_EQ(s.wait_exit(1000), 0) << "the password request waited for the compositor";
    for (const char *args : {"/s", "/c"}) {
        ASSERT_TRUE(s.launch(args));
        EXPECT_NE(s.wait_for_window(args[1] == 's' ? "screensaver" : "Configure...", kStartMs), 0u) << args;
        s.signal(SIGTERM);
        EXPECT_EQ(s.wait_exit(5000), 0) << args;
        if (s.running()) s.signal(SIGKILL), s.wait_exit(5000);
    }
}

struct Case {
    const char *args; // "W" is replaced by a client window's id
    const char *window_title;
};
const Case kModeCases[] = {{"/s", "screensaver"}, {"/p W", "screensaver"}, {"--window-id W", "screensaver"},
                           {"--root", "screensaver"}, {"/c", "Configure..."}};

// Starts the case's mode, inside a client window made for it where it names one; its arguments.
std::string launch_with_target(SaverSession &s, const Case &c)
{
    Window target = XCreateSimpleWindow(s.dpy(), DefaultRootWindow(s.dpy()), 100, 100, 320, 240, 0, 0, 0);
    XMapWindow(s.dpy(), target);
    XSync(s.dpy(), False);
    std::string args = c.args;
    if (args.back() == 'W') args = args.substr(0, args.size() - 1) + std::to_string(target);
    s.launch(args);
    return args;
}

// The server ends while each mode runs: status 1 and one line, never a signal.
TEST(LostDisplay, EveryModeEndsWithStatusOneAndOneLine)
{
    for (Case c : kModeCases) {
        SaverSession s;
        ASSERT_TRUE(s.start_display(640, 480));
        std::string args = launch_with_target(s, c);
        ASSERT_NE(s.wait_for_window(c.window_title, kStartMs), 0u) << args;
        sleep_ms(500);
        s.stop_display();
        EXPECT_EQ(s.wait_exit(5000), 1) << args;
        EXPECT_EQ(s.error_output(), kLostLine) << args;
    }
}

// The server stops answering (stopped, or wedged) while each mode runs: a termination signal
// still ends the program with status 0, though its calls into the display never return. (A
// sanitizer build on a busy machine has been seen to take up to 1.7 s to go.)
TEST(StoppedDisplay, SigtermEndsEveryModeWithinASecond)
{
#if defined(__SANITIZE_ADDRESS__)
    const int bound_ms = 2500;
#else
    const int bound_ms = 1000;
#endif
    for (Case c : kModeCases) {
        SaverSession s;
        ASSERT_TRUE(s.start_display(640, 480));
        std::string args = launch_with_target(s, c);
        ASSERT_NE(s.wait_for_window(c.window_title, kStartMs), 0u) << args;
        sleep_ms(500);
        s.signal_display(SIGSTOP);
        sleep_ms(500); // the program's calls into the display are waiting by now
        s.signal(SIGTERM);
        int status = s.wait_exit(bound_ms);
        s.signal_display(SIGCONT);
        EXPECT_EQ(status, 0) << args << ": SIGTERM did not end it within " << bound_ms << " ms";
        if (status == -1) s.wait_exit(5000);
    }
}

TEST(Signals, BrokenPipeIsNeverFatal)
{
    SaverSession s;
    ASSERT_TRUE(s.start_display(640, 480));
    ASSERT_TRUE(s.launch("/s"));
    ASSERT_NE(s.wait_for_saver_window(kStartMs), 0u);
    s.signal(SIGPIPE);
    EXPECT_EQ(s.wait_exit(1000), -1) << "SIGPIPE ended the saver";
    s.key("Escape", true, true);
    EXPECT_EQ(s.wait_exit(5000), 0);
}

// An X window id has 32 bits: a handle beyond them names no window, whatever its low bits say.
TEST(PreviewHandles, BeyondThirtyTwoBitsNameNoWindow)
{
    SaverSession s;
    ASSERT_TRUE(s.start_display(640, 480));
    Window target = XCreateSimpleWindow(s.dpy(), DefaultRootWindow(s.dpy()), 100, 100, 320, 240, 0, 0, 0);
    XMapWindow(s.dpy(), target);
    XSync(s.dpy(), False);
    char hex[32];
    snprintf(hex, sizeof hex, "0x1%08lx", target);
    for (std::string args : {"/p " + std::to_string((1ull << 32) + target),
                             "/p " + std::to_string((1ull << 40) + target), "--window-id " + std::string(hex)}) {
        ASSERT_TRUE(s.launch(args));
        int status = s.wait_exit(5000);
        EXPECT_EQ(status, 0) << args;
        EXPECT_GT(s.screenshot(100, 100, 320, 240).black_fraction(), 0.99) << args << ": drew in the window";
        if (status == -1) s.signal(SIGKILL), s.wait_exit(5000);
    }
}

std::string project_version()
{
    std::ifstream in(std::string(TIDEFOLD_SOURCE_DIR) + "/CMakeLists.txt");
    std::stringstream text;
    text << in.rdbuf();
    std::smatch m;
    std::string t = text.str();
    return std::regex_search(t, m, std::regex("project\\(tidefold VERSION ([0-9.]+)")) ? m[1].str() : "?";
}

// Whole words only, like --root: anywhere else they are text for the launcher's scan.
TEST(LinuxWords, HelpAndVersionAnswerWithoutADisplay)
{
    std::string saved = getenv("DISPLAY") ? getenv("DISPLAY") : "";
    unsetenv("DISPLAY");
    for (const char *args : {"--help", "-h", "/s --help"}) {
        SaverSession s;
        ASSERT_TRUE(s.launch(args));
        EXPECT_EQ(s.wait_exit(5000), 0) << args;
        std::string out = s.output();
        for (const char *word : {"/s", "/c", "/p", "/a", "--root", "--window-id", "tidefold/registry.ini"})
            EXPECT_NE(out.find(word), std::string::npos) << args << ": the usage does not mention " << word;
        EXPECT_EQ(s.error_output(), "");
    }
    SaverSession v;
    ASSERT_TRUE(v.launch("--version"));
    EXPECT_EQ(v.wait_exit(5000), 0);
    EXPECT_EQ(v.output(), "tidefold " + project_version() + "\n");
    for (const char *args : {"--helpx", "-help", "--versions"}) {
        SaverSession s;
        ASSERT_TRUE(s.launch(args));
        EXPECT_EQ(s.wait_exit(5000), 1) << args << ": taken for a request, not as text for the launcher";
        EXPECT_EQ(s.output(), "") << args;
    }
    setenv("DISPLAY", saved.c_str(), 1);
}

} // namespace
