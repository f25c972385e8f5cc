// Device contexts, bitmaps, the screen capture and pixel formats, over Xlib and GLX.
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

// A bitmap's pixels are kept as 0x00RRGGBB, rows top first, whatever the screen's format.
struct BitmapRec {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    HDC selected_in = nullptr;
    bool stock = false;
};

std::unordered_map<uintptr_t, DcRec> g_dcs;
std::unordered_map<uintptr_t, BitmapRec> g_bitmaps;
HBITMAP g_stock_bitmap = nullptr;

std::vector<PixelFormat> g_formats;
bool g_formats_loaded = false;

// Largest bitmap we agree to hold: 64 million pixels (an 8K screen).
const int64_t kMaxBitmapPixels = int64_t(1) << 26;

BitmapRec *find_bitmap(HGDIOBJ h)
{
    auto it = g_bitmaps.find(reinterpret_cast<uintptr_t>(h));
    return it == g_bitmaps.end() ? nullptr : &it->second;
}

// The 1x1 bitmap a memory DC holds before anything else is selected into it.
HBITMAP stock_bitmap()
{
    if (!g_stock_bitmap) {
        uintptr_t h = new_handle();
        BitmapRec &bm = g_bitmaps[h];
        bm.width = bm.height = 1;
        bm.pixels.assign(1, 0);
        bm.stock = true;
        g_stock_bitmap = reinterpret_cast<HBITMAP>(h);
    }
    return g_stock_bitmap;
}

HBITMAP new_bitmap(int width, int height)
{
    if (width < 0 || height < 0 || int64_t(width) * height > kMaxBitmapPixels) return nullptr;
    BitmapRec bm;
    bm.width = width;
    bm.height = height;
    try {
        bm.pixels.assign(size_t(width) * size_t(height), 0);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    uintptr_t h = new_handle();
    g_bitmaps[h] = std::move(bm);
    return reinterpret_cast<HBITMAP>(h);
}

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

// While the run is embedded, the desktop is what lay under the target window: the screenshot a
// daemon left before it blanked the screen, or else the screen area the target covers.
bool capture_embedded_desktop(int sx, int sy, BitmapRec &dst, int dx, int dy, int w, int h)
{
    Pixmap shot;
    int px, py;
    if (embed_screenshot(&shot, &px, &py) && capture_pixmap(shot, sx + px, sy + py, dst, dx, dy, w, h)) return true;
    int ox, oy;
    Display *dpy = display();
    if (!dpy || !embed_target_origin(&ox, &oy)) return false;
    return capture_window(DefaultRootWindow(dpy), sx + ox, sy + oy, dst, dx, dy, w, h);
}

bool copy_bitmap(const BitmapRec &src, int sx, int sy, BitmapRec &dst, int dx, int dy, int w, int h)
{
    if (&src == &dst) return false;
    auto clip = [](int &a, int &b, int &len, int limit_a) {
        if (a < 0) {
            b -= a;
            len += a;
            a = 0;
        }
        if (a + len > limit_a) len = limit_a - a;
    };
    clip(sx, dx, w, src.width);
    clip(sy, dy, h, src.height);
    clip(dx, sx, w, dst.width);
    clip(dy, sy, h, dst.height);
    for (int y = 0; y < h; y++)
        std::copy_n(&src.pixels[size_t(sy + y) * src.width + sx], w, &dst.pixels[size_t(dy + y) * dst.width + dx]);
    return true;
}

uint32_t read_le(const BYTE *p, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; i--) v = (v << 8) | p[i];
    return v;
}

// Reads a DIB as it sits in a bitmap resource (BITMAPINFOHEADER, colour table, pixels).
HBITMAP bitmap_from_dib(const BYTE *data, DWORD size)
{
    if (size < sizeof(BITMAPINFOHEADER)) return nullptr;
    BITMAPINFOHEADER h;
    memcpy(&h, data, sizeof h);
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > size || h.biWidth <= 0 || h.biHeight == 0 ||
        h.biHeight == INT32_MIN || h.biPlanes != 1 || h.biCompression != BI_RGB)
        return nullptr;
    int bpp = h.biBitCount;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return nullptr;
    int width = h.biWidth;
    int height = std::abs(h.biHeight);
    bool bottom_up = h.biHeight > 0;
    int64_t colours = bpp <= 8 ? (h.biClrUsed ? int64_t(h.biClrUsed) : int64_t(1) << bpp) : 0;
    if (colours > 256) return nullptr;
    int64_t stride = (int64_t(width) * bpp + 31) / 32 * 4;
    int64_t offset = int64_t(h.biSize) + colours * 4;
    if (offset + stride * height > int64_t(size)) return nullptr;
    const BYTE *palette = data + h.biSize;
    const BYTE *bits = data + offset;

    HBITMAP hbm = new_bitmap(width, height);
    BitmapRec *bm = find_bitmap(hbm);
    if (!bm) return nullptr;
    for (int r = 0; r < height; r++) {
        const BYTE *row = bits + stride * r;
        int y = bottom_up ? height - 1 - r : r;
        uint32_t *out = &bm->pixels[size_t(y) * size_t(width)];
        for (int x = 0; x < width; x++) {
            uint32_t rgb = 0;
            if (bpp >= 24) {
                const BYTE *p = row + x * (bpp / 8);
                rgb = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
            } else if (bpp == 16) {
                uint32_t v = read_le(row + x * 2, 2);
                uint32_t r5 = (v >> 10) & 31, g5 = (v >> 5) & 31, b5 = v & 31;
                rgb = (((r5 * 255 + 15) / 31) << 16) | (((g5 * 255 + 15) / 31) << 8) | ((b5 * 255 + 15) / 31);
            } else {
                int per_byte = 8 / bpp;
                int shift = (per_byte - 1 - x % per_byte) * bpp;
                uint32_t index = (row[x / per_byte] >> shift) & ((1u << bpp) - 1);
                if (index < colours) {
                    const BYTE *q = palette + index * 4;
                    rgb = (uint32_t(q[2]) << 16) | (uint32_t(q[1]) << 8) | q[0];
                }
            }
            out[x] = rgb;
        }
    }
    return hbm;
}

} // namespace

DcRec *find_dc(HDC hdc)
{
    auto it = g_dcs.find(reinterpret_cast<uintptr_t>(hdc));
    return it == g_dcs.end() ? nullptr : &it->second;
}

HDC new_window_dc(HWND hwnd, Window drawable)
{
    uintptr_t h = new_handle();
    DcRec &dc = g_dcs[h];
    dc.memory = false;
    dc.hwnd = hwnd;
    dc.drawable = drawable;
    return reinterpret_cast<HDC>(h);
}

bool release_window_dc(HDC hdc)
{
    auto it = g_dcs.find(reinterpret_cast<uintptr_t>(hdc));
    if (it == g_dcs.end() || it->second.memory) return false;
    g_dcs.erase(it);
    return true;
}

void forget_window_dcs()
{
    for (auto it = g_dcs.begin(); it != g_dcs.end();) {
        if (it->second.memory)
            ++it;
        else
            it = g_dcs.erase(it);
    }
}

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
    if (g_formats_loaded) return g_formats;
    Display *dpy = display();
    if (!dpy) return g_formats;
    g_formats_loaded = true;
    if (!has_glx()) return g_formats;
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
        g_formats.push_back(f);
    }
    if (list) XFree(list);
    return g_formats;
}

void forget_pixel_formats()
{
    g_formats.clear();
    g_formats_loaded = false;
}

} // namespace x11

using namespace x11;

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

HDC WINAPI CreateCompatibleDC(HDC hdc)
{
    if (hdc && !find_dc(hdc)) return nullptr;
    uintptr_t h = new_handle();
    DcRec &dc = g_dcs[h];
    dc.memory = true;
    dc.bitmap = stock_bitmap();
    return reinterpret_cast<HDC>(h);
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy)
{
    if (!find_dc(hdc) || cx < 0 || cy < 0) return nullptr;
    return new_bitmap(std::max(cx, 1), std::max(cy, 1));
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h)
{
    DcRec *dc = find_dc(hdc);
    BitmapRec *bm = find_bitmap(h);
    if (!dc || !dc->memory || !bm) return nullptr;
    if (bm->selected_in && bm->selected_in != hdc) return nullptr;
    HBITMAP previous = dc->bitmap;
    if (BitmapRec *old = find_bitmap(previous)) old->selected_in = nullptr;
    dc->bitmap = static_cast<HBITMAP>(h);
    if (!bm->stock) bm->selected_in = hdc;
    return previous;
}

BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop)
{
    DcRec *dst = find_dc(hdc);
    DcRec *src = find_dc(hdcSrc);
    if (!dst || !src || rop != SRCCOPY || cx < 0 || cy < 0) return FALSE;
    // Only copies into a memory DC are offered: the saver only ever photographs the screen.
    BitmapRec *target = dst->memory ? find_bitmap(dst->bitmap) : nullptr;
    if (!target) return FALSE;
    if (src->memory) {
        BitmapRec *from = find_bitmap(src->bitmap);
        return from && copy_bitmap(*from, x1, y1, *target, x, y, cx, cy);
    }
    Display *dpy = display();
    if (dpy && embed_target() && src->drawable == DefaultRootWindow(dpy))
        return capture_embedded_desktop(x1, y1, *target, x, y, cx, cy);
    return capture_window(src->drawable, x1, y1, *target, x, y, cx, cy);
}

int WINAPI GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits, LPBITMAPINFO lpbmi, UINT)
{
    BitmapRec *bm = find_bitmap(hbm);
    if (!find_dc(hdc) || !bm || !lpbmi) return 0;
    BITMAPINFOHEADER &h = lpbmi->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER)) return 0;
    if (!lpvBits) {
        // Only the format is asked for: describe the bitmap (or the size of the requested format).
        if (h.biBitCount == 0) {
            h.biWidth = bm->width;
            h.biHeight = bm->height;
            h.biPlanes = 1;
            h.biBitCount = 32;
            h.biCompression = BI_RGB;
        }
        int64_t stride = (int64_t(std::abs(int64_t(h.biWidth))) * h.biBitCount + 31) / 32 * 4;
        h.biSizeImage = static_cast<DWORD>(stride * std::abs(int64_t(h.biHeight)));
        return 1;
    }
    if (h.biCompression != BI_RGB || (h.biBitCount != 24 && h.biBitCount != 32)) return 0;
    if (h.biWidth <= 0 || h.biHeight == 0) return 0;
    const int64_t width = h.biWidth;
    const int64_t height = std::abs(int64_t(h.biHeight));
    const bool bottom_up = h.biHeight > 0;
    const int bytes = h.biBitCount / 8;
    const int64_t stride = (width * h.biBitCount + 31) / 32 * 4;
    if (int64_t(start) >= height || int64_t(start) >= bm->height) return 0;
    // Scan lines run bottom up for a positive height; only lines the header and the bitmap both
    // have are written, each a whole padded row, so nothing lands past what the header implies.
    int64_t lines = std::min({int64_t(cLines), height - int64_t(start), int64_t(bm->height) - int64_t(start)});
    const int64_t copy_width = std::min<int64_t>(width, bm->width);
    BYTE *out = static_cast<BYTE *>(lpvBits);
    for (int64_t i = 0; i < lines; i++) {
        int64_t scan = int64_t(start) + i;
        int64_t y = bottom_up ? bm->height - 1 - scan : scan;
        BYTE *row = out + i * stride;
        const uint32_t *in = &bm->pixels[size_t(y) * size_t(bm->width)];
        for (int64_t x = 0; x < copy_width; x++) {
            BYTE *p = row + x * bytes;
            p[0] = BYTE(in[x]);
            p[1] = BYTE(in[x] >> 8);
            p[2] = BYTE(in[x] >> 16);
            if (bytes == 4) p[3] = 0;
        }
        memset(row + copy_width * bytes, 0, size_t(stride - copy_width * bytes));
    }
    return static_cast<int>(lines);
}

BOOL WINAPI DeleteObject(HGDIOBJ ho)
{
    BitmapRec *bm = find_bitmap(ho);
    if (!bm) return FALSE;
    if (bm->stock) return TRUE;
    if (bm->selected_in) return FALSE;
    g_bitmaps.erase(reinterpret_cast<uintptr_t>(ho));
    return TRUE;
}

BOOL WINAPI DeleteDC(HDC hdc)
{
    DcRec *dc = find_dc(hdc);
    if (!dc || !dc->memory) return FALSE;
    if (BitmapRec *bm = find_bitmap(dc->bitmap)) {
        if (!bm->stock) bm->selected_in = nullptr;
    }
    g_dcs.erase(reinterpret_cast<uintptr_t>(hdc));
    return TRUE;
}

// The bitmap resources live in the program's own .res, whatever module handle is given.
HBITMAP WINAPI LoadBitmapA(HINSTANCE, LPCSTR lpBitmapName)
{
    if (!lpBitmapName) return nullptr;
    const BYTE *data;
    DWORD size;
    if (!find_resource(MAKEINTRESOURCEA(RT_BITMAP_ID), lpBitmapName, &data, &size)) return nullptr;
    return bitmap_from_dib(data, size);
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
    pace_presentation(rec->gl_child);
    glXSwapBuffers(dpy, rec->gl_child);
    return TRUE;
}
