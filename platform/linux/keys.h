// Key symbols (X11's, which are also xkbcommon's) to Windows virtual-key codes. Internal to
// platform/linux and its tests.
#pragma once

#include "win32.h"

namespace platform {

// Virtual-key code of the key's unshifted symbol; 0 for a symbol with none.
WPARAM virtual_key(unsigned long keysym);
// Whether Windows marks the key as extended (bit 24 of a key message's lParam).
bool extended_key(unsigned long keysym);

} // namespace platform
