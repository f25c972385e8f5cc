// End-to-end harness: a private Xvfb with a known desktop picture, the tidefold program started on
// it, the screen read back, input sent through XTest, and the exit status checked.
#pragma once

#include "picture.h"
#include "process.h"
#include "xvfb.h"

#include <X11/Xlib.h>

#include <string>
#include <sys/types.h>
#include <vector>

class SaverSession {
public:
    // Starts Xvfb width x height with the known desktop painted on the root, and gives the
    // program a private settings directory.
    bool start_display(int width, int height);
    ~SaverSession();

    // Splits the screen into these monitors (RandR 1.5), and paints a new desktop picture.
    bool set_monitors(const std::vector<MonitorSpec> &monitors);
    void paint_desktop(const std::vector<unsigned> &pixels);

    // Stores settings for the program to load (REG_DWORD values under its key).
    void store_setting(const char *name, unsigned value);

    // Starts tidefold with the given argument string split on blanks; its stdout and stderr are kept.
    bool launch(const std::string &args);
    // What the program wrote on stdout and on stderr so far.
    std::string output() const { return read_text(output_path_); }
    std::string error_output() const { return read_text(error_path_); }
    void signal(int sig);
    // Waits up to timeout_ms for the program to end; gives its exit status, or -1 if it is still running.
    int wait_exit(int timeout_ms);
    bool running();
    pid_t pid() const { return pid_; }
    // The processes the program started, as they are now.
    std::vector<pid_t> child_processes();
    void kill_program(int sig);

    // Waits until a mapped window titled "screensaver" exists; gives its id (0 on timeout).
    Window wait_for_saver_window(int timeout_ms) { return wait_for_window("screensaver", timeout_ms); }
    Window wait_for_window(const char *title, int timeout_ms);
    // Ends the X server under the running program.
    void stop_display();
    // Sends sig to the X server (SIGSTOP: it stops answering; SIGCONT: it goes on).
    void signal_display(int sig) { xvfb_.signal(sig); }
    // Every mapped window titled "screensaver", as x, y, width, height on the screen, left to right.
    std::vector<MonitorSpec> saver_windows();

    Picture screenshot(int x, int y, int width, int height);
    Picture screenshot() { return screenshot(0, 0, width_, height_); }

    void move_pointer(int x, int y);
    void key(const char *keysym_name, bool press, bool release);
    void button(unsigned number);

    Display *dpy() { return dpy_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    PrivateXvfb xvfb_;
    Display *dpy_ = nullptr;
    pid_t pid_ = -1;
    int width_ = 0, height_ = 0;
    std::string config_dir_;
    std::string output_path_, error_path_;
    static std::string read_text(const std::string &path);
};

// A display name no server answers on.
std::string dead_display_name();

// Writes one of the saver's values into the settings store this process uses.
void store_saver_setting(const char *name, unsigned value);
// Writes a string value (REG_SZ) beside them, such as image_path.
void store_saver_string(const char *name, const std::string &value);
// True once the process is gone or left only as a zombie.
bool process_ended(pid_t pid);
// The running processes pid started, and the mapped windows titled "screensaver" on a display, as
// SaverSession gives them for its own.
std::vector<pid_t> child_processes_of(pid_t pid);
std::vector<MonitorSpec> saver_windows_on(Display *dpy);
