// Lookup in the embedded .res image: a run of entries, each a header (data size, header size,
// type and name as ordinal or UTF-16 string, then fixed fields) followed by DWORD-aligned data.
#include "resources.h"

#include <cctype>
#include <cstring>

extern const unsigned char tidefold_res_data[];
extern const size_t tidefold_res_size;

namespace {

uint32_t read_u32(const BYTE *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24); }
uint16_t read_u16(const BYTE *p) { return (uint16_t)(p[0] | (p[1] << 8)); }

// Compares one type or name field at p (within end) with the caller's id or string; sets *next
// to the byte after the field. Returns false for a malformed field as well as a mismatch.
bool field_matches(const BYTE *p, const BYTE *end, LPCSTR want, const BYTE **next, bool *ok)
{
    *ok = false;
    if (end - p < 2) return false;
    if (read_u16(p) == 0xFFFF) {
        if (end - p < 4) return false;
        *next = p + 4;
        *ok = true;
        return IS_INTRESOURCE(want) && read_u16(p + 2) == (WORD)(ULONG_PTR)want;
    }
    bool same = !IS_INTRESOURCE(want);
    size_t k = 0;
    while (true) {
        if (end - p < 2) return false;
        uint16_t c = read_u16(p);
        p += 2;
        if (c == 0) break;
        if (same) {
            char w = want[k];
            if (w == 0 || c > 0x7F || tolower((unsigned char)w) != tolower((int)c)) same = false;
            else k++;
        }
    }
    *next = p;
    *ok = true;
    return same && want[k] == 0;
}

} // namespace

bool find_resource_in(const BYTE *res, size_t res_size, LPCSTR type, LPCSTR name, const BYTE **data, DWORD *size)
{
    size_t pos = 0;
    while (res_size - pos >= 8) {
        uint32_t data_size = read_u32(res + pos);
        uint32_t header_size = read_u32(res + pos + 4);
        if (header_size < 16 || header_size > res_size - pos || data_size > res_size - pos - header_size) return false;
        const BYTE *hdr_end = res + pos + header_size;
        const BYTE *p = res + pos + 8;
        bool ok;
        bool type_match = field_matches(p, hdr_end, type, &p, &ok);
        if (!ok) return false;
        bool name_match = field_matches(p, hdr_end, name, &p, &ok);
        if (!ok) return false;
        if (type_match && name_match && data_size > 0) {
            *data = res + pos + header_size;
            *size = data_size;
            return true;
        }
        pos += header_size + data_size;
        pos = (pos + 3) & ~(size_t)3;
    }
    return false;
}

bool find_resource(LPCSTR type, LPCSTR name, const BYTE **data, DWORD *size)
{
    return find_resource_in(tidefold_res_data, tidefold_res_size, type, name, data, size);
}
