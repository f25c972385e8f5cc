// Input for the Wayland tests: a virtual pointer and a virtual keyboard on the compositor named by
// $WAYLAND_DISPLAY, driven by commands read line by line from stdin until it closes. The
// compositor drops the devices when their client goes, so the driver lives as long as the case
// that uses it.
//   move DX DY       relative motion in logical pixels
//   button CODE 1|0  press or release (Linux codes: 272 left, 273 right, 274 middle)
//   wheel N          N wheel steps on the vertical axis (negative: up)
//   key NAME         press and release the key of an XKB keysym name ("Return")
// Prints "ready" once the devices exist and "ok" after each command has reached the compositor.
// The keyboard has the standard US keymap and real timestamps, as a hardware keyboard has; GTK
// does not act on keys that come with other keymaps or no time.
#include "virtual-keyboard-unstable-v1-client.h"
#include "wlr-virtual-pointer-unstable-v1-client.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>

namespace {

wl_seat *seat;
zwlr_virtual_pointer_manager_v1 *pointer_manager;
zwp_virtual_keyboard_manager_v1 *keyboard_manager;
xkb_context *xkb;
xkb_keymap *keymap;

template <class T> T *bind(wl_registry *registry, uint32_t name, const wl_interface &interface)
{
    return static_cast<T *>(wl_registry_bind(registry, name, &interface, 1));
}

void on_global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (!seat && strcmp(interface, wl_seat_interface.name) == 0)
        seat = bind<wl_seat>(registry, name, wl_seat_interface);
    else if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        pointer_manager = bind<zwlr_virtual_pointer_manager_v1>(registry, name, zwlr_virtual_pointer_manager_v1_interface);
    else if (strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
        keyboard_manager = bind<zwp_virtual_keyboard_manager_v1>(registry, name, zwp_virtual_keyboard_manager_v1_interface);
}

void on_global_remove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener registry_listener = {on_global, on_global_remove};

uint32_t now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

// Gives the keyboard the default (US) keymap; false when it cannot be made.
bool send_keymap(zwp_virtual_keyboard_v1 *keyboard)
{
    xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    keymap = xkb ? xkb_keymap_new_from_names(xkb, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (!keymap) return false;
    char *text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    size_t size = strlen(text) + 1;
    int fd = memfd_create("keymap", MFD_CLOEXEC);
    bool written = fd >= 0 && write(fd, text, size) == ssize_t(size);
    free(text);
    if (written) zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, uint32_t(size));
    if (fd >= 0) close(fd);
    return written;
}

// The Linux key code that gives keysym at the first level of the keymap; 0 if none does.
uint32_t key_code(xkb_keysym_t keysym)
{
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap); code++) {
        const xkb_keysym_t *syms;
        if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &syms) > 0 && syms[0] == keysym) return code - 8;
    }
    return 0;
}

struct Devices {
    zwlr_virtual_pointer_v1 *pointer;
    zwp_virtual_keyboard_v1 *keyboard;
};

// Sends one command's events; false when the line is not a command.
bool send(const Devices &d, const std::string &line)
{
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    if (verb == "move") {
        double dx, dy;
        if (!(in >> dx >> dy)) return false;
        zwlr_virtual_pointer_v1_motion(d.pointer, now_ms(), wl_fixed_from_double(dx), wl_fixed_from_double(dy));
    } else if (verb == "button") {
        unsigned code, pressed;
        if (!(in >> code >> pressed)) return false;
        zwlr_virtual_pointer_v1_button(d.pointer, now_ms(), code,
                                       pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    } else if (verb == "wheel") {
        int steps;
        if (!(in >> steps)) return false;
        zwlr_virtual_pointer_v1_axis_source(d.pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
        zwlr_virtual_pointer_v1_axis_discrete(d.pointer, now_ms(), WL_POINTER_AXIS_VERTICAL_SCROLL,
                                              wl_fixed_from_int(15 * steps), steps);
    } else if (verb == "key") {
        std::string name;
        uint32_t code = in >> name ? key_code(xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_NO_FLAGS)) : 0;
        if (!code) return false;
        zwp_virtual_keyboard_v1_key(d.keyboard, now_ms(), code, WL_KEYBOARD_KEY_STATE_PRESSED);
        zwp_virtual_keyboard_v1_key(d.keyboard, now_ms(), code, WL_KEYBOARD_KEY_STATE_RELEASED);
        return true;
    } else {
        return false;
    }
    zwlr_virtual_pointer_v1_frame(d.pointer);
    return true;
}

} // namespace

int main()
{
    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        fprintf(stderr, "no Wayland compositor answers\n");
        return 1;
    }
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, nullptr);
    wl_display_roundtrip(display);
    if (!seat || !pointer_manager || !keyboard_manager) {
        fprintf(stderr, "the compositor offers no seat, virtual pointer or virtual keyboard\n");
        return 1;
    }
    Devices d = {zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointer_manager, seat),
                 zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboard_manager, seat)};
    if (!send_keymap(d.keyboard) || wl_display_roundtrip(display) < 0) return 1;
    std::cout << "ready" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
        if (!send(d, line)) {
            std::cout << "unknown command: " << line << std::endl;
            continue;
        }
        if (wl_display_roundtrip(display) < 0) return 1;
        std::cout << "ok" << std::endl;
    }
    zwp_virtual_keyboard_v1_destroy(d.keyboard);
    zwlr_virtual_pointer_v1_destroy(d.pointer);
    zwlr_virtual_pointer_manager_v1_destroy(pointer_manager);
    zwp_virtual_keyboard_manager_v1_destroy(keyboard_manager);
    wl_seat_destroy(seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    xkb_keymap_unref(keymap);
    xkb_context_unref(xkb);
    return 0;
}
