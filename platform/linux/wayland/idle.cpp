// The idle watcher's source on Wayland: the compositor's idle notification on the first seat,
// through a connection of its own. Idle inhibitors (a video playing) are already applied by the
// compositor: it does not say idle while one is active.
#include "idle_source.h"

#include <cerrno>
#include <cstring>
#include <poll.h>

#include <wayland-client.h>

#include "ext-idle-notify-v1-client.h"
#include "kde-idle-client.h"

namespace platform {
namespace {

class WaylandIdle : public IdleSource {
public:
    explicit WaylandIdle(unsigned timeout_ms) : timeout_ms_(timeout_ms) {}
    ~WaylandIdle() override;
    bool connect();
    IdleWake wait(bool want_idle, int timeout_ms, int stop_fd) override;
    const char *name() const override { return notifier_ ? "Wayland idle notification" : "KDE's Wayland idle timeout"; }

private:
    static void on_global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version);
    static void on_global_remove(void *, wl_registry *, uint32_t) {}
    static void on_idled(void *data, ext_idle_notification_v1 *) { static_cast<WaylandIdle *>(data)->idle_ = true; }
    static void on_resumed(void *data, ext_idle_notification_v1 *) { static_cast<WaylandIdle *>(data)->idle_ = false; }
    static void on_kde_idle(void *data, org_kde_kwin_idle_timeout *) { static_cast<WaylandIdle *>(data)->idle_ = true; }
    static void on_kde_resumed(void *data, org_kde_kwin_idle_timeout *) { static_cast<WaylandIdle *>(data)->idle_ = false; }

    unsigned timeout_ms_;
    bool idle_ = false;
    wl_display *display_ = nullptr;
    wl_registry *registry_ = nullptr;
    wl_seat *seat_ = nullptr;
    ext_idle_notifier_v1 *notifier_ = nullptr;
    ext_idle_notification_v1 *notification_ = nullptr;
    org_kde_kwin_idle *kde_idle_ = nullptr;
    org_kde_kwin_idle_timeout *kde_timeout_ = nullptr;
};

void WaylandIdle::on_global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    auto *self = static_cast<WaylandIdle *>(data);
    if (!strcmp(interface, wl_seat_interface.name) && !self->seat_)
        self->seat_ = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (!strcmp(interface, ext_idle_notifier_v1_interface.name) && !self->notifier_)
        self->notifier_ =
            static_cast<ext_idle_notifier_v1 *>(wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
    else if (!strcmp(interface, org_kde_kwin_idle_interface.name) && !self->kde_idle_)
        self->kde_idle_ = static_cast<org_kde_kwin_idle *>(wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
}

bool WaylandIdle::connect()
{
    display_ = wl_display_connect(nullptr);
    if (!display_) return false;
    static const wl_registry_listener registry_listener = {on_global, on_global_remove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &registry_listener, this);
    if (wl_display_roundtrip(display_) < 0 || !seat_) return false;
    if (notifier_) {
        static const ext_idle_notification_v1_listener listener = {on_idled, on_resumed};
        notification_ = ext_idle_notifier_v1_get_idle_notification(notifier_, timeout_ms_, seat_);
        ext_idle_notification_v1_add_listener(notification_, &listener, this);
    } else if (kde_idle_) {
        static const org_kde_kwin_idle_timeout_listener listener = {on_kde_idle, on_kde_resumed};
        kde_timeout_ = org_kde_kwin_idle_get_idle_timeout(kde_idle_, seat_, timeout_ms_);
        org_kde_kwin_idle_timeout_add_listener(kde_timeout_, &listener, this);
    } else {
        return false;
    }
    return wl_display_roundtrip(display_) >= 0;
}

WaylandIdle::~WaylandIdle()
{
    if (!display_) return;
    if (notification_) ext_idle_notification_v1_destroy(notification_);
    if (notifier_) ext_idle_notifier_v1_destroy(notifier_);
    if (kde_timeout_) org_kde_kwin_idle_timeout_release(kde_timeout_);
    if (kde_idle_) org_kde_kwin_idle_destroy(kde_idle_);
    if (seat_) wl_seat_destroy(seat_);
    if (registry_) wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
}

IdleWake WaylandIdle::wait(bool want_idle, int timeout_ms, int stop_fd)
{
    for (;;) {
        if (wl_display_dispatch_pending(display_) < 0) return IdleWake::lost;
        if (idle_ == want_idle) return want_idle ? IdleWake::idle : IdleWake::active;
        while (wl_display_prepare_read(display_) != 0)
            if (wl_display_dispatch_pending(display_) < 0) return IdleWake::lost;
        wl_display_flush(display_);
        pollfd fds[2] = {{wl_display_get_fd(display_), POLLIN, 0}, {stop_fd, POLLIN, 0}};
        const int ready = poll(fds, 2, timeout_ms);
        if (ready <= 0 || !(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            wl_display_cancel_read(display_);
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0) return IdleWake::timeout;
            if (fds[1].revents) return IdleWake::stop;
            if (ready < 0) return IdleWake::lost;
            continue;
        }
        if (wl_display_read_events(display_) < 0) return IdleWake::lost;
        if (fds[1].revents) return IdleWake::stop;
    }
}

} // namespace

std::unique_ptr<IdleSource> wayland_idle_source(unsigned timeout_ms)
{
    return connected_idle_source<WaylandIdle>(timeout_ms);
}

} // namespace platform
