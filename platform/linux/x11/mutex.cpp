// Named mutexes over X: a name is held by owning a selection of the display, so it is known to
// every client of the session and goes with the connection, however the process ends.
#include "x11.h"

#include <string>

namespace x11 {
namespace api {

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR lpName)
{
    Display *dpy = display();
    if (!dpy || !lpName || !*lpName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string selection = std::string("_TIDEFOLD_MUTEX ") + lpName;
    Atom name = XInternAtom(dpy, selection.c_str(), False);
    Window owner = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), -1, -1, 1, 1, 0, 0, 0);
    // Looking and taking under the server grab, so two processes starting together cannot both
    // find the name free.
    XGrabServer(dpy);
    Window holder = XGetSelectionOwner(dpy, name);
    if (holder == None) XSetSelectionOwner(dpy, name, owner, CurrentTime);
    XUngrabServer(dpy);
    if (holder != None) XDestroyWindow(dpy, owner);
    XSync(dpy, False);
    SetLastError(holder != None ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return reinterpret_cast<HANDLE>(new_handle());
}

} // namespace api
} // namespace x11
