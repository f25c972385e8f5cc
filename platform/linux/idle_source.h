// Where the idle watcher (tidefold --idle) learns that nobody is using the session, and whether
// something holds the session awake. Each source speaks to one kind of session. Internal to
// platform/linux and its tests.
#pragma once

#include <memory>

namespace platform {

enum class IdleWake { idle, active, timeout, stop, lost };

class IdleSource {
public:
    virtual ~IdleSource() = default;
    // Waits until the session has been idle for the source's time (want_idle), or until it is in
    // use again after having been idle (!want_idle), for at most timeout_ms (-1: no limit), or
    // until stop_fd becomes readable. Gives what ended the wait (idle or active: the state asked for).
    virtual IdleWake wait(bool want_idle, int timeout_ms, int stop_fd) = 0;
    virtual const char *name() const = 0;
};

// A source of type Source made for timeout_ms, if it connects; null otherwise.
template <class Source> std::unique_ptr<IdleSource> connected_idle_source(unsigned timeout_ms)
{
    auto source = std::make_unique<Source>(timeout_ms);
    if (!source->connect()) return nullptr;
    return source;
}

// Wayland's idle notification (ext_idle_notifier_v1, else KDE's org_kde_kwin_idle); null when the
// session has no Wayland compositor offering either.
std::unique_ptr<IdleSource> wayland_idle_source(unsigned timeout_ms);
// GNOME's idle monitor on the session bus (org.gnome.Mutter.IdleMonitor); null without it.
std::unique_ptr<IdleSource> mutter_idle_source(unsigned timeout_ms);
// The X server's idle time (MIT-SCREEN-SAVER); null without an X display offering it.
std::unique_ptr<IdleSource> x11_idle_source(unsigned timeout_ms);

// Whether something holds the session awake (a video playing, say): GNOME's session manager's
// inhibitors of idleness, KDE's power management (which also keeps the org.freedesktop.ScreenSaver
// inhibitions). False where the session offers neither.
bool idle_inhibited();

} // namespace platform
