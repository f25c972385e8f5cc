// Key symbols to Windows virtual-key codes. X11 key symbols and the xkbcommon ones Wayland
// compositors send are the same numbers, so both backends translate keys here.
#include "keys.h"

#include <X11/keysym.h>

namespace platform {

// Virtual-key code of the key's unshifted symbol.
WPARAM virtual_key(unsigned long ks)
{
    if (ks >= XK_a && ks <= XK_z) return 'A' + (ks - XK_a);
    if (ks >= XK_A && ks <= XK_Z) return 'A' + (ks - XK_A);
    if (ks >= XK_0 && ks <= XK_9) return '0' + (ks - XK_0);
    if (ks >= XK_F1 && ks <= XK_F24) return 0x70 + (ks - XK_F1);
    if (ks >= XK_KP_0 && ks <= XK_KP_9) return 0x60 + (ks - XK_KP_0);
    switch (ks) {
    case XK_BackSpace: return 0x08;
    case XK_Tab:
    case XK_ISO_Left_Tab: return 0x09;
    case XK_Clear:
    case XK_KP_Begin: return 0x0C;
    case XK_Return:
    case XK_KP_Enter: return 0x0D;
    case XK_Shift_L:
    case XK_Shift_R: return 0x10;
    case XK_Control_L:
    case XK_Control_R: return 0x11;
    case XK_Alt_L:
    case XK_Alt_R:
    case XK_Meta_L:
    case XK_Meta_R:
    case XK_ISO_Level3_Shift: return VK_MENU;
    case XK_Pause: return 0x13;
    case XK_Caps_Lock: return 0x14;
    case XK_Escape: return 0x1B;
    case XK_space: return 0x20;
    case XK_Prior:
    case XK_KP_Prior: return 0x21;
    case XK_Next:
    case XK_KP_Next: return 0x22;
    case XK_End:
    case XK_KP_End: return 0x23;
    case XK_Home:
    case XK_KP_Home: return 0x24;
    case XK_Left:
    case XK_KP_Left: return 0x25;
    case XK_Up:
    case XK_KP_Up: return 0x26;
    case XK_Right:
    case XK_KP_Right: return 0x27;
    case XK_Down:
    case XK_KP_Down: return 0x28;
    case XK_Select: return 0x29;
    case XK_Execute: return 0x2B;
    case XK_Print: return 0x2C;
    case XK_Insert:
    case XK_KP_Insert: return 0x2D;
    case XK_Delete:
    case XK_KP_Delete: return 0x2E;
    case XK_Help: return 0x2F;
    case XK_Super_L: return 0x5B;
    case XK_Super_R: return 0x5C;
    case XK_Menu: return 0x5D;
    case XK_KP_Multiply: return 0x6A;
    case XK_KP_Add: return 0x6B;
    case XK_KP_Separator: return 0x6C;
    case XK_KP_Subtract: return 0x6D;
    case XK_KP_Decimal: return 0x6E;
    case XK_KP_Divide: return 0x6F;
    case XK_Num_Lock: return 0x90;
    case XK_Scroll_Lock: return 0x91;
    case XK_semicolon: return 0xBA;
    case XK_equal: return 0xBB;
    case XK_comma: return 0xBC;
    case XK_minus: return 0xBD;
    case XK_period: return 0xBE;
    case XK_slash: return 0xBF;
    case XK_grave: return 0xC0;
    case XK_bracketleft: return 0xDB;
    case XK_backslash: return 0xDC;
    case XK_bracketright: return 0xDD;
    case XK_apostrophe: return 0xDE;
    case XK_less: return 0xE2;
    default: return 0xFF;
    }
}

bool extended_key(unsigned long ks)
{
    switch (ks) {
    case XK_Prior: case XK_Next: case XK_End: case XK_Home: case XK_Left: case XK_Up: case XK_Right:
    case XK_Down: case XK_Insert: case XK_Delete: case XK_KP_Enter: case XK_KP_Divide: case XK_Control_R:
    case XK_Alt_R: case XK_ISO_Level3_Shift: case XK_Super_L: case XK_Super_R: case XK_Menu: case XK_Num_Lock:
    case XK_Print:
        return true;
    default:
        return false;
    }
}

} // namespace platform
