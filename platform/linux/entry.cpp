// Process entry on Linux: the arguments joined by single blanks become WinMain's argument string.
// The X screen saver daemons' words (--root, --window-id ID) are understood here, as whole
// arguments only, and turn into a preview inside the window they name; --help and --version
// answer with a text. A display that cannot be opened, or that goes away, ends the run with
// status 1 and one line on stderr.
#include "arguments.h"
#include "backend.h"
#include "host_settings.h"
#include "session_commands.h"
#include "signals.h"
#include "ssaver.h"

#include <cstdio>
#include <cstdlib>

namespace {

// --root names the X screen's root: the run is an X11 one whatever else the session offers.
unsigned long root_window()
{
    platform::choose_backend(platform::BackendKind::x11);
    return platform::backend().root_window();
}

void print_usage(const char *program)
{
    printf("Usage: %s [/s | /c | /p ID | /a] [--root | --window-id ID] [--idle SECONDS | --allow-screenshots]\n"
           "Tidefold, a water-ripple screen saver.\n"
           "  /s               run full screen until a key, a button or a mouse move\n"
           "  /c               open the settings dialog (also with no switch)\n"
           "  /p ID            draw a preview inside the X window ID (decimal)\n"
           "  /a               change password: not supported, exits at once\n"
           "  --root           draw on the root window (or $XSCREENSAVER_WINDOW)\n"
           "  --window-id ID   draw inside the X window ID (hex with 0x, or decimal)\n"
           "  --idle SECONDS   start the saver whenever the session has been idle that long\n"
           "  --allow-screenshots  ask the desktop once for leave to photograph it (GNOME)\n"
           "For this run only, over the stored settings (nothing is written):\n"
           "  --speed N        ripple speed, 1 to 30      --frequency N   frames between drops, 1 to 500\n"
           "  --lighting, --no-lighting    the lighting pass on or off\n"
           "  --no-desktop     no picture pass            --single-buffer  draw straight to the screen\n"
           "  --low-quality    blocky texture filtering   --texture-size N  64, 128, ... 2048\n"
           "  --image PATH     ripple this picture, or one from this folder\n"
           "  -fps             show the frame rate and processor time in a corner\n"
           "  -h, --help       show this text;  --version  show the version\n"
           "Settings: $XDG_CONFIG_HOME/tidefold/registry.ini (~/.config/tidefold/registry.ini by default)\n",
           program);
}

int scanned_mode(const std::string &command_line)
{
    int saved = ss_mode;
    ss_scan_command_line(command_line.c_str());
    int mode = ss_mode;
    ss_mode = saved;
    return mode;
}

void report_no_display()
{
    if (platform::backend_kind() == platform::BackendKind::wayland) {
        const char *socket = getenv("WAYLAND_DISPLAY");
        fprintf(stderr, "tidefold: cannot connect to the Wayland compositor \"%s\"\n", socket && *socket ? socket : "wayland-0");
        return;
    }
    const char *name = getenv("DISPLAY");
    if (name && *name)
        fprintf(stderr, "tidefold: cannot open display \"%s\"\n", name);
    else
        fprintf(stderr, "tidefold: cannot open display: DISPLAY is not set\n");
}

} // namespace

int main(int argc, char **argv)
{
    platform::catch_termination_signals();
    platform::SessionCommand command = platform::read_session_command(argc, argv);
    if (!command.error.empty()) {
        fprintf(stderr, "tidefold: %s\n", command.error.c_str());
        return 1;
    }
    if (command.kind == platform::SessionCommand::allow_screenshots) return platform::allow_screenshots();
    if (command.kind == platform::SessionCommand::idle) return platform::watch_idle(command.idle_seconds);
    platform::EntryArguments args =
        platform::read_entry_arguments(argc, argv, getenv("XSCREENSAVER_WINDOW"), root_window);
    if (args.request == platform::EntryArguments::help) {
        print_usage(argv[0]);
        return 0;
    }
    if (args.request == platform::EntryArguments::version) {
        printf("tidefold %s\n", TIDEFOLD_VERSION);
        return 0;
    }
    // The password request has nothing to change: it is answered here, before any display is
    // touched, so that one which never answers cannot hold it.
    int mode = scanned_mode(args.command_line);
    if (mode == SS_MODE_PASSWORD) return 0;
    // A bad value from the host stops the full-screen saver before it starts; a window another
    // program handed us is never left empty, so there the stored value stands.
    if (!args.host.error.empty()) {
        fprintf(stderr, "%s\n", args.host.error.c_str());
        if (mode == SS_MODE_SAVER) return 1;
    }
    platform::host_settings() = args.host;
    if (!platform::backend_request_valid()) return 1;
    // Previews draw inside a window of the X screen, whatever else the session offers.
    if (args.embedded || mode == SS_MODE_PREVIEW) platform::choose_backend(platform::BackendKind::x11);
    // Every other mode needs the display.
    if (!platform::backend().connect()) {
        report_no_display();
        return 1;
    }
    if (args.embedded) platform::backend().embed_into(args.window);
    static char module_marker;
    HINSTANCE self = reinterpret_cast<HINSTANCE>(&module_marker);
    int status = WinMain(self, nullptr, &args.command_line[0], SW_SHOWDEFAULT);
    if (platform::backend().lost()) {
        platform::report_lost_display();
        return 1;
    }
    return status;
}
