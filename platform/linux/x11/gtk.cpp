// GTK for the dialogs, on the X display the windows use, with each display's Xlib errors kept apart.
#include "x11.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <unistd.h>

namespace x11 {
namespace {

Display *gdk_xdisplay;
XErrorHandler gdk_error_handler;
XErrorHandler outer_error_handler;
XIOErrorHandler gdk_io_error_handler;
XIOErrorHandler outer_io_error_handler;

// GDK installs process-wide Xlib error handlers that ignore errors on displays it did not open.
// These send each display's errors to its own handler, so the window layer's connection keeps
// recording failures instead of losing them.
// A handler installed after ours may chain back to us for displays it does not know; the guard
// stops that from going round in circles.
int chained_error_handler(Display *dpy, XErrorEvent *ev)
{
    static bool inside;
    if (inside) return 0;
    inside = true;
    int r = 0;
    if (dpy == gdk_xdisplay) r = gdk_error_handler ? gdk_error_handler(dpy, ev) : 0;
    else if (outer_error_handler) r = outer_error_handler(dpy, ev);
    inside = false;
    return r;
}

int chained_io_error_handler(Display *dpy)
{
    static bool inside;
    // The dialog cannot go on without its display; GDK's own handler would end the process too,
    // but with a note of its own.
    if (dpy == gdk_xdisplay) {
        report_lost_display();
        _exit(1);
    }
    if (inside || !outer_io_error_handler) return gdk_io_error_handler(dpy);
    inside = true;
    int r = outer_io_error_handler(dpy);
    inside = false;
    return r;
}

} // namespace

// GTK on the X display, with each display's Xlib errors kept apart. False when it cannot open.
bool open_gtk()
{
    gdk_set_allowed_backends("x11");
    XErrorHandler before = XSetErrorHandler(nullptr);
    XErrorHandler xlib_default = XSetErrorHandler(before);
    XIOErrorHandler io_before = XSetIOErrorHandler(nullptr);
    XIOErrorHandler io_default = XSetIOErrorHandler(io_before);
    if (!gtk_init_check(nullptr, nullptr)) {
        XSetErrorHandler(before);
        XSetIOErrorHandler(io_before);
        return false;
    }
    gdk_xdisplay = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    gdk_error_handler = XSetErrorHandler(chained_error_handler);
    outer_error_handler = before == xlib_default ? nullptr : before;
    gdk_io_error_handler = XSetIOErrorHandler(chained_io_error_handler);
    outer_io_error_handler = io_before == io_default ? nullptr : io_before;
    return true;
}

unsigned long dialog_window_id(void *gdk_window) { return gdk_x11_window_get_xid(static_cast<GdkWindow *>(gdk_window)); }

} // namespace x11
