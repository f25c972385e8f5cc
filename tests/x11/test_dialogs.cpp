// The configuration and About dialogs as a user meets them: each test runs the configuration mode
// (ss_config) or a message box in a child process on a private Xvfb, clicks and types at it with
// XTest, reads the controls back through a pipe, and checks what reached the settings store.
#include <gtest/gtest.h>

#include "dialog_readback.h"
#include "res.h"
#include "resources.h"
#include "ripple.h"
#include "ssaver.h"
#include "xvfb.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <glib-unix.h>
#include <glib.h>
#include <gtk/gtk.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Both sides of the pipe go through the numbers of a dialog or control in this order; its text
// follows after a tab.
template <class F> void numbers(DialogInfo &i, F f)
{
    for (auto *v : {&i.x, &i.y, &i.width, &i.height, &i.base_x, &i.base_y}) f(*v);
    f(i.xid), f(i.font_points), f(i.resizable);
}

template <class F> void numbers(DialogControlInfo &c, F f)
{
    for (auto *v : {&c.checked, &c.pos, &c.range_min, &c.range_max, &c.x, &c.y, &c.width, &c.height}) f(*v);
    f(c.focused), f(c.tab_stop), f(c.fits);
}

std::string &text_of(DialogInfo &i) { return i.title; }
std::string &text_of(DialogControlInfo &c) { return c.text; }

template <class Info> std::string encode(Info info)
{
    std::ostringstream o;
    numbers(info, [&](const auto &v) { o << ' ' << v; });
    o << '\t' << text_of(info);
    return o.str();
}

template <class Info> bool decode(const std::string &s, Info *info)
{
    std::istringstream in(s);
    numbers(*info, [&](auto &v) { in >> v; });
    if (!in || in.get() != '\t') return false;
    std::getline(in, text_of(*info)); // an empty text is no failure
    return true;
}

// ---- Child side: answers "dlg", "ctl <id>" and "msg" from inside the dialogs' modal loop.

int g_reply_fd = -1;

// The text of the message box on screen, line breaks written as "\n", or "none".
std::string message_box_text()
{
    std::string out = "none";
    GList *windows = gtk_window_list_toplevels();
    for (GList *w = windows; w; w = w->next) {
        if (!GTK_IS_MESSAGE_DIALOG(w->data) || !gtk_widget_get_visible(GTK_WIDGET(w->data))) continue;
        gchar *text = nullptr;
        g_object_get(w->data, "text", &text, nullptr);
        out.clear();
        for (const char *c = text ? text : ""; *c; c++) out += *c == '\n' ? std::string("\\n") : std::string(1, *c);
        g_free(text);
    }
    g_list_free(windows);
    return out;
}

gboolean on_request(gint fd, GIOCondition, gpointer)
{
    static std::string pending;
    char buf[256];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) _exit(99); // the test went away
    pending.append(buf, n);
    for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
        std::istringstream req(pending.substr(0, nl));
        pending.erase(0, nl + 1);
        std::string what, out = "none";
        int id = 0;
        req >> what >> id;
        HWND dlg = dialog_innermost();
        DialogInfo i;
        DialogControlInfo c;
        if (what == "dlg" && dlg && dialog_info(dlg, &i)) out = encode(i);
        if (what == "ctl" && dlg && dialog_control_info(dlg, id, &c)) out = encode(c);
        if (what == "msg") out = message_box_text();
        out += "\n";
        if (write(g_reply_fd, out.data(), out.size()) != (ssize_t)out.size()) _exit(98);
    }
    return G_SOURCE_CONTINUE;
}

// ---- Parent side.

bool wait_until(const std::function<bool()> &cond, int timeout_ms = 10000)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return cond();
}

class DialogFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        signal(SIGPIPE, SIG_IGN); // a child that ended early must fail the test, not kill it
        old_handler_ = XSetErrorHandler([](Display *, XErrorEvent *) { return 0; }); // nor a dialog gone early
        ASSERT_TRUE(xvfb_.start(1024, 768, 24));
        dpy_ = XOpenDisplay(xvfb_.display().c_str());
        ASSERT_NE(dpy_, nullptr);
        char tmpl[] = "/tmp/tidefold-dialogs-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    }

    void TearDown() override
    {
        end_child();
        if (dpy_) XCloseDisplay(dpy_);
        XSetErrorHandler(old_handler_);
        unsetenv("XDG_CONFIG_HOME");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    void end_child()
    {
        if (pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
        pid_ = -1;
        for (int *fd : {&to_child_, &from_child_})
            if (*fd >= 0) close(*fd), *fd = -1;
    }

    // Runs body in a child process that answers requests while its dialogs run.
    void start_child(const std::function<int()> &body)
    {
        int req[2], rep[2];
        ASSERT_EQ(pipe(req), 0);
        ASSERT_EQ(pipe(rep), 0);
        fflush(nullptr);
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            close(req[1]);
            close(rep[0]);
            g_reply_fd = rep[1];
            g_unix_fd_add(req[0], G_IO_IN, on_request, nullptr);
            _exit(body());
        }
        close(req[0]);
        close(rep[1]);
        to_child_ = req[1];
        from_child_ = rep[0];
    }

    // Starts the configuration mode and waits for its dialog.
    DialogInfo start_config()
    {
        start_child([] { return ss_config(); });
        return wait_dialog("Configure...");
    }

    std::string ask(const std::string &request)
    {
        std::string line = request + "\n", answer;
        if (write(to_child_, line.data(), line.size()) != (ssize_t)line.size()) return "";
        pollfd p = {from_child_, POLLIN, 0};
        for (char c; poll(&p, 1, 10000) > 0 && read(from_child_, &c, 1) == 1;) {
            if (c == '\n') return answer;
            answer += c;
        }
        return "";
    }

    bool dlg(DialogInfo *d) { return decode(ask("dlg"), d); }

    DialogControlInfo ctl(int id)
    {
        DialogControlInfo c;
        if (!decode(ask("ctl " + std::to_string(id)), &c)) ADD_FAILURE() << "no control " << id;
        return c;
    }

    Window input_focus()
    {
        Window w;
        int revert;
        XGetInputFocus(dpy_, &w, &revert);
        return w;
    }

    // Waits until the innermost dialog has the given title, is on screen and has the keyboard.
    DialogInfo wait_dialog(const std::string &title)
    {
        DialogInfo d;
        EXPECT_TRUE(wait_until([&] { return dlg(&d) && d.title == title && d.xid && input_focus() == d.xid; }))
            << "dialog " << title << " did not come up with the keyboard focus";
        return d;
    }

    void click(int x, int y)
    {
        XTestFakeMotionEvent(dpy_, 0, x, y, 0);
        XTestFakeButtonEvent(dpy_, 1, True, 0);
        XTestFakeButtonEvent(dpy_, 1, False, 0);
        XSync(dpy_, False);
    }

    void click_control(int id)
    {
        DialogControlInfo c = ctl(id);
        click(c.x + c.width / 2, c.y + c.height / 2);
    }

    void key(const char *name, bool shift = false)
    {
        KeyCode shift_code = XKeysymToKeycode(dpy_, XK_Shift_L), code = XKeysymToKeycode(dpy_, XStringToKeysym(name));
        if (shift) XTestFakeKeyEvent(dpy_, shift_code, True, 0);
        XTestFakeKeyEvent(dpy_, code, True, 0);
        XTestFakeKeyEvent(dpy_, code, False, 0);
        if (shift) XTestFakeKeyEvent(dpy_, shift_code, False, 0);
        XSync(dpy_, False);
    }

    // What the close box does without a window manager to draw one.
    void close_box(unsigned long xid) { send_delete_window(dpy_, xid); }

    // Whether the window with the keyboard is titled title.
    bool focus_is_on(const std::string &title)
    {
        Window w = input_focus();
        char *name = nullptr;
        bool named = w > PointerRoot && XFetchName(dpy_, w, &name) && name && title == name;
        if (name) XFree(name);
        return named;
    }

    std::string texture_text() { return ctl(IDC_TEXTURE_SIZE).text; }

    // Clicks a button and waits for the texture-size line to read the given size.
    void press_and_expect(int button, int size)
    {
        std::string want = "Max texture size " + std::to_string(size) + "x" + std::to_string(size);
        click_control(button);
        EXPECT_TRUE(wait_until([&] { return texture_text() == want; }, 5000))
            << "after " << (button == IDC_TEXTURE_BIGGER ? "+" : "-") << " wanted " << want << ", shows "
            << texture_text();
    }

    // The child's exit status, or -1 if it did not end in time.
    int wait_exit()
    {
        int status = 0;
        if (!wait_until([&] { return waitpid(pid_, &status, WNOHANG) == pid_; })) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    bool alive() { return waitpid(pid_, nullptr, WNOHANG) == 0; }

    void store(const char *name, DWORD value)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, TIDEFOLD_REGISTRY_KEY, 0, (LPSTR) "", 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, 4);
        RegCloseKey(key);
    }

    // The stored flags, size, speed and frequency; -1 for each one missing.
    std::vector<long long> stored()
    {
        std::vector<long long> values;
        HKEY key = nullptr;
        RegOpenKeyExA(HKEY_CURRENT_USER, TIDEFOLD_REGISTRY_KEY, 0, KEY_READ, &key);
        for (const char *name : {"flags", "max_texture_size", "ripple_speed", "ripple_freq"}) {
            DWORD value = 0, size = 4, type = 0;
            bool ok = key && RegQueryValueExA(key, name, nullptr, &type, (BYTE *)&value, &size) == ERROR_SUCCESS;
            values.push_back(ok && type == REG_DWORD ? (long long)value : -1);
        }
        if (key) RegCloseKey(key);
        return values;
    }

    PrivateXvfb xvfb_;
    Display *dpy_ = nullptr;
    XErrorHandler old_handler_ = nullptr;
    std::string dir_;
    pid_t pid_ = -1;
    int to_child_ = -1, from_child_ = -1;
};

const std::vector<int> kConfigTabOrder = {IDOK,          IDCANCEL,         IDC_ABOUT,           IDC_RIPPLE_DESKTOP,
                                          IDC_LIGHTEN_DARKEN, IDC_DOUBLE_BUFFER, IDC_HIGH_QUALITY, IDC_TEXTURE_SMALLER,
                                          IDC_TEXTURE_BIGGER};

} // namespace

using ConfigDialog = DialogFixture;
using AboutDialog = DialogFixture;
using MessageBoxTest = DialogFixture;

// With the desktop's own font and with a tiny one: check marks and button padding keep their size
// while the layout follows the font, so only a smaller text can fit the boxes.
TEST_F(ConfigDialog, FirstRunShowsTheDefaultsAtTheTemplatePlacesWithTextsThatFitWhateverTheFont)
{
    const BYTE *data;
    DWORD size;
    DialogTemplate t;
    ASSERT_TRUE(find_resource(MAKEINTRESOURCEA(RT_DIALOG_ID), "ConfigDlg", &data, &size));
    ASSERT_TRUE(parse_dialog_template(data, size, &t));
    for (bool small_font : {false, true}) {
        SCOPED_TRACE(small_font ? "Sans 6" : "default font");
        if (small_font) {
            end_child();
            std::filesystem::create_directories(dir_ + "/config/gtk-3.0");
            std::ofstream(dir_ + "/config/gtk-3.0/settings.ini") << "[Settings]\ngtk-font-name=Sans 6\n";
        }
        DialogInfo d = start_config();
        ASSERT_GT(d.base_x, 0);
        ASSERT_GT(d.base_y, 0);
        if (small_font) {
            EXPECT_LT(d.font_points, 6 * 0.8);
        } else {
            EXPECT_EQ(d.x, 0);
            EXPECT_EQ(d.y, 0);
            EXPECT_FALSE(d.resizable);
            EXPECT_TRUE(ctl(IDOK).focused);
            for (auto [id, checked] : {std::pair{IDC_RIPPLE_DESKTOP, 1}, {IDC_LIGHTEN_DARKEN, 0},
                                       {IDC_DOUBLE_BUFFER, 1}, {IDC_HIGH_QUALITY, 1}})
                EXPECT_EQ(ctl(id).checked, checked) << id;
            for (auto [id, pos, max] : {std::tuple{IDC_RIPPLE_SPEED, 20, 30}, {IDC_RIPPLE_FREQ, 10, 500}}) {
                DialogControlInfo c = ctl(id);
                EXPECT_EQ(std::vector<int>({c.pos, c.range_min, c.range_max}), std::vector<int>({pos, 1, max}));
            }
            EXPECT_EQ(texture_text(), "Max texture size 1024x1024");
        }
        EXPECT_EQ(d.width, dlu_to_px_x(240, d.base_x)) << "the layout keeps the nominal font's units";
        EXPECT_EQ(d.height, dlu_to_px_y(181, d.base_y));
        for (const DialogItemTemplate &item : t.items) {
            if (item.id == -1) continue; // the two captions share an id: the first is checked below
            DialogControlInfo c = ctl(item.id);
            SCOPED_TRACE("control " + std::to_string(item.id));
            EXPECT_EQ(c.x - d.x, dlu_to_px_x(item.x, d.base_x));
            EXPECT_EQ(c.y - d.y, dlu_to_px_y(item.y, d.base_y));
            EXPECT_EQ(c.width, dlu_to_px_x(item.cx, d.base_x));
            if (!small_font) { // with a tiny font a check box keeps its check mark's height
                EXPECT_EQ(c.height, dlu_to_px_y(item.cy, d.base_y));
            }
            EXPECT_TRUE(c.fits);
            EXPECT_EQ(c.tab_stop, (item.style & WS_TABSTOP) != 0);
        }
        DialogControlInfo caption = ctl(-1);
        EXPECT_EQ(caption.text, "Ripple speed");
        EXPECT_TRUE(caption.fits);
    }
}

// Plus doubles up to 2048 or twice the stored size, minus halves down to 64 or half the stored
// size; whatever was changed, Cancel, Escape and the close box store nothing.
TEST_F(ConfigDialog, PlusAndMinusStepTheSizeAndLeavingWithoutOkStoresNothing)
{
    struct Round {
        long long stored_size; // -1: none stored
        std::vector<std::pair<int, int>> presses;
        const char *leave;
    };
    const int minus = IDC_TEXTURE_SMALLER, plus = IDC_TEXTURE_BIGGER;
    const Round rounds[] = {
        {-1,
         {{minus, 512}, {minus, 256}, {minus, 128}, {minus, 64}, {minus, 64}, {plus, 128}, {plus, 256}, {plus, 512},
          {plus, 1024}, {plus, 2048}, {plus, 2048}},
         "Cancel"},
        {1500,
         {{plus, 3000}, {plus, 3000}, {minus, 1500}, {minus, 750}, {minus, 375}, {minus, 187}, {minus, 93},
          {minus, 46}, {minus, 46}},
         "Escape"},
        {-1, {{plus, 2048}}, "close box"},
    };
    for (const Round &round : rounds) {
        SCOPED_TRACE(round.leave);
        std::filesystem::remove_all(dir_ + "/config");
        store("ripple_speed", 5);
        if (round.stored_size > 0) store("max_texture_size", (DWORD)round.stored_size);
        DialogInfo d = start_config();
        const std::string initial = std::to_string(round.stored_size > 0 ? round.stored_size : 1024);
        EXPECT_EQ(texture_text(), "Max texture size " + initial + "x" + initial);
        for (auto [button, size] : round.presses) press_and_expect(button, size);
        click_control(IDC_HIGH_QUALITY);
        EXPECT_TRUE(wait_until([&] { return ctl(IDC_HIGH_QUALITY).checked == 0; }));
        const std::string leave = round.leave;
        if (leave == "Cancel") click_control(IDCANCEL);
        if (leave == "Escape") key("Escape");
        if (leave == "close box") close_box(d.xid);
        EXPECT_EQ(wait_exit(), 0);
        EXPECT_EQ(stored(), (std::vector<long long>{-1, round.stored_size, 5, -1}));
        end_child();
    }
}

TEST_F(ConfigDialog, OkStoresTheFourValuesAndExitsZero)
{
    start_config();
    for (int id : {IDC_RIPPLE_DESKTOP, IDC_LIGHTEN_DARKEN, IDC_DOUBLE_BUFFER, IDC_HIGH_QUALITY}) click_control(id);
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_HIGH_QUALITY).checked == 0; }));
    EXPECT_EQ(ctl(IDC_LIGHTEN_DARKEN).checked, 1);

    // A click on a slider gives it the keyboard, though Tab never stops there.
    DialogControlInfo speed = ctl(IDC_RIPPLE_SPEED), freq = ctl(IDC_RIPPLE_FREQ);
    click(speed.x + speed.width - 4, speed.y + speed.height / 3);
    key("End");
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_RIPPLE_SPEED).pos == 30; }));
    click(freq.x + 4, freq.y + freq.height / 3);
    for (const char *k : {"Home", "Right", "Right", "Right"}) key(k);
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_RIPPLE_FREQ).pos == 4; }));
    press_and_expect(IDC_TEXTURE_BIGGER, 2048);

    click_control(IDOK);
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_EQ(stored(), (std::vector<long long>{OPTION_LIGHTEN_DARKEN, 2048, 30, 4}));
}

// OK when the settings cannot be kept (here a folder stands in the file's place): a box says so,
// naming the file and the system's reason, and once it is closed the run ends as OK always ends.
TEST_F(ConfigDialog, OkThatCannotSaveSaysWhereAndWhyThenExitsZeroLeavingThePathAlone)
{
    const std::string path = dir_ + "/config/tidefold/registry.ini";
    std::filesystem::create_directories(path);
    start_config();
    press_and_expect(IDC_TEXTURE_BIGGER, 2048);
    click_control(IDOK);
    EXPECT_TRUE(wait_until([&] { return focus_is_on("Error"); })) << "a box titled Error with the keyboard";
    EXPECT_EQ(ask("msg"), "The settings could not be saved to " + path + ":\\nIs a directory");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(alive()) << "the box waits for the user";
    key("Return");
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_TRUE(std::filesystem::is_empty(path));
}

TEST_F(ConfigDialog, OutOfRangeStoredValuesComeBackClampedAndUnknownBitsCleared)
{
    store("flags", 0x1F);
    store("ripple_speed", 45);
    store("ripple_freq", 0);
    start_config();
    EXPECT_EQ(ctl(IDC_RIPPLE_SPEED).pos, 30);
    EXPECT_EQ(ctl(IDC_RIPPLE_FREQ).pos, 1);
    for (int id : {IDC_RIPPLE_DESKTOP, IDC_LIGHTEN_DARKEN, IDC_DOUBLE_BUFFER, IDC_HIGH_QUALITY})
        EXPECT_EQ(ctl(id).checked, 1) << id;
    click_control(IDOK);
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_EQ(stored(), (std::vector<long long>{0x17, 1024, 30, 1}));
}

TEST_F(ConfigDialog, TabWalksTheTabStopsInTemplateOrderAndEnterPressesAFocusedButtonElseMeansOk)
{
    start_config();
    const size_t n = kConfigTabOrder.size();
    for (size_t step = 1; step <= n; step++) {
        int want = kConfigTabOrder[step % n];
        key("Tab");
        EXPECT_TRUE(wait_until([&] { return ctl(want).focused; }, 5000)) << "Tab " << step << " should reach " << want;
    }
    for (int want : {IDC_TEXTURE_BIGGER, IDC_TEXTURE_SMALLER}) { // Shift+Tab back from OK
        key("Tab", true);
        EXPECT_TRUE(wait_until([&] { return ctl(want).focused; }, 5000)) << "Shift+Tab should reach " << want;
    }
    EXPECT_FALSE(ctl(IDC_RIPPLE_SPEED).focused);

    key("Return"); // presses the focused "-"
    EXPECT_TRUE(wait_until([&] { return texture_text() == "Max texture size 512x512"; }));
    EXPECT_TRUE(alive());
    for (int i = 0; i < 5; i++) key("Tab"); // "+", OK, Cancel, About, "Ripple desktop"
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_RIPPLE_DESKTOP).focused; }));
    key("space");
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_RIPPLE_DESKTOP).checked == 0; }));
    key("Return");
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_EQ(stored(), (std::vector<long long>{OPTION_HIGH_QUALITY | OPTION_DOUBLE_BUFFER, 512, 20, 10}));
}

TEST_F(AboutDialog, ClosesOnlyOnOkOrEnterAndReturnsToTheConfigurationDialog)
{
    DialogInfo config = start_config();
    click_control(IDC_ABOUT);
    DialogInfo about = wait_dialog("About...");
    EXPECT_EQ(about.x, config.x) << "opens at the owner's client area";
    EXPECT_EQ(about.y, config.y);
    EXPECT_EQ(about.width, dlu_to_px_x(177, about.base_x));
    EXPECT_EQ(about.height, dlu_to_px_y(95, about.base_y));
    EXPECT_FALSE(ctl(IDOK).focused) << "the About procedure asks for no initial focus";
    DialogControlInfo text = ctl(IDC_ABOUT_TEXT);
    EXPECT_FALSE(text.focused);
    EXPECT_NE(text.text.find(' '), std::string::npos);
    EXPECT_TRUE(text.fits);
    EXPECT_TRUE(ctl(-1).fits);

    // Escape and the close box are ignored. Each is followed by a Tab, whose visible effect
    // shows the events before it were handled.
    key("Escape");
    key("Tab");
    EXPECT_TRUE(wait_until([&] { return ctl(IDOK).focused; }));
    close_box(about.xid);
    key("Tab");
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_ABOUT_TEXT).focused; }));
    DialogInfo still;
    ASSERT_TRUE(dlg(&still));
    EXPECT_EQ(still.title, "About...");

    key("Return"); // even with the focus in the text
    wait_dialog("Configure...");
    click_control(IDC_ABOUT);
    wait_dialog("About...");
    click_control(IDOK);
    wait_dialog("Configure...");
    EXPECT_EQ(texture_text(), "Max texture size 1024x1024");
    click_control(IDCANCEL);
    EXPECT_EQ(wait_exit(), 0);
}

TEST_F(MessageBoxTest, RunsInsideAnotherDialogAndLeavesItWorking)
{
    start_child([] {
        // A message box from a dialog procedure, as a failure inside a command handler would show.
        static DLGPROC proc = [](HWND h, UINT msg, WPARAM w, LPARAM) -> INT_PTR {
            if (msg == WM_COMMAND && LOWORD(w) == IDC_ABOUT)
                SetDlgItemTextA(h, IDOK, MessageBoxA(h, "Inside", "Note", MB_OK) == IDOK ? "Done" : "Bad");
            if (msg == WM_COMMAND && LOWORD(w) == IDCANCEL) EndDialog(h, 7);
            return msg == WM_INITDIALOG;
        };
        return (int)DialogBoxParamA(nullptr, "ConfigDlg", nullptr, proc, 0);
    });
    wait_dialog("Configure...");
    click_control(IDC_ABOUT);
    EXPECT_TRUE(wait_until([&] { return focus_is_on("Note"); })) << "the message box takes the keyboard";
    key("Return");
    EXPECT_TRUE(wait_until([&] { return ctl(IDOK).text == "Done"; }));
    wait_dialog("Configure...");
    key("Escape");
    EXPECT_EQ(wait_exit(), 7) << "DialogBoxParamA returns what EndDialog was given";
}

TEST_F(MessageBoxTest, WaitsForEnterAndReturnsOkEvenWhileAWindowIsBeingCreated)
{
    // As a failed pixel format shows it: from the creation message, inside CreateWindowExA, with
    // the window layer's own display connection open beside GTK's.
    start_child([] {
        static int answer = -1;
        WNDCLASSA wc = {};
        wc.lpfnWndProc = [](HWND h, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
            if (msg == WM_CREATE) answer = MessageBoxA(nullptr, "During creation", "Error", MB_OK);
            return DefWindowProcA(h, msg, w, l);
        };
        wc.lpszClassName = "dialogtest";
        if (!RegisterClassA(&wc)) return 10;
        HWND w = CreateWindowExA(0, "dialogtest", "dialogtest", WS_POPUP | WS_VISIBLE, 0, 0, 64, 64, nullptr,
                                 nullptr, nullptr, nullptr);
        if (!w) return 11;
        if (answer != IDOK) return 12;
        // The window layer still works after GTK has come and gone.
        RECT r;
        return GetClientRect(w, &r) && r.right == 64 ? 0 : 13;
    });
    EXPECT_TRUE(wait_until([&] { return focus_is_on("Error"); })) << "a box titled Error with the keyboard";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(alive()) << "the box waits for the user";
    key("Return");
    EXPECT_EQ(wait_exit(), 0);
}

TEST_F(ConfigDialog, OkWithEveryBoxClearedStoresFlagsZero)
{
    start_config(); // the defaults: desktop, high quality and double buffer checked
    for (int id : {IDC_RIPPLE_DESKTOP, IDC_HIGH_QUALITY, IDC_DOUBLE_BUFFER}) click_control(id);
    EXPECT_TRUE(wait_until([&] {
        return ctl(IDC_RIPPLE_DESKTOP).checked == 0 && ctl(IDC_HIGH_QUALITY).checked == 0 &&
               ctl(IDC_DOUBLE_BUFFER).checked == 0 && ctl(IDC_LIGHTEN_DARKEN).checked == 0;
    }));
    click_control(IDOK);
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_EQ(stored(), (std::vector<long long>{0, 1024, 20, 10}));
}
