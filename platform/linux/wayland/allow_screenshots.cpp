// tidefold --allow-screenshots: the portal asks its question about screenshots the first time a
// program outside a sandbox wants one without a dialog, and keeps the answer in its permission
// store. Asked from here, the question comes while the user is at the desktop to answer it, never
// over the saver.
#include "capture_internal.h"
#include "session_bus.h"
#include "session_commands.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

#include <gio/gio.h>

namespace platform {

using wl::capture::ScreenshotPermission;

int allow_screenshots()
{
    GDBusConnection *bus = open_session_bus();
    if (!bus) {
        fputs("tidefold: no D-Bus session bus, so no desktop portal to ask\n", stderr);
        return 1;
    }
    ScreenshotPermission before = wl::capture::screenshot_permission(bus);
    // An earlier "no" (Escape on the portal's question, say) would be the answer for good: asked
    // for by name, the question comes again.
    if (before == ScreenshotPermission::no && !wl::capture::forget_screenshot_permission(bus))
        fputs("tidefold: the portal's permission store keeps its earlier \"no\"\n", stderr);
    if (before != ScreenshotPermission::yes) {
        puts("tidefold: asking the desktop whether Tidefold may take screenshots; answer the question on the screen");
        fflush(stdout);
        // The question waits for the user; the portal may have to start first.
        const std::string file = wl::capture::portal_screenshot_file({std::chrono::seconds(10), std::chrono::minutes(5)});
        if (!file.empty()) unlink(file.c_str());
    }
    ScreenshotPermission after = wl::capture::screenshot_permission(bus);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    if (after == ScreenshotPermission::yes) {
        puts("tidefold: screenshots are allowed; the saver ripples a photograph of the desktop");
        return 0;
    }
    fputs("tidefold: screenshots are not allowed; the saver shows no photograph of the desktop\n", stderr);
    return 1;
}

} // namespace platform
