// Read-back of the running dialogs, for tests that drive them from the outside.
#pragma once

#include "dialog_template.h"

struct DialogInfo {
    std::string title;
    int x = 0, y = 0;                  // screen position of the client area, pixels
    int width = 0, height = 0;         // client size, pixels
    int base_x = 0, base_y = 0;        // dialog base units in use
    double font_points = 0;            // size of the dialog's text font
    unsigned long xid = 0;             // X window of the dialog
    bool resizable = true;
};

struct DialogControlInfo {
    DialogControlKind kind = DialogControlKind::Unsupported;
    std::string text;                  // label text or edit contents, UTF-8, mnemonics as in the template
    int checked = 0;                   // check boxes: 1 when checked
    int pos = 0, range_min = 0, range_max = 0; // sliders
    int x = 0, y = 0, width = 0, height = 0;   // screen rectangle GTK gave the control, pixels
    bool focused = false;
    bool tab_stop = false;
    bool fits = true;                  // the text fits its box at the dialog's font size
};

// The innermost dialog now running modally, or NULL.
HWND dialog_innermost(void);
bool dialog_info(HWND hDlg, DialogInfo *out);
bool dialog_control_info(HWND hDlg, int id, DialogControlInfo *out);
