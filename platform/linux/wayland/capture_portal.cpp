// Photographs through the desktop portal's Screenshot (GNOME, KDE and others without screencopy):
// a non-interactive screenshot of the whole desktop, answered on a request object, then cropped.
#include "capture_internal.h"

#include <atomic>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>

namespace wl::capture {
namespace {

const char kPortalName[] = "org.freedesktop.portal.Desktop";
const char kPortalPath[] = "/org/freedesktop/portal/desktop";

// The session bus's address, or empty when there is none (no autolaunch: that could start a bus).
std::string session_bus_address()
{
    const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address)
        return address;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime)
        return {};
    const std::string socket = std::string(runtime) + "/bus";
    struct stat st;
    if (stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode))
        return {};
    gchar *escaped = g_dbus_address_escape_value(socket.c_str());
    std::string result = std::string("unix:path=") + escaped;
    g_free(escaped);
    return result;
}

// One screenshot request, driven on a private main context so nothing else runs meanwhile.
struct Request {
    GMainContext *context = nullptr;
    GCancellable *cancellable = nullptr;
    GDBusConnection *bus = nullptr;
    guint subscription = 0;
    std::string request_path;
    int pending = 0;  // asynchronous calls whose callbacks have not run yet
    bool connected = false, called = false, responded = false, timed_out = false;
    guint32 response = 2;
    std::string uri;
};


gboolean on_timeout(gpointer data)
{
    static_cast<Request *>(data)->timed_out = true;
    return G_SOURCE_REMOVE;
}

void on_connected(GObject *, GAsyncResult *result, gpointer data)
{
    auto *r = static_cast<Request *>(data);
    --r->pending;
    r->bus = g_dbus_connection_new_for_address_finish(result, nullptr);
    r->connected = true;
}

void on_response(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *, GVariant *parameters,
                 gpointer data)
{
    auto *r = static_cast<Request *>(data);
    if (r->responded || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})")))
        return;
    GVariant *results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &r->response, &results);
    const gchar *uri = nullptr;
    if (g_variant_lookup(results, "uri", "&s", &uri))
        r->uri = uri;
    g_variant_unref(results);
    r->responded = true;
}

void subscribe(Request *r, const std::string &path)
{
    if (r->subscription)
        g_dbus_connection_signal_unsubscribe(r->bus, r->subscription);
    r->request_path = path;
    r->subscription = g_dbus_connection_signal_subscribe(r->bus, kPortalName, "org.freedesktop.portal.Request",
                                                         "Response", path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                         on_response, r, nullptr);
}

void on_called(GObject *bus, GAsyncResult *result, gpointer data)
{
    auto *r = static_cast<Request *>(data);
    --r->pending;
    GVariant *reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, nullptr);
    if (!reply)
        return;
    const gchar *handle = nullptr;
    g_variant_get(reply, "(&o)", &handle);
    // Portals before version 0.9 chose the request path themselves.
    if (r->request_path != handle)
        subscribe(r, handle);
    g_variant_unref(reply);
    r->called = true;
}

// A token that is unique in this process and valid as the last element of an object path.
std::string next_token()
{
    static std::atomic<unsigned> counter{0};
    return "tidefold_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
}

// The request object's path the portal will use: the caller's unique name without its colon and
// with dots as underscores, then the token.
std::string request_path_for(GDBusConnection *bus, const std::string &token)
{
    std::string sender = g_dbus_connection_get_unique_name(bus);
    if (!sender.empty() && sender[0] == ':')
        sender.erase(0, 1);
    for (char &c : sender)
        if (c == '.')
            c = '_';
    return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

void call_screenshot(Request *r, int timeout_ms)
{
    const std::string token = next_token();
    subscribe(r, request_path_for(r->bus, token));
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "interactive", g_variant_new_boolean(FALSE));
    ++r->pending;
    g_dbus_connection_call(r->bus, kPortalName, kPortalPath, "org.freedesktop.portal.Screenshot", "Screenshot",
                           g_variant_new("(sa{sv})", "", &options), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
                           timeout_ms, r->cancellable, on_called, r);
}

// Asks the portal for a screenshot; the URI of the file it wrote, or empty.
std::string request_screenshot(const std::string &address)
{
    Request r;
    r.context = g_main_context_new();
    r.cancellable = g_cancellable_new();
    g_main_context_push_thread_default(r.context);
    GSource *timeout = g_timeout_source_new(guint(kPortalTimeout.count()));
    g_source_set_callback(timeout, on_timeout, &r, nullptr);
    g_source_attach(timeout, r.context);

    ++r.pending;
    g_dbus_connection_new_for_address(address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, r.cancellable, on_connected, &r);
    while (!r.connected && !r.timed_out)
        g_main_context_iteration(r.context, TRUE);
    if (r.bus) {
        call_screenshot(&r, int(kPortalTimeout.count()));
        // A failed call leaves nothing pending and no answer coming.
        while (!r.responded && !r.timed_out && (r.pending > 0 || r.called))
            g_main_context_iteration(r.context, TRUE);
    }

    // Let every cancelled call finish before the context and the request go away.
    g_cancellable_cancel(r.cancellable);
    while (r.pending > 0)
        g_main_context_iteration(r.context, TRUE);
    g_source_destroy(timeout);
    g_source_unref(timeout);
    if (r.bus) {
        if (r.subscription)
            g_dbus_connection_signal_unsubscribe(r.bus, r.subscription);
        g_dbus_connection_close_sync(r.bus, nullptr, nullptr);
        g_object_unref(r.bus);
    }
    g_main_context_pop_thread_default(r.context);
    g_object_unref(r.cancellable);
    // Signal-subscription teardown is dispatched on the context; run what is left before freeing it.
    while (g_main_context_iteration(r.context, FALSE)) {
    }
    g_main_context_unref(r.context);
    return r.responded && r.response == 0 ? r.uri : std::string();
}

}

bool photograph_by_portal(const CaptureGlobals &g, int x, int y, int width, int height, Photo *out)
{
    const std::string address = session_bus_address();
    if (address.empty())
        return false;
    const std::string uri = request_screenshot(address);
    gchar *path = uri.empty() ? nullptr : g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    if (!path)
        return false;
    GdkPixbuf *picture = gdk_pixbuf_new_from_file(path, nullptr);
    // The screenshot was taken for us alone: do not leave it among the user's pictures.
    unlink(path);
    g_free(path);
    if (!picture)
        return false;
    const bool ok = gdk_pixbuf_get_bits_per_sample(picture) == 8 &&
        crop_desktop_picture({gdk_pixbuf_read_pixels(picture), gdk_pixbuf_get_width(picture),
                              gdk_pixbuf_get_height(picture), gdk_pixbuf_get_rowstride(picture),
                              gdk_pixbuf_get_n_channels(picture)},
                             g, x, y, width, height, out);
    g_object_unref(picture);
    return ok;
}

}
