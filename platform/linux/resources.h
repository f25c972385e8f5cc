// The program's own resources, compiled from resources/tidefold.rc into a .res file and embedded
// in the Linux executable at build time (the Windows build links the same script).
#pragma once

#include "win32.h"

#define RT_BITMAP_ID 2
#define RT_ICON_ID 3
#define RT_DIALOG_ID 5
#define RT_GROUP_ICON_ID 14

// Finds a resource by type and name, each an integer id (MAKEINTRESOURCEA) or a string matched
// without regard to ASCII case, as Windows matches them. Gives its bytes, which live for the run.
bool find_resource(LPCSTR type, LPCSTR name, const BYTE **data, DWORD *size);

// The same search over any .res image, for tests.
bool find_resource_in(const BYTE *res, size_t res_size, LPCSTR type, LPCSTR name, const BYTE **data, DWORD *size);
