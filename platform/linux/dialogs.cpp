// Dialogs built with GTK 3 from the DLGTEMPLATEEX resources, and message boxes.
#include "dialogs.h"
#include "backend.h"
#include "resources.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
// GTK, its accessibility bridge and fontconfig keep caches for the life of the process, and a
// dialog procedure ends the process with exit() while they are held; the leak checker would
// report them and turn exit status 0 into a failure. Weak, so one elsewhere in the program wins.
extern "C" __attribute__((weak)) const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\nleak:libatk-bridge-2.0.so\nleak:libatspi.so\n"
           "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\nleak:libgtk-3.so\n"
           "leak:libgdk-3.so\nleak:libpango-1.0.so\nleak:libpangoft2-1.0.so\nleak:libcairo.so\n";
}

extern "C" __attribute__((weak)) const char *__lsan_default_options() { return "print_suppressions=0"; }
#endif

// Never freed, so an exit() from a dialog procedure finds it intact.
std::vector<Dialog *> &live_dialogs()
{
    static auto *dialogs = new std::vector<Dialog *>;
    return *dialogs;
}

Dialog *find_dialog(HWND h)
{
    for (Dialog *d : live_dialogs())
        if ((HWND)d == h) return d;
    return nullptr;
}

Control *control_by_id(Dialog *d, int id)
{
    for (Control *c : d->controls)
        if (c->id == id) return c;
    return nullptr;
}

int slider_pos(Control *c) { return (int)lround(gtk_range_get_value(GTK_RANGE(c->widget))); }

void slider_range(Control *c, int *lo, int *hi)
{
    GtkAdjustment *adj = gtk_range_get_adjustment(GTK_RANGE(c->widget));
    *lo = (int)lround(gtk_adjustment_get_lower(adj));
    *hi = (int)lround(gtk_adjustment_get_upper(adj));
}

std::string edit_text(const Control *c)
{
    GtkTextBuffer *buf = gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->focus));
    GtkTextIter a, b;
    gtk_text_buffer_get_bounds(buf, &a, &b);
    gchar *text = gtk_text_buffer_get_text(buf, &a, &b, FALSE);
    std::string out = text;
    g_free(text);
    return out;
}

namespace {

void quiet_gtk_message(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

// GTK on the same display server as the windows (each backend opens it its own way).
bool gtk_ready()
{
    static int state; // 0 not tried, 1 ready, 2 failed
    if (state == 0) {
        gtk_disable_setlocale(); // the program formats and parses in the C locale
        if (!platform::backend().open_gtk()) {
            state = 2;
            return false;
        }
        // An unowned message box is normal here; GTK would log a note about it every time.
        g_log_set_handler("Gtk", G_LOG_LEVEL_MESSAGE, quiet_gtk_message, nullptr);
        state = 1;
    }
    return state == 1;
}

// Text from the program (ANSI) as UTF-8: UTF-8 passes through, anything else is read as Latin-1.
std::string ansi_to_utf8(const char *s)
{
    if (!s) return std::string();
    if (g_utf8_validate(s, -1, nullptr)) return s;
    gchar *u = g_convert(s, -1, "UTF-8", "ISO-8859-1", nullptr, nullptr, nullptr);
    std::string out = u ? u : "";
    g_free(u);
    return out;
}

// The desktop's UI font: family and size in points.
void default_font(std::string *family, double *points)
{
    *family = "Sans";
    *points = 10;
    gchar *name = nullptr;
    g_object_get(gtk_settings_get_default(), "gtk-font-name", &name, nullptr);
    if (name) {
        PangoFontDescription *fd = pango_font_description_from_string(name);
        if (pango_font_description_get_family(fd)) *family = pango_font_description_get_family(fd);
        int size = pango_font_description_get_size(fd);
        if (size > 0 && !pango_font_description_get_size_is_absolute(fd)) *points = (double)size / PANGO_SCALE;
        pango_font_description_free(fd);
        g_free(name);
    }
    family->erase(std::remove_if(family->begin(), family->end(), [](char c) { return c == '"' || c == '\\'; }),
                  family->end());
}

Control *find_control(HWND h)
{
    for (Dialog *d : live_dialogs())
        for (Control *c : d->controls)
            if ((HWND)c == h) return c;
    return nullptr;
}

// The control a focused widget belongs to.
Control *control_of(Dialog *d, GtkWidget *w)
{
    for (; w; w = gtk_widget_get_parent(w))
        for (Control *c : d->controls)
            if (c->widget == w || c->focus == w) return c;
    return nullptr;
}

INT_PTR call_proc(Dialog *d, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return d->proc ? d->proc((HWND)d, msg, wParam, lParam) : FALSE;
}

void send_command(Dialog *d, int id)
{
    if (d->ended) return;
    Control *c = control_by_id(d, id);
    call_proc(d, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)(HWND)c);
}

bool is_tab_stop(const Control *c) { return c->tab_stop && gtk_widget_get_visible(c->widget); }

Control *first_tab_stop(Dialog *d)
{
    for (Control *c : d->controls)
        if (is_tab_stop(c)) return c;
    return nullptr;
}

// Moves the focus to the next (or previous) tab stop in template order, wrapping around.
void move_tab(Dialog *d, bool back)
{
    int n = (int)d->controls.size();
    if (n == 0) return;
    Control *cur = control_of(d, gtk_window_get_focus(GTK_WINDOW(d->window)));
    int at = -1;
    for (int i = 0; i < n; i++)
        if (d->controls[i] == cur) at = i;
    if (at < 0) at = back ? 0 : n - 1;
    for (int k = 1; k <= n; k++) {
        Control *c = d->controls[back ? (at - k + n) % n : (at + k) % n];
        if (is_tab_stop(c)) {
            gtk_window_set_focus_visible(GTK_WINDOW(d->window), TRUE);
            gtk_widget_grab_focus(c->focus);
            return;
        }
    }
}

gboolean on_key_press(GtkWidget *, GdkEventKey *ev, gpointer data)
{
    Dialog *d = static_cast<Dialog *>(data);
    if (d->ended) return TRUE;
    guint mods = ev->state & gtk_accelerator_get_default_mod_mask();
    switch (ev->keyval) {
    case GDK_KEY_Tab:
    case GDK_KEY_KP_Tab:
    case GDK_KEY_ISO_Left_Tab:
        if (mods & ~GDK_SHIFT_MASK) return FALSE;
        move_tab(d, ev->keyval == GDK_KEY_ISO_Left_Tab || (mods & GDK_SHIFT_MASK));
        return TRUE;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter: {
        // A focused push button takes Enter itself; anywhere else Enter means OK.
        Control *c = control_of(d, gtk_window_get_focus(GTK_WINDOW(d->window)));
        send_command(d, c && c->kind == DialogControlKind::PushButton ? c->id : IDOK);
        return TRUE;
    }
    case GDK_KEY_Escape: send_command(d, IDCANCEL); return TRUE;
    default: return FALSE;
    }
}

gboolean on_delete(GtkWidget *, GdkEvent *, gpointer data)
{
    send_command(static_cast<Dialog *>(data), IDCANCEL);
    return TRUE;
}

gboolean on_map_present(GtkWidget *w, GdkEvent *, gpointer)
{
    // A new dialog is the active window, as on Windows; without a window manager this gives it
    // the keyboard focus directly. A Wayland compositor focuses new windows itself (and asking
    // there again from here only remaps the window, over and over).
    if (platform::backend_kind() != platform::BackendKind::wayland)
        gtk_window_present_with_time(GTK_WINDOW(w), GDK_CURRENT_TIME);
    return FALSE;
}

void on_button_clicked(GtkButton *, gpointer data)
{
    Control *c = static_cast<Control *>(data);
    send_command(c->dlg, c->id);
}

void on_check_toggled(GtkToggleButton *b, gpointer data)
{
    Control *c = static_cast<Control *>(data);
    if (c->quiet) return;
    if (c->kind == DialogControlKind::CheckBox) {
        // A plain check box only reports the click; its procedure decides the state.
        c->quiet = true;
        gtk_toggle_button_set_active(b, !gtk_toggle_button_get_active(b));
        c->quiet = false;
    }
    send_command(c->dlg, c->id);
}

void set_control_text(Control *c, const std::string &text)
{
    c->text = text;
    bool prefix = !(c->kind == DialogControlKind::Text && (c->style & SS_NOPREFIX));
    std::string shown = prefix ? dialog_text_to_gtk(text) : text;
    switch (c->kind) {
    case DialogControlKind::PushButton:
    case DialogControlKind::CheckBox:
    case DialogControlKind::AutoCheckBox:
    case DialogControlKind::Text:
        if (prefix) gtk_label_set_text_with_mnemonic(GTK_LABEL(c->label), shown.c_str());
        else gtk_label_set_text(GTK_LABEL(c->label), shown.c_str());
        break;
    case DialogControlKind::Edit:
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->focus)), text.c_str(), -1);
        break;
    default: break;
    }
}

void slider_marks(Control *c)
{
    GtkScale *scale = GTK_SCALE(c->widget);
    gtk_scale_clear_marks(scale);
    if (c->style & TBS_NOTICKS) return;
    GtkAdjustment *adj = gtk_range_get_adjustment(GTK_RANGE(scale));
    bool vertical = c->style & TBS_VERT;
    GtkPositionType where = vertical ? GTK_POS_RIGHT : GTK_POS_BOTTOM;
    if (c->style & TBS_TOP) where = vertical ? GTK_POS_LEFT : GTK_POS_TOP;
    for (double v : {gtk_adjustment_get_lower(adj), gtk_adjustment_get_upper(adj)}) {
        gtk_scale_add_mark(scale, v, where, nullptr);
        if (c->style & TBS_BOTH) gtk_scale_add_mark(scale, v, vertical ? GTK_POS_LEFT : GTK_POS_TOP, nullptr);
    }
}

// Range and position together; the position always ends up inside the range.
void slider_set(Control *c, int lo, int hi, int pos)
{
    if (hi < lo) hi = lo;
    pos = std::min(std::max(pos, lo), hi);
    GtkAdjustment *adj = gtk_range_get_adjustment(GTK_RANGE(c->widget));
    double page = std::max(1, (hi - lo) / 5);
    gtk_adjustment_configure(adj, pos, lo, hi, 1, page, 0);
    slider_marks(c);
}

GtkWidget *make_label(const Control *c)
{
    GtkWidget *label = gtk_label_new(nullptr);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    gtk_label_set_single_line_mode(GTK_LABEL(label), TRUE);
    float xalign = 0;
    if (c->kind == DialogControlKind::Text) {
        DWORD align = c->style & SS_TYPEMASK;
        xalign = align == SS_CENTER ? 0.5f : align == SS_RIGHT ? 1.0f : 0.0f;
        gtk_label_set_yalign(GTK_LABEL(label), 0);
    } else if (c->kind == DialogControlKind::PushButton) {
        xalign = 0.5f;
    }
    gtk_label_set_xalign(GTK_LABEL(label), xalign);
    return label;
}

// Builds the GTK widget of one template item.
void build_control(Dialog *d, Control *c)
{
    switch (c->kind) {
    case DialogControlKind::PushButton:
        c->widget = c->focus = gtk_button_new();
        c->label = make_label(c);
        gtk_container_add(GTK_CONTAINER(c->widget), c->label);
        gtk_label_set_mnemonic_widget(GTK_LABEL(c->label), c->widget);
        g_signal_connect(c->widget, "clicked", G_CALLBACK(on_button_clicked), c);
        break;
    case DialogControlKind::CheckBox:
    case DialogControlKind::AutoCheckBox:
        c->widget = c->focus = gtk_check_button_new();
        c->label = make_label(c);
        gtk_container_add(GTK_CONTAINER(c->widget), c->label);
        gtk_label_set_mnemonic_widget(GTK_LABEL(c->label), c->widget);
        g_signal_connect(c->widget, "toggled", G_CALLBACK(on_check_toggled), c);
        break;
    case DialogControlKind::Text:
        c->widget = c->label = make_label(c);
        break;
    case DialogControlKind::Edit: {
        GtkWidget *view = gtk_text_view_new();
        bool read_only = c->style & ES_READONLY;
        gtk_text_view_set_editable(GTK_TEXT_VIEW(view), !read_only);
        gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), !read_only);
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view),
                                    (c->style & ES_MULTILINE) ? GTK_WRAP_WORD_CHAR : GTK_WRAP_NONE);
        gtk_style_context_add_class(gtk_widget_get_style_context(view), "tfdlg-edit");
        // The scrolled window only keeps the box at the template's size; it shows no scroll bar.
        GtkWidget *box = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(box), GTK_POLICY_EXTERNAL, GTK_POLICY_EXTERNAL);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(box), GTK_SHADOW_NONE);
        gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(box), FALSE);
        gtk_container_add(GTK_CONTAINER(box), view);
        c->widget = box;
        c->focus = view;
        break;
    }
    case DialogControlKind::Slider: {
        GtkAdjustment *adj = gtk_adjustment_new(0, 0, 100, 1, 20, 0);
        c->widget = c->focus =
            gtk_scale_new((c->style & TBS_VERT) ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, adj);
        gtk_scale_set_draw_value(GTK_SCALE(c->widget), FALSE);
        gtk_scale_set_digits(GTK_SCALE(c->widget), 0);
        gtk_scale_set_has_origin(GTK_SCALE(c->widget), FALSE);
        gtk_range_set_round_digits(GTK_RANGE(c->widget), 0);
        slider_marks(c);
        break;
    }
    default: break;
    }
    if (c->focus) gtk_widget_set_can_focus(c->focus, TRUE);
    gtk_widget_set_size_request(c->widget, c->w, c->h);
    gtk_fixed_put(GTK_FIXED(d->fixed), c->widget, c->x, c->y);
}

void set_dialog_css(Dialog *d, double points)
{
    d->points = points;
    const char *k = d->css_class.c_str();
    gchar *css = g_strdup_printf(".%s { font-family: \"%s\"; font-size: %.2fpt; }\n"
                                 ".%s button { padding: 0px 4px; min-height: 0px; min-width: 0px; }\n"
                                 ".%s checkbutton { padding-top: 0px; padding-bottom: 0px; min-height: 0px; }\n"
                                 ".%s scale { padding-top: 0px; padding-bottom: 0px; }\n"
                                 ".%s .tfdlg-edit, .%s .tfdlg-edit text { background-color: transparent; }\n",
                                 k, d->family.c_str(), points, k, k, k, k, k);
    gtk_css_provider_load_from_data(d->css, css, -1, nullptr);
    g_free(css);
}

// Pixel extent of text in the dialog's family at the given size; wrap_width > 0 wraps to it.
void text_extent(Dialog *d, const std::string &text, double points, int wrap_width, int *w, int *h)
{
    PangoLayout *layout = pango_layout_new(gtk_widget_get_pango_context(d->window));
    PangoFontDescription *fd = pango_font_description_new();
    pango_font_description_set_family(fd, d->family.c_str());
    pango_font_description_set_size(fd, (gint)lround(points * PANGO_SCALE));
    pango_layout_set_font_description(layout, fd);
    if (wrap_width > 0) {
        pango_layout_set_width(layout, wrap_width * PANGO_SCALE);
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    }
    pango_layout_set_text(layout, text.c_str(), -1);
    pango_layout_get_pixel_size(layout, w, h);
    pango_font_description_free(fd);
    g_object_unref(layout);
}

std::string plain_text(const Control *c)
{
    bool prefix = !(c->kind == DialogControlKind::Text && (c->style & SS_NOPREFIX));
    if (!prefix) return c->text;
    std::string out;
    for (size_t i = 0; i < c->text.size(); i++) {
        if (c->text[i] != '&') out += c->text[i];
        else if (++i < c->text.size()) out += c->text[i];
    }
    return out;
}

// Whether a control's text fits its box at the given font size.
bool text_fits(Dialog *d, Control *c, double points)
{
    int w, h;
    switch (c->kind) {
    case DialogControlKind::PushButton:
    case DialogControlKind::CheckBox:
    case DialogControlKind::AutoCheckBox:
    case DialogControlKind::Text:
        if (c->text.empty()) return true;
        text_extent(d, plain_text(c), points, 0, &w, &h);
        return c->overhead + w <= c->w;
    case DialogControlKind::Edit: {
        std::string text = edit_text(c);
        if (text.empty()) return true;
        int width = c->w - c->overhead;
        text_extent(d, text, points, (c->style & ES_MULTILINE) ? std::max(1, width) : 0, &w, &h);
        return (c->style & ES_MULTILINE) ? h <= c->h : w <= width;
    }
    default: return true;
    }
}

// What each control needs besides its text (padding, the check mark), measured once at the
// nominal size with the widgets free of their boxes.
void measure_overheads(Dialog *d)
{
    for (Control *c : d->controls) {
        if (c->kind == DialogControlKind::Edit) {
            c->overhead = gtk_text_view_get_left_margin(GTK_TEXT_VIEW(c->focus)) +
                          gtk_text_view_get_right_margin(GTK_TEXT_VIEW(c->focus));
        } else if (c->label) {
            int min_w, nat_w, tw = 0, th;
            gtk_widget_set_size_request(c->widget, -1, -1);
            gtk_widget_get_preferred_width(c->widget, &min_w, &nat_w);
            gtk_widget_set_size_request(c->widget, c->w, c->h);
            if (!c->text.empty()) text_extent(d, plain_text(c), d->nominal_points, 0, &tw, &th);
            c->overhead = std::max(0, nat_w - tw);
        }
    }
}

// The largest font size, at most the one in use, at which every text fits its box; the layout
// stays in the nominal size's units, so a smaller font never moves or shrinks a control.
void fit_font(Dialog *d)
{
    double points = d->points;
    for (; points > d->nominal_points * 0.6; points -= 0.25) {
        bool all = true;
        for (Control *c : d->controls) all = all && text_fits(d, c, points);
        if (all) break;
    }
    for (Control *c : d->controls) c->fits = text_fits(d, c, points);
    if (points != d->points) set_dialog_css(d, points);
}

// A text set by the program: when it does not fit, the whole dialog's font gets smaller.
void change_text(Control *c, const std::string &text)
{
    set_control_text(c, text);
    Dialog *d = c->dlg;
    if (!d->built) return;
    c->fits = text_fits(d, c, d->points);
    if (!c->fits) fit_font(d);
}

// Builds the dialog's window from its template; it is not shown yet.
void build_dialog(Dialog *d)
{
    static int serial;
    d->css_class = "tfdlg-" + std::to_string(++serial);
    d->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_style_context_add_class(gtk_widget_get_style_context(d->window), d->css_class.c_str());
    d->css = gtk_css_provider_new();
    gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(d->window), GTK_STYLE_PROVIDER(d->css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    // The templates are drawn for an 8-point face where GTK's stock UI font is 10 points: the
    // desktop font at 8/10 of its size keeps the layout in proportion and follows its settings.
    double points;
    default_font(&d->family, &points);
    d->nominal_points = points * 0.8;
    set_dialog_css(d, d->nominal_points);

    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    int aw, ah;
    text_extent(d, alphabet, d->nominal_points, 0, &aw, &ah);
    d->base_x = average_char_width(aw);
    d->base_y = std::max(1, ah);
    d->width = dlu_to_px_x(d->tpl.cx, d->base_x);
    d->height = dlu_to_px_y(d->tpl.cy, d->base_y);

    gtk_window_set_title(GTK_WINDOW(d->window), d->tpl.title.c_str());
    gtk_window_set_resizable(GTK_WINDOW(d->window), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(d->window), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_modal(GTK_WINDOW(d->window), TRUE);
    d->fixed = gtk_fixed_new();
    gtk_widget_set_size_request(d->fixed, d->width, d->height);
    gtk_container_add(GTK_CONTAINER(d->window), d->fixed);

    for (const DialogItemTemplate &item : d->tpl.items) {
        Control *c = new Control;
        c->dlg = d;
        c->id = item.id;
        c->kind = dialog_control_kind(item);
        c->style = item.style;
        c->tab_stop = item.style & WS_TABSTOP;
        c->x = dlu_to_px_x(item.x, d->base_x);
        c->y = dlu_to_px_y(item.y, d->base_y);
        c->w = dlu_to_px_x(item.cx, d->base_x);
        c->h = dlu_to_px_y(item.cy, d->base_y);
        d->controls.push_back(c);
        build_control(d, c);
        set_control_text(c, item.title_is_ordinal ? std::string() : item.title);
        if (!(item.style & WS_VISIBLE)) gtk_widget_set_no_show_all(c->widget, TRUE);
    }
    gtk_widget_show_all(d->fixed); // hidden widgets measure as nothing
    measure_overheads(d);
    fit_font(d);
    d->built = true;

    // Position (x, y) is relative to the owner's client area, or to the screen without one.
    int ox = 0, oy = 0;
    if (d->owner) {
        gtk_window_set_transient_for(GTK_WINDOW(d->window), GTK_WINDOW(d->owner->window));
        GdkWindow *gw = gtk_widget_get_window(d->owner->fixed);
        if (gw) gdk_window_get_origin(gw, &ox, &oy);
    }
    if (d->tpl.style & DS_CENTER) {
        gtk_window_set_position(GTK_WINDOW(d->window),
                                d->owner ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    } else {
        gtk_window_move(GTK_WINDOW(d->window), ox + dlu_to_px_x(d->tpl.x, d->base_x),
                        oy + dlu_to_px_y(d->tpl.y, d->base_y));
    }

    g_signal_connect(d->window, "key-press-event", G_CALLBACK(on_key_press), d);
    g_signal_connect(d->window, "delete-event", G_CALLBACK(on_delete), d);
    g_signal_connect(d->window, "map-event", G_CALLBACK(on_map_present), nullptr);
}

void destroy_dialog(Dialog *d)
{
    auto &live = live_dialogs();
    live.erase(std::remove(live.begin(), live.end(), d), live.end());
    gtk_style_context_remove_provider_for_screen(gtk_widget_get_screen(d->window), GTK_STYLE_PROVIDER(d->css));
    g_object_unref(d->css);
    gtk_widget_destroy(d->window);
    for (Control *c : d->controls) delete c;
    delete d;
}

// Runs the main context until nothing more is pending, so a closed window is gone from the screen.
void settle()
{
    gdk_display_flush(gdk_display_get_default());
    while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

std::string template_label(LPCSTR name)
{
    if (IS_INTRESOURCE(name)) return "#" + std::to_string((unsigned)(ULONG_PTR)name);
    return name ? name : "";
}

} // namespace

// Sliders are built in; there is no class to register.
void WINAPI InitCommonControls(void) {}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    const BYTE *data;
    DWORD size;
    DialogTemplate tpl;
    if (!find_resource(MAKEINTRESOURCEA(RT_DIALOG_ID), lpTemplateName, &data, &size) ||
        !parse_dialog_template(data, size, &tpl)) {
        fprintf(stderr, "tidefold: cannot open the dialog %s: no usable template\n",
                template_label(lpTemplateName).c_str());
        return -1;
    }
    for (const DialogItemTemplate &item : tpl.items) {
        if (dialog_control_kind(item) == DialogControlKind::Unsupported) {
            fprintf(stderr, "tidefold: cannot open the dialog \"%s\": control %d has an unsupported class\n",
                    tpl.title.c_str(), item.id);
            return -1;
        }
    }
    if (!gtk_ready()) {
        fprintf(stderr, "tidefold: cannot open the dialog \"%s\": no display\n", tpl.title.c_str());
        return -1;
    }

    Dialog *d = new Dialog;
    d->tpl = std::move(tpl);
    d->proc = lpDialogFunc;
    d->owner = find_dialog(hWndParent);
    build_dialog(d);
    live_dialogs().push_back(d);

    Control *first = first_tab_stop(d);
    if (call_proc(d, WM_INITDIALOG, (WPARAM)(HWND)first, dwInitParam) && first)
        gtk_window_set_focus(GTK_WINDOW(d->window), first->focus);
    if (!d->ended) {
        bool had_focus = gtk_window_get_focus(GTK_WINDOW(d->window)) != nullptr;
        gtk_widget_show(d->window);
        if (!had_focus) gtk_window_set_focus(GTK_WINDOW(d->window), nullptr);
        while (!d->ended) g_main_context_iteration(nullptr, TRUE);
    }

    INT_PTR result = d->result;
    Dialog *owner = d->owner;
    destroy_dialog(d);
    if (owner && !owner->ended) gtk_window_present_with_time(GTK_WINDOW(owner->window), GDK_CURRENT_TIME);
    settle();
    return result;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult)
{
    Dialog *d = find_dialog(hDlg);
    if (!d) return FALSE;
    d->ended = true;
    d->result = nResult;
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    Dialog *d = find_dialog(hDlg);
    if (!d) return nullptr;
    return (HWND)control_by_id(d, nIDDlgItem);
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (Dialog *d = find_dialog(hWnd)) return call_proc(d, Msg, wParam, lParam);
    Control *c = find_control(hWnd);
    if (!c) return 0;
    bool check = c->kind == DialogControlKind::CheckBox || c->kind == DialogControlKind::AutoCheckBox;
    bool slider = c->kind == DialogControlKind::Slider;
    switch (Msg) {
    case BM_SETCHECK:
        if (check) {
            c->quiet = true;
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c->widget), wParam != BST_UNCHECKED);
            c->quiet = false;
        }
        return 0;
    case BM_GETCHECK:
        return check && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c->widget)) ? BST_CHECKED : BST_UNCHECKED;
    case BM_CLICK:
        if (c->kind == DialogControlKind::PushButton || check) gtk_button_clicked(GTK_BUTTON(c->widget));
        return 0;
    case TBM_SETRANGE:
        if (slider) slider_set(c, (int16_t)LOWORD(lParam), (int16_t)HIWORD(lParam), slider_pos(c));
        return 0;
    case TBM_SETPOS:
        if (slider) {
            int lo, hi;
            slider_range(c, &lo, &hi);
            slider_set(c, lo, hi, (int)lParam);
        }
        return 0;
    case TBM_GETPOS: return slider ? slider_pos(c) : 0;
    case TBM_GETRANGEMIN:
    case TBM_GETRANGEMAX: {
        if (!slider) return 0;
        int lo, hi;
        slider_range(c, &lo, &hi);
        return Msg == TBM_GETRANGEMIN ? lo : hi;
    }
    case WM_SETTEXT: change_text(c, ansi_to_utf8((LPCSTR)lParam)); return TRUE;
    default: return 0;
    }
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString)
{
    Dialog *d = find_dialog(hDlg);
    Control *c = d ? control_by_id(d, nIDDlgItem) : nullptr;
    if (!c) return FALSE;
    change_text(c, ansi_to_utf8(lpString));
    return TRUE;
}

namespace {
void on_message_response(GtkDialog *, gint, gpointer data) { *static_cast<bool *>(data) = true; }
} // namespace

// The one kind of message box the program shows: text, caption and an OK button.
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT)
{
    std::string text = ansi_to_utf8(lpText);
    std::string caption = lpCaption ? ansi_to_utf8(lpCaption) : "Error";
    if (!gtk_ready()) {
        fprintf(stderr, "tidefold: %s: %s\n", caption.c_str(), text.c_str());
        return 0;
    }
    Dialog *owner = find_dialog(hWnd);
    GtkWidget *box = gtk_message_dialog_new(owner ? GTK_WINDOW(owner->window) : nullptr, GTK_DIALOG_MODAL,
                                            GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
    gtk_window_set_position(GTK_WINDOW(box), owner ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    bool done = false;
    g_signal_connect(box, "response", G_CALLBACK(on_message_response), &done);
    g_signal_connect(box, "map-event", G_CALLBACK(on_map_present), nullptr);
    gtk_widget_show_all(box);
    while (!done) g_main_context_iteration(nullptr, TRUE);
    gtk_widget_destroy(box);
    if (owner && !owner->ended) gtk_window_present_with_time(GTK_WINDOW(owner->window), GDK_CURRENT_TIME);
    settle();
    return IDOK;
}

