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

namespace {

// The connection being made, shared with its callback: a connection that comes after the wait was
// given up is let go there.
struct PendingBus {
    GDBusConnection *bus = nullptr;
    bool done = false;
    bool abandoned = false;
};

void bus_made(GObject *, GAsyncResult *result, gpointer data)
{
    auto *pending = static_cast<PendingBus *>(data);
    GDBusConnection *bus = g_dbus_connection_new_for_address_finish(result, nullptr);
    if (pending->abandoned) {
        if (bus) g_object_unref(bus);
        delete pending;
        return;
    }
    pending->bus = bus;
    pending->done = true;
}

// A bus that did not answer in time is not waited for again soon: one photograph asks for it
// from more than one source.
std::string g_silent_address;
gint64 g_silent_until_us = 0;

gboolean give_up(gpointer data)
{
    *static_cast<bool *>(data) = true;
    return G_SOURCE_REMOVE;
}

} // namespace

GDBusConnection *open_session_bus(int timeout_ms)
{
    const std::string address = session_bus_address();
    if (address.empty()) return nullptr;
    if (address == g_silent_address && g_get_monotonic_time() < g_silent_until_us) return nullptr;
    // Connecting and authenticating run in GIO's worker thread; a bus that takes the connection but
    // never answers would hold a blocking connect for ever, so the wait here has an end.
    GMainContext *context = g_main_context_new();
    g_main_context_push_thread_default(context);
    auto *pending = new PendingBus;
    g_dbus_connection_new_for_address(address.c_str(),
                                      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                           G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                      nullptr, nullptr, bus_made, pending);
    bool timed_out = false;
    GSource *timer = g_timeout_source_new(static_cast<guint>(timeout_ms));
    g_source_set_callback(timer, give_up, &timed_out, nullptr);
    g_source_attach(timer, context);
    while (!pending->done && !timed_out) g_main_context_iteration(context, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
    g_main_context_pop_thread_default(context);
    GDBusConnection *bus = pending->bus;
    if (pending->done)
        delete pending;
    else
        pending->abandoned = true; // the callback, should it ever run, lets the connection go
    if (timed_out && !bus) {
        g_silent_address = address;
        g_silent_until_us = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
    }
    g_main_context_unref(context);
    return bus;
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
