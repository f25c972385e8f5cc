// The xscreensaver daemon's image settings, read the way the daemon reads them: the user's
// ~/.xscreensaver, and for what it does not say, the installed app-defaults file.
// Internal to platform/linux and its tests.
#pragma once

#include <string>

namespace platform {

struct XScreenSaverImagePrefs {
    bool grab_desktop = false;   // grabDesktopImages: display modes may show a photograph of the screen
    bool random_images = false;  // chooseRandomImages: they show a picture from image_directory
    std::string image_directory; // imageDirectory, with a leading ~ made the home folder
};

// Reads the three settings from the user's file, else from the app-defaults file; a file that is
// missing, unreadable, not a regular file or over 1 MiB gives nothing. Unset or unreadable values
// are false and empty, so nothing is ever shown that the user has not allowed.
XScreenSaverImagePrefs read_xscreensaver_image_prefs(const std::string &user_file, const std::string &app_defaults,
                                                     const std::string &home);
// The same from $HOME/.xscreensaver and /etc/X11/app-defaults/XScreenSaver.
XScreenSaverImagePrefs xscreensaver_image_prefs();

} // namespace platform
