// Picture files the tests offer the saver as its picture source, made with GdkPixbuf.
// Include after gtest.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <filesystem>
#include <string>

// Colours no other picture source has: the desktop the tests paint, and the pictures they offer.
constexpr unsigned kPinkDesktop = 0xe01090, kGreenPicture = 0x20c040, kRedPicture = 0xd02020;

// A picture of one colour, PNG or JPEG as the name ends, its folders made; gives the path.
inline std::string save_flat_picture(const std::string &path, unsigned rgb, int w = 160, int h = 90)
{
    GdkPixbuf *p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
    gdk_pixbuf_fill(p, rgb << 8 | 0xff);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    bool jpeg = path.size() > 4 && path.compare(path.size() - 4, 4, ".jpg") == 0;
    gdk_pixbuf_save(p, path.c_str(), jpeg ? "jpeg" : "png", nullptr, nullptr);
    g_object_unref(p);
    return path;
}

