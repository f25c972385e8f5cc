// The ripple grid, its tables and slots, and the effect's settings and entry points.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "win32.h"
#endif

#define GRID_SIZE 32
#define RIPPLE_LENGTH 2048
#define RIPPLE_COUNT 7

// One grid point. Drawn straight from memory with a stride of one record, so the four pairs
// stay packed in this order.
typedef struct {
    float d[2];  // screen position in pixels, origin bottom-left
    float dt[2]; // rest coordinate into the desktop texture
    float t[2];  // current desktop coordinate: dt plus the ripple displacement
    float n[2];  // current lighting-map coordinate: (0.5, 0.5) plus twice the displacement
} RIPPLE_VERTEX;
static_assert(sizeof(RIPPLE_VERTEX) == 32, "the grid is drawn with a stride of one 32-byte record");

// Unit direction and distance (in 1/32 cell) for one grid offset.
typedef struct {
    float dx;
    float dy;
    float r;
} RIPPLE_VECTOR;

// One ripple: centre column and row, age (= radius of its front in 1/32 cell) and the age it
// is advanced up to.
typedef struct {
    int x;
    int y;
    int t;
    int max;
} ripple_t;

extern RIPPLE_VERTEX ripple_vertex[GRID_SIZE][GRID_SIZE];
extern RIPPLE_VECTOR ripple_precalc[GRID_SIZE][GRID_SIZE];
extern float ripple_amplitude[RIPPLE_LENGTH];
extern ripple_t ripple[RIPPLE_COUNT];

// Settings.
#define OPTION_LIGHTEN_DARKEN 0x01
#define OPTION_RIPPLE_DESKTOP 0x02
#define OPTION_HIGH_QUALITY 0x04
#define OPTION_DOUBLE_BUFFER 0x10

#define TIDEFOLD_REGISTRY_KEY "Software\\Brindlewick Productions\\Tidefold Screen Saver"

extern int user_options;
extern int max_texture_size;
extern int ripple_speed;
extern int ripple_freq;

void LoadConfig(void);
// ERROR_SUCCESS, or the error of the first registry call that failed.
LSTATUS SaveConfig(void);

// Ripple engine.
void ripple_init(void);
void ripple_prepare(void);
void ripple_dynamics(void);
void ripple_click(int mousex, int mousey);
void do_ripple(int x, int y, int frame);
void ripple_build_grid(void);
void ripple_build_tables(void);

// Desktop capture and textures.
extern int nScreenWidth2;
extern int nScreenHeight2;
extern int scaled_mode;
extern unsigned int texture_names[2];

int genpow(int min);
void settle_texture_size(int max_gl_size);
void copy_and_reorder_image(unsigned char *dst, int d_width, int d_height, const unsigned char *src, int s_width,
                            int s_height);
void load_texture(int name, const unsigned char *texture, int tex_width, int tex_height);
void image_init(void);

// Drawing and frame driver.
int oglSetPixelFormat(HDC hDC, BYTE type, DWORD flags);
void resize(int width, int height);
void normal_redraw(void);
int drop_countdown(int *frame);
HGLRC ss_context(void);

// Dialogs.
INT_PTR CALLBACK ConfigDlgProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDlgProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
void settexmsg(HWND hWnd);
