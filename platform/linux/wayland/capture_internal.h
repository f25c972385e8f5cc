#pragma once
// Pieces shared by the ways of photographing an output (capture*.cpp); not for the rest of the backend.
#include "capture.h"

#include <chrono>
#include <cstddef>

#include <string>

struct wl_event_queue; struct wl_shm_pool; struct wl_buffer;
typedef struct _GDBusConnection GDBusConnection;

namespace wl::capture {

using Clock = std::chrono::steady_clock;

// How long one Wayland way may take.
constexpr std::chrono::milliseconds kCompositorTimeout{2000};
// How long the saver waits for the portal to take its call, and then for the picture: where no
// backend answers, the desktop shows meanwhile.
constexpr std::chrono::milliseconds kPortalCallTimeout{1000};
constexpr std::chrono::milliseconds kPortalAnswerTimeout{1000};

// The wl_shm formats a photograph can be made from: 4 bytes a pixel, 8 or 10 bits a channel.
bool convertible_format(uint32_t format);

// A photograph from a copied buffer in one of those formats; bottom_first when its rows run upward.
bool photo_from_shm(const uint8_t *pixels, uint32_t format, int width, int height, int stride, bool bottom_first,
                    Photo *out);

// A picture of the whole desktop as GdkPixbuf holds it: red, green, blue (and alpha), rows top first.
struct DesktopPicture { const uint8_t *pixels; int width, height, rowstride, channels; };

// The part of the desktop picture that shows the area x, y, width, height of the logical layout
// (g's layout box, or the picture's own size when that is empty); black where the picture ends.
bool crop_desktop_picture(const DesktopPicture &picture, const CaptureGlobals &g, int x, int y, int width, int height,
                          Photo *out);

// A private event queue, so that waiting for the compositor dispatches only our own objects.
// Objects made through wrap()ped proxies land on it; they must be destroyed before the queue is.
class PrivateQueue {
public:
    explicit PrivateQueue(wl_display *display);
    ~PrivateQueue();
    PrivateQueue(const PrivateQueue &) = delete;
    PrivateQueue &operator=(const PrivateQueue &) = delete;

    // A wrapper of proxy whose new objects come on this queue (destroyed with the queue).
    template <typename T> T *wrap(T *proxy) { return static_cast<T *>(wrap_proxy(proxy)); }
    // Dispatches this queue until *done or the deadline; false on timeout or a broken connection.
    bool wait(const bool *done, Clock::time_point deadline);
    bool valid() const { return queue_ != nullptr; }

private:
    void *wrap_proxy(void *proxy);
    wl_display *display_;
    wl_event_queue *queue_;
    void *wrappers_[4] = {};
    int wrapper_count_ = 0;
};

// A buffer in an anonymous shared memory file, made through a wl_shm wrapped by a PrivateQueue.
class ShmBuffer {
public:
    ShmBuffer() = default;
    ~ShmBuffer();
    ShmBuffer(const ShmBuffer &) = delete;
    ShmBuffer &operator=(const ShmBuffer &) = delete;

    bool create(wl_shm *shm, uint32_t format, int width, int height, int stride);
    wl_buffer *buffer() const { return buffer_; }
    const uint8_t *pixels() const { return static_cast<const uint8_t *>(data_); }

private:
    int fd_ = -1;
    void *data_ = nullptr;
    size_t size_ = 0;
    wl_shm_pool *pool_ = nullptr;
    wl_buffer *buffer_ = nullptr;
};

bool photograph_by_screencopy(const CaptureGlobals &g, wl_output *output, Photo *out);
bool photograph_by_image_copy(const CaptureGlobals &g, wl_output *output, Photo *out);
// KWin's screenshot service: the area of the logical layout at the outputs' full resolution.
bool photograph_by_kwin(int x, int y, int width, int height, Photo *out);

// The portal's permission store's answer for screenshots by programs outside a sandbox: the portal
// takes a non-interactive screenshot silently only with yes; unset, it asks the user first.
enum class ScreenshotPermission { yes, no, unset };
ScreenshotPermission screenshot_permission(GDBusConnection *bus);
// Takes a stored answer away, so that the portal asks again; false when the store refused.
bool forget_screenshot_permission(GDBusConnection *bus);

struct PortalWaits { std::chrono::milliseconds call, answer; };
// Asks the portal for a non-interactive screenshot of the whole desktop, the call and its answer
// each given as long as waits says; the file it wrote (the caller deletes it), or empty.
std::string portal_screenshot_file(PortalWaits waits);

bool photograph_by_portal(const CaptureGlobals &g, int x, int y, int width, int height, Photo *out);

}
