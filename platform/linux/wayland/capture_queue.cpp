// The private event queue and the shared-memory buffers the Wayland ways of photographing use.
#include "capture_internal.h"

#include <cerrno>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>

namespace wl::capture {

PrivateQueue::PrivateQueue(wl_display *display) : display_(display), queue_(wl_display_create_queue(display)) {}

PrivateQueue::~PrivateQueue()
{
    for (int i = 0; i < wrapper_count_; ++i)
        wl_proxy_wrapper_destroy(wrappers_[i]);
    if (queue_) {
        wl_display_flush(display_);
        wl_event_queue_destroy(queue_);
    }
}

void *PrivateQueue::wrap_proxy(void *proxy)
{
    if (!queue_ || wrapper_count_ == int(sizeof wrappers_ / sizeof wrappers_[0]))
        return nullptr;
    void *wrapper = wl_proxy_create_wrapper(proxy);
    if (!wrapper)
        return nullptr;
    wl_proxy_set_queue(static_cast<wl_proxy *>(wrapper), queue_);
    wrappers_[wrapper_count_++] = wrapper;
    return wrapper;
}

bool PrivateQueue::wait(const bool *done, Clock::time_point deadline)
{
    const int fd = wl_display_get_fd(display_);
    while (!*done) {
        if (wl_display_prepare_read_queue(display_, queue_) != 0) {
            if (wl_display_dispatch_queue_pending(display_, queue_) < 0)
                return false;
            continue;
        }
        const int flushed = wl_display_flush(display_);
        if (flushed < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display_);
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            wl_display_cancel_read(display_);
            return false;
        }
        pollfd p = {fd, short(POLLIN | (flushed < 0 ? POLLOUT : 0)), 0};
        const int ready = poll(&p, 1, int(left));
        if (ready < 0 && errno != EINTR) {
            wl_display_cancel_read(display_);
            return false;
        }
        if (ready > 0 && (p.revents & (POLLIN | POLLERR | POLLHUP))) {
            if (wl_display_read_events(display_) < 0)
                return false;
        } else {
            wl_display_cancel_read(display_);
        }
        if (wl_display_dispatch_queue_pending(display_, queue_) < 0)
            return false;
    }
    return true;
}

ShmBuffer::~ShmBuffer()
{
    if (buffer_)
        wl_buffer_destroy(buffer_);
    if (pool_)
        wl_shm_pool_destroy(pool_);
    if (data_)
        munmap(data_, size_);
    if (fd_ >= 0)
        close(fd_);
}

bool ShmBuffer::create(wl_shm *shm, uint32_t format, int width, int height, int stride)
{
    if (!shm || width <= 0 || height <= 0 || stride < width * 4 || size_t(stride) * height > 1u << 30)
        return false;
    size_ = size_t(stride) * height;
    fd_ = memfd_create("tidefold-photo", MFD_CLOEXEC);
    if (fd_ < 0 || ftruncate(fd_, off_t(size_)) < 0)
        return false;
    void *data = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (data == MAP_FAILED)
        return false;
    data_ = data;
    pool_ = wl_shm_create_pool(shm, fd_, int32_t(size_));
    buffer_ = pool_ ? wl_shm_pool_create_buffer(pool_, 0, width, height, stride, format) : nullptr;
    return buffer_ != nullptr;
}

}
