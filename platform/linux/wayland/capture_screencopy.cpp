// Photographs through wlr screencopy (wlroots compositors): the compositor offers buffer kinds,
// we make an shm buffer of the first one we can read and ask for one copy into it.
#include "capture_internal.h"

#include <wayland-client.h>

#include "wlr-screencopy-unstable-v1-client.h"

namespace wl::capture {
namespace {

struct Screencopy {
    bool legacy = false;  // before version 3 the offers end with the first buffer event
    bool have_shm = false, offers_done = false, y_invert = false, ready = false, failed = false;
    bool finished = false;  // ready or failed
    uint32_t format = 0, width = 0, height = 0, stride = 0;
};

void on_buffer(void *data, zwlr_screencopy_frame_v1 *, uint32_t format, uint32_t width, uint32_t height, uint32_t stride)
{
    auto *s = static_cast<Screencopy *>(data);
    if (!s->have_shm && convertible_format(format)) {
        s->have_shm = true;
        s->format = format;
        s->width = width;
        s->height = height;
        s->stride = stride;
    }
    if (s->legacy)
        s->offers_done = true;
}

void on_flags(void *data, zwlr_screencopy_frame_v1 *, uint32_t flags)
{
    static_cast<Screencopy *>(data)->y_invert = flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
}

void on_ready(void *data, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t, uint32_t)
{
    auto *s = static_cast<Screencopy *>(data);
    s->ready = s->finished = true;
}

void on_failed(void *data, zwlr_screencopy_frame_v1 *)
{
    auto *s = static_cast<Screencopy *>(data);
    s->failed = s->finished = s->offers_done = true;
}

void on_damage(void *, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t, uint32_t, uint32_t) {}
void on_linux_dmabuf(void *, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t, uint32_t) {}

void on_buffer_done(void *data, zwlr_screencopy_frame_v1 *)
{
    static_cast<Screencopy *>(data)->offers_done = true;
}

const zwlr_screencopy_frame_v1_listener frame_listener = {
    on_buffer, on_flags, on_ready, on_failed, on_damage, on_linux_dmabuf, on_buffer_done,
};

struct FrameProxy {
    zwlr_screencopy_frame_v1 *frame = nullptr;
    ~FrameProxy()
    {
        if (frame)
            zwlr_screencopy_frame_v1_destroy(frame);
    }
};

}

bool photograph_by_screencopy(const CaptureGlobals &g, wl_output *output, Photo *out)
{
    const auto deadline = Clock::now() + kCompositorTimeout;
    PrivateQueue queue(g.display);
    auto *manager = queue.wrap(g.screencopy);
    auto *shm = queue.wrap(g.shm);
    if (!manager || !shm)
        return false;
    Screencopy state;
    state.legacy = zwlr_screencopy_manager_v1_get_version(g.screencopy) < 3;
    ShmBuffer buffer;
    FrameProxy frame;
    frame.frame = zwlr_screencopy_manager_v1_capture_output(manager, 0, output);
    if (!frame.frame || zwlr_screencopy_frame_v1_add_listener(frame.frame, &frame_listener, &state) < 0)
        return false;
    if (!queue.wait(&state.offers_done, deadline) || state.failed || !state.have_shm)
        return false;
    if (!buffer.create(shm, state.format, int(state.width), int(state.height), int(state.stride)))
        return false;
    zwlr_screencopy_frame_v1_copy(frame.frame, buffer.buffer());
    if (!queue.wait(&state.finished, deadline) || !state.ready)
        return false;
    return photo_from_shm(buffer.pixels(), state.format, int(state.width), int(state.height), int(state.stride),
                          state.y_invert, out);
}

}
