// Device contexts and memory bitmaps, which both display backends share: a backend's window
// device contexts are records here too, and its screen capture writes into these bitmaps.
// Internal to platform/linux and its tests.
#pragma once

#include "queue.h"
#include "win32.h"

#include <cstdint>
#include <vector>

namespace platform {

// A bitmap's pixels are kept as 0x00RRGGBB, rows top first, whatever the screen's format.
struct BitmapRec {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    HDC selected_in = nullptr;
    bool stock = false;
};

// Device contexts: a window's (GetDC) or a memory one (CreateCompatibleDC).
struct DcRec {
    bool memory = false;
    uintptr_t drawable = 0; // what the backend draws on or reads from (window DCs)
    HWND hwnd = nullptr;    // the window it was obtained for (window DCs)
    HBITMAP bitmap = nullptr; // the selected bitmap (memory DCs)
};
DcRec *find_dc(HDC hdc);
HDC new_window_dc(HWND hwnd, uintptr_t drawable);
bool release_window_dc(HDC hdc);
void forget_window_dcs();

BitmapRec *find_bitmap(HGDIOBJ h);
// A black bitmap; null when the size is negative or too large to hold.
HBITMAP new_bitmap(int width, int height);
// Copies a w x h block between bitmaps, clipped to both; false for a bitmap onto itself.
bool copy_bitmap(const BitmapRec &src, int sx, int sy, BitmapRec &dst, int dx, int dy, int w, int h);
// Reads a DIB as it sits in a bitmap resource (BITMAPINFOHEADER, colour table, pixels).
HBITMAP bitmap_from_dib(const BYTE *data, DWORD size);

} // namespace platform
