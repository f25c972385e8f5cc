// The window rules both display backends share: delivering messages to window procedures, posted
// and sent messages, the cursor count and the key state. A backend reports what its server tells
// through the input_ calls and answers the few questions about its windows in backend.h; it never
// repeats a rule kept here. Internal to platform/linux and its tests.
#pragma once

#include "win32.h"

namespace platform {

// Calls the window's procedure; windows being destroyed are reached too (their WM_DESTROY comes
// after they are marked). 0 for a window that is not ours.
LRESULT call_proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Delivers the sent messages waiting (size, activation, destruction), the way Windows delivers
// sent messages while a thread peeks. A window destroyed from outside is finished by the backend
// once its WM_DESTROY is due.
void deliver_sent_messages();

// Whether the pointer is hidden over our windows (ShowCursor's count below 0).
bool cursor_hidden();

// A key went down or up on the window: keycode is the server's (X and xkb key codes, 8 above the
// kernel's), keysym the key's unshifted symbol, alt_held and ctrl_held the modifiers in effect.
// Queues the key message with Windows' lParam bits (scan code, extended, context, previous state,
// transition) and returns the virtual-key code, for the character the backend may note.
WPARAM input_key(HWND hwnd, unsigned keycode, unsigned long keysym, bool alt_held, bool ctrl_held, bool press,
                 DWORD time);
// Every key counts as up again (keyboard focus came back, a new connection).
void release_keys();

// Forgets the cursor count and the key state (tests start each case afresh).
void reset_window_core();

} // namespace platform
