// Tidefold: rings of ripples over a photograph of the desktop, drawn with OpenGL 1.1.
// Ripple engine, desktop capture and textures, drawing and frame driver, settings and dialogs.
#include "ripple.h"
#include "res.h"
#include "ssaver.h"

#ifdef _WIN32
#include <commctrl.h>
#endif
#include <GL/gl.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// ---------------------------------------------------------------------------------------------
// Settings

int user_options = OPTION_RIPPLE_DESKTOP | OPTION_HIGH_QUALITY | OPTION_DOUBLE_BUFFER;
int max_texture_size = 1024;
int ripple_speed = 20;
int ripple_freq = 10;

static const char *const config_key = TIDEFOLD_REGISTRY_KEY;

// Reads one 4-byte value straight into its global; a missing value leaves the global alone.
static void query_setting(HKEY hKey, const char *name, int *value)
{
    DWORD size = 4;
    RegQueryValueExA(hKey, name, NULL, NULL, (LPBYTE)value, &size);
}

void LoadConfig(void)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, config_key, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS) return;
    query_setting(hKey, "flags", &user_options);
    query_setting(hKey, "max_texture_size", &max_texture_size);
    query_setting(hKey, "ripple_speed", &ripple_speed);
    query_setting(hKey, "ripple_freq", &ripple_freq);
    RegCloseKey(hKey);
}

static LSTATUS set_setting(HKEY hKey, const char *name, const int *value)
{
    return RegSetValueExA(hKey, name, 0, REG_DWORD, (const BYTE *)value, 4);
}

// Writes all four values; returns ERROR_SUCCESS, or the error of the first call that failed.
LSTATUS SaveConfig(void)
{
    HKEY hKey;
    DWORD disposition;
    char no_class[] = "";
    LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, config_key, 0, no_class, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, NULL, &hKey, &disposition);
    if (status != ERROR_SUCCESS) return status;
    const LSTATUS results[] = {set_setting(hKey, "flags", &user_options),
                               set_setting(hKey, "max_texture_size", &max_texture_size),
                               set_setting(hKey, "ripple_speed", &ripple_speed),
                               set_setting(hKey, "ripple_freq", &ripple_freq)};
    RegCloseKey(hKey);
    for (LSTATUS r : results)
        if (r != ERROR_SUCCESS) return r;
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Ripple engine

RIPPLE_VERTEX ripple_vertex[GRID_SIZE][GRID_SIZE];
RIPPLE_VECTOR ripple_precalc[GRID_SIZE][GRID_SIZE];
float ripple_amplitude[RIPPLE_LENGTH];
ripple_t ripple[RIPPLE_COUNT];

unsigned int texture_names[2];

// The speed the engine steps by. Settings come unchecked from the store: below 1 a ripple would
// never die (or its age would run down past the int range), and above RIPPLE_LENGTH the age could
// overflow. Every speed from 1 to RIPPLE_LENGTH is used as it is.
static int effective_speed(void)
{
    if (ripple_speed < 1) return 1;
    if (ripple_speed > RIPPLE_LENGTH) return RIPPLE_LENGTH;
    return ripple_speed;
}

// Fixed screen positions and rest texture coordinates of the grid.
void ripple_build_grid(void)
{
    for (int i = 0; i < GRID_SIZE; i++) {
        for (int j = 0; j < GRID_SIZE; j++) {
            RIPPLE_VERTEX *v = &ripple_vertex[i][j];
            v->d[0] = (float)((i * nScreenWidth) / (GRID_SIZE - 1));
            v->d[1] = (float)((j * nScreenHeight) / (GRID_SIZE - 1));
            // The picture fills the texture only when a side had to be capped; otherwise it sits
            // unscaled in the bottom-left corner and the rest of the texture stays black.
            if (!scaled_mode) {
                v->dt[0] = (float)((double)(i * nScreenWidth) * (1.0 / 31.0) / nScreenWidth2);
                v->dt[1] = (float)((double)(j * nScreenHeight) * (1.0 / 31.0) / nScreenHeight2);
            } else {
                v->dt[0] = (float)(i * 0.03125);
                v->dt[1] = (float)(j * 0.03125);
            }
        }
    }
}

// The radial amplitude profile and the direction-and-distance table.
void ripple_build_tables(void)
{
    const double pi = 3.14159265358979323846;
    ripple_amplitude[0] = 0.0f;
    for (int k = 1; k < RIPPLE_LENGTH; k++) {
        double u = 1.0 - k * (1.0 / 2047.0);
        ripple_amplitude[k] = (float)(pow(u, 8.0) * 0.125 * (0.5 - 0.5 * cos(2.0 * pi * 18.0 * u)));
    }
    for (int i = 0; i < GRID_SIZE; i++) {
        for (int j = 0; j < GRID_SIZE; j++) {
            double m = sqrt((double)(i * i + j * j));
            RIPPLE_VECTOR *v = &ripple_precalc[j][i];
            if (m == 0.0) {
                v->dx = v->dy = v->r = 0.0f;
            } else {
                v->dx = (float)(i / m);
                v->dy = (float)(j / m);
                v->r = (float)(m * 32.0);
            }
        }
    }
}

// Everything of the start-up that needs no GL: free, idle slots, the grid, the tables, and one
// step that sets every vertex from its rest values.
void ripple_prepare(void)
{
    for (int s = 0; s < RIPPLE_COUNT; s++) {
        ripple[s].t = RIPPLE_LENGTH;
        ripple[s].x = 0;
        ripple[s].y = 0;
        ripple[s].max = RIPPLE_LENGTH + 1;
    }
    ripple_build_grid();
    ripple_build_tables();
    ripple_dynamics();
}

void ripple_init(void)
{
    ripple_prepare();
    glGenTextures(2, texture_names);
    glEnable(GL_TEXTURE_2D);
}

void do_ripple(int x, int y, int frame)
{
    if (x < 0 || x >= GRID_SIZE || y < 0 || y >= GRID_SIZE) return;
    for (int i = 0; i < GRID_SIZE; i++) {
        int sx = i - x < 0 ? -1 : 1;
        int absx = i - x < 0 ? x - i : i - x;
        for (int j = 0; j < GRID_SIZE; j++) {
            int sy = j - y < 0 ? -1 : 1;
            int absy = j - y < 0 ? y - j : j - y;
            const RIPPLE_VECTOR *v = &ripple_precalc[absy][absx];
            double front = (double)(RIPPLE_LENGTH - frame) + v->r;
            int r = front >= RIPPLE_LENGTH ? RIPPLE_LENGTH : (front <= 0.0 ? 0 : (int)front);
            double a = (r >= 1 && r <= RIPPLE_LENGTH - 1) ? ripple_amplitude[RIPPLE_LENGTH - r] : 0.0;
            float ax = (float)(a * v->dx * sx);
            float ay = (float)(a * v->dy * sy);
            RIPPLE_VERTEX *p = &ripple_vertex[i][j];
            p->t[0] += ax;
            p->t[1] += ay;
            p->n[0] += 2 * ax;
            p->n[1] += 2 * ay;
        }
    }
}

void ripple_dynamics(void)
{
    for (int i = 0; i < GRID_SIZE; i++) {
        for (int j = 0; j < GRID_SIZE; j++) {
            RIPPLE_VERTEX *p = &ripple_vertex[i][j];
            p->t[0] = p->dt[0];
            p->t[1] = p->dt[1];
            p->n[0] = 0.5f;
            p->n[1] = 0.5f;
        }
    }
    int speed = effective_speed();
    for (int s = 0; s < RIPPLE_COUNT; s++) {
        if (ripple[s].t < ripple[s].max) {
            ripple[s].t += speed;
            do_ripple(ripple[s].x, ripple[s].y, ripple[s].t);
        }
    }
}

// Grid column or row of a pixel: pixel p of a side of size lands in cell floor(32 p / size).
// Positions off the screen are held to its edge.
static int grid_cell(int pixel, int size)
{
    double cell = pixel * 1.0 / size * 32.0;
    if (cell < 0.0) return 0;
    if (cell >= GRID_SIZE - 1) return GRID_SIZE - 1;
    return (int)cell;
}

void ripple_click(int mousex, int mousey)
{
    if (nScreenWidth <= 0 || nScreenHeight <= 0) return;
    for (int s = 0; s < RIPPLE_COUNT; s++) {
        if (ripple[s].t >= RIPPLE_LENGTH) {
            ripple[s].x = grid_cell(mousex, nScreenWidth);
            ripple[s].y = grid_cell(mousey, nScreenHeight);
            ripple[s].t = 28;
            ripple[s].max = RIPPLE_LENGTH;
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Desktop capture and textures

int nScreenWidth2 = 0;
int nScreenHeight2 = 0;
int scaled_mode = 0;

#define MAP_SIZE 256
#define MAP_BYTES (MAP_SIZE * MAP_SIZE * 3)

// Returns the smallest power of two that is at least min (1 for anything below 2).
int genpow(int min)
{
    int v = 1;
    while (min > v && v < (1 << 30)) v *= 2;
    return v;
}

// The largest texture side we may use: the setting held to a power of two the GL accepts.
// Settings come unchecked from the store, so one that is not a power of two, is below 64 or above
// what the GL takes is brought down to the nearest power of two in range.
static int texture_cap(int max_gl_size)
{
    int limit = max_texture_size;
    if (max_gl_size >= 64 && limit > max_gl_size) limit = max_gl_size;
    if (limit < 64) return 64;
    int cap = 64;
    while (cap * 2 <= limit && cap < (1 << 30)) cap *= 2;
    return cap;
}

// Settles the desktop texture's size and whether the picture must be resampled to fill it.
void settle_texture_size(int max_gl_size)
{
    int cap = texture_cap(max_gl_size);
    nScreenWidth2 = genpow(nScreenWidth);
    nScreenHeight2 = genpow(nScreenHeight);
    if (nScreenWidth2 > cap) {
        nScreenWidth2 = cap;
        scaled_mode = 1;
    }
    if (nScreenHeight2 > cap) {
        nScreenHeight2 = cap;
        scaled_mode = 1;
    }
}

// Bytes in one row of a device picture: three a pixel, filled out to a multiple of four.
static size_t device_stride(int width) { return ((size_t)width * 3 + 3) & ~(size_t)3; }

// One device pixel (blue, green, red) as a texel (red, green, blue).
static void put_texel(unsigned char *d, const unsigned char *s)
{
    d[0] = s[2];
    d[1] = s[1];
    d[2] = s[0];
}

// Device picture (BGR, rows padded to 4 bytes) to texture picture (RGB, packed rows), rows kept
// bottom first. Unscaled, the picture lands in the bottom-left corner; scaled, it is
// nearest-neighbour resampled to fill the destination.
void copy_and_reorder_image(unsigned char *dst, int d_width, int d_height, const unsigned char *src, int s_width,
                            int s_height)
{
    if (!dst || !src || d_width <= 0 || d_height <= 0 || s_width <= 0 || s_height <= 0) return;
    size_t stride = device_stride(s_width);
    if (!scaled_mode) {
        int w = s_width < d_width ? s_width : d_width;
        int h = s_height < d_height ? s_height : d_height;
        for (int y = 0; y < h; y++) {
            const unsigned char *s = src + y * stride;
            unsigned char *d = dst + (size_t)y * d_width * 3;
            for (int x = 0; x < w; x++, s += 3, d += 3) put_texel(d, s);
        }
        return;
    }
    for (int j = 0; j < d_height; j++) {
        int sy = (int)(((long long)j * s_height) / d_height);
        const unsigned char *row = src + sy * stride;
        unsigned char *d = dst + (size_t)j * d_width * 3;
        for (int i = 0; i < d_width; i++, d += 3) {
            int sx = (int)(((long long)i * s_width) / d_width);
            put_texel(d, row + 3 * (size_t)sx);
        }
    }
}

void load_texture(int name, const unsigned char *texture, int tex_width, int tex_height)
{
    GLint filter = (user_options & OPTION_HIGH_QUALITY) ? GL_LINEAR : GL_NEAREST;
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    // Texture pictures have tightly packed rows; the GL would otherwise take each row as filled
    // out to 4 bytes, and read past the buffer when a row is 3 or 6 bytes long.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, tex_width, tex_height, 0, GL_RGB, GL_UNSIGNED_BYTE, texture);
}

// Photographs the saver's area of the screen into the capture buffer and makes the desktop texture from it.
// The memory DC is left for the lighting map.
static void load_desktop_texture(HDC hScreenDC, HDC hMemDC, BITMAPINFO *info, unsigned char *capture)
{
    HBITMAP hBitmap = CreateCompatibleBitmap(hScreenDC, nScreenWidth, nScreenHeight);
    HGDIOBJ hOld = SelectObject(hMemDC, hBitmap);
    BitBlt(hMemDC, 0, 0, nScreenWidth, nScreenHeight, hScreenDC, nScreenLeft, nScreenTop, SRCCOPY);
    if (capture) GetDIBits(hScreenDC, hBitmap, 0, nScreenHeight, capture, info, DIB_RGB_COLORS);

    size_t bytes = (size_t)nScreenWidth2 * nScreenHeight2 * 3;
    unsigned char *texture = (unsigned char *)malloc(bytes);
    if (texture) {
        memset(texture, 0, bytes);
        copy_and_reorder_image(texture, nScreenWidth2, nScreenHeight2, capture, nScreenWidth, nScreenHeight);
    }
    SelectObject(hMemDC, hOld);
    DeleteObject(hBitmap);
    if (texture) load_texture(texture_names[0], texture, nScreenWidth2, nScreenHeight2);
    free(texture);
}

// Reads the lighting map from the resources into the capture buffer and makes texture 1 from it.
// Done with the device contexts once the map is read, it lets them go.
static void load_lighting_texture(HWND hDesktop, HDC hScreenDC, HDC hMemDC, BITMAPINFO *info, unsigned char *capture)
{
    HBITMAP hMap = LoadBitmapA(hInst, "refmap");
    HGDIOBJ hOld = SelectObject(hMemDC, hMap);
    unsigned char *texture = (unsigned char *)malloc(MAP_BYTES);
    info->bmiHeader.biWidth = MAP_SIZE;
    info->bmiHeader.biHeight = MAP_SIZE;
    // Without the map the capture buffer still holds the photograph: show no light at all
    // rather than a piece of the desktop.
    if (capture && !GetDIBits(hScreenDC, hMap, 0, MAP_SIZE, capture, info, DIB_RGB_COLORS))
        memset(capture, 0, MAP_BYTES);
    SelectObject(hMemDC, hOld);
    DeleteObject(hMap);
    DeleteDC(hMemDC);
    ReleaseDC(hDesktop, hScreenDC);
    if (texture && capture) {
        copy_and_reorder_image(texture, MAP_SIZE, MAP_SIZE, capture, MAP_SIZE, MAP_SIZE);
        load_texture(texture_names[1], texture, MAP_SIZE, MAP_SIZE);
    }
    free(texture);
}

void image_init(void)
{
    GLint max_gl_size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_gl_size);
    settle_texture_size(max_gl_size);
    ripple_init();

    HWND hDesktop = GetDesktopWindow();
    HDC hScreenDC = GetDC(hDesktop);
    HDC hMemDC = CreateCompatibleDC(hScreenDC);

    BITMAPINFO info;
    memset(&info, 0, sizeof(info));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = nScreenWidth;
    info.bmiHeader.biHeight = nScreenHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;

    // Zero-filled, so a capture that fails leaves black rather than stale memory.
    size_t capture_bytes = device_stride(nScreenWidth) * (size_t)(nScreenHeight > 0 ? nScreenHeight : 0);
    if (capture_bytes < MAP_BYTES) capture_bytes = MAP_BYTES;
    unsigned char *capture = (unsigned char *)calloc(capture_bytes, 1);

    load_desktop_texture(hScreenDC, hMemDC, &info, capture);
    load_lighting_texture(hDesktop, hScreenDC, hMemDC, &info, capture);
    free(capture);
}

// ---------------------------------------------------------------------------------------------
// GL context, drawing and frame driver

static HGLRC hRC = NULL;
static void (*ripple_redraw)(void) = normal_redraw;

HGLRC ss_context(void) { return hRC; }

int oglSetPixelFormat(HDC hDC, BYTE type, DWORD flags)
{
    PIXELFORMATDESCRIPTOR pfd;
    memset(&pfd, 0, sizeof(pfd));
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    pfd.nVersion = 1;
    pfd.dwFlags = flags | PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL;
    pfd.iPixelType = type;
    pfd.cColorBits = (BYTE)GetDeviceCaps(hDC, BITSPIXEL);

    int pixelformat = ChoosePixelFormat(hDC, &pfd);
    if (pixelformat == 0) {
        MessageBoxA(NULL, "ChoosePixelFormat() failed:  Cannot find format specified.", "Error", MB_OK);
        return 0;
    }
    if (!SetPixelFormat(hDC, pixelformat, &pfd)) {
        MessageBoxA(NULL, "SetPixelFormat() failed:  Cannot set format specified.", "Error", MB_OK);
        return 0;
    }
    return pixelformat;
}

// Object coordinates run along the window's pixels, origin bottom-left; the span is one unit
// wider and higher than the viewport so every pixel centre falls strictly inside the grid.
void resize(int width, int height)
{
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-0.5, width + 0.5, -0.5, height + 0.5, 0.0, 1000.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

#ifndef _WIN32
static void set_option(int bit, int on_off)
{
    if (on_off > 0) user_options |= bit;
    if (on_off < 0) user_options &= ~bit;
}

// Switches a host gave for this run take the place of the stored values; nothing is written.
static void apply_host_settings(void)
{
    HOSTSETTINGS hs;
    GetHostSettings(&hs);
    if (hs.ripple_speed) ripple_speed = hs.ripple_speed;
    if (hs.ripple_freq) ripple_freq = hs.ripple_freq;
    if (hs.max_texture_size) max_texture_size = hs.max_texture_size;
    set_option(OPTION_LIGHTEN_DARKEN, hs.lighten_darken);
    set_option(OPTION_RIPPLE_DESKTOP, hs.ripple_desktop);
    set_option(OPTION_DOUBLE_BUFFER, hs.double_buffer);
    set_option(OPTION_HIGH_QUALITY, hs.high_quality);
}
#endif

int ss_initialize(HWND hWnd)
{
    LoadConfig();
#ifndef _WIN32
    apply_host_settings();
#endif
    HDC hDC = GetDC(hWnd);
    DWORD flags = (user_options & OPTION_DOUBLE_BUFFER) ? PFD_DOUBLEBUFFER : 0;
    if (!oglSetPixelFormat(hDC, PFD_TYPE_RGBA, flags)) {
        ReleaseDC(hWnd, hDC);
        return 0;
    }
    hRC = wglCreateContext(hDC);
    // Without a context (or one that cannot be made current) no GL call may be made: the
    // window stays up and frames return at once.
    if (!hRC || !wglMakeCurrent(hDC, hRC)) {
        if (hRC) wglDeleteContext(hRC);
        hRC = NULL;
        ReleaseDC(hWnd, hDC);
        return 0;
    }
    RECT rect;
    GetClientRect(hWnd, &rect);
    resize(rect.right, rect.bottom);
    image_init();
    wglMakeCurrent(NULL, NULL);
    ReleaseDC(hWnd, hDC);
    return 1;
}

int ss_shutdown(HWND hWnd)
{
    (void)hWnd;
    wglMakeCurrent(NULL, NULL);
    if (hRC) {
        wglDeleteContext(hRC);
        hRC = NULL;
    }
    return 1;
}

// Counts down to the next random drop and makes it when due: y is drawn before x.
// Returns 1 on the frames that attempt a drop.
int drop_countdown(int *frame)
{
    int old = *frame;
    *frame = old - 1;
    if (old >= 0) return 0;
    int y = 0, x = 0;
    int ry = rand();
    int rx = rand();
    if (nScreenHeight > 0) y = ry % nScreenHeight;
    if (nScreenWidth > 0) x = rx % nScreenWidth;
    ripple_click(x, y);
    // A negative setting drops on every frame; holding it at -1 keeps the count in range.
    *frame = ripple_freq < -1 ? -1 : ripple_freq;
    return 1;
}

int ss_draw(HWND hWnd)
{
    static int frame = 0;
    if (!hRC) return 1;
    HDC hDC = GetDC(hWnd);
    if (!wglMakeCurrent(hDC, hRC)) {
        ReleaseDC(hWnd, hDC);
        return 1;
    }
    drop_countdown(&frame);
    ripple_dynamics();
    if (ripple_redraw) ripple_redraw();
#ifndef _WIN32
    DrawFrameRate();
#endif
    if (user_options & OPTION_DOUBLE_BUFFER) SwapBuffers(hDC);
    wglMakeCurrent(NULL, NULL);
    ReleaseDC(hWnd, hDC);
    return 0;
}

// One pass over the grid: 31 strips, one per column of cells, bottom to top. The pass decides
// which vertex of each pair comes first, and so which diagonal splits the cells.
static void draw_grid_pass(const float *coords, int left_first)
{
    glVertexPointer(2, GL_FLOAT, sizeof(RIPPLE_VERTEX), ripple_vertex[0][0].d);
    glTexCoordPointer(2, GL_FLOAT, sizeof(RIPPLE_VERTEX), coords);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    for (int i = 0; i < GRID_SIZE - 1; i++) {
        glBegin(GL_TRIANGLE_STRIP);
        for (int j = 0; j < GRID_SIZE; j++) {
            int left = GRID_SIZE * i + j;
            int right = GRID_SIZE * (i + 1) + j;
            glArrayElement(left_first ? left : right);
            glArrayElement(left_first ? right : left);
        }
        glEnd();
    }
}

void normal_redraw(void)
{
    glDisable(GL_BLEND);
    if (user_options & OPTION_RIPPLE_DESKTOP) {
        glBindTexture(GL_TEXTURE_2D, texture_names[0]);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
        draw_grid_pass(ripple_vertex[0][0].t, 1);
    }
    if (user_options & OPTION_LIGHTEN_DARKEN) {
        // Over the desktop pass the map multiplies the picture; alone it is drawn opaque.
        if (user_options & OPTION_RIPPLE_DESKTOP) {
            glEnable(GL_BLEND);
            glBlendFunc(GL_ZERO, GL_SRC_COLOR);
        }
        glBindTexture(GL_TEXTURE_2D, texture_names[1]);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
        draw_grid_pass(ripple_vertex[0][0].n, 0);
    }
}

LRESULT CALLBACK ScreenSaverProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_SIZE && hRC) {
        HDC hDC = GetDC(hWnd);
        if (wglMakeCurrent(hDC, hRC)) {
            RECT rect;
            GetClientRect(hWnd, &rect);
            resize(rect.right, rect.bottom);
            wglMakeCurrent(NULL, NULL);
        }
        ReleaseDC(hWnd, hDC);
    }
    return DefScreenSaverProc(hWnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------
// Configuration and About dialogs

void settexmsg(HWND hWnd)
{
    char text[100];
    snprintf(text, sizeof(text), "Max texture size %dx%d", max_texture_size, max_texture_size);
    SetDlgItemTextA(hWnd, IDC_TEXTURE_SIZE, text);
}

static void set_check(HWND hWnd, int id, int bit)
{
    SendMessageA(GetDlgItem(hWnd, id), BM_SETCHECK, (user_options & bit) ? 1 : 0, 0);
}

static void read_check(HWND hWnd, int id, int bit)
{
    if (SendMessageA(GetDlgItem(hWnd, id), BM_GETCHECK, 0, 0) == 1) user_options |= bit;
}

static void init_slider(HWND hWnd, int id, int low, int high, int pos)
{
    HWND hSlider = GetDlgItem(hWnd, id);
    SendMessageA(hSlider, TBM_SETRANGE, TRUE, MAKELPARAM(low, high));
    SendMessageA(hSlider, TBM_SETPOS, TRUE, pos);
}

static void init_config_dialog(HWND hWnd)
{
    LoadConfig();
    set_check(hWnd, IDC_HIGH_QUALITY, OPTION_HIGH_QUALITY);
    set_check(hWnd, IDC_LIGHTEN_DARKEN, OPTION_LIGHTEN_DARKEN);
    set_check(hWnd, IDC_RIPPLE_DESKTOP, OPTION_RIPPLE_DESKTOP);
    set_check(hWnd, IDC_DOUBLE_BUFFER, OPTION_DOUBLE_BUFFER);
    init_slider(hWnd, IDC_RIPPLE_SPEED, 1, 30, ripple_speed);
    init_slider(hWnd, IDC_RIPPLE_FREQ, 1, 500, ripple_freq);
    settexmsg(hWnd);
}

// Tells the user that OK could not keep the settings: where they live and the system's reason.
static void report_save_failure(HWND hWnd, LSTATUS status)
{
    char text[1024];
#ifdef _WIN32
    char reason[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, (DWORD)status, 0,
                             reason, sizeof(reason), NULL);
    if (n == 0) n = (DWORD)snprintf(reason, sizeof(reason), "error %ld", (long)status);
    while (n > 0 && (reason[n - 1] == '\r' || reason[n - 1] == '\n')) reason[--n] = 0;
    snprintf(text, sizeof(text), "The settings could not be saved to HKEY_CURRENT_USER\\%s:\n%s", config_key, reason);
#else
    (void)status;
    snprintf(text, sizeof(text), "The settings could not be saved to %s:\n%s", registry_failed_file(),
             registry_failure_reason());
#endif
    MessageBoxA(hWnd, text, "Error", MB_OK | MB_ICONERROR);
}

static void store_config_dialog(HWND hWnd)
{
    user_options = 0;
    read_check(hWnd, IDC_HIGH_QUALITY, OPTION_HIGH_QUALITY);
    read_check(hWnd, IDC_LIGHTEN_DARKEN, OPTION_LIGHTEN_DARKEN);
    read_check(hWnd, IDC_RIPPLE_DESKTOP, OPTION_RIPPLE_DESKTOP);
    read_check(hWnd, IDC_DOUBLE_BUFFER, OPTION_DOUBLE_BUFFER);
    ripple_freq = (int)SendMessageA(GetDlgItem(hWnd, IDC_RIPPLE_FREQ), TBM_GETPOS, 0, 0);
    ripple_speed = (int)SendMessageA(GetDlgItem(hWnd, IDC_RIPPLE_SPEED), TBM_GETPOS, 0, 0);
    LSTATUS status = SaveConfig();
    if (status != ERROR_SUCCESS) report_save_failure(hWnd, status);
}

INT_PTR CALLBACK ConfigDlgProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (Msg == WM_INITDIALOG) {
        init_config_dialog(hWnd);
        return TRUE;
    }
    if (Msg != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        store_config_dialog(hWnd);
        EndDialog(hWnd, 42);
        exit(0);
    case IDCANCEL:
        EndDialog(hWnd, 42);
        exit(0);
    case IDC_TEXTURE_BIGGER:
        // A stored size below 1 could never double its way back into range.
        if (max_texture_size < 1) max_texture_size = 64;
        else if (max_texture_size < 2048) max_texture_size *= 2;
        settexmsg(hWnd);
        break;
    case IDC_TEXTURE_SMALLER:
        if (max_texture_size > 64) max_texture_size /= 2;
        settexmsg(hWnd);
        break;
    case IDC_ABOUT:
        DialogBoxParamA(hInst, "AboutDlg", hWnd, AboutDlgProc, 0);
        break;
    }
    return TRUE;
}

INT_PTR CALLBACK AboutDlgProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (Msg == WM_COMMAND && LOWORD(wParam) == IDOK) EndDialog(hWnd, 42);
    return FALSE;
}

int ss_config(void)
{
    InitCommonControls();
    DialogBoxParamA(hInst, "ConfigDlg", NULL, ConfigDlgProc, 0);
    exit(0);
}
