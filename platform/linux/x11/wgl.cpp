// OpenGL rendering contexts and their binding to windows, over GLX.
#include "x11.h"
#include "pacing.h"

#include <GL/gl.h>
#include <GL/glxext.h>

#include <unordered_map>

namespace x11 {
namespace {

GlContext *find_context(HGLRC h)
{
    auto it = g_state.conn.contexts.find(reinterpret_cast<uintptr_t>(h));
    return it == g_state.conn.contexts.end() ? nullptr : &it->second;
}

// Flushes first, so a single-buffered frame reaches the window when its context is released.
// Runs after every frame and nobody acts on its failure, so it does not wait for the server's
// answer: an error that comes back later finds no trap and is dropped.
void release_current()
{
    Display *dpy = display_if_open();
    if (g_state.conn.current && dpy) {
        ErrorTrap trap(dpy);
        glFlush();
        glXMakeCurrent(dpy, None, nullptr);
    }
    g_state.conn.current = nullptr;
    g_state.conn.current_drawable = 0;
}

// Swaps wait for the vertical retrace where the display offers a way to ask for it; an interval
// function that is not advertised is never called, as some servers fail on it.
void set_swap_interval(Display *dpy, Window drawable)
{
    if (glx_extension_advertised("GLX_EXT_swap_control")) {
        auto f = reinterpret_cast<PFNGLXSWAPINTERVALEXTPROC>(
            glXGetProcAddressARB(reinterpret_cast<const GLubyte *>("glXSwapIntervalEXT")));
        if (f) f(dpy, drawable, 1);
    } else if (glx_extension_advertised("GLX_MESA_swap_control")) {
        auto f = reinterpret_cast<PFNGLXSWAPINTERVALMESAPROC>(
            glXGetProcAddressARB(reinterpret_cast<const GLubyte *>("glXSwapIntervalMESA")));
        if (f) f(1);
    } else if (glx_extension_advertised("GLX_SGI_swap_control")) {
        auto f = reinterpret_cast<PFNGLXSWAPINTERVALSGIPROC>(
            glXGetProcAddressARB(reinterpret_cast<const GLubyte *>("glXSwapIntervalSGI")));
        if (f) f(1);
    }
}

} // namespace

void gl_forget_drawable(Window gl_child)
{
    if (g_state.conn.current && g_state.conn.current_drawable == gl_child) release_current();
}

void gl_shutdown()
{
    release_current();
    Display *dpy = display_if_open();
    if (dpy)
        for (auto &kv : g_state.conn.contexts) glXDestroyContext(dpy, kv.second.ctx);
    g_state.conn.contexts.clear();
}

} // namespace x11

namespace x11::api {

HGLRC WINAPI wglCreateContext(HDC hdc)
{
    DcRec *dc = find_dc(hdc);
    WindowRec *rec = dc && !dc->memory ? find_window(dc->hwnd) : nullptr;
    Display *dpy = display_if_open();
    if (!rec || !rec->pixel_format || !dpy) return nullptr;
    const std::vector<PixelFormat> &formats = pixel_formats();
    if (size_t(rec->pixel_format) > formats.size()) return nullptr;
    XVisualInfo vi = formats[rec->pixel_format - 1].visual;
    ErrorTrap trap(dpy);
    GLXContext ctx = glXCreateContext(dpy, &vi, nullptr, True);
    if (trap.failed() || !ctx) {
        if (ctx) glXDestroyContext(dpy, ctx);
        return nullptr;
    }
    uintptr_t h = new_handle();
    g_state.conn.contexts[h] = {ctx, rec->pixel_format};
    return reinterpret_cast<HGLRC>(h);
}

BOOL WINAPI wglMakeCurrent(HDC hdc, HGLRC hglrc)
{
    if (!hglrc) {
        // A single-buffered frame reaches the screen here, so it is paced here.
        GlContext *c = find_context(g_state.conn.current);
        const std::vector<PixelFormat> &formats = pixel_formats();
        if (c && size_t(c->format) <= formats.size() && !formats[c->format - 1].double_buffer)
            pace_presentation(g_state.conn.current_drawable);
        release_current();
        return TRUE;
    }
    GlContext *c = find_context(hglrc);
    DcRec *dc = find_dc(hdc);
    WindowRec *rec = dc && !dc->memory ? find_window(dc->hwnd) : nullptr;
    Display *dpy = display_if_open();
    if (!c || !rec || !dpy || !rec->gl_child || rec->pixel_format != c->format) return FALSE;
    if (g_state.conn.current && g_state.conn.current != hglrc) glFlush();
    ErrorTrap trap(dpy);
    Bool ok = glXMakeCurrent(dpy, rec->gl_child, c->ctx);
    if (trap.failed() || !ok) {
        if (!glXGetCurrentContext()) {
            g_state.conn.current = nullptr;
            g_state.conn.current_drawable = 0;
        }
        return FALSE;
    }
    g_state.conn.current = hglrc;
    g_state.conn.current_drawable = rec->gl_child;
    if (!rec->swap_interval_set) {
        rec->swap_interval_set = true;
        if (pixel_formats()[rec->pixel_format - 1].double_buffer) set_swap_interval(dpy, rec->gl_child);
    }
    return TRUE;
}

BOOL WINAPI wglDeleteContext(HGLRC hglrc)
{
    GlContext *c = find_context(hglrc);
    if (!c) return FALSE;
    if (g_state.conn.current == hglrc) release_current();
    if (Display *dpy = display_if_open()) glXDestroyContext(dpy, c->ctx);
    g_state.conn.contexts.erase(reinterpret_cast<uintptr_t>(hglrc));
    return TRUE;
}

} // namespace x11::api
