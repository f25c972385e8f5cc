// Device contexts and memory bitmaps, and the GDI calls that need no display server.
#include "bitmaps.h"

#include "backend.h"
#include "desktop_picture.h"
#include "resources.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>

namespace platform {
namespace {

std::unordered_map<uintptr_t, DcRec> g_dcs;
std::unordered_map<uintptr_t, BitmapRec> g_bitmaps;
HBITMAP g_stock_bitmap = nullptr;

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

uint32_t read_le(const BYTE *p, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; i--) v = (v << 8) | p[i];
    return v;
}

} // namespace

// Largest bitmap we agree to hold: 64 million pixels (an 8K screen).
const int64_t kMaxBitmapPixels = int64_t(1) << 26;

BitmapRec *find_bitmap(HGDIOBJ h)
{
    auto it = g_bitmaps.find(reinterpret_cast<uintptr_t>(h));
    return it == g_bitmaps.end() ? nullptr : &it->second;
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

DcRec *find_dc(HDC hdc)
{
    auto it = g_dcs.find(reinterpret_cast<uintptr_t>(hdc));
    return it == g_dcs.end() ? nullptr : &it->second;
}

HDC new_window_dc(HWND hwnd, uintptr_t drawable)
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

} // namespace platform

using namespace platform;

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
    // The desktop is whatever picture stands for it this run; other windows are read as they are.
    if (!src->hwnd || src->hwnd == GetDesktopWindow()) {
        platform::copy_desktop_picture(*src, x1, y1, *target, x, y, cx, cy);
        return TRUE;
    }
    return platform::backend().copy_from_screen(*src, x1, y1, *target, x, y, cx, cy);
}
