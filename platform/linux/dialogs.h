// The running dialogs' records, shared by the dialog calls and their read-back. Dialog and
// control handles are pointers to these records; they never meet the windows' handles.
#pragma once

#include "dialog_template.h"

#include <gtk/gtk.h>

struct Dialog;

struct Control {
    Dialog *dlg = nullptr;
    int id = 0;
    DialogControlKind kind = DialogControlKind::Unsupported;
    DWORD style = 0;
    bool tab_stop = false;
    GtkWidget *widget = nullptr; // placed in the dialog
    GtkWidget *focus = nullptr;  // takes the keyboard focus
    GtkWidget *label = nullptr;  // the text of buttons, check boxes and static text
    std::string text;            // as the program gave it, '&' marks included
    int x = 0, y = 0, w = 0, h = 0; // client pixels
    int overhead = 0;            // pixels a control needs besides its text
    bool fits = true;
    bool quiet = false;          // a state change made by the program, not the user
};

struct Dialog {
    DialogTemplate tpl;
    DLGPROC proc = nullptr;
    Dialog *owner = nullptr;
    GtkWidget *window = nullptr;
    GtkWidget *fixed = nullptr;
    GtkCssProvider *css = nullptr;
    std::string css_class;
    std::string family;
    double nominal_points = 0; // the size the layout is measured in
    double points = 0;         // the size texts are drawn in
    bool built = false;
    int base_x = 0, base_y = 0;
    int width = 0, height = 0;
    bool ended = false;
    INT_PTR result = 0;
    std::vector<Control *> controls;
};

// Live dialogs, innermost last.
std::vector<Dialog *> &live_dialogs();
Dialog *find_dialog(HWND h);
Control *control_by_id(Dialog *d, int id);
std::string edit_text(const Control *c);
int slider_pos(Control *c);
void slider_range(Control *c, int *lo, int *hi);
