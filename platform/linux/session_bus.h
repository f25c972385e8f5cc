// The user's D-Bus session bus, for the desktop services the saver and its idle watcher talk to
// (the screenshot portal and its permission store, the compositor's screenshot and idle services).
// Internal to platform/linux and its tests.
#pragma once

#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace platform {

// The session bus's address, or empty when there is none. No autolaunch: that could start a bus.
std::string session_bus_address();

// A private connection to the session bus (so that nothing else dispatches on it), or null when
// there is none or it has not answered within timeout_ms.
GDBusConnection *open_session_bus(int timeout_ms = 1000);

// Whether a bus name has an owner (false on any error).
bool bus_name_has_owner(GDBusConnection *bus, const char *name, int timeout_ms);

} // namespace platform
