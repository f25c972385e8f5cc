// The dialog template reader, the control kinds the Linux layer builds, dialog-unit arithmetic and
// the mnemonic form of control texts; plain data, no toolkit, so tests read templates directly.
#pragma once

#include "win32.h"

#include <string>
#include <vector>

// One control of a DLGTEMPLATEEX. Strings are UTF-8.
struct DialogItemTemplate {
    DWORD help_id = 0;
    DWORD ex_style = 0;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0; // dialog units
    int id = 0;                       // a DWORD in the template: 0xFFFFFFFF reads as -1
    WORD class_atom = 0;              // 0x80 button, 0x81 edit, 0x82 static...; 0 when named
    std::string class_name;           // as written in the template, when not an atom
    bool title_is_ordinal = false;
    WORD title_ordinal = 0;
    std::string title;
    std::vector<BYTE> extra; // creation data handed to the control
};

// A whole DLGTEMPLATEEX: the dialog's own fields, its font and its controls in template order.
struct DialogTemplate {
    DWORD help_id = 0;
    DWORD ex_style = 0;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    bool menu_is_ordinal = false;
    WORD menu_ordinal = 0;
    std::string menu;
    bool class_is_ordinal = false;
    WORD class_ordinal = 0;
    std::string window_class;
    std::string title;
    bool has_font = false; // DS_SETFONT
    int point_size = 0;
    int weight = 0;
    bool italic = false;
    int charset = 0;
    std::string typeface;
    std::vector<DialogItemTemplate> items;
};

// Reads a DLGTEMPLATEEX. Every field is bounds-checked against size: a truncated or malformed
// template, or a plain DLGTEMPLATE, gives false and leaves *out unspecified.
bool parse_dialog_template(const BYTE *data, size_t size, DialogTemplate *out);

enum class DialogControlKind {
    Unsupported,
    PushButton,   // BS_PUSHBUTTON, BS_DEFPUSHBUTTON
    CheckBox,     // BS_CHECKBOX: tells the dialog, the procedure sets the state
    AutoCheckBox, // BS_AUTOCHECKBOX: toggles itself, then tells the dialog
    Text,         // static SS_LEFT, SS_CENTER, SS_RIGHT
    Edit,         // edit control
    Slider,       // "msctls_trackbar32"
};

// The kind of control an item builds, from its class (atom or name, any case) and style.
DialogControlKind dialog_control_kind(const DialogItemTemplate &item);

// Dialog units to pixels, rounded as MapDialogRect rounds: horizontal units are a quarter of the
// average character width, vertical ones an eighth of the character height.
int dlu_to_px_x(int dlu, int base_x);
int dlu_to_px_y(int dlu, int base_y);

// Windows' average character width: the extent of the 52 letters divided by 52, rounded.
int average_char_width(int extent_of_alphabet);

// A control text in GTK's mnemonic form: "&x" marks x as the mnemonic ("_x"), "&&" is a plain
// ampersand and underscores are doubled.
std::string dialog_text_to_gtk(const std::string &text);
