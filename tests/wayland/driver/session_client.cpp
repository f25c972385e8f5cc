// A client of the desktop's own D-Bus services, for the tests under KWin and GNOME:
//   session_client kwin OUT.ppm    KWin's picture of its workspace (ScreenShot2.CaptureWorkspace) as
//                                  a binary PPM file; KWin serves it only because the tests'
//                                  desktop entry for this program asks for the interface, as
//                                  Tidefold's own entry does
//   session_client gnome OUT.ppm   GNOME Shell's picture (org.gnome.Shell.Screenshot), which the
//                                  Shell gives only to the bus name org.gnome.Screenshot, owned here
//   session_client keys KEYSYM...  presses and releases each key (a decimal keysym) through mutter's
//                                  remote desktop service
//   session_client inhibit         holds the session awake until it is ended: a stand-in for GNOME's
//                                  session manager whose IsInhibited says yes for idleness
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>

namespace {

bool write_ppm(const char *path, int width, int height, const std::vector<unsigned char> &rgb)
{
    FILE *out = fopen(path, "wb");
    if (!out) return false;
    fprintf(out, "P6\n%d %d\n255\n", width, height);
    fwrite(rgb.data(), 1, rgb.size(), out);
    return fclose(out) == 0;
}

int kwin(GDBusConnection *bus, const char *path)
{
    int fds[2];
    if (pipe(fds) != 0) return 1;
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "include-cursor", g_variant_new_boolean(FALSE));
    GUnixFDList *list = g_unix_fd_list_new();
    int handle = g_unix_fd_list_append(list, fds[1], nullptr);
    GError *error = nullptr;
    GVariant *reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureWorkspace",
        g_variant_new("(a{sv}h)", &options, handle), G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE, 10000, list,
        nullptr, nullptr, &error);
    close(fds[1]);
    if (!reply) {
        fprintf(stderr, "CaptureWorkspace: %s\n", error ? error->message : "failed");
        return 1;
    }
    GVariant *results = g_variant_get_child_value(reply, 0);
    guint32 width = 0, height = 0, stride = 0, format = 0;
    g_variant_lookup(results, "width", "u", &width);
    g_variant_lookup(results, "height", "u", &height);
    g_variant_lookup(results, "stride", "u", &stride);
    g_variant_lookup(results, "format", "u", &format);
    std::vector<unsigned char> data(size_t(stride) * height);
    size_t got = 0;
    for (ssize_t n; got < data.size() && (n = read(fds[0], data.data() + got, data.size() - got)) > 0;) got += size_t(n);
    // QImage's 32-bit formats: 4 to 6 are 0xAARRGGBB words, 16 to 18 bytes R, G, B, A.
    const bool rgba_bytes = format >= 16 && format <= 18;
    if (got != data.size() || width == 0 || !((format >= 4 && format <= 6) || rgba_bytes)) {
        fprintf(stderr, "CaptureWorkspace: %u x %u, format %u, %zu of %zu bytes\n", width, height, format, got,
                data.size());
        return 1;
    }
    std::vector<unsigned char> rgb;
    for (guint32 y = 0; y < height; y++)
        for (guint32 x = 0; x < width; x++) {
            const unsigned char *p = &data[size_t(y) * stride + x * 4];
            rgb.insert(rgb.end(), {rgba_bytes ? p[0] : p[2], p[1], rgba_bytes ? p[2] : p[0]});
        }
    return write_ppm(path, int(width), int(height), rgb) ? 0 : 1;
}

int gnome(GDBusConnection *bus, const char *path)
{
    GError *error = nullptr;
    GVariant *owned = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
        "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", "org.gnome.Screenshot", 4u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (owned) g_variant_unref(owned);
    const std::string png = std::string(path) + ".png";
    GVariant *reply = g_dbus_connection_call_sync(bus, "org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
        "org.gnome.Shell.Screenshot", "Screenshot", g_variant_new("(bbs)", FALSE, FALSE, png.c_str()),
        G_VARIANT_TYPE("(bs)"), G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
    if (!reply) {
        fprintf(stderr, "Screenshot: %s\n", error ? error->message : "failed");
        return 1;
    }
    g_variant_unref(reply);
    GdkPixbuf *picture = gdk_pixbuf_new_from_file(png.c_str(), nullptr);
    unlink(png.c_str());
    if (!picture) return 1;
    const int width = gdk_pixbuf_get_width(picture), height = gdk_pixbuf_get_height(picture);
    const int stride = gdk_pixbuf_get_rowstride(picture), channels = gdk_pixbuf_get_n_channels(picture);
    const guchar *pixels = gdk_pixbuf_read_pixels(picture);
    std::vector<unsigned char> rgb;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            const guchar *p = pixels + size_t(y) * stride + size_t(x) * channels;
            rgb.insert(rgb.end(), {p[0], p[1], p[2]});
        }
    g_object_unref(picture);
    return write_ppm(path, width, height, rgb) ? 0 : 1;
}

GVariant *call(GDBusConnection *bus, const char *name, const char *path, const char *interface, const char *method,
               GVariant *args, const char *reply_type)
{
    GError *error = nullptr;
    GVariant *reply = g_dbus_connection_call_sync(bus, name, path, interface, method, args,
                                                  reply_type ? G_VARIANT_TYPE(reply_type) : nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
    if (!reply) fprintf(stderr, "%s: %s\n", method, error ? error->message : "failed");
    return reply;
}

int keys(GDBusConnection *bus, int count, char **keysyms)
{
    const char *service = "org.gnome.Mutter.RemoteDesktop";
    GVariant *created = call(bus, service, "/org/gnome/Mutter/RemoteDesktop", service, "CreateSession", nullptr, "(o)");
    if (!created) return 1;
    const gchar *session = nullptr;
    g_variant_get(created, "(&o)", &session);
    const std::string iface = std::string(service) + ".Session";
    bool ok = call(bus, service, session, iface.c_str(), "Start", nullptr, nullptr) != nullptr;
    for (int i = 0; ok && i < count; i++) {
        if (i) g_usleep(300000);
        for (gboolean pressed : {gboolean(TRUE), gboolean(FALSE)})
            ok = call(bus, service, session, iface.c_str(), "NotifyKeyboardKeysym",
                      g_variant_new("(ub)", guint32(strtoul(keysyms[i], nullptr, 10)), pressed), nullptr) != nullptr;
    }
    // The session's keyboard goes with it: give the keys time to be delivered first.
    g_usleep(300000);
    call(bus, service, session, iface.c_str(), "Stop", nullptr, nullptr);
    g_variant_unref(created);
    return ok ? 0 : 1;
}

const char kSessionManagerXml[] =
    "<node><interface name='org.gnome.SessionManager'><method name='IsInhibited'>"
    "<arg type='u' direction='in'/><arg type='b' direction='out'/></method></interface></node>";

void on_is_inhibited(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *,
                     GVariant *parameters, GDBusMethodInvocation *invocation, gpointer)
{
    guint32 flags = 0;
    g_variant_get(parameters, "(u)", &flags);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", (flags & 8) != 0));
}

int inhibit(GDBusConnection *bus)
{
    GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(kSessionManagerXml, nullptr);
    static const GDBusInterfaceVTable vtable = {on_is_inhibited, nullptr, nullptr, {}};
    if (!g_dbus_connection_register_object(bus, "/org/gnome/SessionManager", node->interfaces[0], &vtable, nullptr,
                                           nullptr, nullptr))
        return 1;
    GVariant *owned = call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                           g_variant_new("(su)", "org.gnome.SessionManager", 4u), "(u)");
    if (!owned) return 1;
    guint32 result = 0;
    g_variant_get(owned, "(u)", &result);
    if (result != 1) return 1;
    puts("ready");
    fflush(stdout);
    g_main_loop_run(g_main_loop_new(nullptr, FALSE));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) return 2;
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return 1;
    if (strcmp(argv[1], "kwin") == 0 && argc == 3) return kwin(bus, argv[2]);
    if (strcmp(argv[1], "gnome") == 0 && argc == 3) return gnome(bus, argv[2]);
    if (strcmp(argv[1], "keys") == 0) return keys(bus, argc - 2, argv + 2);
    if (strcmp(argv[1], "inhibit") == 0) return inhibit(bus);
    return 2;
}
