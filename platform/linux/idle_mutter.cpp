// The idle watcher's source in GNOME: mutter's idle monitor on the session bus. An idle watch fires
// each time the user has been idle for the time; a user-active watch, set once idle, fires once
// when the user is back.
#include "idle_source.h"
#include "session_bus.h"

#include <gio/gio.h>
#include <glib-unix.h>
#include <poll.h>

namespace platform {
namespace {

const char kMonitorName[] = "org.gnome.Mutter.IdleMonitor";
const char kMonitorPath[] = "/org/gnome/Mutter/IdleMonitor/Core";

class MutterIdle : public IdleSource {
public:
    explicit MutterIdle(unsigned timeout_ms) : timeout_ms_(timeout_ms) {}
    ~MutterIdle() override;
    bool connect();
    IdleWake wait(bool want_idle, int timeout_ms, int stop_fd) override;
    const char *name() const override { return "GNOME's idle monitor"; }

private:
    // Adds a watch by method (AddIdleWatch with its time, or AddUserActiveWatch); its id, 0 on failure.
    guint add_watch(const char *method, GVariant *args);
    static void on_watch_fired(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *,
                               GVariant *parameters, gpointer data);
    static gboolean on_deadline(gpointer data);
    static gboolean on_stop(gint, GIOCondition, gpointer data);

    unsigned timeout_ms_;
    GMainContext *context_ = nullptr;
    GDBusConnection *bus_ = nullptr;
    guint subscription_ = 0, idle_watch_ = 0, active_watch_ = 0;
    bool idle_ = false, lost_ = false, woken_ = false;
};

guint MutterIdle::add_watch(const char *method, GVariant *args)
{
    GVariant *reply = g_dbus_connection_call_sync(bus_, kMonitorName, kMonitorPath, kMonitorName, method, args,
                                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000,
                                                  nullptr, nullptr);
    if (!reply) return 0;
    guint id = 0;
    g_variant_get(reply, "(u)", &id);
    g_variant_unref(reply);
    return id;
}

void MutterIdle::on_watch_fired(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *,
                                GVariant *parameters, gpointer data)
{
    auto *self = static_cast<MutterIdle *>(data);
    guint id = 0;
    g_variant_get(parameters, "(u)", &id);
    if (id == self->idle_watch_ && !self->idle_) {
        self->idle_ = true;
        // Asked for now, so that coming back is heard of even while the saver runs.
        self->active_watch_ = self->add_watch("AddUserActiveWatch", nullptr);
        if (!self->active_watch_) self->lost_ = true;
    } else if (id == self->active_watch_ && id) {
        self->idle_ = false;
        self->active_watch_ = 0;
    }
}

bool MutterIdle::connect()
{
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    bus_ = open_session_bus();
    bool ok = bus_ && bus_name_has_owner(bus_, kMonitorName, 2000);
    if (ok) {
        subscription_ = g_dbus_connection_signal_subscribe(bus_, kMonitorName, kMonitorName, "WatchFired",
                                                           kMonitorPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                           on_watch_fired, this, nullptr);
        idle_watch_ = add_watch("AddIdleWatch", g_variant_new("(t)", guint64(timeout_ms_)));
        ok = idle_watch_ != 0;
    }
    g_main_context_pop_thread_default(context_);
    return ok;
}

MutterIdle::~MutterIdle()
{
    if (bus_) {
        if (subscription_) g_dbus_connection_signal_unsubscribe(bus_, subscription_);
        g_dbus_connection_close_sync(bus_, nullptr, nullptr);
        g_object_unref(bus_);
    }
    if (context_) {
        while (g_main_context_iteration(context_, FALSE)) {
        }
        g_main_context_unref(context_);
    }
}

gboolean MutterIdle::on_deadline(gpointer data)
{
    static_cast<MutterIdle *>(data)->woken_ = true;
    return G_SOURCE_REMOVE;
}

gboolean MutterIdle::on_stop(gint, GIOCondition, gpointer data)
{
    static_cast<MutterIdle *>(data)->woken_ = true;
    return G_SOURCE_REMOVE;
}

IdleWake MutterIdle::wait(bool want_idle, int timeout_ms, int stop_fd)
{
    woken_ = false;
    GSource *deadline = nullptr;
    if (timeout_ms >= 0) {
        deadline = g_timeout_source_new(guint(timeout_ms));
        g_source_set_callback(deadline, on_deadline, this, nullptr);
        g_source_attach(deadline, context_);
    }
    GSource *stop = g_unix_fd_source_new(stop_fd, G_IO_IN);
    g_source_set_callback(stop, G_SOURCE_FUNC(on_stop), this, nullptr);
    g_source_attach(stop, context_);
    while (idle_ != want_idle && !woken_ && !lost_ && !g_dbus_connection_is_closed(bus_))
        g_main_context_iteration(context_, TRUE);
    g_source_destroy(stop);
    g_source_unref(stop);
    if (deadline) {
        g_source_destroy(deadline);
        g_source_unref(deadline);
    }
    if (idle_ == want_idle) return want_idle ? IdleWake::idle : IdleWake::active;
    if (lost_ || g_dbus_connection_is_closed(bus_)) return IdleWake::lost;
    pollfd stop_ready = {stop_fd, POLLIN, 0};
    return poll(&stop_ready, 1, 0) > 0 ? IdleWake::stop : IdleWake::timeout;
}

} // namespace

std::unique_ptr<IdleSource> mutter_idle_source(unsigned timeout_ms)
{
    return connected_idle_source<MutterIdle>(timeout_ms);
}

} // namespace platform
