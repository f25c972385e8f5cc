// Harness for the Wayland tests: a private headless compositor (sway, weston for the path
// without layer shell and screencopy, KWin for its own screenshot service) run as "nobody", which both refuse or dislike root, with a
// private home and runtime folder; screenshots with grim, keys with wtype, the pointer (and keys
// for GTK) through a client of our own with virtual devices, and tidefold started beside them with
// only the Wayland session in its environment.
#pragma once

#include "host_home.h"
#include "picture.h"
#include "process.h"

#include <chrono>
#include <string>
#include <vector>

class HeadlessCompositor {
public:
    // Starts sway with one output, HEADLESS-1, of width x height at 0,0 showing the known desktop.
    bool start_sway(int width, int height);
    // Starts sway on its Wayland backend inside parent (a sway), its outputs WL-1 ... WL-outputs
    // windows of the parent's, each showing the known desktop; closing such a window in the
    // parent takes the output away, which sway 1.7's headless backend cannot, and the parent
    // repaints it (and so the nested sway its surfaces) only while it shows it.
    bool start_nested_sway(const HeadlessCompositor &parent, int outputs);
    // Starts weston's headless backend with one output of width x height.
    bool start_weston(int width, int height);
    // Starts KWin's virtual backend on a session bus of its own, with one output of width x height
    // showing the known desktop (drawn by swaybg). Tidefold and the screenshot client are
    // installed in a private data folder KWin reads, so that KWin serves them its screenshots.
    // False with why_not set when KWin is not installed.
    bool start_kwin(int width, int height, std::string *why_not);
    // Starts GNOME's compositor headless, with one virtual monitor of width x height: the whole
    // Shell (gnome-shell, with a private system bus it needs) or mutter alone. The session bus is
    // its own, with the display in its activation environment as the session manager would put
    // it; the Shell is taken out of the overview it starts in. False with why_not set when the
    // program is not installed.
    bool start_gnome(const std::string &program, int width, int height, std::string *why_not);
    // Gives a session without one (sway, weston) a session bus of its own for its clients.
    bool start_session_bus();
    // The idle watcher's view of this session: tidefold started with the session's environment,
    // the session held awake by a stand-in for GNOME's session manager on its bus.
    bool launch_program(Process &program, const std::vector<std::string> &args);
    bool hold_awake(Process &holder);
    // GNOME: presses and releases each key (X keysym numbers) through mutter's remote desktop.
    bool keys(const std::vector<unsigned> &keysyms);
    ~HeadlessCompositor();

    // sway: adds an output of width x height at x, 0; gives its name ("" on failure).
    std::string add_output(int width, int height, int x);
    // sway: shows picture on the output as its background, and waits until the screen shows it.
    bool set_background(const std::string &output, const Picture &picture);
    bool swaymsg(const std::vector<std::string> &command);
    // The whole layout, or one output by name (sway: screencopy through grim; KWin and GNOME
    // Shell: the whole workspace through their screenshot services).
    Picture screenshot(const std::string &output = "");
    // Waits up to 15 s for the output ("": all of them) to show something other than picture
    // while client runs.
    bool wait_for_change(Process &client, const std::string &output, const Picture &picture);
    // Runs wtype with these arguments after its half-second pause; gives its exit status. Each run
    // brings a keyboard of its own and takes it away when it ends, so the seat's keyboard comes and
    // goes: a client has to get a new wl_keyboard each time, hence the pause.
    int type(const std::vector<std::string> &wtype_args);
    // Starts wtype with these arguments and leaves it running.
    bool start_typing(Process &wtype, const std::vector<std::string> &wtype_args);
    // weston: what its scene-graph debug stream prints (every view, its client's pid and place).
    std::string scene_graph();

    void kill_compositor(int sig) { compositor_.signal(sig); }
    int wait_compositor(int timeout_ms) { return compositor_.wait_exit(timeout_ms); }

    // The environment a client of the session gets: the home, PATH, the runtime folder and socket.
    std::vector<std::string> client_env() const;
    // Runs argv as the session's user; its exit status.
    int run(const std::vector<std::string> &argv, int timeout_ms = 10000);
    std::string log() const { return home.log("compositor.log") + home.log("commands.log"); }

    HostHome home;
    std::string runtime_dir, socket, bus_address;

private:
    bool prepare(const std::string &name);
    // KWin, mutter and GNOME Shell each take most of this machine's processor while they start:
    // one at a time across the test processes, so that none waits out its start-up allowance.
    void take_desktop_turn();
    int desktop_turn_ = -1;
    bool wait_for_socket(int timeout_ms);
    std::string write_ppm(const std::string &name, const Picture &picture);
    bool install_entry(const std::string &name, const std::string &exe);
    bool start_on_session_bus(const std::vector<std::string> &env, const std::string &command);
    enum class GnomeStart { ready, hung, failed };
    GnomeStart try_start_gnome(const std::vector<std::string> &env, const std::string &command, const Picture &known);
    struct ForkWatch {
        pid_t child = 0;
        std::chrono::steady_clock::time_point since;
    };
    bool hung_in_fork(ForkWatch &watch);
    void end_compositor();
    // The compositor run on a session bus of its own (start_on_session_bus), or 0.
    pid_t compositor_pid() const;
    Process compositor_, background_, system_bus_, session_bus_;
    std::string ipc_socket_, session_client_;
    bool kwin_ = false, gnome_shell_ = false;
    int sway_outputs_ = 1; // headless outputs made, the first at start
};

// A virtual pointer and keyboard on the session's seat, kept for the whole case (the compositor
// drops the devices when their client goes). Unlike wtype's keys, the keyboard's reach GTK.
class InputDriver {
public:
    bool start(HeadlessCompositor &session);
    ~InputDriver();
    bool move(int dx, int dy) { return send("move " + std::to_string(dx) + " " + std::to_string(dy)); }
    bool button(unsigned code, bool pressed) { return send("button " + std::to_string(code) + (pressed ? " 1" : " 0")); }
    bool click(unsigned code) { return button(code, true) && button(code, false); }
    bool wheel(int steps) { return send("wheel " + std::to_string(steps)); }
    // Presses and releases the key of an XKB keysym name ("Return").
    bool key(const std::string &name) { return send("key " + name); }

private:
    bool send(const std::string &command);
    bool read_line(std::string &line, int timeout_ms);
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
    std::string pending_;
};

// The tidefold program run as a client of the session.
class WaylandSaver {
public:
    explicit WaylandSaver(HeadlessCompositor &session) : session_(session) {}
    // Starts tidefold with args and the session's environment, plus extra_env (NAME=value).
    bool launch(const std::vector<std::string> &args, const std::vector<std::string> &extra_env = {});
    int wait_exit(int timeout_ms) { return process_.wait_exit(timeout_ms); }
    bool running() { return process_.running(); }
    void signal(int sig) { process_.signal(sig); }
    pid_t pid() const { return process_.pid(); }
    Process &process() { return process_; }
    // Every tidefold process of this session still alive (a saver per output).
    std::vector<pid_t> processes() const;
    // Waits up to timeout_ms for no tidefold process of this session to be left.
    bool all_gone(int timeout_ms) const;
    // Kills every tidefold process of this session; whether they were gone within a second.
    bool end_all();
    std::string log() const { return session_.home.log("tidefold.log"); }

private:
    HeadlessCompositor &session_;
    Process process_;
};
