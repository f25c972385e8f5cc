// The message queue and window classes both display backends share: what the backends read from
// their servers becomes queued messages here, and PeekMessageA takes them out in order.
// Internal to platform/linux and its tests.
#pragma once

#include "win32.h"

#include <deque>
#include <string>

namespace platform {

// A queued message; sent ones (size, activation, destruction) go straight to the window
// procedure inside PeekMessageA, the way Windows delivers sent messages while a thread peeks.
struct QueuedMessage {
    MSG msg;
    bool sent;
};
std::deque<QueuedMessage> &queued_messages();

// Milliseconds on the monotonic clock, the time stamp of messages made here.
DWORD now_ms();
// A fresh handle value, never reused in the run, so that a stale handle can never name a newer object.
uintptr_t new_handle();

// Where the pointer was at the last input event, stamped on messages queued after it.
void set_message_point(POINT pt);
void queue_message(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool sent, DWORD time = 0);
// Forgets every queued message (and pending character) for hwnd.
void purge_window_messages(HWND hwnd);
// Forgets every queued message for a window, keeping thread messages (WM_QUIT).
void purge_all_window_messages();
// Takes out the first sent message, if any.
bool take_sent_message(MSG *msg);
// Takes out a sent WM_DESTROY waiting for hwnd, if there is one.
bool take_pending_destroy(HWND hwnd);
// The first message passing the filters (as PeekMessageA's), taken out with PM_REMOVE.
// in_window tells whether a message's window is the filter window or inside it.
bool peek_queued(LPMSG msg, HWND filter, UINT min, UINT max, UINT remove, bool (*in_window)(HWND filter, HWND hwnd));

// WM_ACTIVATEAPP, WM_NCACTIVATE and WM_ACTIVATE for a window gaining or losing activation, as sent messages.
void queue_activation(HWND hwnd, bool active);

// The character a key press gives, kept until TranslateMessage asks for it.
void note_character(HWND hwnd, DWORD time, WPARAM vk, unsigned char ch);

struct WindowClass {
    std::string name;
    ATOM atom;
    WNDCLASSA wc;
};
WindowClass *find_class(LPCSTR name);

// Forgets the queue and the classes (tests start each case afresh).
void reset_queue();

} // namespace platform
