// GTK for the dialogs on the compositor the windows use: GTK's own Wayland backend, with no X11
// call at all (GDK ends the process itself with status 1 if the compositor goes away).
#include "wayland.h"

#include <gtk/gtk.h>

namespace wl {

bool open_gtk()
{
    gdk_set_allowed_backends("wayland");
    return gtk_init_check(nullptr, nullptr);
}

} // namespace wl
