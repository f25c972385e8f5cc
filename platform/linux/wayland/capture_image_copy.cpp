// Photographs through ext image copy capture: a session on a capture source of the output tells
// the buffer's size and formats; one frame is captured into an shm buffer of those.
#include "capture_internal.h"

#include <wayland-client.h>

#include "ext-image-capture-source-v1-client.h"
#include "ext-image-copy-capture-v1-client.h"

namespace wl::capture {
namespace {

struct Session {
    uint32_t width = 0, height = 0, format = 0;
    bool have_format = false, done = false, stopped = false;
};

void on_buffer_size(void *data, ext_image_copy_capture_session_v1 *, uint32_t width, uint32_t height)
{
    auto *s = static_cast<Session *>(data);
    s->width = width;
    s->height = height;
}

void on_shm_format(void *data, ext_image_copy_capture_session_v1 *, uint32_t format)
{
    auto *s = static_cast<Session *>(data);
    if (!s->have_format && convertible_format(format)) {
        s->have_format = true;
        s->format = format;
    }
}

void on_dmabuf_device(void *, ext_image_copy_capture_session_v1 *, wl_array *) {}
void on_dmabuf_format(void *, ext_image_copy_capture_session_v1 *, uint32_t, wl_array *) {}

void on_session_done(void *data, ext_image_copy_capture_session_v1 *)
{
    static_cast<Session *>(data)->done = true;
}

void on_stopped(void *data, ext_image_copy_capture_session_v1 *)
{
    auto *s = static_cast<Session *>(data);
    s->stopped = s->done = true;
}

const ext_image_copy_capture_session_v1_listener session_listener = {
    on_buffer_size, on_shm_format, on_dmabuf_device, on_dmabuf_format, on_session_done, on_stopped,
};

struct Frame {
    bool ready = false, finished = false;
};

void on_transform(void *, ext_image_copy_capture_frame_v1 *, uint32_t) {}
void on_damage(void *, ext_image_copy_capture_frame_v1 *, int32_t, int32_t, int32_t, int32_t) {}
void on_presentation_time(void *, ext_image_copy_capture_frame_v1 *, uint32_t, uint32_t, uint32_t) {}

void on_ready(void *data, ext_image_copy_capture_frame_v1 *)
{
    auto *f = static_cast<Frame *>(data);
    f->ready = f->finished = true;
}

void on_failed(void *data, ext_image_copy_capture_frame_v1 *, uint32_t)
{
    static_cast<Frame *>(data)->finished = true;
}

const ext_image_copy_capture_frame_v1_listener frame_listener = {
    on_transform, on_damage, on_presentation_time, on_ready, on_failed,
};

// The objects of one capture, destroyed newest first.
struct Objects {
    ext_image_capture_source_v1 *source = nullptr;
    ext_image_copy_capture_session_v1 *session = nullptr;
    ext_image_copy_capture_frame_v1 *frame = nullptr;
    ~Objects()
    {
        if (frame)
            ext_image_copy_capture_frame_v1_destroy(frame);
        if (session)
            ext_image_copy_capture_session_v1_destroy(session);
        if (source)
            ext_image_capture_source_v1_destroy(source);
    }
};

}

bool photograph_by_image_copy(const CaptureGlobals &g, wl_output *output, Photo *out)
{
    const auto deadline = Clock::now() + kCompositorTimeout;
    PrivateQueue queue(g.display);
    auto *sources = queue.wrap(g.output_sources);
    auto *manager = queue.wrap(g.image_copy);
    auto *shm = queue.wrap(g.shm);
    if (!sources || !manager || !shm)
        return false;
    ShmBuffer buffer;
    Objects objects;
    Session session;
    Frame frame;
    objects.source = ext_output_image_capture_source_manager_v1_create_source(sources, output);
    if (!objects.source)
        return false;
    objects.session = ext_image_copy_capture_manager_v1_create_session(manager, objects.source, 0);
    if (!objects.session ||
        ext_image_copy_capture_session_v1_add_listener(objects.session, &session_listener, &session) < 0)
        return false;
    if (!queue.wait(&session.done, deadline) || session.stopped || !session.have_format)
        return false;
    const int width = int(session.width), height = int(session.height);
    if (!buffer.create(shm, session.format, width, height, width * 4))
        return false;
    objects.frame = ext_image_copy_capture_session_v1_create_frame(objects.session);
    if (!objects.frame || ext_image_copy_capture_frame_v1_add_listener(objects.frame, &frame_listener, &frame) < 0)
        return false;
    ext_image_copy_capture_frame_v1_attach_buffer(objects.frame, buffer.buffer());
    ext_image_copy_capture_frame_v1_damage_buffer(objects.frame, 0, 0, width, height);
    ext_image_copy_capture_frame_v1_capture(objects.frame);
    if (!queue.wait(&frame.finished, deadline) || !frame.ready)
        return false;
    return photo_from_shm(buffer.pixels(), session.format, width, height, width * 4, false, out);
}

}
