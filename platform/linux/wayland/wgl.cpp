// OpenGL on Wayland: EGL with the desktop OpenGL API on a wl_egl_window per window, so the same
// OpenGL 1.1 drawing runs as on X11. The configs EGL offers for windows are the pixel formats.
#include "wayland.h"

#include "frame_clock.h"

#include <GL/gl.h>

#include <algorithm>
#include <poll.h>
#include <tuple>
#include <unordered_map>

namespace wl {
namespace {

// How long frames go on by the clock alone while the compositor has answered no frame callback.
constexpr int64_t kFirstAnswerWaitNs = 1000 * 1000000LL;

GlContext *find_context(HGLRC h)
{
    auto it = g_state.contexts.find(reinterpret_cast<uintptr_t>(h));
    return it == g_state.contexts.end() ? nullptr : &it->second;
}

int config_attribute(EGLConfig config, EGLint name)
{
    EGLint value = 0;
    eglGetConfigAttrib(g_state.egl, config, name, &value);
    return value;
}

// Each config that can draw desktop OpenGL into a window, offered double-buffered and, shown at
// the release of the context, single-buffered.
void load_formats()
{
    EGLint count = 0;
    const EGLint wanted[] = {EGL_SURFACE_TYPE, EGL_WINDOW_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                             EGL_COLOR_BUFFER_TYPE, EGL_RGB_BUFFER, EGL_NONE};
    if (!eglChooseConfig(g_state.egl, wanted, nullptr, 0, &count) || count <= 0) return;
    std::vector<EGLConfig> configs(static_cast<size_t>(count));
    eglChooseConfig(g_state.egl, wanted, configs.data(), count, &count);
    for (int buffers = 0; buffers < 2; buffers++)
        for (EGLConfig config : configs) {
            PixelFormat f;
            f.config = config;
            f.double_buffer = buffers == 0;
            f.red = config_attribute(config, EGL_RED_SIZE);
            f.green = config_attribute(config, EGL_GREEN_SIZE);
            f.blue = config_attribute(config, EGL_BLUE_SIZE);
            f.alpha = config_attribute(config, EGL_ALPHA_SIZE);
            f.depth = config_attribute(config, EGL_DEPTH_SIZE);
            f.stencil = config_attribute(config, EGL_STENCIL_SIZE);
            if (f.red >= 5 && f.green >= 5 && f.blue >= 5) g_state.formats.push_back(f);
        }
}

void release_current()
{
    if (g_state.current && g_state.egl != EGL_NO_DISPLAY) {
        glFlush();
        eglMakeCurrent(g_state.egl, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    g_state.current = nullptr;
    g_state.current_window = nullptr;
}

// The window's EGL surface, made when a context is first made current on it.
bool ensure_surface(WindowRec &w)
{
    if (w.egl_surface != EGL_NO_SURFACE) return true;
    const std::vector<PixelFormat> &formats = pixel_formats();
    if (w.pixel_format < 1 || size_t(w.pixel_format) > formats.size()) return false;
    w.egl_window = wl_egl_window_create(w.surface, std::max(w.width, 1), std::max(w.height, 1));
    if (!w.egl_window) return false;
    w.egl_surface = eglCreateWindowSurface(g_state.egl, formats[w.pixel_format - 1].config,
                                           reinterpret_cast<EGLNativeWindowType>(w.egl_window), nullptr);
    if (w.egl_surface == EGL_NO_SURFACE) {
        wl_egl_window_destroy(w.egl_window);
        w.egl_window = nullptr;
        return false;
    }
    return true;
}

void frame_callback_done(void *, wl_callback *callback, uint32_t)
{
    wl_callback_destroy(callback);
    g_state.frame_callback = nullptr;
    g_state.frame_callback_window = nullptr;
    g_state.frame_callbacks_come = true;
}
const wl_callback_listener frame_callback_listener = {frame_callback_done};

void forget_frame_callback()
{
    if (g_state.frame_callback) wl_callback_destroy(g_state.frame_callback);
    g_state.frame_callback = nullptr;
    g_state.frame_callback_window = nullptr;
}

// Asks for the frame callback of the frame about to be committed on w's surface, unless one asked
// before is still unanswered: the compositor answers that one at its next repaint all the same.
void ask_frame_callback(WindowRec &w)
{
    if (g_state.frame_callback && g_state.frame_callback_window == &w) return;
    forget_frame_callback();
    g_state.frame_callback = wl_surface_frame(w.surface);
    if (!g_state.frame_callback) return;
    wl_callback_add_listener(g_state.frame_callback, &frame_callback_listener, nullptr);
    g_state.frame_callback_window = &w;
    g_state.frame_callback_asked_ns = platform::monotonic_ns();
}

// Whether the compositor wants a frame: it answered the callback of the last one. Until it has
// answered any, the frame clock alone paces the frames, for a second: a surface it has shown
// nowhere all that time (its output already off as the saver started) waits like any other.
bool surface_wants_frame()
{
    read_events();
    if (!g_state.frame_callback) return true;
    if (g_state.frame_callbacks_come) return false;
    return platform::monotonic_ns() - g_state.frame_callback_asked_ns < kFirstAnswerWaitNs;
}

// Reads what the compositor sent; true when it gave the loop something to handle.
bool loop_has_work()
{
    read_events();
    settle_keyboard_leave();
    return connection_lost() || !queued_messages().empty();
}

// Waits up to timeout_ms for the compositor to send something the loop must handle. Frame
// callbacks and buffer releases are read here and do not end the wait early.
bool input_within(int timeout_ms)
{
    Connection *c = connection();
    if (!c || loop_has_work()) return true;
    if (timeout_ms <= 0) return false;
    pollfd p = {wl_display_get_fd(c->display), POLLIN, 0};
    if (poll(&p, 1, timeout_ms) < 0) return true;
    return loop_has_work();
}

const FrameDisplay kSurface = {surface_wants_frame, input_within};

} // namespace

EGLDisplay egl_display()
{
    if (g_state.egl_tried) return g_state.egl;
    Connection *c = connection();
    if (!c) return EGL_NO_DISPLAY;
    g_state.egl_tried = true;
    EGLDisplay d = eglGetDisplay(reinterpret_cast<EGLNativeDisplayType>(c->display));
    EGLint major, minor;
    if (d == EGL_NO_DISPLAY || !eglInitialize(d, &major, &minor)) return EGL_NO_DISPLAY;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        eglTerminate(d);
        return EGL_NO_DISPLAY;
    }
    g_state.egl = d;
    return g_state.egl;
}

const std::vector<PixelFormat> &pixel_formats()
{
    if (g_state.formats.empty() && egl_display() != EGL_NO_DISPLAY) load_formats();
    return g_state.formats;
}

void gl_forget_surface(EGLSurface surface)
{
    if (g_state.current_window && g_state.current_window->egl_surface == surface) release_current();
    if (g_state.frame_callback_window && g_state.frame_callback_window->egl_surface == surface)
        forget_frame_callback();
    if (g_state.egl != EGL_NO_DISPLAY) eglDestroySurface(g_state.egl, surface);
}

void gl_shutdown()
{
    release_current();
    forget_frame_callback();
    g_state.frame_callbacks_come = false;
    if (g_state.egl != EGL_NO_DISPLAY) {
        for (auto &kv : g_state.contexts) eglDestroyContext(g_state.egl, kv.second.ctx);
        eglTerminate(g_state.egl);
    }
}

// Frames follow the compositor's frame callbacks, no faster than the frame clock allows at the
// output's rate: while the last frame's callback is unanswered (the compositor shows the surface
// nowhere, its output is off), nothing more is shown, and the loop draws nothing until the answer
// or input comes. EGL itself never waits for a callback: a swap that did would hold the loop where
// input cannot end it. A frame is swapped only once the compositor has answered for the one
// before, so a compositor that stopped (and gives back no buffers) has frames skipped until it
// answers rather than the loop held in a swap waiting for a buffer.
void present(WindowRec &w)
{
    if (w.egl_surface == EGL_NO_SURFACE || !w.mapped) return;
    if (w.output != g_state.rated_output) {
        g_state.rated_output = w.output;
        double rate = w.output && w.output->refresh_mhz > 1000 ? w.output->refresh_mhz / 1000.0 : kDefaultRefreshRate;
        g_state.clock.period_ns = int64_t(1e9 / rate + 0.5);
    }
    if (!pace_frame(&g_state.clock, kSurface) || !caught_up_with_frames()) return;
    ask_frame_callback(w);
    eglSwapBuffers(g_state.egl, w.egl_surface);
    ask_frame_answer();
}

namespace api {

int WINAPI ChoosePixelFormat(HDC hdc, const PIXELFORMATDESCRIPTOR *ppfd)
{
    DcRec *dc = find_dc(hdc);
    if (!dc || dc->memory || !ppfd || ppfd->iPixelType != PFD_TYPE_RGBA) return 0;
    const std::vector<PixelFormat> &formats = pixel_formats();
    const bool want_double = ppfd->dwFlags & PFD_DOUBLEBUFFER;
    const bool double_dont_care = ppfd->dwFlags & PFD_DOUBLEBUFFER_DONTCARE;
    if ((ppfd->dwFlags & PFD_STEREO) && !(ppfd->dwFlags & PFD_STEREO_DONTCARE)) return 0;
    // The closest colour depth wins, then the fewest extra buffers.
    int best = 0;
    std::tuple<int, int, int> best_key;
    for (size_t i = 0; i < formats.size(); i++) {
        const PixelFormat &f = formats[i];
        if (!double_dont_care && f.double_buffer != want_double) continue;
        if (f.depth < ppfd->cDepthBits || f.stencil < ppfd->cStencilBits || f.alpha < ppfd->cAlphaBits) continue;
        int colour = f.red + f.green + f.blue;
        int miss = ppfd->cColorBits ? std::abs(colour - ppfd->cColorBits) : 0;
        auto key = std::make_tuple(miss, ppfd->cAlphaBits ? 0 : f.alpha, f.depth + f.stencil);
        if (!best || key < best_key) {
            best = int(i) + 1;
            best_key = key;
        }
    }
    return best;
}

BOOL WINAPI SetPixelFormat(HDC hdc, int format, const PIXELFORMATDESCRIPTOR *)
{
    DcRec *dc = find_dc(hdc);
    WindowRec *w = dc && !dc->memory ? find_window(dc->hwnd) : nullptr;
    if (!w || format < 1 || size_t(format) > pixel_formats().size()) return FALSE;
    if (w->pixel_format) return w->pixel_format == format;
    w->pixel_format = format;
    return TRUE;
}

BOOL WINAPI SwapBuffers(HDC hdc)
{
    DcRec *dc = find_dc(hdc);
    WindowRec *w = dc && !dc->memory ? find_window(dc->hwnd) : nullptr;
    if (!w || w->egl_surface == EGL_NO_SURFACE) return FALSE;
    if (g_state.current_window == w) glFlush();
    present(*w);
    return TRUE;
}

HGLRC WINAPI wglCreateContext(HDC hdc)
{
    DcRec *dc = find_dc(hdc);
    WindowRec *w = dc && !dc->memory ? find_window(dc->hwnd) : nullptr;
    if (!w || !w->pixel_format || egl_display() == EGL_NO_DISPLAY) return nullptr;
    EGLContext ctx =
        eglCreateContext(g_state.egl, pixel_formats()[w->pixel_format - 1].config, EGL_NO_CONTEXT, nullptr);
    if (ctx == EGL_NO_CONTEXT) return nullptr;
    uintptr_t h = new_handle();
    g_state.contexts[h] = {ctx, w->pixel_format};
    return reinterpret_cast<HGLRC>(h);
}

BOOL WINAPI wglMakeCurrent(HDC hdc, HGLRC hglrc)
{
    if (!hglrc) {
        // A single-buffered frame reaches the screen when its context is let go.
        WindowRec *shown = g_state.current_window;
        bool single = shown && !pixel_formats()[shown->pixel_format - 1].double_buffer;
        if (single) glFlush();
        if (single) present(*shown);
        release_current();
        return TRUE;
    }
    GlContext *ctx = find_context(hglrc);
    DcRec *dc = find_dc(hdc);
    WindowRec *w = dc && !dc->memory ? find_window(dc->hwnd) : nullptr;
    if (!ctx || !w || w->pixel_format != ctx->format || !ensure_surface(*w)) return FALSE;
    if (!eglMakeCurrent(g_state.egl, w->egl_surface, w->egl_surface, ctx->ctx)) return FALSE;
    if (!w->swap_interval_set) {
        // The interval belongs to the surface: set once, when it is first current.
        eglSwapInterval(g_state.egl, 0);
        w->swap_interval_set = true;
    }
    g_state.current = hglrc;
    g_state.current_window = w;
    return TRUE;
}

BOOL WINAPI wglDeleteContext(HGLRC hglrc)
{
    GlContext *ctx = find_context(hglrc);
    if (!ctx) return FALSE;
    if (g_state.current == hglrc) release_current();
    eglDestroyContext(g_state.egl, ctx->ctx);
    g_state.contexts.erase(reinterpret_cast<uintptr_t>(hglrc));
    return TRUE;
}

} // namespace api
} // namespace wl
