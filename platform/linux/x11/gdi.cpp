// Window device contexts, the screen capture and pixel formats, over Xlib and GLX.
#include "x11.h"

#include "embed.h"
#include "pacing.h"
#include "resources.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <tuple>
#include <unordered_map>

namespace x11 {
namespace {

int channel_shift(unsigned long mask)
{
    int s = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        s++;
    }
    return s;
}

int channel_bits(unsigned long mask)
{
    int n = 0;
    for (; mask; mask >>= 1) n += mask & 1;
    return n;
}

// Turns pixel values of a window's visual into 0xRRGGBB: by the channel masks for true colour,
// through the colormap for the palette visuals.
class PixelDecoder {
public:
    PixelDecoder(Display *dpy, const XWindowAttributes &wa) : PixelDecoder(dpy, wa.visual, wa.colormap) {}

    PixelDecoder(Display *dpy, Visual *v, Colormap colormap)
    {
        true_colour_ = v->c_class == TrueColor || v->c_class == DirectColor;
        if (true_colour_) {
            const unsigned long masks[3] = {v->red_mask, v->green_mask, v->blue_mask};
            for (int c = 0; c < 3; c++) {
                mask_[c] = masks[c];
                shift_[c] = channel_shift(masks[c]);
                bits_[c] = channel_bits(masks[c]);
            }
            return;
        }
        int entries = std::min(v->map_entries, 4096);
        std::vector<XColor> colours(entries);
        for (int i = 0; i < entries; i++) colours[i].pixel = static_cast<unsigned long>(i);
        if (entries > 0) XQueryColors(dpy, colormap, colours.data(), entries);
        lut_.resize(entries);
        for (int i = 0; i < entries; i++)
            lut_[i] = (uint32_t(colours[i].red >> 8) << 16) | (uint32_t(colours[i].green >> 8) << 8) |
                      uint32_t(colours[i].blue >> 8);
    }

    uint32_t operator()(unsigned long p) const
    {
        if (!true_colour_) return p < lut_.size() ? lut_[p] : 0;
        uint32_t rgb = 0;
        for (int c = 0; c < 3; c++) rgb = (rgb << 8) | scale((p & mask_[c]) >> shift_[c], bits_[c]);
        return rgb;
    }

private:
    static uint32_t scale(unsigned long v, int bits)
    {
        if (bits <= 0) return 0;
        if (bits >= 8) return uint32_t(v >> (bits - 8));
        unsigned long max = (1ul << bits) - 1;
        return uint32_t((v * 255 + max / 2) / max);
    }

    bool true_colour_ = false;
    unsigned long mask_[3] = {};
    int shift_[3] = {};
    int bits_[3] = {};
    std::vector<uint32_t> lut_;
};

// Shrinks a span of length len starting at s until it lies within lo..hi; d, its counterpart on
// the other side of a copy, moves along.
void clip(int &s, int &d, int &len, int lo, int hi)
{
    if (s < lo) {
        d += lo - s;
        len -= lo - s;
        s = lo;
    }
    if (s + len > hi) len = hi - s;
}

// Reads a rectangle of an X drawable into a bitmap at (dx, dy), its pixels decoded for visual.
bool read_drawable(Display *dpy, ErrorTrap &trap, Drawable src, int sx, int sy, BitmapRec &dst, int dx, int dy, int w,
                   int h, const PixelDecoder &decode)
{
    if (w <= 0 || h <= 0) return true;
    XImage *img = XGetImage(dpy, src, sx, sy, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes, ZPixmap);
    if (trap.failed() || !img) {
        if (img) XDestroyImage(img);
        return false;
    }
    for (int y = 0; y < h; y++) {
        uint32_t *row = &dst.pixels[size_t(dy + y) * size_t(dst.width) + size_t(dx)];
        for (int x = 0; x < w; x++) row[x] = decode(XGetPixel(img, x, y));
    }
    XDestroyImage(img);
    return true;
}

// Copies a rectangle of an X window (as the screen shows it) into a bitmap, clipped to the
// window, to the screen and to the bitmap.
bool capture_window(Window src, int sx, int sy, BitmapRec &dst, int dx, int dy, int w, int h)
{
    Display *dpy = display();
    if (!dpy) return false;
    ErrorTrap trap(dpy);
    XWindowAttributes wa;
    if (!XGetWindowAttributes(dpy, src, &wa) || trap.failed()) return false;
    if (wa.map_state != IsViewable) return false;
    int ox = 0, oy = 0;
    Window child;
    if (!XTranslateCoordinates(dpy, src, wa.root, 0, 0, &ox, &oy, &child) || trap.failed()) return false;
    int screen_w = WidthOfScreen(wa.screen), screen_h = HeightOfScreen(wa.screen);

    // Shrink the rectangle until the source lies inside the window and the visible screen, and
    // the destination inside the bitmap; both move together.
    int sxr = sx, syr = sy;
    clip(sxr, dx, w, 0, wa.width);
    clip(syr, dy, h, 0, wa.height);
    clip(sxr, dx, w, -ox, screen_w - ox);
    clip(syr, dy, h, -oy, screen_h - oy);
    clip(dx, sxr, w, 0, dst.width);
    clip(dy, syr, h, 0, dst.height);
    if (w <= 0 || h <= 0) return true;
    return read_drawable(dpy, trap, src, sxr, syr, dst, dx, dy, w, h, PixelDecoder(dpy, wa));
}

// Copies a rectangle of a pixmap into a bitmap, clipped to both. The pixmap's pixels are read as
// the screen's default visual has them when the depths agree, else as a true-colour visual of
// the pixmap's depth.
bool capture_pixmap(Pixmap src, int sx, int sy, BitmapRec &dst, int dx, int dy, int w, int h)
{
    Display *dpy = display();
    if (!dpy) return false;
    ErrorTrap trap(dpy);
    Window root;
    int px, py;
    unsigned pw, ph, border, depth;
    if (!XGetGeometry(dpy, src, &root, &px, &py, &pw, &ph, &border, &depth) || trap.failed()) return false;
    int screen = DefaultScreen(dpy);
    Visual *visual = DefaultVisual(dpy, screen);
    Colormap colormap = DefaultColormap(dpy, screen);
    if (int(depth) != DefaultDepth(dpy, screen)) {
        XVisualInfo vi;
        if (!XMatchVisualInfo(dpy, screen, int(depth), TrueColor, &vi)) return false;
        visual = vi.visual;
    }
    clip(sx, dx, w, 0, int(pw));
    clip(sy, dy, h, 0, int(ph));
    clip(dx, sx, w, 0, dst.width);
    clip(dy, sy, h, 0, dst.height);
    return read_drawable(dpy, trap, src, sx, sy, dst, dx, dy, w, h, PixelDecoder(dpy, visual, colormap));
}

// Whether every pixel of the block is the same: a host's blank window, not a desktop.
bool one_colour(const BitmapRec &dst, int dx, int dy, int w, int h)
{
    int x0 = std::max(dx, 0), y0 = std::max(dy, 0), x1 = std::min(dx + w, dst.width), y1 = std::min(dy + h, dst.height);
    if (x0 >= x1 || y0 >= y1) return true;
    uint32_t first = dst.pixels[size_t(y0) * dst.width + x0];
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++)
            if (dst.pixels[size_t(y) * dst.width + x] != first) return false;
    return true;
}

// While the run is embedded, the desktop is what lay under the target window: the screenshot a
// daemon left before it blanked the screen, else the wallpaper a desktop published, else the
// screen area the target covers. Hosts that leave neither have covered the screen with a blank
// window of their own by the time they start us, so an area of one colour is no photograph.
bool capture_embedded_desktop(int sx, int sy, BitmapRec &dst, int dx, int dy, int w, int h)
{
    Pixmap shot;
    int px, py;
    if (embed_screenshot(&shot, &px, &py) && capture_pixmap(shot, sx + px, sy + py, dst, dx, dy, w, h)) return true;
    Display *dpy = display();
    if (!dpy) return false;
    Window root = DefaultRootWindow(dpy);
    if (embed_target() != root && desktop_wallpaper(&shot, &px, &py) &&
        capture_pixmap(shot, sx + px, sy + py, dst, dx, dy, w, h))
        return true;
    int ox, oy;
    if (!embed_target_origin(&ox, &oy) || !capture_window(root, sx + ox, sy + oy, dst, dx, dy, w, h)) return false;
    return embed_target() == root || !one_colour(dst, dx, dy, w, h);
}

} // namespace

bool has_glx()
{
    Display *dpy = display();
    int error_base, event_base;
    return dpy && glXQueryExtension(dpy, &error_base, &event_base);
}

bool glx_extension_advertised(const char *name)
{
    Display *dpy = display();
    if (!dpy || !has_glx()) return false;
    const char *list = glXQueryExtensionsString(dpy, DefaultScreen(dpy));
    size_t len = strlen(name);
    for (const char *p = list; p && *p;) {
        while (*p == ' ') p++;
        const char *end = p;
        while (*end && *end != ' ') end++;
        if (size_t(end - p) == len && strncmp(p, name, len) == 0) return true;
        p = end;
    }
    return false;
}

const std::vector<PixelFormat> &pixel_formats()
{
    if (g_state.conn.formats_loaded) return g_state.conn.formats;
    Display *dpy = display();
    if (!dpy) return g_state.conn.formats;
    g_state.conn.formats_loaded = true;
    if (!has_glx()) return g_state.conn.formats;
    XVisualInfo tmpl = {};
    tmpl.screen = DefaultScreen(dpy);
    int n = 0;
    XVisualInfo *list = XGetVisualInfo(dpy, VisualScreenMask, &tmpl, &n);
    for (int i = 0; i < n; i++) {
        XVisualInfo &vi = list[i];
        auto get = [&](int attr) {
            int v = 0;
            return glXGetConfig(dpy, &vi, attr, &v) == 0 ? v : 0;
        };
        if (!get(GLX_USE_GL)) continue;
        PixelFormat f;
        f.visual = vi;
        f.rgba = get(GLX_RGBA);
        f.double_buffer = get(GLX_DOUBLEBUFFER);
        f.stereo = get(GLX_STEREO);
        f.level = get(GLX_LEVEL);
        f.buffer_size = get(GLX_BUFFER_SIZE);
        f.red = get(GLX_RED_SIZE);
        f.green = get(GLX_GREEN_SIZE);
        f.blue = get(GLX_BLUE_SIZE);
        f.alpha = get(GLX_ALPHA_SIZE);
        f.depth_bits = get(GLX_DEPTH_SIZE);
        f.stencil_bits = get(GLX_STENCIL_SIZE);
        f.accum_bits = get(GLX_ACCUM_RED_SIZE) + get(GLX_ACCUM_GREEN_SIZE) + get(GLX_ACCUM_BLUE_SIZE) +
                       get(GLX_ACCUM_ALPHA_SIZE);
        f.aux_buffers = get(GLX_AUX_BUFFERS);
        f.samples = get(GLX_SAMPLES);
        g_state.conn.formats.push_back(f);
    }
    if (list) XFree(list);
    return g_state.conn.formats;
}

bool copy_wallpaper(int x1, int y1, BitmapRec &dst, int x, int y, int cx, int cy)
{
    Pixmap wallpaper;
    int px, py;
    return desktop_wallpaper(&wallpaper, &px, &py) && capture_pixmap(wallpaper, x1 + px, y1 + py, dst, x, y, cx, cy);
}

bool started_by_xscreensaver() { return embed_started_by_xscreensaver(); }

bool copy_from_screen(const DcRec &src, int x1, int y1, BitmapRec &dst, int x, int y, int cx, int cy)
{
    Display *dpy = display();
    if (dpy && embed_target() && src.drawable == DefaultRootWindow(dpy))
        return capture_embedded_desktop(x1, y1, dst, x, y, cx, cy);
    return capture_window(src.drawable, x1, y1, dst, x, y, cx, cy);
}

} // namespace x11

namespace x11::api {

int WINAPI GetDeviceCaps(HDC hdc, int index)
{
    if (!find_dc(hdc)) return 0;
    Display *dpy = display();
    if (!dpy) return 0;
    switch (index) {
    case BITSPIXEL: return DefaultDepth(dpy, DefaultScreen(dpy));
    default: return 0;
    }
}

int WINAPI ChoosePixelFormat(HDC hdc, const PIXELFORMATDESCRIPTOR *ppfd)
{
    DcRec *dc = find_dc(hdc);
    if (!dc || dc->memory || !ppfd) return 0;
    const std::vector<PixelFormat> &formats = pixel_formats();
    const bool want_rgba = ppfd->iPixelType == PFD_TYPE_RGBA;
    const bool want_double = ppfd->dwFlags & PFD_DOUBLEBUFFER;
    const bool double_dont_care = ppfd->dwFlags & PFD_DOUBLEBUFFER_DONTCARE;
    const bool want_stereo = ppfd->dwFlags & PFD_STEREO;
    const bool stereo_dont_care = ppfd->dwFlags & PFD_STEREO_DONTCARE;
    const int want_bits = ppfd->cColorBits;

    // Among the visuals of the requested kind, the closest colour depth wins, then true colour
    // over direct colour, then the fewest buffers beyond what was asked for.
    int best = 0;
    std::tuple<int, int, int, int, int, int> best_key;
    for (size_t i = 0; i < formats.size(); i++) {
        const PixelFormat &f = formats[i];
        if (f.rgba != want_rgba || f.level != 0) continue;
        if (!double_dont_care && f.double_buffer != want_double) continue;
        if (!stereo_dont_care && f.stereo != want_stereo) continue;
        if (f.depth_bits < ppfd->cDepthBits || f.stencil_bits < ppfd->cStencilBits || f.alpha < ppfd->cAlphaBits ||
            f.accum_bits < ppfd->cAccumBits)
            continue;
        int depth_miss = want_bits ? std::abs(f.visual.depth - want_bits) : 0;
        auto key = std::make_tuple(depth_miss, f.visual.c_class == TrueColor ? 0 : 1, f.samples,
                                   ppfd->cAlphaBits ? 0 : f.alpha, f.depth_bits + f.stencil_bits,
                                   f.accum_bits + f.aux_buffers);
        if (!best || key < best_key) {
            best = int(i) + 1;
            best_key = key;
        }
    }
    return best;
}

// A window's visual is fixed when X creates it, so the chosen visual goes to a child window that
// fills the client area and leaves all input to its parent.
BOOL WINAPI SetPixelFormat(HDC hdc, int format, const PIXELFORMATDESCRIPTOR *)
{
    DcRec *dc = find_dc(hdc);
    if (!dc || dc->memory) return FALSE;
    WindowRec *rec = find_window(dc->hwnd);
    Display *dpy = display_if_open();
    if (!rec || !dpy || rec->xid != dc->drawable) return FALSE;
    const std::vector<PixelFormat> &formats = pixel_formats();
    if (format < 1 || size_t(format) > formats.size()) return FALSE;
    if (rec->pixel_format) return rec->pixel_format == format;
    const XVisualInfo &vi = formats[format - 1].visual;

    ErrorTrap trap(dpy);
    Colormap cmap = XCreateColormap(dpy, RootWindow(dpy, vi.screen), vi.visual, AllocNone);
    XSetWindowAttributes a = {};
    a.colormap = cmap;
    a.border_pixel = 0;
    a.background_pixmap = None;
    a.event_mask = 0;
    a.do_not_propagate_mask = 0;
    Window child = XCreateWindow(dpy, rec->xid, 0, 0, std::max(rec->width, 1), std::max(rec->height, 1), 0, vi.depth,
                                 InputOutput, vi.visual,
                                 CWColormap | CWBorderPixel | CWBackPixmap | CWEventMask | CWDontPropagate, &a);
    XMapWindow(dpy, child);
    if (trap.failed()) {
        if (child) XDestroyWindow(dpy, child);
        XFreeColormap(dpy, cmap);
        XFlush(dpy);
        return FALSE;
    }
    if (!(rec->style & WS_CHILD)) {
        Window colormap_windows[2] = {child, rec->xid};
        XSetWMColormapWindows(dpy, rec->xid, colormap_windows, 2);
    }
    rec->pixel_format = format;
    rec->gl_child = child;
    rec->gl_colormap = cmap;
    return TRUE;
}

BOOL WINAPI SwapBuffers(HDC hdc)
{
    DcRec *dc = find_dc(hdc);
    WindowRec *rec = dc && !dc->memory ? find_window(dc->hwnd) : nullptr;
    Display *dpy = display_if_open();
    if (!rec || !rec->gl_child || !dpy) return FALSE;
    if (pace_presentation(rec->gl_child)) glXSwapBuffers(dpy, rec->gl_child);
    return TRUE;
}

} // namespace x11::api
