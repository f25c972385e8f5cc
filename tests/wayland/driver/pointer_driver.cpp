// A pointer for the Wayland tests: a virtual pointer on the compositor named by $WAYLAND_DISPLAY,
// driven by commands read line by line from stdin until it closes. The compositor drops the
// pointer when its client goes, so the driver lives as long as the case that uses it.
//   move DX DY       relative motion in logical pixels
//   button CODE 1|0  press or release (Linux codes: 272 left, 273 right, 274 middle)
//   wheel N          N wheel steps on the vertical axis (negative: up)
// Prints "ready" once the pointer exists and "ok" after each command has reached the compositor.
#include "wlr-virtual-pointer-unstable-v1-client.h"

#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>

namespace {

wl_seat *seat;
zwlr_virtual_pointer_manager_v1 *manager;

void on_global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (!seat && strcmp(interface, wl_seat_interface.name) == 0)
        seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = static_cast<zwlr_virtual_pointer_manager_v1 *>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
}

void on_global_remove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener registry_listener = {on_global, on_global_remove};

uint32_t now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

// Sends one command's events; false when the line is not a command.
bool send(zwlr_virtual_pointer_v1 *pointer, const std::string &line)
{
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    if (verb == "move") {
        double dx, dy;
        if (!(in >> dx >> dy)) return false;
        zwlr_virtual_pointer_v1_motion(pointer, now_ms(), wl_fixed_from_double(dx), wl_fixed_from_double(dy));
    } else if (verb == "button") {
        unsigned code, pressed;
        if (!(in >> code >> pressed)) return false;
        zwlr_virtual_pointer_v1_button(pointer, now_ms(), code,
                                       pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    } else if (verb == "wheel") {
        int steps;
        if (!(in >> steps)) return false;
        zwlr_virtual_pointer_v1_axis_source(pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
        zwlr_virtual_pointer_v1_axis_discrete(pointer, now_ms(), WL_POINTER_AXIS_VERTICAL_SCROLL,
                                              wl_fixed_from_int(15 * steps), steps);
    } else {
        return false;
    }
    zwlr_virtual_pointer_v1_frame(pointer);
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
    if (!seat || !manager) {
        fprintf(stderr, "the compositor offers no %s\n", seat ? "virtual pointer" : "seat");
        return 1;
    }
    zwlr_virtual_pointer_v1 *pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    if (wl_display_roundtrip(display) < 0) return 1;
    std::cout << "ready" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
        if (!send(pointer, line)) {
            std::cout << "unknown command: " << line << std::endl;
            continue;
        }
        if (wl_display_roundtrip(display) < 0) return 1;
        std::cout << "ok" << std::endl;
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(manager);
    wl_seat_destroy(seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
