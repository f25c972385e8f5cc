// The xscreensaver daemon's image settings from its two resource files.
#include "xscreensaver_prefs.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

const size_t kMaxPrefsBytes = 1 << 20;

std::string trim(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// The whole file, if it is a regular file of at most 1 MiB; opened without blocking, so a FIFO
// put in its place cannot hang us.
bool read_small_file(const std::string &path, std::string *text)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && size_t(st.st_size) <= kMaxPrefsBytes;
    text->clear();
    char buf[8192];
    ssize_t n;
    while (ok && (n = read(fd, buf, sizeof buf)) > 0) {
        text->append(buf, size_t(n));
        if (text->size() > kMaxPrefsBytes) ok = false;
    }
    close(fd);
    return ok;
}

// The resource name a line sets, without the "*" or "XScreenSaver." the app-defaults put before it.
std::string resource_name(std::string name)
{
    name = trim(name);
    for (const char *prefix : {"*", "XScreenSaver.", "XScreenSaver*", "xscreensaver.", "xscreensaver*"})
        if (name.rfind(prefix, 0) == 0) return name.substr(strlen(prefix));
    return name;
}

// name: value lines; a line ending in a backslash goes on in the next; "!" and "#" start comments.
std::map<std::string, std::string> read_resources(const std::string &path)
{
    std::map<std::string, std::string> out;
    std::string text;
    if (!read_small_file(path, &text)) return out;
    std::string logical;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.back() == '\\') {
            logical += line.substr(0, line.size() - 1);
            continue;
        }
        logical += line;
        std::string l = trim(logical);
        logical.clear();
        if (l.empty() || l[0] == '!' || l[0] == '#') continue;
        size_t colon = l.find(':');
        if (colon == std::string::npos) continue;
        out[resource_name(l.substr(0, colon))] = trim(l.substr(colon + 1));
    }
    return out;
}

// As the daemon reads a boolean: on, true or yes, in any case; anything else is false.
bool is_true(const std::string &value)
{
    std::string v;
    for (char c : value) v += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return v == "on" || v == "true" || v == "yes";
}

std::string home_folder()
{
    const char *home = getenv("HOME");
    if (home && *home) return home;
    struct passwd *pw = getpwuid(getuid());
    return pw && pw->pw_dir ? pw->pw_dir : "";
}

} // namespace

XScreenSaverImagePrefs read_xscreensaver_image_prefs(const std::string &user_file, const std::string &app_defaults,
                                                     const std::string &home)
{
    std::map<std::string, std::string> values = read_resources(app_defaults);
    for (const auto &kv : read_resources(user_file)) values[kv.first] = kv.second;
    XScreenSaverImagePrefs prefs;
    prefs.grab_desktop = is_true(values["grabDesktopImages"]);
    prefs.random_images = is_true(values["chooseRandomImages"]);
    prefs.image_directory = values["imageDirectory"];
    if (prefs.image_directory == "~" || prefs.image_directory.rfind("~/", 0) == 0)
        prefs.image_directory = home + prefs.image_directory.substr(1);
    return prefs;
}

XScreenSaverImagePrefs xscreensaver_image_prefs()
{
    std::string home = home_folder();
    return read_xscreensaver_image_prefs(home + "/.xscreensaver", "/etc/X11/app-defaults/XScreenSaver", home);
}

} // namespace platform
