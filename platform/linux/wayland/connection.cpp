// The connection to the Wayland compositor: its globals, its outputs and their places in the
// layout, and reading what it sends without ever blocking the frame loop.
#include "wayland.h"

#include "frame_clock.h"
#include "layer_shell.h"
#include "xdg-output-unstable-v1-client.h"
#include "xdg-shell-client.h"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace wl {

State g_state;

// In input.cpp: the seat's keyboard and pointer, taken and let go as the seat has them.
void seat_capabilities_changed(Connection *c, uint32_t caps);
void release_seat_devices(Connection *c);

namespace {

constexpr int kAnswerMs = 2000;

template <typename T>
T *bind(wl_registry *r, uint32_t name, const wl_interface *iface, uint32_t offered, uint32_t wanted)
{
    return static_cast<T *>(wl_registry_bind(r, name, iface, std::min(offered, wanted)));
}

void output_geometry(void *, wl_output *, int32_t, int32_t, int32_t, int32_t, int32_t, const char *, const char *,
                     int32_t)
{
}

void output_mode(void *data, wl_output *, uint32_t flags, int32_t width, int32_t height, int32_t refresh)
{
    auto *o = static_cast<Output *>(data);
    if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
    o->mode_width = width;
    o->mode_height = height;
    o->refresh_mhz = refresh;
}

void output_done(void *data, wl_output *)
{
    auto *o = static_cast<Output *>(data);
    outputs_changed();
    if (o->logical_known) return;
    // Without xdg-output, outputs are taken to lie side by side in the order they came.
    o->width = o->mode_width / std::max(o->scale, 1);
    o->height = o->mode_height / std::max(o->scale, 1);
}

void output_scale(void *data, wl_output *, int32_t factor) { static_cast<Output *>(data)->scale = factor; }

void output_text(void *, wl_output *, const char *) {}

const wl_output_listener output_listener = {output_geometry, output_mode, output_done, output_scale, output_text,
                                            output_text};

void xdg_output_position(void *data, zxdg_output_v1 *, int32_t x, int32_t y)
{
    auto *o = static_cast<Output *>(data);
    o->x = x;
    o->y = y;
    o->logical_known = true;
}

void xdg_output_size(void *data, zxdg_output_v1 *, int32_t width, int32_t height)
{
    auto *o = static_cast<Output *>(data);
    o->width = width;
    o->height = height;
    o->logical_known = true;
}

void xdg_output_done(void *, zxdg_output_v1 *) { outputs_changed(); }
void xdg_output_name(void *, zxdg_output_v1 *, const char *) {}
void xdg_output_description(void *, zxdg_output_v1 *, const char *) {}

const zxdg_output_v1_listener xdg_output_listener = {xdg_output_position, xdg_output_size, xdg_output_done,
                                                      xdg_output_name, xdg_output_description};

void watch_logical_place(Connection *c, Output *o)
{
    if (!c->output_manager || o->xdg) return;
    o->xdg = zxdg_output_manager_v1_get_xdg_output(c->output_manager, o->output);
    zxdg_output_v1_add_listener(o->xdg, &xdg_output_listener, o);
}

void add_output(Connection *c, wl_registry *r, uint32_t name, uint32_t version)
{
    auto o = std::make_unique<Output>();
    o->name = name;
    o->output = bind<wl_output>(r, name, &wl_output_interface, version, 2);
    wl_output_add_listener(o->output, &output_listener, o.get());
    watch_logical_place(c, o.get());
    c->outputs.push_back(std::move(o));
}

void wm_base_ping(void *, xdg_wm_base *base, uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener wm_base_listener = {wm_base_ping};

void seat_capabilities(void *data, wl_seat *, uint32_t caps) { seat_capabilities_changed(static_cast<Connection *>(data), caps); }
void seat_name(void *, wl_seat *, const char *) {}
const wl_seat_listener seat_listener = {seat_capabilities, seat_name};

void registry_global(void *data, wl_registry *r, uint32_t name, const char *interface, uint32_t version)
{
    auto *c = static_cast<Connection *>(data);
    if (strcmp(interface, wl_compositor_interface.name) == 0) {
        c->compositor = bind<wl_compositor>(r, name, &wl_compositor_interface, version, 4);
    } else if (strcmp(interface, wl_shm_interface.name) == 0) {
        c->shm = bind<wl_shm>(r, name, &wl_shm_interface, version, 1);
        c->capture.shm = c->shm;
    } else if (strcmp(interface, wl_seat_interface.name) == 0 && !c->seat) {
        c->seat = bind<wl_seat>(r, name, &wl_seat_interface, version, 5);
        wl_seat_add_listener(c->seat, &seat_listener, c);
    } else if (strcmp(interface, wl_output_interface.name) == 0) {
        add_output(c, r, name, version);
    } else if (strcmp(interface, xdg_wm_base_interface.name) == 0) {
        c->wm_base = bind<xdg_wm_base>(r, name, &xdg_wm_base_interface, version, 1);
        xdg_wm_base_add_listener(c->wm_base, &wm_base_listener, nullptr);
    } else if (strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
        c->layer_shell = bind<zwlr_layer_shell_v1>(r, name, &zwlr_layer_shell_v1_interface, version, 3);
    } else if (strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
        c->output_manager = bind<zxdg_output_manager_v1>(r, name, &zxdg_output_manager_v1_interface, version, 2);
        for (auto &o : c->outputs) watch_logical_place(c, o.get());
    } else {
        bind_capture_global(&c->capture, r, name, interface, version);
    }
}

void registry_global_remove(void *data, wl_registry *, uint32_t name)
{
    auto *c = static_cast<Connection *>(data);
    for (auto it = c->outputs.begin(); it != c->outputs.end(); ++it) {
        if ((*it)->name != name) continue;
        for (WindowRec *w : windows())
            if (w->output == it->get()) w->output = nullptr;
        if ((*it)->xdg) zxdg_output_v1_destroy((*it)->xdg);
        wl_output_destroy((*it)->output);
        c->outputs.erase(it);
        outputs_changed();
        return;
    }
}

const wl_registry_listener registry_listener = {registry_global, registry_global_remove};

// Outputs xdg-output did not place go side by side, left to right.
void place_unplaced_outputs(Connection *c)
{
    int x = 0;
    for (auto &o : c->outputs)
        if (o->logical_known) x = std::max(x, o->x + o->width);
    for (auto &o : c->outputs) {
        if (o->logical_known) continue;
        o->x = x;
        o->y = 0;
        x += o->width;
    }
}

void update_layout_box(Connection *c)
{
    if (c->outputs.empty()) return;
    RECT box = output_rect(*c->outputs[0]);
    for (auto &o : c->outputs) {
        RECT r = output_rect(*o);
        box = {std::min(box.left, r.left), std::min(box.top, r.top), std::max(box.right, r.right),
               std::max(box.bottom, r.bottom)};
    }
    c->capture.layout_x = box.left;
    c->capture.layout_y = box.top;
    c->capture.layout_width = box.right - box.left;
    c->capture.layout_height = box.bottom - box.top;
}

void mark_broken()
{
    if (g_state.conn && !g_state.conn->broken) {
        g_state.conn->broken = true;
        g_state.lost = true;
    }
}

// Whether $WAYLAND_DISPLAY names a socket that exists, as libwayland would find it. Checked
// first, so that a stale or unusable setting fails quietly (libwayland reports on stderr).
bool socket_present()
{
    const char *name = getenv("WAYLAND_DISPLAY");
    if (!name || !*name) name = "wayland-0";
    std::string path = name;
    if (name[0] != '/') {
        const char *dir = getenv("XDG_RUNTIME_DIR");
        if (!dir || dir[0] != '/') return false;
        path = std::string(dir) + "/" + name;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

void answered(void *data, wl_callback *callback, uint32_t)
{
    *static_cast<bool *>(data) = true;
    wl_callback_destroy(callback);
}
const wl_callback_listener answer_listener = {answered};

// A round trip that waits no longer than timeout_ms for the compositor's answer: false when it
// did not come by then (a compositor that is stopped or wedged) or the connection failed.
bool round_trip_within(wl_display *d, int timeout_ms)
{
    bool done = false;
    wl_callback *callback = wl_display_sync(d);
    wl_callback_add_listener(callback, &answer_listener, &done);
    const int64_t deadline = monotonic_ns() + int64_t(timeout_ms) * 1000000;
    while (!done) {
        if (wl_display_flush(d) < 0 && errno != EAGAIN) break;
        if (wl_display_prepare_read(d) != 0) {
            if (wl_display_dispatch_pending(d) < 0) break;
            continue;
        }
        int64_t left_ms = (deadline - monotonic_ns()) / 1000000;
        pollfd p = {wl_display_get_fd(d), POLLIN, 0};
        int ready = left_ms > 0 ? poll(&p, 1, int(left_ms)) : 0;
        if (ready < 0 && errno == EINTR) {
            wl_display_cancel_read(d);
            continue;
        }
        if (ready <= 0) {
            wl_display_cancel_read(d);
            break;
        }
        if (wl_display_read_events(d) < 0 || wl_display_dispatch_pending(d) < 0) break;
    }
    if (!done) wl_callback_destroy(callback);
    return done;
}

Connection *open_connection()
{
    if (!socket_present()) return nullptr;
    wl_display *display = wl_display_connect(nullptr);
    if (!display) return nullptr;
    auto *c = new Connection;
    c->display = display;
    c->capture.display = display;
    c->registry = wl_display_get_registry(display);
    wl_registry_add_listener(c->registry, &registry_listener, c);
    // The globals, then what each bound one tells at once (outputs' modes and places, the seat's
    // devices), then what those lead to (xdg-outputs of outputs bound before the manager). A
    // compositor that does not answer within kAnswerMs counts as none.
    bool answering = true;
    for (int i = 0; i < 3 && answering; i++) answering = round_trip_within(display, kAnswerMs);
    if (!answering || wl_display_get_error(display) || !c->compositor) {
        wl_registry_destroy(c->registry);
        wl_display_disconnect(display);
        delete c;
        return nullptr;
    }
    place_unplaced_outputs(c);
    update_layout_box(c);
    return c;
}

} // namespace

Connection *connection()
{
    if (g_state.conn && g_state.conn->broken) return nullptr;
    if (!g_state.conn) g_state.conn = open_connection();
    return g_state.conn;
}

bool connection_lost() { return g_state.lost; }

void read_events()
{
    if (!g_state.conn || g_state.conn->broken) return;
    wl_display *d = g_state.conn->display;
    if (wl_display_dispatch_pending(d) < 0) return mark_broken();
    if (wl_display_flush(d) < 0 && errno != EAGAIN) return mark_broken();
    if (wl_display_prepare_read(d) != 0) {
        if (wl_display_dispatch_pending(d) < 0) mark_broken();
        return;
    }
    pollfd p = {wl_display_get_fd(d), POLLIN, 0};
    if (poll(&p, 1, 0) > 0) {
        if (wl_display_read_events(d) < 0) return mark_broken();
    } else {
        wl_display_cancel_read(d);
    }
    if (p.revents & (POLLHUP | POLLERR)) return mark_broken();
    if (wl_display_dispatch_pending(d) < 0) mark_broken();
}

bool round_trip()
{
    if (!g_state.conn || g_state.conn->broken) return false;
    if (wl_display_roundtrip(g_state.conn->display) < 0) {
        mark_broken();
        return false;
    }
    place_unplaced_outputs(g_state.conn);
    update_layout_box(g_state.conn);
    return true;
}

namespace {

void frame_answered(void *, wl_callback *callback, uint32_t)
{
    wl_callback_destroy(callback);
    g_state.frame_answer = nullptr;
}
const wl_callback_listener frame_answer_listener = {frame_answered};

} // namespace

bool caught_up_with_frames()
{
    read_events();
    return !g_state.frame_answer && g_state.conn && !g_state.conn->broken;
}

void ask_frame_answer()
{
    if (!g_state.conn || g_state.conn->broken || g_state.frame_answer) return;
    g_state.frame_answer = wl_display_sync(g_state.conn->display);
    wl_callback_add_listener(g_state.frame_answer, &frame_answer_listener, nullptr);
    wl_display_flush(g_state.conn->display);
}

RECT output_rect(const Output &o) { return {o.x, o.y, o.x + o.width, o.y + o.height}; }

Output *output_at(int x, int y)
{
    Connection *c = connection();
    if (!c || c->outputs.empty()) return nullptr;
    for (auto &o : c->outputs) {
        RECT r = output_rect(*o);
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return o.get();
    }
    return c->outputs.front().get();
}

void close_connection()
{
    if (!g_state.conn) return;
    Connection *c = g_state.conn;
    // A broken connection is kept: its objects may not be destroyed through it, and the program
    // ends soon after.
    wl_callback *frame_answer = g_state.frame_answer;
    if (c->broken) return;
    if (frame_answer) wl_callback_destroy(frame_answer);
    release_capture_globals(&c->capture);
    for (auto &o : c->outputs) {
        if (o->xdg) zxdg_output_v1_destroy(o->xdg);
        wl_output_destroy(o->output);
    }
    release_seat_devices(c);
    if (c->seat) wl_seat_destroy(c->seat);
    if (c->layer_shell) zwlr_layer_shell_v1_destroy(c->layer_shell);
    if (c->output_manager) zxdg_output_manager_v1_destroy(c->output_manager);
    if (c->wm_base) xdg_wm_base_destroy(c->wm_base);
    if (c->shm) wl_shm_destroy(c->shm);
    if (c->compositor) wl_compositor_destroy(c->compositor);
    wl_registry_destroy(c->registry);
    wl_display_disconnect(c->display);
    delete c;
}

} // namespace wl
