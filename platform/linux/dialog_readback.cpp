// What tests see of a running dialog: its size, font and place, and each control's state.
#include "dialog_readback.h"
#include "backend.h"
#include "dialogs.h"

HWND dialog_innermost(void)
{
    auto &live = live_dialogs();
    return live.empty() ? nullptr : (HWND)live.back();
}

bool dialog_info(HWND hDlg, DialogInfo *out)
{
    Dialog *d = find_dialog(hDlg);
    if (!d) return false;
    *out = DialogInfo();
    out->title = d->tpl.title;
    out->width = d->width;
    out->height = d->height;
    out->base_x = d->base_x;
    out->base_y = d->base_y;
    out->font_points = d->points;
    out->resizable = gtk_window_get_resizable(GTK_WINDOW(d->window));
    GdkWindow *gw = gtk_widget_get_window(d->window);
    if (gw) {
        gdk_window_get_origin(gw, &out->x, &out->y);
        out->xid = platform::backend().dialog_window_id(gw);
    }
    return true;
}

bool dialog_control_info(HWND hDlg, int id, DialogControlInfo *out)
{
    Dialog *d = find_dialog(hDlg);
    Control *c = d ? control_by_id(d, id) : nullptr;
    if (!c) return false;
    *out = DialogControlInfo();
    out->kind = c->kind;
    out->text = c->text;
    out->tab_stop = c->tab_stop;
    out->fits = c->fits;
    if (c->kind == DialogControlKind::Edit) out->text = edit_text(c);
    if (c->kind == DialogControlKind::CheckBox || c->kind == DialogControlKind::AutoCheckBox)
        out->checked = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c->widget)) ? 1 : 0;
    if (c->kind == DialogControlKind::Slider) {
        out->pos = slider_pos(c);
        slider_range(c, &out->range_min, &out->range_max);
    }
    // Where GTK actually put the control, which is where the template says only if no widget
    // insisted on more room than its box.
    int ox = 0, oy = 0;
    GdkWindow *gw = gtk_widget_get_window(d->window);
    if (gw) gdk_window_get_origin(gw, &ox, &oy);
    GtkAllocation a = {c->x, c->y, c->w, c->h};
    if (gtk_widget_get_realized(c->widget)) gtk_widget_get_allocation(c->widget, &a);
    out->x = ox + a.x;
    out->y = oy + a.y;
    out->width = a.width;
    out->height = a.height;
    out->focused = c->focus && gtk_widget_is_focus(c->focus);
    return true;
}
