#pragma once
#include <cstdint>
#include <vector>

struct wl_display; struct wl_registry; struct wl_output; struct wl_shm;
struct zwlr_screencopy_manager_v1; struct ext_output_image_capture_source_manager_v1; struct ext_image_copy_capture_manager_v1;

namespace wl {

// A photograph: rows top first, 4 bytes a pixel in memory order blue, green, red, unused.
struct Photo { int width = 0, height = 0; std::vector<uint8_t> pixels; };

// What the compositor offers for photographing outputs (null when it does not).
struct CaptureGlobals {
    wl_display *display = nullptr;
    wl_shm *shm = nullptr;
    zwlr_screencopy_manager_v1 *screencopy = nullptr;
    ext_output_image_capture_source_manager_v1 *output_sources = nullptr;
    ext_image_copy_capture_manager_v1 *image_copy = nullptr;
    // The box around every output in the compositor's logical layout, which the portal's picture of
    // the whole desktop covers. Left empty, the picture is taken to start at 0, 0 one pixel a unit.
    int layout_x = 0, layout_y = 0, layout_width = 0, layout_height = 0;
};

// Called from the backend's wl_registry global handler: binds the global if it is one of these
// (wl_shm is bound by the backend and just stored). True when it took it.
bool bind_capture_global(CaptureGlobals *g, wl_registry *registry, uint32_t name, const char *interface, uint32_t version);

// The output's contents (its area in the compositor's logical layout is x, y, width, height), by
// the first way that works: wlr screencopy, else ext image copy capture, else KWin's screenshot
// service, else the desktop portal's Screenshot (the portal's picture of the whole desktop cropped
// to the area, only when the portal's permission store allows it); false when none does
// (the caller then uses black). Blocks at most a few seconds. The photograph is in the picture's own
// pixels (the output's buffer, or the portal's picture), so it may be larger than width x height.
bool photograph_output(const CaptureGlobals &g, wl_output *output, int x, int y, int width, int height, Photo *out);

void release_capture_globals(CaptureGlobals *g);

}
