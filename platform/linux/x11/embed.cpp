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

bool target_attributes(XWindowAttributes *wa)
{
    Display *dpy = display();
    if (!dpy || !g_state.embed_target) return false;
    ErrorTrap trap(dpy);
    Status ok = XGetWindowAttributes(dpy, g_state.embed_target, wa);
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

void embed_into(Window target) { g_state.embed_target = target; }

Window embed_target() { return g_state.embed_target; }

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
    return XTranslateCoordinates(dpy, g_state.embed_target, wa.root, 0, 0, x, y, &child) && !trap.failed();
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
    if (!dpy || !g_state.embed_target) return false;
    Window root = DefaultRootWindow(dpy);
    Atom property = XInternAtom(dpy, "_SCREENSAVER_SCREENSHOT", False);
    unsigned width = 0, height = 0;
    if (!screenshot_on(dpy, g_state.embed_target, property, pixmap, &width, &height) &&
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
        if (g_state.embed_target) target_offset(dpy, width, height, x, y);
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
    if (!dpy || !g_state.embed_target) return false;
    ErrorTrap trap(dpy);
    Window root = DefaultRootWindow(dpy);
    bool daemon = false;
    Window w = g_state.embed_target;
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
    for (Window marked : {g_state.embed_target, root}) {
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
    if (!dpy || !g_state.embed_target) return;
    ErrorTrap trap(dpy);
    XSelectInput(dpy, g_state.embed_target, StructureNotifyMask);
    trap.failed();
}

} // namespace x11
