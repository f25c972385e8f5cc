// The seat's keyboard and pointer, translated into the same messages the X11 backend makes: keys
// through xkbcommon to virtual-key codes, buttons and the wheel, pointer motion, and keyboard
// focus as activation. The pointer is hidden over our surfaces while the cursor count is below 0.
#include "wayland.h"

#include "window_core.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <cmath>
#include <cstring>

namespace wl {
namespace {

// A window the keyboard left waits this long before it loses activation (see keyboard_leave).
constexpr DWORD kLeaveSettleMs = 150;

void free_keymap()
{
    if (g_state.keyboard_state) xkb_state_unref(g_state.keyboard_state);
    if (g_state.keymap) xkb_keymap_unref(g_state.keymap);
    g_state.keyboard_state = nullptr;
    g_state.keymap = nullptr;
}

void keyboard_keymap(void *, wl_keyboard *, uint32_t format, int32_t fd, uint32_t size)
{
    free_keymap();
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void *map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            if (!g_state.xkb) g_state.xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
            if (g_state.xkb)
                g_state.keymap = xkb_keymap_new_from_buffer(g_state.xkb, static_cast<const char *>(map),
                                                            strnlen(static_cast<const char *>(map), size),
                                                            XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
            munmap(map, size);
        }
    }
    close(fd);
    if (g_state.keymap) g_state.keyboard_state = xkb_state_new(g_state.keymap);
}

void set_activation(WindowRec *w, bool active)
{
    if (!w || w->active == active) return;
    w->active = active;
    input_focus(w->hwnd, active);
}

void keyboard_enter(void *, wl_keyboard *, uint32_t, wl_surface *surface, wl_array *)
{
    g_state.key_focus = find_window_surface(surface);
    if (g_state.key_focus == g_state.left_window) g_state.left_window = nullptr;
    release_keys();
    set_activation(g_state.key_focus, true);
}

// The keyboard left a window. That is a loss of activation when another surface took the
// keyboard (a lock screen, say), but not when the keyboard itself went away (a virtual keyboard's
// program ending), which the compositor tells with the same event, just before the seat's
// capabilities change. So the loss is settled a moment later, unless the keyboard went or came back.
void keyboard_leave(void *, wl_keyboard *, uint32_t, wl_surface *surface)
{
    g_state.left_window = find_window_surface(surface);
    g_state.left_at = now_ms();
    g_state.key_focus = nullptr;
}

bool modifier_active(const char *name)
{
    return g_state.keyboard_state &&
           xkb_state_mod_name_is_active(g_state.keyboard_state, name, XKB_STATE_MODS_EFFECTIVE) > 0;
}

// The key's symbol on the first level of the first layout, the unshifted one.
xkb_keysym_t unshifted_symbol(xkb_keycode_t code)
{
    const xkb_keysym_t *syms = nullptr;
    if (!g_state.keymap || xkb_keymap_key_get_syms_by_level(g_state.keymap, code, 0, 0, &syms) < 1)
        return XKB_KEY_NoSymbol;
    return syms[0];
}

// Where keys go. A keyboard that appears while one of our surfaces already holds the keyboard
// focus (a virtual keyboard, or one plugged in) gets its keys without an enter first: they are
// for the window that takes the keys.
WindowRec *key_window()
{
    if (g_state.key_focus) return g_state.key_focus;
    for (WindowRec *w : windows())
        if (!w->destroying && !(w->ex_style & WS_EX_NOACTIVATE)) return w;
    return nullptr;
}

void keyboard_key(void *, wl_keyboard *, uint32_t, uint32_t time, uint32_t key, uint32_t state)
{
    WindowRec *w = key_window();
    if (!w || w->destroying) return;
    bool press = state == WL_KEYBOARD_KEY_STATE_PRESSED;
    xkb_keycode_t code = key + 8;
    WPARAM vk = input_key(w->hwnd, code, unshifted_symbol(code), modifier_active(XKB_MOD_NAME_ALT),
                          modifier_active(XKB_MOD_NAME_CTRL), press, time);
    if (press && g_state.keyboard_state) {
        char text[8];
        if (xkb_state_key_get_utf8(g_state.keyboard_state, code, text, sizeof text) == 1)
            note_character(w->hwnd, time, vk, static_cast<unsigned char>(text[0]));
    }
}

void keyboard_modifiers(void *, wl_keyboard *, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked,
                        uint32_t group)
{
    if (g_state.keyboard_state) xkb_state_update_mask(g_state.keyboard_state, depressed, latched, locked, 0, 0, group);
}

void keyboard_repeat_info(void *, wl_keyboard *, int32_t, int32_t) {}

const wl_keyboard_listener keyboard_listener = {keyboard_keymap, keyboard_enter, keyboard_leave, keyboard_key,
                                                keyboard_modifiers, keyboard_repeat_info};

WPARAM key_state_bits()
{
    WPARAM mk = g_state.buttons;
    if (modifier_active(XKB_MOD_NAME_SHIFT)) mk |= MK_SHIFT;
    if (modifier_active(XKB_MOD_NAME_CTRL)) mk |= MK_CONTROL;
    return mk;
}

void hide_or_show_pointer()
{
    Connection *c = connection();
    if (!c || !c->pointer || !g_state.pointer_focus) return;
    // Shown, the pointer is whatever the compositor gives surfaces without a cursor of their own.
    if (cursor_hidden()) wl_pointer_set_cursor(c->pointer, g_state.pointer_serial, nullptr, 0, 0);
}

// Positions: where the pointer is in the layout, as the saver sees it. A Wayland client learns
// where the pointer is only once it is over one of its surfaces, and the saver asks at start,
// before it has one. So the place given out then (the anchor) stands for wherever the pointer is
// first seen, and every position after is measured from there: distances moved are exact.
// A position over w becomes the saver's layout position; the first one seen takes the place of
// the anchor given out before.
void note_position(WindowRec *w, wl_fixed_t sx, wl_fixed_t sy)
{
    POINT p = {w->x + LONG(std::floor(wl_fixed_to_double(sx))), w->y + LONG(std::floor(wl_fixed_to_double(sy)))};
    if (!g_state.offset_set) {
        g_state.offset_set = true;
        if (g_state.anchor_given) g_state.offset = {g_state.anchor.x - p.x, g_state.anchor.y - p.y};
    }
    g_state.position = {p.x + g_state.offset.x, p.y + g_state.offset.y};
    g_state.position_known = true;
}

POINT client_point(const WindowRec *w) { return {g_state.position.x - w->x, g_state.position.y - w->y}; }

void queue_motion(WindowRec *w, uint32_t time)
{
    input_motion(w->hwnd, key_state_bits(), client_point(w), g_state.position, time);
}

void pointer_enter(void *, wl_pointer *, uint32_t serial, wl_surface *surface, wl_fixed_t sx, wl_fixed_t sy)
{
    g_state.pointer_focus = find_window_surface(surface);
    g_state.pointer_serial = serial;
    if (!g_state.pointer_focus) return;
    hide_or_show_pointer();
    note_position(g_state.pointer_focus, sx, sy);
    queue_motion(g_state.pointer_focus, now_ms());
}

void pointer_leave(void *, wl_pointer *, uint32_t, wl_surface *)
{
    g_state.pointer_focus = nullptr;
    g_state.buttons = 0;
}

void pointer_motion(void *, wl_pointer *, uint32_t time, wl_fixed_t sx, wl_fixed_t sy)
{
    WindowRec *w = g_state.pointer_focus;
    if (!w || w->destroying) return;
    note_position(w, sx, sy);
    queue_motion(w, time);
}

void pointer_button(void *, wl_pointer *, uint32_t, uint32_t time, uint32_t button, uint32_t state)
{
    WindowRec *w = g_state.pointer_focus;
    if (!w || w->destroying) return;
    bool press = state == WL_POINTER_BUTTON_STATE_PRESSED;
    MouseButton b;
    WPARAM bit;
    switch (button) {
    case BTN_LEFT: b = MouseButton::left; bit = MK_LBUTTON; break;
    case BTN_RIGHT: b = MouseButton::right; bit = MK_RBUTTON; break;
    case BTN_MIDDLE: b = MouseButton::middle; bit = MK_MBUTTON; break;
    default: return;
    }
    input_button(w->hwnd, b, press, key_state_bits(), client_point(w), g_state.position, time);
    g_state.buttons = press ? (g_state.buttons | bit) : (g_state.buttons & ~bit);
}

// One notch of the wheel per event of the vertical axis; turning away from the user is positive.
void pointer_axis(void *, wl_pointer *, uint32_t time, uint32_t axis, wl_fixed_t value)
{
    WindowRec *w = g_state.pointer_focus;
    if (!w || w->destroying || axis != WL_POINTER_AXIS_VERTICAL_SCROLL || value == 0) return;
    input_wheel(w->hwnd, value < 0, key_state_bits(), g_state.position, time);
}

void pointer_frame(void *, wl_pointer *) {}
void pointer_axis_source(void *, wl_pointer *, uint32_t) {}
void pointer_axis_stop(void *, wl_pointer *, uint32_t, uint32_t) {}
void pointer_axis_discrete(void *, wl_pointer *, uint32_t, int32_t) {}
void pointer_axis_value120(void *, wl_pointer *, uint32_t, int32_t) {}

const wl_pointer_listener pointer_listener = {pointer_enter,  pointer_leave,       pointer_motion,
                                              pointer_button, pointer_axis,        pointer_frame,
                                              pointer_axis_source, pointer_axis_stop, pointer_axis_discrete,
                                              pointer_axis_value120};

template <typename T>
void release_device(T *&device, void (*release)(T *), void (*destroy)(T *))
{
    if (!device) return;
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy *>(device)) >= 3)
        release(device);
    else
        destroy(device);
    device = nullptr;
}

} // namespace

void seat_capabilities_changed(Connection *c, uint32_t caps)
{
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && !c->keyboard) {
        c->keyboard = wl_seat_get_keyboard(c->seat);
        wl_keyboard_add_listener(c->keyboard, &keyboard_listener, nullptr);
    } else if (!(caps & WL_SEAT_CAPABILITY_KEYBOARD)) {
        release_device(c->keyboard, wl_keyboard_release, wl_keyboard_destroy);
        g_state.key_focus = g_state.left_window = nullptr;
    }
    if ((caps & WL_SEAT_CAPABILITY_POINTER) && !c->pointer) {
        c->pointer = wl_seat_get_pointer(c->seat);
        wl_pointer_add_listener(c->pointer, &pointer_listener, nullptr);
    } else if (!(caps & WL_SEAT_CAPABILITY_POINTER)) {
        release_device(c->pointer, wl_pointer_release, wl_pointer_destroy);
        g_state.pointer_focus = nullptr;
    }
}

void release_seat_devices(Connection *c)
{
    release_device(c->keyboard, wl_keyboard_release, wl_keyboard_destroy);
    release_device(c->pointer, wl_pointer_release, wl_pointer_destroy);
}

void settle_keyboard_leave()
{
    if (!g_state.left_window || static_cast<int32_t>(now_ms() - g_state.left_at) < int32_t(kLeaveSettleMs)) return;
    WindowRec *w = g_state.left_window;
    g_state.left_window = nullptr;
    set_activation(w, false);
}

void forget_input_window(WindowRec *w)
{
    if (g_state.left_window == w) g_state.left_window = nullptr;
    if (g_state.key_focus == w) g_state.key_focus = nullptr;
    if (g_state.pointer_focus == w) g_state.pointer_focus = nullptr;
}

void cursor_visibility_changed() { hide_or_show_pointer(); }

bool pointer_position(POINT *pt)
{
    if (g_state.position_known) {
        *pt = g_state.position;
        return true;
    }
    // Asked before the pointer was seen: the middle of the first output stands for it.
    if (!g_state.anchor_given) {
        Output *o = output_at(0, 0);
        g_state.anchor = o ? POINT{o->x + o->width / 2, o->y + o->height / 2} : POINT{0, 0};
        g_state.anchor_given = true;
    }
    *pt = g_state.anchor;
    return true;
}

void release_input()
{
    free_keymap();
    if (g_state.xkb) xkb_context_unref(g_state.xkb);
}

} // namespace wl
