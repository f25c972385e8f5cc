// Named mutexes in a Wayland session: a name is held by a lock on a file in the session's runtime
// folder, named after the compositor's socket, so the lock goes with the process however it ends.
#include "wayland.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace wl {
namespace {

// The characters of text a file name can take as they are; the others become '_'.
std::string file_name_part(const char *text)
{
    std::string out;
    for (const char *p = text; *p; p++) {
        char c = *p;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
        out += plain ? c : '_';
    }
    return out;
}

} // namespace

namespace api {

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR lpName)
{
    const char *dir = getenv("XDG_RUNTIME_DIR");
    const char *socket = getenv("WAYLAND_DISPLAY");
    if (!lpName || !*lpName || !dir || dir[0] != '/') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = std::string(dir) + "/" + file_name_part(socket && *socket ? socket : "wayland-0") + "-" +
                       file_name_part(lpName) + ".lock";
    // Kept open, unseen by the programs we start, until the process ends.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        SetLastError(ERROR_ALREADY_EXISTS);
    } else {
        SetLastError(ERROR_SUCCESS);
    }
    return reinterpret_cast<HANDLE>(new_handle());
}

} // namespace api
} // namespace wl
