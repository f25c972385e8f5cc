// Picture files decoded with GdkPixbuf, scaled to cover the saver's area.
#include "pictures.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

const long long kMaxPicturePixels = 64LL * 1024 * 1024;

namespace {

const off_t kMaxPictureFileBytes = off_t(256) << 20;
const int kMaxFolderDepth = 16;
const size_t kMaxFolderEntries = 100000;
const int kFolderTries = 8;

const char *const kPictureFormats[] = {"png", "jpeg", "gif", "bmp", "tiff", "webp"};
const char *const kPictureExtensions[] = {"png", "jpg", "jpeg", "jpe", "gif", "bmp", "tif", "tiff", "webp"};

// One line on stderr, whatever the path holds.
void warn(const std::string &path, const std::string &why)
{
    std::string p;
    for (char c : path) p += (unsigned char)c < 0x20 || c == 0x7f ? '?' : c;
    fprintf(stderr, "tidefold: cannot show the picture \"%s\": %s\n", p.c_str(), why.c_str());
}

bool known_format(GdkPixbufFormat *format)
{
    if (!format) return false;
    gchar *name = gdk_pixbuf_format_get_name(format);
    bool known = false;
    for (const char *f : kPictureFormats) known = known || (name && strcmp(name, f) == 0);
    g_free(name);
    return known;
}

struct LoadCheck {
    GdkPixbufLoader *loader;
    std::string refused;
};

// Before the loader allocates the picture: a size of 0 makes it stop with an error instead.
void on_size_prepared(GdkPixbufLoader *loader, gint width, gint height, gpointer data)
{
    LoadCheck *check = static_cast<LoadCheck *>(data);
    if (!known_format(gdk_pixbuf_loader_get_format(loader)))
        check->refused = "not a PNG, JPEG, GIF, BMP, TIFF or WebP picture";
    else if (width <= 0 || height <= 0 || (long long)width * height > kMaxPicturePixels)
        check->refused = "the picture is too large (" + std::to_string(width) + "x" + std::to_string(height) +
                         "; at most " + std::to_string(kMaxPicturePixels / 1024 / 1024) + " megapixels)";
    if (!check->refused.empty()) gdk_pixbuf_loader_set_size(loader, 0, 0);
}

// Reads a regular file of at most 256 MiB. Opened without blocking and checked once open, so a
// FIFO or a device in the picture's place is refused rather than read.
bool read_picture_file(const std::string &path, std::vector<guchar> *bytes, std::string *why)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) *why = strerror(errno);
    else if (!S_ISREG(st.st_mode)) *why = "not a regular file";
    else if (st.st_size > kMaxPictureFileBytes) *why = "the file is over 256 MiB";
    bool ok = why->empty();
    if (ok) {
        bytes->resize(size_t(st.st_size));
        size_t got = 0;
        ssize_t n = 1;
        while (got < bytes->size() && (n = read(fd, bytes->data() + got, bytes->size() - got)) > 0) got += size_t(n);
        if (n < 0) {
            *why = strerror(errno);
            ok = false;
        }
        bytes->resize(got);
    }
    close(fd);
    return ok;
}

// Decodes the picture file at path, turned as its EXIF orientation says; null after a warning.
GdkPixbuf *load_picture(const std::string &path)
{
    std::vector<guchar> bytes;
    std::string why;
    if (!read_picture_file(path, &bytes, &why)) {
        warn(path, why);
        return nullptr;
    }
    if (bytes.empty()) {
        warn(path, "the file is empty");
        return nullptr;
    }
    GdkPixbufLoader *loader = gdk_pixbuf_loader_new();
    LoadCheck check = {loader, ""};
    g_signal_connect(loader, "size-prepared", G_CALLBACK(on_size_prepared), &check);
    GError *error = nullptr;
    bool ok = gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), &error) && check.refused.empty();
    ok = gdk_pixbuf_loader_close(loader, ok ? &error : nullptr) && ok;
    GdkPixbuf *pixbuf = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (pixbuf && (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || gdk_pixbuf_get_n_channels(pixbuf) < 3)) {
        pixbuf = nullptr;
        check.refused = "an unusual pixel format";
    }
    GdkPixbuf *turned = pixbuf ? gdk_pixbuf_apply_embedded_orientation(pixbuf) : nullptr;
    if (!turned) {
        if (!check.refused.empty()) why = check.refused;
        else if (error) why = error->message;
        else why = "not a picture";
        warn(path, why);
    }
    if (error) g_error_free(error);
    g_object_unref(loader);
    return turned;
}

// The picture scaled to cover w x h, centred, written into dst's block at (x, y) and laid over
// black where it is see-through.
void cover(GdkPixbuf *picture, BitmapRec &dst, int x, int y, int w, int h)
{
    int pw = gdk_pixbuf_get_width(picture), ph = gdk_pixbuf_get_height(picture);
    double scale = std::max(double(w) / pw, double(h) / ph);
    double ox = (pw * scale - w) / 2, oy = (ph * scale - h) / 2;
    GdkPixbuf *block = gdk_pixbuf_new(GDK_COLORSPACE_RGB, gdk_pixbuf_get_has_alpha(picture), 8, w, h);
    if (!block) return;
    gdk_pixbuf_scale(picture, block, 0, 0, w, h, -ox, -oy, scale, scale, GDK_INTERP_BILINEAR);
    const guchar *pixels = gdk_pixbuf_read_pixels(block);
    int stride = gdk_pixbuf_get_rowstride(block), channels = gdk_pixbuf_get_n_channels(block);
    for (int j = std::max(0, -y); j < h && y + j < dst.height; j++) {
        const guchar *row = pixels + size_t(j) * stride;
        for (int i = std::max(0, -x); i < w && x + i < dst.width; i++) {
            const guchar *p = row + size_t(i) * channels;
            unsigned a = channels == 4 ? p[3] : 255;
            uint32_t rgb = (uint32_t(p[0] * a / 255) << 16) | (uint32_t(p[1] * a / 255) << 8) | uint32_t(p[2] * a / 255);
            dst.pixels[size_t(y + j) * dst.width + (x + i)] = rgb;
        }
    }
    g_object_unref(block);
}

bool has_picture_extension(const char *name)
{
    const char *dot = strrchr(name, '.');
    if (!dot) return false;
    for (const char *ext : kPictureExtensions)
        if (strcasecmp(dot + 1, ext) == 0) return true;
    return false;
}

// Collects picture files under folder, not following links to folders (a link may lead back up).
void collect_pictures(const std::string &folder, int depth, size_t *seen, std::vector<std::string> *out)
{
    DIR *dir = opendir(folder.c_str());
    if (!dir) return;
    while (dirent *e = readdir(dir)) {
        if (++*seen > kMaxFolderEntries) break;
        if (e->d_name[0] == '.') continue;
        std::string path = folder + "/" + e->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (depth < kMaxFolderDepth) collect_pictures(path, depth + 1, seen, out);
        } else if (has_picture_extension(e->d_name)) {
            out->push_back(path);
        }
    }
    closedir(dir);
}

bool draw_from_folder(const std::string &folder, BitmapRec &dst, int x, int y, int w, int h)
{
    std::vector<std::string> pictures = pictures_in_folder(folder);
    if (pictures.empty()) {
        warn(folder, "the folder holds no PNG, JPEG, GIF, BMP, TIFF or WebP pictures");
        return false;
    }
    std::random_device seed;
    std::mt19937 pick(seed());
    std::shuffle(pictures.begin(), pictures.end(), pick);
    for (int i = 0; i < kFolderTries && i < int(pictures.size()); i++) {
        if (GdkPixbuf *picture = load_picture(pictures[i])) {
            cover(picture, dst, x, y, w, h);
            g_object_unref(picture);
            return true;
        }
    }
    warn(folder, "none of the pictures tried could be shown");
    return false;
}

} // namespace

std::vector<std::string> pictures_in_folder(const std::string &folder)
{
    std::vector<std::string> out;
    size_t seen = 0;
    collect_pictures(folder, 0, &seen, &out);
    std::sort(out.begin(), out.end());
    return out;
}

bool draw_picture_source(const std::string &path, BitmapRec &dst, int x, int y, int w, int h)
{
    if (w <= 0 || h <= 0) return false;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return draw_from_folder(path, dst, x, y, w, h);
    GdkPixbuf *picture = load_picture(path);
    if (!picture) return false;
    cover(picture, dst, x, y, w, h);
    g_object_unref(picture);
    return true;
}

} // namespace platform
