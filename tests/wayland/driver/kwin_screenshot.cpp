// Writes KWin's picture of its whole workspace (org.kde.KWin.ScreenShot2.CaptureWorkspace) to the
// binary PPM file named by its argument. KWin serves it only because the tests' desktop entry for
// this program asks for the interface, as Tidefold's own entry does.
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

int main(int argc, char **argv)
{
    if (argc != 2) return 2;
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    int fds[2];
    if (!bus || pipe(fds) != 0) return 1;
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
    FILE *out = fopen(argv[1], "wb");
    if (!out) return 1;
    fprintf(out, "P6\n%u %u\n255\n", width, height);
    for (guint32 y = 0; y < height; y++)
        for (guint32 x = 0; x < width; x++) {
            const unsigned char *p = &data[size_t(y) * stride + x * 4];
            const unsigned char rgb[3] = {rgba_bytes ? p[0] : p[2], p[1], rgba_bytes ? p[2] : p[0]};
            fwrite(rgb, 1, 3, out);
        }
    return fclose(out) == 0 ? 0 : 1;
}
