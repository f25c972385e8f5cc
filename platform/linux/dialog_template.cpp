// Reads DLGTEMPLATEEX resources and works out what the dialogs build from them.
#include "dialog_template.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

struct TemplateReader {
    const BYTE *begin;
    const BYTE *p;
    const BYTE *end;
    bool ok = true;

    size_t left() const { return (size_t)(end - p); }

    WORD u16()
    {
        if (left() < 2) {
            ok = false;
            return 0;
        }
        WORD v = (WORD)(p[0] | (p[1] << 8));
        p += 2;
        return v;
    }
    DWORD u32()
    {
        if (left() < 4) {
            ok = false;
            return 0;
        }
        DWORD v = p[0] | (p[1] << 8) | (p[2] << 16) | ((DWORD)p[3] << 24);
        p += 4;
        return v;
    }
    int s16() { return (int16_t)u16(); }
    BYTE u8()
    {
        if (left() < 1) {
            ok = false;
            return 0;
        }
        return *p++;
    }
    void align4()
    {
        size_t pad = (4 - (size_t)(p - begin) % 4) % 4;
        if (left() < pad) {
            ok = false;
            return;
        }
        p += pad;
    }

    // A NUL-terminated UTF-16LE string whose first unit has already been read.
    std::string utf16_from(WORD first)
    {
        std::string s;
        WORD c = first;
        while (ok && c != 0) {
            unsigned cp = c;
            if (c >= 0xD800 && c <= 0xDBFF) {
                WORD lo = u16();
                if (!ok) break;
                if (lo >= 0xDC00 && lo <= 0xDFFF) {
                    cp = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                } else {
                    append_utf8(&s, 0xFFFD);
                    c = lo;
                    continue;
                }
            } else if (c >= 0xDC00 && c <= 0xDFFF) {
                cp = 0xFFFD;
            }
            append_utf8(&s, cp);
            c = u16();
        }
        return s;
    }

    std::string utf16() { return utf16_from(u16()); }

    // A field that is either 0xFFFF and an ordinal, or a string (possibly empty).
    void sz_or_ord(bool *is_ord, WORD *ord, std::string *s)
    {
        WORD first = u16();
        *is_ord = false;
        *ord = 0;
        s->clear();
        if (!ok) return;
        if (first == 0xFFFF) {
            *is_ord = true;
            *ord = u16();
        } else {
            *s = utf16_from(first);
        }
    }

    static void append_utf8(std::string *s, unsigned cp)
    {
        if (cp < 0x80) {
            s->push_back((char)cp);
        } else if (cp < 0x800) {
            s->push_back((char)(0xC0 | (cp >> 6)));
            s->push_back((char)(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            s->push_back((char)(0xE0 | (cp >> 12)));
            s->push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
            s->push_back((char)(0x80 | (cp & 0x3F)));
        } else {
            s->push_back((char)(0xF0 | (cp >> 18)));
            s->push_back((char)(0x80 | ((cp >> 12) & 0x3F)));
            s->push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
            s->push_back((char)(0x80 | (cp & 0x3F)));
        }
    }
};

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

bool same_ascii_nocase(const std::string &a, const char *b)
{
    size_t n = strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; i++)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

} // namespace

bool parse_dialog_template(const BYTE *data, size_t size, DialogTemplate *out)
{
    if (!data || !out) return false;
    TemplateReader r{data, data, data + size};
    DialogTemplate t;
    WORD version = r.u16();
    WORD signature = r.u16();
    if (!r.ok || version != 1 || signature != 0xFFFF) return false;
    t.help_id = r.u32();
    t.ex_style = r.u32();
    t.style = r.u32();
    WORD count = r.u16();
    t.x = r.s16();
    t.y = r.s16();
    t.cx = r.s16();
    t.cy = r.s16();
    r.sz_or_ord(&t.menu_is_ordinal, &t.menu_ordinal, &t.menu);
    r.sz_or_ord(&t.class_is_ordinal, &t.class_ordinal, &t.window_class);
    t.title = r.utf16();
    if (t.style & DS_SETFONT) {
        t.has_font = true;
        t.point_size = r.u16();
        t.weight = r.u16();
        t.italic = r.u8() != 0;
        t.charset = r.u8();
        t.typeface = r.utf16();
    }
    if (!r.ok) return false;
    for (WORD i = 0; i < count; i++) {
        DialogItemTemplate item;
        r.align4();
        item.help_id = r.u32();
        item.ex_style = r.u32();
        item.style = r.u32();
        item.x = r.s16();
        item.y = r.s16();
        item.cx = r.s16();
        item.cy = r.s16();
        item.id = (int)(int32_t)r.u32();
        bool class_is_ordinal;
        r.sz_or_ord(&class_is_ordinal, &item.class_atom, &item.class_name);
        if (r.ok && !class_is_ordinal && item.class_name.empty()) return false;
        r.sz_or_ord(&item.title_is_ordinal, &item.title_ordinal, &item.title);
        WORD extra = r.u16();
        if (!r.ok || r.left() < extra) return false;
        item.extra.assign(r.p, r.p + extra);
        r.p += extra;
        t.items.push_back(std::move(item));
    }
    *out = std::move(t);
    return true;
}

DialogControlKind dialog_control_kind(const DialogItemTemplate &item)
{
    WORD atom = item.class_atom;
    if (atom == 0) {
        if (same_ascii_nocase(item.class_name, "button")) atom = 0x80;
        else if (same_ascii_nocase(item.class_name, "edit")) atom = 0x81;
        else if (same_ascii_nocase(item.class_name, "static")) atom = 0x82;
        else if (same_ascii_nocase(item.class_name, "msctls_trackbar32")) return DialogControlKind::Slider;
    }
    switch (atom) {
    case 0x80:
        switch (item.style & BS_TYPEMASK) {
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON: return DialogControlKind::PushButton;
        case BS_CHECKBOX: return DialogControlKind::CheckBox;
        case BS_AUTOCHECKBOX: return DialogControlKind::AutoCheckBox;
        default: return DialogControlKind::Unsupported;
        }
    case 0x81: return DialogControlKind::Edit;
    case 0x82:
        switch (item.style & SS_TYPEMASK) {
        case SS_LEFT:
        case SS_CENTER:
        case SS_RIGHT: return DialogControlKind::Text;
        default: return DialogControlKind::Unsupported;
        }
    default: return DialogControlKind::Unsupported;
    }
}

int dlu_to_px_x(int dlu, int base_x)
{
    long long n = (long long)dlu * base_x;
    return (int)(n >= 0 ? (n + 2) / 4 : -((-n + 2) / 4));
}

int dlu_to_px_y(int dlu, int base_y)
{
    long long n = (long long)dlu * base_y;
    return (int)(n >= 0 ? (n + 4) / 8 : -((-n + 4) / 8));
}

int average_char_width(int extent_of_alphabet)
{
    return std::max(1, (extent_of_alphabet / 26 + 1) / 2);
}

std::string dialog_text_to_gtk(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out += '&';
                i++;
            } else if (i + 1 < text.size()) {
                out += '_';
            }
        } else if (c == '_') {
            out += "__";
        } else {
            out += c;
        }
    }
    return out;
}
