// Photographs through the desktop portal's Screenshot (GNOME and others without screencopy): a
// non-interactive screenshot of the whole desktop, answered on a request object, then cropped.
// The saver asks only when the portal's permission store already allows it: otherwise the portal
// puts its question over the saver, or waits for a backend that never answers, with the desktop
// showing meanwhile.
#include "capture_internal.h"

#include "session_bus.h"

#include <atomic>
#include <cstring>
#include <string>
#include <unistd.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>

namespace wl::capture {
namespace {

const char kPortalName[] = "org.freedesktop.portal.Desktop";
const char kPortalPath[] = "/org/freedesktop/portal/desktop";
const char kStoreName[] = "org.freedesktop.impl.portal.PermissionStore";
const char kStorePath[] = "/org/freedesktop/impl/portal/PermissionStore";
// Programs outside a sandbox share one entry in the store, under the empty application id.
const char kUnsandboxed[] = "";

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

// Runs the request's context until done(r), or until ms have passed; false on timeout.
template <typename Done> bool run_until(Request *r, Done done, std::chrono::milliseconds ms)
{
    r->timed_out = false;
    GSource *timeout = g_timeout_source_new(guint(ms.count()));
    g_source_set_callback(timeout, on_timeout, r, nullptr);
    g_source_attach(timeout, r->context);
    while (!done(*r) && !r->timed_out)
        g_main_context_iteration(r->context, TRUE);
    g_source_destroy(timeout);
    g_source_unref(timeout);
    return done(*r);
}

// Asks the portal for a screenshot, the call and then its answer each given as long as waits
// says; the URI of the file it wrote, or empty.
std::string request_screenshot(const std::string &address, PortalWaits waits)
{
    Request r;
    r.context = g_main_context_new();
    r.cancellable = g_cancellable_new();
    g_main_context_push_thread_default(r.context);

    ++r.pending;
    g_dbus_connection_new_for_address(address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, r.cancellable, on_connected, &r);
    run_until(&r, [](const Request &q) { return q.connected; }, waits.call);
    if (r.bus) {
        call_screenshot(&r, int(waits.call.count()));
        // The call is taken once it gives the request's handle; a failed call leaves nothing
        // pending and no answer coming.
        run_until(&r, [](const Request &q) { return q.responded || q.called || q.pending == 0; }, waits.call);
        if (r.called)
            run_until(&r, [](const Request &q) { return q.responded; }, waits.answer);
    }

    // Let every cancelled call finish before the context and the request go away.
    g_cancellable_cancel(r.cancellable);
    while (r.pending > 0)
        g_main_context_iteration(r.context, TRUE);
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

ScreenshotPermission screenshot_permission(GDBusConnection *bus)
{
    GVariant *reply = g_dbus_connection_call_sync(bus, kStoreName, kStorePath, kStoreName, "Lookup",
                                                  g_variant_new("(ss)", "screenshot", "screenshot"),
                                                  G_VARIANT_TYPE("(a{sas}v)"), G_DBUS_CALL_FLAGS_NONE,
                                                  int(kPortalCallTimeout.count()), nullptr, nullptr);
    if (!reply)
        return ScreenshotPermission::unset;  // no store, or no entry for screenshots yet
    GVariant *table = g_variant_get_child_value(reply, 0);
    const gchar **values = nullptr;
    ScreenshotPermission result = ScreenshotPermission::unset;
    if (g_variant_lookup(table, kUnsandboxed, "^a&s", &values)) {
        result = values[0] && !std::strcmp(values[0], "yes") ? ScreenshotPermission::yes : ScreenshotPermission::no;
        g_free(values);
    }
    g_variant_unref(table);
    g_variant_unref(reply);
    return result;
}

bool forget_screenshot_permission(GDBusConnection *bus)
{
    GVariant *reply = g_dbus_connection_call_sync(bus, kStoreName, kStorePath, kStoreName, "DeletePermission",
                                                  g_variant_new("(sss)", "screenshot", "screenshot", kUnsandboxed),
                                                  nullptr, G_DBUS_CALL_FLAGS_NONE, int(kPortalCallTimeout.count()),
                                                  nullptr, nullptr);
    if (reply)
        g_variant_unref(reply);
    return reply != nullptr;
}

std::string portal_screenshot_file(PortalWaits waits)
{
    const std::string address = platform::session_bus_address();
    const std::string uri = address.empty() ? std::string() : request_screenshot(address, waits);
    gchar *path = uri.empty() ? nullptr : g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    std::string result = path ? path : "";
    g_free(path);
    return result;
}

bool photograph_by_portal(const CaptureGlobals &g, int x, int y, int width, int height, Photo *out)
{
    GDBusConnection *bus = platform::open_session_bus();
    if (!bus)
        return false;
    const bool allowed = screenshot_permission(bus) == ScreenshotPermission::yes;
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    if (!allowed)
        return false;
    const std::string path = portal_screenshot_file({kPortalCallTimeout, kPortalAnswerTimeout});
    if (path.empty())
        return false;
    GdkPixbuf *picture = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
    // The screenshot was taken for us alone: do not leave it among the user's pictures.
    unlink(path.c_str());
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
