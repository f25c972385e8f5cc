// The window rules both display backends share: the table of our windows, delivering messages to
// window procedures, posted and sent messages, destruction, activation, the cursor count and the
// key, button and motion messages. A backend reports what its server tells through the input_
// calls and surface_closed, and makes, shows and lets go of the surfaces (backend.h); it never
// repeats a rule kept here. Internal to platform/linux and its tests.
#pragma once

#include "win32.h"

#include <memory>
#include <vector>

namespace platform {

// What the core keeps of one of our windows. A backend's record derives from it and adds its
// surface; the table owns the records.
struct WindowRecord {
    virtual ~WindowRecord() = default;
    HWND hwnd = nullptr;
    HWND parent = nullptr; // the window it lies inside (the X root for top-level X windows)
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD ex_style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    bool mapped = false;
    bool destroying = false; // destroyed, its WM_DESTROY still to come
    // The pixel format set on the window, and whether its surface's swap interval was set.
    int pixel_format = 0;
    bool swap_interval_set = false;
};

// Takes a new window's record into the table, sends WM_CREATE (with CreateWindowExA's arguments
// and the place and size the window got) and the first WM_SIZE, and shows it when its style asks.
// Null when the procedure refused and the window is gone.
HWND finish_creation(std::unique_ptr<WindowRecord> rec, LPCSTR class_name, LPCSTR window_name, HMENU menu,
                     HINSTANCE instance, LPVOID param);
// Our window, alive or being destroyed; null when it is not ours.
WindowRecord *window_record(HWND hwnd);
// Our window while it is alive.
WindowRecord *live_window(HWND hwnd);
// Every window in the table, in handle order; and as a backend's own record.
std::vector<WindowRecord *> all_windows();
template <typename Rec> std::vector<Rec *> all_windows_as()
{
    std::vector<Rec *> all;
    for (WindowRecord *w : all_windows()) all.push_back(static_cast<Rec *>(w));
    return all;
}
// Delivers WM_DESTROY to the window and to our windows inside it, parent first, has the backend
// let their surfaces go (destroying the top one's when it still exists) and forgets them.
void destroy_window_tree(HWND top, bool surface_exists);
// The connection is gone: every window goes, with its WM_DESTROY when notify is set, and then
// WM_QUIT.
void drop_all_windows(bool notify);

// Calls the window's procedure; windows being destroyed are reached too (their WM_DESTROY comes
// after they are marked). 0 for a window that is not ours.
LRESULT call_proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Delivers the sent messages waiting (size, activation, destruction), the way Windows delivers
// sent messages while a thread peeks.
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

enum class MouseButton { left, middle, right };
// A button went down or up over the window at the client point; mk holds the MK_ bits in effect
// before it (modifiers and other buttons held), screen the pointer's place on the screen.
void input_button(HWND hwnd, MouseButton button, bool press, WPARAM mk, POINT client, POINT screen, DWORD time);
// The wheel turned one notch, away from the user when up.
void input_wheel(HWND hwnd, bool up, WPARAM mk, POINT screen, DWORD time);
// The pointer moved over the window.
void input_motion(HWND hwnd, WPARAM mk, POINT client, POINT screen, DWORD time);
// The window gained or lost activation (the backend tells only changes).
void input_focus(HWND hwnd, bool active);
// The server destroyed the window: it is marked, and its WM_DESTROY comes at the next peek (or
// when the program destroys it first); what was queued for it goes then.
void surface_closed(HWND hwnd);
// The monitors changed: every live top-level window of ours gets WM_DISPLAYCHANGE with the
// screen's bits per pixel, as Windows broadcasts it.
void monitors_changed(WPARAM bits_per_pixel);

// Forgets the windows, the cursor count and the key state (tests start each case afresh).
void reset_window_core();

} // namespace platform
