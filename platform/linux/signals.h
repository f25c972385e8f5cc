// Ending cleanly on a termination signal, whichever display backend is in use. Internal to
// platform/linux and its tests.
#pragma once

namespace platform {

// SIGPIPE is ignored: a write to a server that went away fails, and the loss is reported as such.
// SIGTERM, SIGINT and SIGHUP end the run with status 0. Once the message loop is polling, the
// handler only raises a flag and the queue destroys our windows the normal way (WM_DESTROY, then
// WM_QUIT 0); before that there is nothing to restore and the process ends at once. Either way it
// is gone, with status 0, within half a second, whatever the display server does.
void catch_termination_signals();
// Called by PeekMessageA: the loop is running, and whether a termination signal came since the
// last call.
bool take_termination_request();

} // namespace platform
