// Process entry on Linux: the arguments joined by single blanks become WinMain's argument string.
// The X screen saver daemons' words (--root, --window-id ID) are understood here, as whole
// arguments only, and turn into a preview inside the window they name.
#include "embed.h"

#include <cstdlib>

namespace {

unsigned long root_window()
{
    Display *dpy = x11::display();
    return dpy ? DefaultRootWindow(dpy) : 0;
}

} // namespace

int main(int argc, char **argv)
{
    x11::catch_termination_signals();
    x11::EntryArguments args = x11::read_entry_arguments(argc, argv, getenv("XSCREENSAVER_WINDOW"), root_window);
    if (args.embedded) x11::embed_into(args.window);
    static char module_marker;
    HINSTANCE self = reinterpret_cast<HINSTANCE>(&module_marker);
    return WinMain(self, nullptr, &args.command_line[0], SW_SHOWDEFAULT);
}
