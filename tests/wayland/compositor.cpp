#include "compositor.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

constexpr int kStartMs = 15000;
// The Shell's services come up one after another after its socket, slowly on a busy machine.
constexpr int kGnomeStartMs = 60000;

using Clock = std::chrono::steady_clock;

// When a wait of ms from now ends. The waits are measured on the clock, not counted in sleeps,
// since the commands they run take time too: a screenshot through D-Bus takes seconds on a busy
// machine, or the 10 s a command is given when the desktop does not answer.
Clock::time_point after_ms(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }

// Reads a binary PPM (P6, maxval 255) into a picture; empty on any other content.
Picture read_ppm(const std::string &path)
{
    Picture p;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maxval = 0;
    if (!(in >> magic >> width >> height >> maxval) || magic != "P6" || maxval != 255 || width <= 0 || height <= 0)
        return p;
    in.get();
    std::vector<unsigned char> rgb((size_t)width * height * 3);
    if (!in.read(reinterpret_cast<char *>(rgb.data()), (std::streamsize)rgb.size())) return p;
    p.width = width;
    p.height = height;
    for (size_t i = 0; i < rgb.size(); i += 3)
        p.pixels.push_back(unsigned(rgb[i]) << 16 | unsigned(rgb[i + 1]) << 8 | rgb[i + 2]);
    return p;
}

bool write_ppm_file(const std::string &path, const Picture &picture)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << picture.width << " " << picture.height << "\n255\n";
    for (unsigned v : picture.pixels) {
        char rgb[3] = {char(v >> 16), char(v >> 8), char(v)};
        out.write(rgb, 3);
    }
    return bool(out);
}

// The first entry of dir whose name starts with prefix and does not end in ".lock".
std::string find_entry(const std::string &dir, const std::string &prefix)
{
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec)) {
        std::string name = e.path().filename();
        if (name.rfind(prefix, 0) == 0 && name.find(".lock") == std::string::npos) return name;
    }
    return "";
}

std::string real_path(const std::string &path)
{
    char real[4096];
    return realpath(path.c_str(), real) ? real : "";
}

// The processes the main thread of pid started.
std::vector<pid_t> children_of(pid_t pid)
{
    std::vector<pid_t> found;
    std::istringstream list(read_file("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children"));
    for (pid_t child; list >> child;) found.push_back(child);
    return found;
}

} // namespace

pid_t HeadlessCompositor::compositor_pid() const
{
    return pid_t(atol(read_file(home.home + "/compositor.pid").c_str()));
}

bool HeadlessCompositor::prepare(const std::string &name)
{
    if (!home.create(name, true, false)) return false;
    runtime_dir = home.home + "/run";
    std::filesystem::create_directories(runtime_dir);
    return chmod(runtime_dir.c_str(), 0700) == 0;
}

bool HeadlessCompositor::start_sway(int width, int height)
{
    if (!prepare("sway")) return false;
    std::string background = write_ppm("background-HEADLESS-1.ppm", known_picture(width, height));
    std::ofstream config(home.home + "/sway.conf");
    config << "output HEADLESS-1 resolution " << width << "x" << height << " position 0 0 bg " << background
           << " stretch\n"
           << "default_border none\n";
    config.close();
    if (!home.hand_over()) return false;
    std::vector<std::string> env = {"HOME=" + home.home, "PATH=/usr/bin:/bin", "XDG_RUNTIME_DIR=" + runtime_dir,
                                    "WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1"};
    if (!compositor_.start({"sway", "-c", home.home + "/sway.conf"}, env, true, home.user,
                           home.home + "/compositor.log"))
        return false;
    if (!wait_for_socket(kStartMs)) return false;
    for (int waited = 0; (ipc_socket_ = find_entry(runtime_dir, "sway-ipc.")).empty(); waited += 20) {
        if (waited >= kStartMs) return false;
        sleep_ms(20);
    }
    ipc_socket_ = runtime_dir + "/" + ipc_socket_;
    // The background is up once swaybg has drawn it.
    Picture expected = known_picture(width, height);
    for (int waited = 0; screenshot().mean_difference(expected) > 2; waited += 100) {
        if (waited >= kStartMs) return false;
        sleep_ms(100);
    }
    return true;
}

bool HeadlessCompositor::start_nested_sway(const HeadlessCompositor &parent, int outputs)
{
    if (!prepare("sway-nested")) return false;
    std::string background = write_ppm("background.ppm", known_picture(640, 360));
    std::ofstream(home.home + "/sway.conf") << "output * bg " << background << " stretch\n"
                                            << "default_border none\nxwayland disable\n";
    if (!home.hand_over()) return false;
    std::vector<std::string> env = {"HOME=" + home.home,
                                    "PATH=/usr/bin:/bin",
                                    "XDG_RUNTIME_DIR=" + runtime_dir,
                                    "WAYLAND_DISPLAY=" + parent.runtime_dir + "/" + parent.socket,
                                    "WLR_BACKENDS=wayland",
                                    "WLR_WL_OUTPUTS=" + std::to_string(outputs),
                                    "WLR_RENDERER=pixman",
                                    "WLR_LIBINPUT_NO_DEVICES=1"};
    if (!compositor_.start({"sway", "-c", home.home + "/sway.conf"}, env, true, home.user,
                           home.home + "/compositor.log") ||
        !wait_for_socket(kStartMs))
        return false;
    for (int waited = 0; (ipc_socket_ = find_entry(runtime_dir, "sway-ipc.")).empty(); waited += 20) {
        if (waited >= kStartMs) return false;
        sleep_ms(20);
    }
    ipc_socket_ = runtime_dir + "/" + ipc_socket_;
    for (int waited = 0; screenshot("WL-" + std::to_string(outputs)).width <= 0; waited += 100) {
        if (waited >= kStartMs) return false;
        sleep_ms(100);
    }
    return true;
}

bool HeadlessCompositor::start_weston(int width, int height)
{
    if (!prepare("weston") || !home.hand_over()) return false;
    std::vector<std::string> env = {"HOME=" + home.home, "PATH=/usr/bin:/bin", "XDG_RUNTIME_DIR=" + runtime_dir};
    // --debug offers the debug streams, the scene graph among them; without --idle-time=0 weston
    // would cover everything with its lock screen after five minutes.
    if (!compositor_.start({"weston", "--backend=headless-backend.so", "--use-pixman", "--debug", "--idle-time=0",
                            "--width=" + std::to_string(width), "--height=" + std::to_string(height)},
                           env, true, home.user, home.home + "/compositor.log") ||
        !wait_for_socket(kStartMs))
        return false;
    // The socket comes before the shell: the session is ready once the shell's background is up.
    for (int waited = 0; scene_graph().find("background for output") == std::string::npos; waited += 100) {
        if (waited >= kStartMs) return false;
        sleep_ms(100);
    }
    return true;
}

bool HeadlessCompositor::install_entry(const std::string &name, const std::string &exe)
{
    char real[4096];
    if (!realpath(exe.c_str(), real)) return false;
    std::ofstream entry(home.home + "/share/applications/" + name + ".desktop");
    entry << "[Desktop Entry]\nType=Application\nName=" << name << "\nExec=" << real
          << " /c\nNoDisplay=true\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n";
    return bool(entry);
}

bool HeadlessCompositor::start_kwin(int width, int height, std::string *why_not)
{
    if (access("/usr/bin/kwin_wayland", X_OK) != 0) {
        *why_not = "kwin_wayland is not installed (tools/deps.sh test installs it)";
        return false;
    }
    take_desktop_turn();
    if (!prepare("kwin")) return false;
    kwin_ = true;
    std::filesystem::create_directories(home.home + "/share/applications");
    // The Debian binary carries a file capability, which an unprivileged user in a container may not
    // take up: a copy has none.
    const std::string kwin = home.home + "/kwin_wayland";
    std::filesystem::copy_file("/usr/bin/kwin_wayland", kwin);
    session_client_ = home.for_user(SESSION_CLIENT);
    if (!install_entry("tidefold", home.exe) || !install_entry("screenshot-client", session_client_))
        return false;
    std::string background = write_ppm("background.ppm", known_picture(width, height));
    if (!home.hand_over()) return false;
    std::vector<std::string> env = {"HOME=" + home.home, "PATH=/usr/bin:/bin", "XDG_RUNTIME_DIR=" + runtime_dir,
                                    "XDG_DATA_DIRS=" + home.home + "/share:/usr/share", "XDG_CURRENT_DESKTOP=KDE"};
    if (!start_on_session_bus(env, "\"$HOME/kwin_wayland\" --virtual --width " + std::to_string(width) + " --height " +
                                       std::to_string(height) + " --socket wayland-kwin --no-lockscreen "
                                       "--no-global-shortcuts --no-kactivities"))
        return false;
    if (!background_.start({"swaybg", "-o", "*", "-i", background, "-m", "stretch"}, client_env(), true, home.user,
                           home.home + "/commands.log"))
        return false;
    Picture expected = known_picture(width, height);
    for (const auto give_up = after_ms(kStartMs); screenshot().mean_difference(expected) > 2; sleep_ms(200))
        if (Clock::now() > give_up) return false;
    return true;
}

// Runs command (a shell command line) on a session bus of its own, recording its pid (the
// compositor's, which ends the bus when it ends) and the bus address; waits for its socket.
bool HeadlessCompositor::start_on_session_bus(const std::vector<std::string> &env, const std::string &command)
{
    const std::string script = "echo $$ > \"$HOME/compositor.pid\" && echo \"$DBUS_SESSION_BUS_ADDRESS\" > \"$HOME/bus.tmp\" && "
                               "mv \"$HOME/bus.tmp\" \"$HOME/bus\" && exec " + command;
    if (!compositor_.start({"dbus-run-session", "--", "sh", "-c", script}, env, true, home.user,
                           home.home + "/compositor.log") ||
        !wait_for_socket(kStartMs))
        return false;
    for (int waited = 0; (bus_address = read_file(home.home + "/bus")).empty(); waited += 20) {
        if (waited >= kStartMs) return false;
        sleep_ms(20);
    }
    bus_address.erase(bus_address.find_last_not_of('\n') + 1);
    return true;
}

bool HeadlessCompositor::start_gnome(const std::string &program, int width, int height, std::string *why_not)
{
    if (access(("/usr/bin/" + program).c_str(), X_OK) != 0) {
        *why_not = program + " is not installed (tools/deps.sh test installs it)";
        return false;
    }
    take_desktop_turn();
    if (!prepare(program)) return false;
    gnome_shell_ = program == "gnome-shell";
    session_client_ = home.for_user(SESSION_CLIENT);
    {
        std::ofstream conf(home.home + "/system-bus.conf");
        conf << "<busconfig><type>system</type><listen>unix:path=" << runtime_dir << "/system_bus</listen>"
             << "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
             << "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    }
    if (!home.hand_over()) return false;
    std::vector<std::string> env = {"HOME=" + home.home, "PATH=/usr/bin:/bin", "XDG_RUNTIME_DIR=" + runtime_dir,
                                    "XDG_CURRENT_DESKTOP=GNOME",
                                    "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + runtime_dir + "/system_bus"};
    // The Shell wants a system bus (a private one will do); mutter alone does without.
    if (gnome_shell_) {
        if (!system_bus_.start({"dbus-daemon", "--config-file=" + home.home + "/system-bus.conf", "--nofork",
                                "--nopidfile"}, env, true, home.user, home.home + "/system-bus.log"))
            return false;
        for (int waited = 0; access((runtime_dir + "/system_bus").c_str(), F_OK) != 0; waited += 20) {
            if (waited >= kStartMs) return false;
            sleep_ms(20);
        }
    }
    const std::string command = program + " --wayland --headless --no-x11 --virtual-monitor " + std::to_string(width) +
                                "x" + std::to_string(height) + " --wayland-display wayland-gnome";
    const Picture known = known_picture(width, height);
    // A Shell that hung as it started is replaced (see hung_in_fork); a few times at most.
    for (int attempt = 1;; attempt++) {
        const GnomeStart result = try_start_gnome(env, command, known);
        if (result != GnomeStart::hung) return result == GnomeStart::ready;
        std::ofstream(home.home + "/commands.log", std::ios::app) << "(the Shell hung as it started: another)\n";
        if (attempt == 3) return false;
        end_compositor();
    }
}

HeadlessCompositor::GnomeStart HeadlessCompositor::try_start_gnome(const std::vector<std::string> &env,
                                                                   const std::string &command, const Picture &known)
{
    // What a Shell killed before left behind.
    for (const char *left : {"/bus", "/run/wayland-gnome", "/run/wayland-gnome.lock"}) unlink((home.home + left).c_str());
    if (!start_on_session_bus(env, command)) return GnomeStart::failed;
    if (run({"gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
             "--method", "org.freedesktop.DBus.UpdateActivationEnvironment",
             "{'WAYLAND_DISPLAY': '" + socket + "', 'XDG_CURRENT_DESKTOP': 'GNOME'}"}) != 0)
        return GnomeStart::failed;
    // The remote desktop service answers once the session is up; the first key makes its virtual
    // keyboard.
    ForkWatch fork_watch;
    for (const auto give_up = after_ms(kGnomeStartMs); !keys({0xff1b}); sleep_ms(200)) {
        if (hung_in_fork(fork_watch)) return GnomeStart::hung;
        if (Clock::now() > give_up) return GnomeStart::failed;
    }
    if (!gnome_shell_) return GnomeStart::ready;
    // The known desktop as the Shell's background; its top bar stays above it.
    const std::string background = write_ppm("background.ppm", known);
    if (run({"gsettings", "set", "org.gnome.desktop.background", "picture-options", "stretched"}) != 0 ||
        run({"gsettings", "set", "org.gnome.desktop.background", "picture-uri", "file://" + background}) != 0)
        return GnomeStart::failed;
    // The Shell starts in its overview, which takes no keys until its start-up animation has ended
    // (an Escape sent sooner is lost, and the overview stays). So the Shell is told to leave it,
    // again until the desktop shows: a request made before the overview came up does nothing.
    const auto give_up = after_ms(kGnomeStartMs);
    for (Picture shot; (shot = screenshot()).width != known.width || middle(shot).mean_difference(middle(known)) > 3;
         sleep_ms(200)) {
        if (hung_in_fork(fork_watch)) return GnomeStart::hung;
        if (Clock::now() > give_up) return GnomeStart::failed;
        run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path", "/org/gnome/Shell",
             "--method", "org.freedesktop.DBus.Properties.Set", "org.gnome.Shell", "OverviewActive", "<false>"});
    }
    return GnomeStart::ready;
}

// GNOME Shell 43 starts the IBus daemon as it starts, and runs JavaScript in the child between its
// fork and its exec. Now and then another thread of the Shell held a lock at the fork that the
// child then waits for: the child never gets to its exec, and the Shell waits for it for good,
// answering nothing. A child that is still the Shell a second later is that.
bool HeadlessCompositor::hung_in_fork(ForkWatch &watch)
{
    const pid_t shell = compositor_pid();
    const std::string shell_exe = real_path("/proc/" + std::to_string(shell) + "/exe");
    pid_t stuck = 0;
    for (pid_t child : children_of(shell))
        if (!stuck && real_path("/proc/" + std::to_string(child) + "/exe") == shell_exe) stuck = child;
    if (stuck != watch.child) watch = {stuck, Clock::now()};
    return stuck && Clock::now() - watch.since > std::chrono::seconds(1);
}

bool HeadlessCompositor::start_session_bus()
{
    if (!bus_address.empty()) return true;
    const std::string path = runtime_dir + "/bus";
    if (!session_bus_.start({"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + path}, client_env(), true,
                            home.user, home.home + "/session-bus.log"))
        return false;
    for (int waited = 0; access(path.c_str(), F_OK) != 0; waited += 20) {
        if (waited >= kStartMs) return false;
        sleep_ms(20);
    }
    bus_address = "unix:path=" + path;
    return true;
}

bool HeadlessCompositor::launch_program(Process &program, const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {home.exe};
    argv.insert(argv.end(), args.begin(), args.end());
    return program.start(argv, client_env(), true, home.user, home.home + "/tidefold.log", home.home);
}

bool HeadlessCompositor::hold_awake(Process &holder)
{
    const std::string log = home.home + "/holder.log";
    unlink(log.c_str());
    if (!holder.start({home.for_user(SESSION_CLIENT), "inhibit"}, client_env(), true, home.user, log, home.home))
        return false;
    for (int waited = 0; read_file(log).find("ready") == std::string::npos; waited += 20) {
        if (waited >= kStartMs || !holder.running()) return false;
        sleep_ms(20);
    }
    return true;
}

bool HeadlessCompositor::keys(const std::vector<unsigned> &keysyms)
{
    std::vector<std::string> argv = {session_client_, "keys"};
    for (unsigned k : keysyms) argv.push_back(std::to_string(k));
    return run(argv) == 0;
}

void HeadlessCompositor::take_desktop_turn()
{
    desktop_turn_ = open("/tmp/tidefold-desktop-compositor.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (desktop_turn_ >= 0) flock(desktop_turn_, LOCK_EX);
}

HeadlessCompositor::~HeadlessCompositor()
{
    struct TurnEnds {
        int fd;
        ~TurnEnds()
        {
            if (fd >= 0) close(fd);
        }
    } turn_ends{desktop_turn_};
    background_.signal(SIGTERM);
    background_.wait_exit(2000);
    end_compositor();
}

void HeadlessCompositor::end_compositor()
{
    // dbus-run-session ends its bus once the compositor, which it waits for, ends.
    const pid_t under_bus = compositor_pid();
    if (under_bus > 0) {
        kill(under_bus, SIGTERM);
        // A compositor that stopped answering does not take its SIGTERM either; nor does a child
        // of the Shell that hung before its exec.
        if (compositor_.wait_exit(5000) == -1) {
            for (pid_t child : children_of(under_bus)) kill(child, SIGKILL);
            kill(under_bus, SIGKILL);
        }
    }
    compositor_.signal(SIGTERM);
    if (compositor_.wait_exit(3000) == -1) compositor_.signal(SIGKILL);
    compositor_.wait_exit(1000);
    unlink((home.home + "/compositor.pid").c_str());
}

bool HeadlessCompositor::wait_for_socket(int timeout_ms)
{
    for (int waited = 0; (socket = find_entry(runtime_dir, "wayland-")).empty(); waited += 20) {
        if (waited >= timeout_ms || !compositor_.running()) return false;
        sleep_ms(20);
    }
    return true;
}

std::vector<std::string> HeadlessCompositor::client_env() const
{
    std::vector<std::string> env = home.env;
    env.push_back("XDG_RUNTIME_DIR=" + runtime_dir);
    env.push_back("WAYLAND_DISPLAY=" + socket);
    if (!bus_address.empty()) env.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus_address);
    return env;
}

int HeadlessCompositor::run(const std::vector<std::string> &argv, int timeout_ms)
{
    const std::string log = home.home + "/commands.log";
    Process p;
    if (!p.start(argv, client_env(), true, home.user, log, home.home)) return -1;
    const int status = p.wait_exit(timeout_ms);
    // A command the desktop left without an answer is killed; the log says which.
    if (status == -1) std::ofstream(log, std::ios::app) << "(no answer within " << timeout_ms << " ms: " << argv[0]
                                                         << (argv.size() > 1 ? " " + argv[1] : "") << ")\n";
    return status;
}

bool HeadlessCompositor::swaymsg(const std::vector<std::string> &command)
{
    std::vector<std::string> argv = {"swaymsg", "-s", ipc_socket_};
    argv.insert(argv.end(), command.begin(), command.end());
    return run(argv) == 0;
}

std::string HeadlessCompositor::add_output(int width, int height, int x)
{
    if (!swaymsg({"create_output"})) return "";
    // Headless outputs are numbered in the order they are made.
    std::string name = "HEADLESS-" + std::to_string(++sway_outputs_);
    if (!swaymsg({"output", name, "resolution", std::to_string(width) + "x" + std::to_string(height), "position",
                  std::to_string(x), "0"}))
        return "";
    for (int waited = 0; screenshot(name).width != width; waited += 50) {
        if (waited >= 5000) return "";
        sleep_ms(50);
    }
    return name;
}

std::string HeadlessCompositor::write_ppm(const std::string &name, const Picture &picture)
{
    std::string path = home.home + "/" + name;
    if (!write_ppm_file(path, picture)) return "";
    if (home.user >= 0 && chown(path.c_str(), uid_t(home.user), gid_t(home.group)) != 0) return "";
    return path;
}

bool HeadlessCompositor::set_background(const std::string &output, const Picture &picture)
{
    std::string path = write_ppm("background-" + output + ".ppm", picture);
    if (path.empty() || !swaymsg({"output", output, "bg", path, "stretch"})) return false;
    for (int waited = 0; screenshot(output).mean_difference(picture) > 2; waited += 100) {
        if (waited >= kStartMs) return false;
        sleep_ms(100);
    }
    return true;
}

Picture HeadlessCompositor::screenshot(const std::string &output)
{
    std::string path = runtime_dir + "/screenshot.ppm";
    unlink(path.c_str());
    if (kwin_ || gnome_shell_)
        return run({session_client_, kwin_ ? "kwin" : "gnome", path}) == 0 ? read_ppm(path) : Picture();
    std::vector<std::string> argv = {"grim", "-t", "ppm"};
    if (!output.empty()) argv.insert(argv.end(), {"-o", output});
    argv.push_back(path);
    if (run(argv) != 0) return Picture();
    return read_ppm(path);
}

bool HeadlessCompositor::wait_for_change(Process &client, const std::string &output, const Picture &picture)
{
    // grim gives back exactly what swaybg drew, so any drawing over it shows.
    for (const auto give_up = after_ms(kStartMs); screenshot(output).mean_difference(picture) < 1; sleep_ms(100))
        if (Clock::now() > give_up || !client.running()) return false;
    return true;
}

int HeadlessCompositor::type(const std::vector<std::string> &wtype_args)
{
    Process wtype;
    if (!start_typing(wtype, wtype_args)) return -1;
    return wtype.wait_exit(10000);
}

bool HeadlessCompositor::start_typing(Process &wtype, const std::vector<std::string> &wtype_args)
{
    std::vector<std::string> argv = {"wtype", "-s", "500"};
    argv.insert(argv.end(), wtype_args.begin(), wtype_args.end());
    return wtype.start(argv, client_env(), true, home.user, home.home + "/commands.log", home.home);
}

std::string HeadlessCompositor::scene_graph()
{
    std::string path = runtime_dir + "/scene-graph.txt";
    unlink(path.c_str());
    return run({"weston-debug", "-o", path, "scene-graph"}) == 0 ? read_file(path) : "";
}
