// The user's D-Bus session bus, reached through GIO.
#include "session_bus.h"

#include <cstdlib>
#include <sys/stat.h>

#include <gio/gio.h>

namespace platform {

std::string session_bus_address()
{
    const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return address;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime) return {};
    const std::string socket = std::string(runtime) + "/bus";
    struct stat st;
    if (stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return {};
    gchar *escaped = g_dbus_address_escape_value(socket.c_str());
    std::string result = std::string("unix:path=") + escaped;
    g_free(escaped);
    return result;
}

GDBusConnection *open_session_bus()
{
    const std::string address = session_bus_address();
    if (address.empty()) return nullptr;
    return g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
}

bool bus_name_has_owner(GDBusConnection *bus, const char *name, int timeout_ms)
{
    GVariant *reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", name),
                                                  G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, timeout_ms, nullptr,
                                                  nullptr);
    if (!reply) return false;
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned;
}

} // namespace platform
