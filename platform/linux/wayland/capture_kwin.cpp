// Photographs through KWin's own screenshot service (org.kde.KWin.ScreenShot2), which KDE Plasma
// offers in place of screencopy: the area's pixels come back raw through a pipe we pass. KWin
// serves only programs whose installed desktop entry names the interface in
// X-KDE-DBUS-Restricted-Interfaces, found by the path of the running executable.
#include "capture_internal.h"
#include "session_bus.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <wayland-client.h>

namespace wl::capture {
namespace {

const char kKWinName[] = "org.kde.KWin";

// The wl_shm format that lays out a QImage format's pixels the same way in memory.
bool shm_format_of_qimage(uint32_t qimage_format, uint32_t *format)
{
    switch (qimage_format) {
    case 4:   // Format_RGB32
    case 5:   // Format_ARGB32
    case 6:   // Format_ARGB32_Premultiplied
        *format = WL_SHM_FORMAT_XRGB8888;
        return true;
    case 16:  // Format_RGBX8888
    case 17:  // Format_RGBA8888
    case 18:  // Format_RGBA8888_Premultiplied
        *format = WL_SHM_FORMAT_XBGR8888;
        return true;
    default:
        return false;
    }
}

// Reads exactly size bytes from fd before the deadline; false on an early end or the deadline.
bool read_all(int fd, uint8_t *data, size_t size, Clock::time_point deadline)
{
    size_t got = 0;
    while (got < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p = {fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, int(left)) <= 0)
            return false;
        const ssize_t n = read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += size_t(n);
    }
    return true;
}

bool lookup_uint(GVariant *results, const char *key, uint32_t *value)
{
    return g_variant_lookup(results, key, "u", value);
}

// Asks KWin for the area's picture, written to the pipe's write end; the results, or null.
GVariant *call_capture_area(GDBusConnection *bus, int x, int y, int width, int height, int write_fd)
{
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "native-resolution", g_variant_new_boolean(TRUE));
    g_variant_builder_add(&options, "{sv}", "include-cursor", g_variant_new_boolean(FALSE));
    GUnixFDList *fds = g_unix_fd_list_new();
    const int handle = g_unix_fd_list_append(fds, write_fd, nullptr);
    GVariant *reply = handle < 0 ? nullptr :
        g_dbus_connection_call_with_unix_fd_list_sync(
            bus, kKWinName, "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureArea",
            g_variant_new("(iiuua{sv}h)", x, y, guint32(width), guint32(height), &options, handle),
            G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE, int(kCompositorTimeout.count()), fds, nullptr, nullptr,
            nullptr);
    g_object_unref(fds);
    if (!reply)
        return nullptr;
    GVariant *results = g_variant_get_child_value(reply, 0);
    g_variant_unref(reply);
    return results;
}

bool read_picture(GVariant *results, int read_fd, Clock::time_point deadline, Photo *out)
{
    const gchar *type = nullptr;
    uint32_t width = 0, height = 0, stride = 0, qformat = 0, format = 0;
    if (!g_variant_lookup(results, "type", "&s", &type) || g_strcmp0(type, "raw") != 0 ||
        !lookup_uint(results, "width", &width) || !lookup_uint(results, "height", &height) ||
        !lookup_uint(results, "stride", &stride) || !lookup_uint(results, "format", &qformat) ||
        !shm_format_of_qimage(qformat, &format) || width == 0 || height == 0 || width > 16384 || height > 16384 ||
        stride < width * 4 || stride > width * 4 + 4096)
        return false;
    std::vector<uint8_t> pixels(size_t(stride) * height);
    return read_all(read_fd, pixels.data(), pixels.size(), deadline) &&
           photo_from_shm(pixels.data(), format, int(width), int(height), int(stride), false, out);
}

}

bool photograph_by_kwin(int x, int y, int width, int height, Photo *out)
{
    GDBusConnection *bus = platform::open_session_bus();
    if (!bus)
        return false;
    bool ok = false;
    int fds[2];
    if (platform::bus_name_has_owner(bus, kKWinName, int(kCompositorTimeout.count())) && pipe2(fds, O_CLOEXEC) == 0) {
        const auto deadline = Clock::now() + kCompositorTimeout;
        GVariant *results = call_capture_area(bus, x, y, width, height, fds[1]);
        // Our copy of the write end goes, so that the pipe ends where KWin's writing does.
        close(fds[1]);
        if (results) {
            ok = read_picture(results, fds[0], deadline, out);
            g_variant_unref(results);
        }
        close(fds[0]);
    }
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    if (!ok)
        *out = Photo();
    return ok;
}

}
