// Photographs of outputs: binding the capture globals, choosing the way, and turning what a way
// delivers into the photograph's layout.
#include "capture_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <wayland-client.h>

#include "ext-image-capture-source-v1-client.h"
#include "ext-image-copy-capture-v1-client.h"
#include "wlr-screencopy-unstable-v1-client.h"

namespace wl {

bool bind_capture_global(CaptureGlobals *g, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    if (!std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) && !g->screencopy) {
        g->screencopy = static_cast<zwlr_screencopy_manager_v1 *>(
            wl_registry_bind(registry, name, &zwlr_screencopy_manager_v1_interface, std::min(version, 3u)));
        return true;
    }
    if (!std::strcmp(interface, ext_output_image_capture_source_manager_v1_interface.name) && !g->output_sources) {
        g->output_sources = static_cast<ext_output_image_capture_source_manager_v1 *>(
            wl_registry_bind(registry, name, &ext_output_image_capture_source_manager_v1_interface, 1));
        return true;
    }
    if (!std::strcmp(interface, ext_image_copy_capture_manager_v1_interface.name) && !g->image_copy) {
        g->image_copy = static_cast<ext_image_copy_capture_manager_v1 *>(
            wl_registry_bind(registry, name, &ext_image_copy_capture_manager_v1_interface, 1));
        return true;
    }
    return false;
}

bool photograph_output(const CaptureGlobals &g, wl_output *output, int x, int y, int width, int height, Photo *out)
{
    *out = Photo();
    if (g.display && g.shm && output) {
        if (g.screencopy && capture::photograph_by_screencopy(g, output, out))
            return true;
        if (g.output_sources && g.image_copy && capture::photograph_by_image_copy(g, output, out))
            return true;
    }
    if (capture::photograph_by_kwin(x, y, width, height, out))
        return true;
    return capture::photograph_by_portal(g, x, y, width, height, out);
}

void release_capture_globals(CaptureGlobals *g)
{
    if (g->screencopy)
        zwlr_screencopy_manager_v1_destroy(g->screencopy);
    if (g->output_sources)
        ext_output_image_capture_source_manager_v1_destroy(g->output_sources);
    if (g->image_copy)
        ext_image_copy_capture_manager_v1_destroy(g->image_copy);
    g->screencopy = nullptr;
    g->output_sources = nullptr;
    g->image_copy = nullptr;
}

namespace capture {

namespace {

// Where a format keeps its channels in a little-endian 32-bit pixel: the lowest bit of red, green
// and blue, and how many bits each has.
struct Layout { int red, green, blue, bits; };

bool layout_of(uint32_t format, Layout *layout)
{
    switch (format) {
    case WL_SHM_FORMAT_XRGB8888:
    case WL_SHM_FORMAT_ARGB8888:
        *layout = {16, 8, 0, 8};
        return true;
    case WL_SHM_FORMAT_XBGR8888:
    case WL_SHM_FORMAT_ABGR8888:
        *layout = {0, 8, 16, 8};
        return true;
    case WL_SHM_FORMAT_XRGB2101010:
    case WL_SHM_FORMAT_ARGB2101010:
        *layout = {20, 10, 0, 10};
        return true;
    case WL_SHM_FORMAT_XBGR2101010:
    case WL_SHM_FORMAT_ABGR2101010:
        *layout = {0, 10, 20, 10};
        return true;
    default:
        return false;
    }
}

}

bool convertible_format(uint32_t format)
{
    Layout layout;
    return layout_of(format, &layout);
}

bool photo_from_shm(const uint8_t *pixels, uint32_t format, int width, int height, int stride, bool bottom_first,
                    Photo *out)
{
    Layout layout;
    if (!layout_of(format, &layout) || width <= 0 || height <= 0 || stride < width * 4)
        return false;
    const int drop = layout.bits - 8;  // keep each channel's top 8 bits
    out->width = width;
    out->height = height;
    out->pixels.assign(size_t(width) * height * 4, 0);
    for (int row = 0; row < height; ++row) {
        const uint8_t *src = pixels + size_t(bottom_first ? height - 1 - row : row) * stride;
        uint8_t *dst = out->pixels.data() + size_t(row) * width * 4;
        for (int col = 0; col < width; ++col, src += 4, dst += 4) {
            const uint32_t pixel = uint32_t(src[0]) | uint32_t(src[1]) << 8 | uint32_t(src[2]) << 16 |
                                   uint32_t(src[3]) << 24;
            dst[0] = uint8_t(pixel >> (layout.blue + drop));
            dst[1] = uint8_t(pixel >> (layout.green + drop));
            dst[2] = uint8_t(pixel >> (layout.red + drop));
        }
    }
    return true;
}

bool crop_desktop_picture(const DesktopPicture &picture, const CaptureGlobals &g, int x, int y, int width, int height,
                          Photo *out)
{
    if (width <= 0 || height <= 0 || picture.width <= 0 || picture.height <= 0 || picture.channels < 3)
        return false;
    const bool have_layout = g.layout_width > 0 && g.layout_height > 0;
    const double scale_x = have_layout ? double(picture.width) / g.layout_width : 1.0;
    const double scale_y = have_layout ? double(picture.height) / g.layout_height : 1.0;
    const int origin_x = have_layout ? g.layout_x : 0, origin_y = have_layout ? g.layout_y : 0;
    const int left = int(std::lround((x - origin_x) * scale_x)), top = int(std::lround((y - origin_y) * scale_y));
    const int right = int(std::lround((x + width - origin_x) * scale_x));
    const int bottom = int(std::lround((y + height - origin_y) * scale_y));
    if (right <= std::max(left, 0) || bottom <= std::max(top, 0) || left >= picture.width || top >= picture.height)
        return false;
    out->width = right - left;
    out->height = bottom - top;
    out->pixels.assign(size_t(out->width) * out->height * 4, 0);
    for (int row = std::max(top, 0); row < std::min(bottom, picture.height); ++row) {
        const int first = std::max(left, 0), end = std::min(right, picture.width);
        const uint8_t *src = picture.pixels + size_t(row) * picture.rowstride + size_t(first) * picture.channels;
        uint8_t *dst = out->pixels.data() + (size_t(row - top) * out->width + (first - left)) * 4;
        for (int col = first; col < end; ++col, src += picture.channels, dst += 4) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
    return true;
}

}
}
