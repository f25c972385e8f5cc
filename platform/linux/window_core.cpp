// The window rules both display backends share (see window_core.h).
#include "window_core.h"

#include "backend.h"
#include "bitmaps.h"
#include "keys.h"
#include "queue.h"
#include "signals.h"

#include <X11/keysym.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace platform {
namespace {

std::map<HWND, std::unique_ptr<WindowRecord>> g_windows;
int g_cursor_count = 0;
bool g_key_down[256];

// hwnd and our windows inside it, parent before child (the order Windows delivers WM_DESTROY in).
std::vector<WindowRecord *> window_tree(WindowRecord *top)
{
    std::vector<WindowRecord *> tree = {top};
    for (size_t i = 0; i < tree.size(); i++)
        for (auto &kv : g_windows) {
            WindowRecord *w = kv.second.get();
            if (w->parent == tree[i]->hwnd && std::find(tree.begin(), tree.end(), w) == tree.end()) tree.push_back(w);
        }
    return tree;
}

void forget_windows(const std::vector<WindowRecord *> &gone)
{
    std::vector<HWND> handles;
    for (WindowRecord *w : gone) handles.push_back(w->hwnd);
    for (HWND h : handles) {
        g_windows.erase(h);
        purge_window_messages(h);
    }
}

// A termination signal destroys each of our windows that is not inside another of ours, so every
// one gets its WM_DESTROY and the program ends the way it would had the window been closed.
void close_for_termination()
{
    std::vector<HWND> tops;
    for (auto &kv : g_windows)
        if (!kv.second->destroying && !window_record(kv.second->parent)) tops.push_back(kv.first);
    for (HWND hwnd : tops)
        if (live_window(hwnd)) DestroyWindow(hwnd);
}

bool is_window_or_child(HWND filter, HWND hwnd)
{
    for (WindowRecord *w = window_record(hwnd); w; w = window_record(w->parent))
        if (w->hwnd == filter) return true;
    return false;
}

} // namespace

HWND finish_creation(std::unique_ptr<WindowRecord> rec, LPCSTR class_name, LPCSTR window_name, HMENU menu,
                     HINSTANCE instance, LPVOID param)
{
    WindowRecord &w = *(g_windows[rec->hwnd] = std::move(rec));
    HWND hwnd = w.hwnd;
    WNDPROC proc = w.proc;
    bool visible = w.style & WS_VISIBLE;
    CREATESTRUCTA cs = {};
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = w.style & WS_CHILD ? w.parent : nullptr;
    cs.cx = w.width;
    cs.cy = w.height;
    cs.x = w.x;
    cs.y = w.y;
    cs.style = static_cast<LONG>(w.style);
    cs.lpszName = window_name;
    cs.lpszClass = class_name;
    cs.dwExStyle = w.ex_style;
    // Sent before the window shows, so a photograph of the screen taken while handling them does
    // not see it. A procedure answering -1 to WM_CREATE has the window destroyed.
    if (proc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        if (IsWindow(hwnd)) DestroyWindow(hwnd);
        return nullptr;
    }
    RECT client;
    if (!GetClientRect(hwnd, &client)) return nullptr;
    proc(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    WindowRecord *made = live_window(hwnd);
    if (made && visible) backend().show_surface(*made, true);
    return made ? hwnd : nullptr;
}

WindowRecord *window_record(HWND hwnd)
{
    auto it = g_windows.find(hwnd);
    return it == g_windows.end() ? nullptr : it->second.get();
}

WindowRecord *live_window(HWND hwnd)
{
    WindowRecord *w = window_record(hwnd);
    return w && !w->destroying ? w : nullptr;
}

std::vector<WindowRecord *> all_windows()
{
    std::vector<WindowRecord *> all;
    for (auto &kv : g_windows) all.push_back(kv.second.get());
    return all;
}

void destroy_window_tree(HWND top, bool surface_exists)
{
    WindowRecord *top_rec = window_record(top);
    if (!top_rec) return;
    std::vector<WindowRecord *> tree = window_tree(top_rec);
    for (WindowRecord *w : tree) w->destroying = true;
    if (surface_exists) backend().surface_closing(*top_rec);
    for (WindowRecord *w : tree) {
        purge_window_messages(w->hwnd);
        call_proc(w->hwnd, WM_DESTROY, 0, 0);
    }
    backend().destroy_surfaces(tree, surface_exists);
    forget_windows(tree);
}

void drop_all_windows(bool notify)
{
    std::vector<WindowRecord *> all = all_windows();
    for (WindowRecord *w : all) w->destroying = true;
    if (notify)
        for (WindowRecord *w : all) call_proc(w->hwnd, WM_DESTROY, 0, 0);
    backend().destroy_surfaces(all, false);
    g_windows.clear();
    purge_all_window_messages();
    // Nothing can be shown any more: the program is told to end, whatever its windows did with
    // their WM_DESTROY (a saver whose monitor went would wait for monitors to come back).
    if (notify) PostQuitMessage(1);
}

LRESULT call_proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    WindowRecord *w = window_record(hwnd);
    return w && w->proc ? w->proc(hwnd, msg, wParam, lParam) : 0;
}

void deliver_sent_messages()
{
    MSG m;
    while (take_sent_message(&m)) {
        WindowRecord *w = window_record(m.hwnd);
        if (!w) continue;
        if (m.message == WM_DESTROY)
            destroy_window_tree(m.hwnd, false);
        else if (!w->destroying)
            call_proc(m.hwnd, m.message, m.wParam, m.lParam);
    }
}

bool cursor_hidden() { return g_cursor_count < 0; }

WPARAM input_key(HWND hwnd, unsigned keycode, unsigned long keysym, bool alt_held, bool ctrl_held, bool press,
                 DWORD time)
{
    WPARAM vk = virtual_key(keysym);
    bool alt_key = vk == VK_MENU && keysym != XK_ISO_Level3_Shift;
    bool alt = alt_held || (press && alt_key);
    bool sys = (alt && !ctrl_held) || (keysym == XK_F10 && !ctrl_held);
    unsigned slot = keycode & 0xFF;
    bool repeat = press && g_key_down[slot];
    g_key_down[slot] = press;

    DWORD lp = 1u | (((keycode - 8u) & 0xFFu) << 16);
    if (extended_key(keysym)) lp |= 1u << 24;
    if (alt) lp |= 1u << 29;
    if (!press || repeat) lp |= 1u << 30;
    if (!press) lp |= 1u << 31;
    UINT msg = press ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
    queue_message(hwnd, msg, vk, static_cast<LPARAM>(lp), false, time);
    return vk;
}

void release_keys() { memset(g_key_down, 0, sizeof g_key_down); }

void input_button(HWND hwnd, MouseButton button, bool press, WPARAM mk, POINT client, POINT screen, DWORD time)
{
    static const WPARAM bits[] = {MK_LBUTTON, MK_MBUTTON, MK_RBUTTON};
    static const UINT downs[] = {WM_LBUTTONDOWN, WM_MBUTTONDOWN, WM_RBUTTONDOWN};
    static const UINT ups[] = {WM_LBUTTONUP, WM_MBUTTONUP, WM_RBUTTONUP};
    size_t b = static_cast<size_t>(button);
    mk = press ? (mk | bits[b]) : (mk & ~bits[b]);
    set_message_point(screen);
    queue_message(hwnd, press ? downs[b] : ups[b], mk, MAKELPARAM(client.x, client.y), false, time);
}

void input_wheel(HWND hwnd, bool up, WPARAM mk, POINT screen, DWORD time)
{
    short delta = up ? WHEEL_DELTA : -WHEEL_DELTA;
    set_message_point(screen);
    queue_message(hwnd, WM_MOUSEWHEEL, MAKEWPARAM(mk, static_cast<WORD>(delta)), MAKELPARAM(screen.x, screen.y),
                  false, time);
}

void input_motion(HWND hwnd, WPARAM mk, POINT client, POINT screen, DWORD time)
{
    set_message_point(screen);
    queue_message(hwnd, WM_MOUSEMOVE, mk, MAKELPARAM(client.x, client.y), false, time);
}

void input_focus(HWND hwnd, bool active) { queue_activation(hwnd, active); }

void surface_closed(HWND hwnd)
{
    WindowRecord *w = live_window(hwnd);
    if (!w) return;
    w->destroying = true;
    w->mapped = false;
    queue_message(hwnd, WM_DESTROY, 0, 0, true);
}

void monitors_changed(WPARAM bits_per_pixel)
{
    for (WindowRecord *w : all_windows())
        if (!w->destroying && !window_record(w->parent))
            queue_message(w->hwnd, WM_DISPLAYCHANGE, bits_per_pixel, 0, false);
}

void reset_window_core()
{
    g_windows.clear();
    g_cursor_count = 0;
    release_keys();
}

} // namespace platform

using namespace platform;

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (hWnd && !live_window(hWnd)) return FALSE;
    // Whatever the server sent before the post comes before it in the queue.
    backend().read_events();
    queue_message(hWnd, Msg, wParam, lParam, false);
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG *lpMsg)
{
    if (!lpMsg || !live_window(lpMsg->hwnd)) return 0;
    return call_proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    if (!lpMsg) return FALSE;
    backend().pump_events();
    if (take_termination_request()) close_for_termination();
    deliver_sent_messages();
    return peek_queued(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg, is_window_or_child);
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    WindowRecord *w = window_record(hWnd);
    if (!w) return FALSE;
    // Destroyed by the server, with its WM_DESTROY still waiting: it is delivered now.
    bool from_outside = w->destroying;
    if (from_outside && !take_pending_destroy(hWnd)) return FALSE;
    destroy_window_tree(hWnd, !from_outside);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    if (!hWnd) return FALSE;
    if (WindowRecord *w = window_record(hWnd)) return !w->destroying;
    RECT r;
    return backend().foreign_window_rect(hWnd, &r);
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect)
{
    if (!hWnd || !lpRect) return FALSE;
    WindowRecord *w = window_record(hWnd);
    if (!w) return backend().foreign_window_rect(hWnd, lpRect);
    if (w->destroying) return FALSE;
    *lpRect = {0, 0, w->width, w->height};
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    WindowRecord *w = live_window(hWnd);
    if (!w) return FALSE;
    BOOL was_visible = w->mapped;
    return backend().show_surface(*w, nCmdShow != SW_HIDE) ? was_visible : FALSE;
}

BOOL WINAPI UpdateWindow(HWND hWnd)
{
    if (!live_window(hWnd)) return FALSE;
    backend().flush();
    return TRUE;
}

// The pointer is invisible over our windows while the display count is below zero.
int WINAPI ShowCursor(BOOL bShow)
{
    bool was_hidden = cursor_hidden();
    g_cursor_count += bShow ? 1 : -1;
    if (was_hidden != cursor_hidden()) backend().cursor_visibility_changed();
    return g_cursor_count;
}

int WINAPI ReleaseDC(HWND, HDC hDC) { return release_window_dc(hDC) ? 1 : 0; }
