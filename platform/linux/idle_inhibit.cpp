// Whether something holds the session awake, asked of the services that keep the inhibitions:
// GNOME's session manager (which also holds the org.freedesktop.ScreenSaver ones there) and KDE's
// power management (likewise in Plasma). Neither is started for the question.
#include "idle_source.h"
#include "session_bus.h"

#include <gio/gio.h>

namespace platform {
namespace {

// GNOME's session manager's flag for inhibitors of the session being marked idle.
constexpr guint32 kInhibitIdle = 8;

bool ask(GDBusConnection *bus, const char *name, const char *path, const char *interface, const char *method,
         GVariant *args)
{
    GVariant *reply = g_dbus_connection_call_sync(bus, name, path, interface, method, args, G_VARIANT_TYPE("(b)"),
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, 1000, nullptr, nullptr);
    if (!reply) return false;
    gboolean yes = FALSE;
    g_variant_get(reply, "(b)", &yes);
    g_variant_unref(reply);
    return yes;
}

} // namespace

bool idle_inhibited()
{
    GDBusConnection *bus = open_session_bus();
    if (!bus) return false;
    const bool inhibited =
        ask(bus, "org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager", "IsInhibited",
            g_variant_new("(u)", kInhibitIdle)) ||
        ask(bus, "org.freedesktop.PowerManagement", "/org/freedesktop/PowerManagement/Inhibit",
            "org.freedesktop.PowerManagement.Inhibit", "HasInhibit", nullptr);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return inhibited;
}

} // namespace platform
