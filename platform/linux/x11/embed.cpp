// Drawing inside a window another program hands over.
#include "embed.h"

#include <X11/Xatom.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace x11 {
namespace {

Window g_target = 0;

bool is_word(const char *arg, const char *name) { return strcmp(arg, name) == 0; }

bool root_word(const char *arg) { return is_word(arg, "--root") || is_word(arg, "-root"); }
bool window_id_word(const char *arg) { return is_word(arg, "--window-id") || is_word(arg, "-window-id"); }

EntryArguments::Request request_word(const char *arg)
{
    if (is_word(arg, "--help") || is_word(arg, "-h")) return EntryArguments::help;
    if (is_word(arg, "--version")) return EntryArguments::version;
    return EntryArguments::run;
}

bool target_attributes(XWindowAttributes *wa)
{
    Display *dpy = display();
    if (!dpy || !g_target) return false;
    ErrorTrap trap(dpy);
    Status ok = XGetWindowAttributes(dpy, g_target, wa);
    return !trap.failed() && ok;
}

// The pixmap named by the screenshot property of w, if it has one that still exists.
bool screenshot_on(Display *dpy, Window w, Atom property, Pixmap *pixmap, unsigned *width, unsigned *height)
{
    ErrorTrap trap(dpy);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    int r = XGetWindowProperty(dpy, w, property, 0, 1, False, XA_PIXMAP, &type, &format, &items, &after, &data);
    Pixmap pm = 0;
    if (r == Success && data && type == XA_PIXMAP && format == 32 && items == 1)
        pm = static_cast<Pixmap>(*reinterpret_cast<unsigned long *>(data));
    if (data) XFree(data);
    if (trap.failed() || !pm) return false;
    Window root;
    int x, y;
    unsigned border, depth;
    if (!XGetGeometry(dpy, pm, &root, &x, &y, width, height, &border, &depth) || trap.failed()) return false;
    *pixmap = pm;
    return true;
}

} // namespace

bool parse_window_id(const char *text, unsigned long *id)
{
    if (!text || !*text) return false;
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (!*text) return false;
    unsigned long long v = 0;
    for (const char *p = text; *p; p++) {
        int digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f')
            digit = *p - 'a' + 10;
        else if (base == 16 && *p >= 'A' && *p <= 'F')
            digit = *p - 'A' + 10;
        else
            return false;
        v = v * base + digit;
        if (v > 0xFFFFFFFFull) return false;
    }
    if (!v) return false;
    *id = static_cast<unsigned long>(v);
    return true;
}

EntryArguments read_entry_arguments(int argc, const char *const *argv, const char *xscreensaver_window,
                                    unsigned long (*root_window)())
{
    EntryArguments out;
    bool wants_root = false;
    for (int i = 1; i < argc; i++) {
        if (request_word(argv[i]) != EntryArguments::run) {
            if (out.request == EntryArguments::run) out.request = request_word(argv[i]);
        } else if (root_word(argv[i])) {
            out.embedded = true;
            wants_root = true;
        } else if (window_id_word(argv[i])) {
            out.embedded = true;
            wants_root = false;
            out.window = 0;
            if (i + 1 < argc) parse_window_id(argv[++i], &out.window);
        } else if (!platform::take_host_switch(argc, argv, &i, &out.host)) {
            if (!out.command_line.empty()) out.command_line += ' ';
            out.command_line += argv[i];
        }
    }
    if (!out.embedded) return out;
    // The daemon names the window it wants drawn on; without it, --root means the root itself.
    if (wants_root && !parse_window_id(xscreensaver_window, &out.window))
        out.window = root_window ? root_window() : 0;
    // Two blanks: a p or l switch ending the other arguments takes the two characters after its
    // letter as part of itself, and must not swallow the slash of the switch appended here.
    if (!out.command_line.empty()) out.command_line += "  ";
    out.command_line += "/p " + std::to_string(out.window);
    return out;
}

void embed_into(Window target) { g_target = target; }

Window embed_target() { return g_target; }

bool embed_target_size(int *width, int *height)
{
    XWindowAttributes wa;
    if (!target_attributes(&wa)) return false;
    *width = wa.width;
    *height = wa.height;
    return true;
}

bool embed_target_origin(int *x, int *y)
{
    XWindowAttributes wa;
    if (!target_attributes(&wa)) return false;
    Display *dpy = display();
    ErrorTrap trap(dpy);
    Window child;
    return XTranslateCoordinates(dpy, g_target, wa.root, 0, 0, x, y, &child) && !trap.failed();
}

namespace {

// Where the target's area starts in a picture of the given size: a picture of the whole screen
// holds it where the target lies; any other picture is taken to be of the target alone.
void target_offset(Display *dpy, unsigned width, unsigned height, int *x, int *y)
{
    *x = *y = 0;
    if (int(width) == DisplayWidth(dpy, DefaultScreen(dpy)) && int(height) == DisplayHeight(dpy, DefaultScreen(dpy)))
        embed_target_origin(x, y);
}

} // namespace

bool embed_screenshot(Pixmap *pixmap, int *x, int *y)
{
    Display *dpy = display();
    if (!dpy || !g_target) return false;
    Window root = DefaultRootWindow(dpy);
    Atom property = XInternAtom(dpy, "_SCREENSAVER_SCREENSHOT", False);
    unsigned width = 0, height = 0;
    if (!screenshot_on(dpy, g_target, property, pixmap, &width, &height) &&
        !screenshot_on(dpy, root, property, pixmap, &width, &height))
        return false;
    target_offset(dpy, width, height, x, y);
    return true;
}

bool desktop_wallpaper(Pixmap *pixmap, int *x, int *y)
{
    Display *dpy = display();
    if (!dpy) return false;
    Window root = DefaultRootWindow(dpy);
    unsigned width = 0, height = 0;
    for (const char *wallpaper : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) {
        if (!screenshot_on(dpy, root, XInternAtom(dpy, wallpaper, False), pixmap, &width, &height)) continue;
        *x = *y = 0;
        if (g_target) target_offset(dpy, width, height, x, y);
        return true;
    }
    return false;
}

namespace {

// Whether w is a window of the daemon (class XScreenSaver) or of its settings dialog, whose preview
// is a child of the dialog's window.
bool xscreensaver_window(Display *dpy, Window w)
{
    XClassHint hint = {nullptr, nullptr};
    if (!XGetClassHint(dpy, w, &hint)) return false;
    bool daemon = (hint.res_class && strcmp(hint.res_class, "XScreenSaver") == 0) ||
                  (hint.res_name && strcmp(hint.res_name, "xscreensaver-settings") == 0);
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return daemon;
}

} // namespace

bool embed_started_by_xscreensaver()
{
    Display *dpy = display();
    if (!dpy || !g_target) return false;
    ErrorTrap trap(dpy);
    Window root = DefaultRootWindow(dpy);
    bool daemon = false;
    Window w = g_target;
    for (int depth = 0; !daemon && w && w != root && depth < 32; depth++) {
        daemon = xscreensaver_window(dpy, w);
        Window r, parent = 0, *children = nullptr;
        unsigned n = 0;
        if (!XQueryTree(dpy, w, &r, &parent, &children, &n)) parent = 0;
        if (children) XFree(children);
        w = parent;
    }
    // Older daemons mark their windows, or the root, with their version instead.
    Atom version = XInternAtom(dpy, "_SCREENSAVER_VERSION", False);
    for (Window marked : {g_target, root}) {
        int count = 0;
        Atom *props = daemon ? nullptr : XListProperties(dpy, marked, &count);
        for (int i = 0; i < count; i++) daemon = daemon || props[i] == version;
        if (props) XFree(props);
    }
    trap.failed();
    return daemon;
}

void embed_watch_target()
{
    Display *dpy = display();
    if (!dpy || !g_target) return;
    ErrorTrap trap(dpy);
    XSelectInput(dpy, g_target, StructureNotifyMask);
    trap.failed();
}

} // namespace x11
