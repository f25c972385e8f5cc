// The chain of pictures that stand for the desktop.
#include "desktop_picture.h"

#include "backend.h"
#include "host_settings.h"
#include "pictures.h"
#include "xscreensaver_prefs.h"

#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

// The key of the saver's settings; image_path sits there beside the four values the dialog writes.
const char *const kSettingsKey = "Software\\Brindlewick Productions\\Tidefold Screen Saver";

std::string stored_picture_source()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
    DWORD type = 0, size = 0;
    std::string path;
    if (RegQueryValueExA(key, "image_path", nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 0) {
        std::string buffer(size, '\0');
        if (RegQueryValueExA(key, "image_path", nullptr, &type, reinterpret_cast<BYTE *>(&buffer[0]), &size) ==
                ERROR_SUCCESS &&
            type == REG_SZ)
            path = buffer.c_str();
        else if (type != REG_SZ)
            fputs("tidefold: the stored image_path is not a string value; it is left unused\n", stderr);
    }
    RegCloseKey(key);
    // Written by hand, so a path in the home may start with ~ as in a shell.
    const char *home = getenv("HOME");
    if (home && (path == "~" || path.rfind("~/", 0) == 0)) path = home + path.substr(1);
    return path;
}

} // namespace

std::string picture_source()
{
    const HostSettings &host = host_settings();
    if (!host.image.empty()) return host.image;
    return stored_picture_source();
}

void copy_desktop_picture(const DcRec &src, int x1, int y1, BitmapRec &dst, int x, int y, int cx, int cy)
{
    std::string source = picture_source();
    if (!source.empty() && draw_picture_source(source, dst, x, y, cx, cy)) return;
    bool photograph_allowed = true;
    if (backend().started_by_xscreensaver()) {
        XScreenSaverImagePrefs prefs = xscreensaver_image_prefs();
        photograph_allowed = prefs.grab_desktop;
        if (!photograph_allowed && prefs.random_images && !prefs.image_directory.empty() &&
            draw_picture_source(prefs.image_directory, dst, x, y, cx, cy))
            return;
    }
    if (photograph_allowed && backend().copy_from_screen(src, x1, y1, dst, x, y, cx, cy)) return;
    if (backend().copy_wallpaper(x1, y1, dst, x, y, cx, cy)) return;
    draw_builtin_picture(dst, x, y, cx, cy);
}

} // namespace platform
