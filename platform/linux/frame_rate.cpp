// The -fps read-out: frames a second and the processor time the saver takes, in the bottom-left
// corner of each frame, drawn with GL 1.1 bitmaps from a small font of its own.
#include "host_settings.h"
#include "win32.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// 5x7 glyphs, one byte a row from the top, the five low bits left to right.
struct Glyph {
    char c;
    unsigned char rows[7];
};
const Glyph kFont[] = {
    {'0', {14, 17, 19, 21, 25, 17, 14}}, {'1', {4, 12, 4, 4, 4, 4, 14}},     {'2', {14, 17, 1, 2, 4, 8, 31}},
    {'3', {30, 1, 1, 14, 1, 1, 30}},     {'4', {2, 6, 10, 18, 31, 2, 2}},    {'5', {31, 16, 30, 1, 1, 17, 14}},
    {'6', {6, 8, 16, 30, 17, 17, 14}},   {'7', {31, 1, 2, 4, 8, 8, 8}},      {'8', {14, 17, 17, 14, 17, 17, 14}},
    {'9', {14, 17, 17, 15, 1, 2, 12}},   {'.', {0, 0, 0, 0, 0, 12, 12}},     {'%', {24, 25, 2, 4, 8, 19, 3}},
    {':', {0, 12, 12, 0, 12, 12, 0}},    {'F', {31, 16, 16, 30, 16, 16, 16}}, {'P', {30, 17, 17, 30, 16, 16, 16}},
    {'S', {15, 16, 16, 14, 1, 1, 30}},   {'C', {14, 17, 16, 16, 16, 17, 14}}, {'U', {17, 17, 17, 17, 17, 17, 14}},
};
const int kScale = 2, kGlyphW = 6 * kScale, kGlyphH = 7 * kScale;

// The glyph doubled in both directions, rows bottom first as glBitmap reads them (two bytes a row).
void glyph_bitmap(const Glyph &g, unsigned char out[7 * kScale][2])
{
    for (int r = 0; r < 7; r++) {
        unsigned bits = 0;
        for (int b = 0; b < 5; b++)
            if (g.rows[r] & (16 >> b)) bits |= 3u << (14 - 2 * b);
        for (int k = 0; k < kScale; k++) {
            out[(6 - r) * kScale + k][0] = (unsigned char)(bits >> 8);
            out[(6 - r) * kScale + k][1] = (unsigned char)bits;
        }
    }
}

double seconds(clockid_t clock)
{
    timespec ts;
    clock_gettime(clock, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Counts frames, and once a second makes the text from them and the processor time spent.
const char *read_out()
{
    static char text[48] = "FPS: -";
    static int frames = 0;
    static double since = -1, cpu_since = 0;
    double now = seconds(CLOCK_MONOTONIC), cpu = seconds(CLOCK_PROCESS_CPUTIME_ID);
    if (since < 0) since = now, cpu_since = cpu;
    frames++;
    if (now - since >= 1.0) {
        snprintf(text, sizeof text, "FPS: %.1f  CPU: %.0f%%", frames / (now - since), 100.0 * (cpu - cpu_since) / (now - since));
        frames = 0;
        since = now;
        cpu_since = cpu;
    }
    return text;
}

} // namespace

void DrawFrameRate(void)
{
    if (!platform::host_settings().fps) return;
    const char *text = read_out();
    GLboolean texturing = glIsEnabled(GL_TEXTURE_2D), blending = glIsEnabled(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    const int margin = 6, width = int(strlen(text)) * kGlyphW;
    glColor3f(0.0f, 0.0f, 0.0f);
    glRecti(margin - 3, margin - 3, margin + width + 2, margin + kGlyphH + 3);
    glColor3f(1.0f, 1.0f, 0.3f);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glRasterPos2i(margin, margin);
    for (const char *p = text; *p; p++) {
        unsigned char bitmap[7 * kScale][2] = {};
        for (const Glyph &g : kFont)
            if (g.c == *p) glyph_bitmap(g, bitmap);
        glBitmap(16, kGlyphH, 0, 0, kGlyphW, 0, &bitmap[0][0]);
    }
    glColor3f(1.0f, 1.0f, 1.0f);
    if (texturing) glEnable(GL_TEXTURE_2D);
    if (blending) glEnable(GL_BLEND);
}
