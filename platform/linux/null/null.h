// The null backend: no display server. Windows exist and get their messages, and what a server
// would report comes from the test, through the core's input_ calls and surface_closed. It makes
// the rules of window_core.h testable once for both real backends. Internal to platform/linux and
// its tests.
#pragma once

#include "backend.h"

namespace null {

// How often the pointer over our windows was told to follow the cursor count.
int cursor_changes();
// Forgets every window, queued message and the core's counts (each test starts afresh).
void shutdown();

} // namespace null
