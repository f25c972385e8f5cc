// The configuration and About dialogs as a user meets them: each test runs the configuration mode
// (ss_config) or a message box in a child process on a private Xvfb, clicks and types at it with
// XTest, reads the controls back through a pipe, and checks what reached the settings store.
#include <gtest/gtest.h>

#include "dialogs.h"
#include "res.h"
#include "resources.h"
#include "ripple.h"
#include "ssaver.h"
#include "xvfb.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <glib-unix.h>
#include <glib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// ---- Child side: answers questions about the running dialogs from inside their modal loop.

int g_reply_fd = -1;

void reply(const std::string &line)
{
    std::string s = line + "\n";
    ssize_t off = 0;
    while (off < (ssize_t)s.size()) {
        ssize_t n = write(g_reply_fd, s.data() + off, s.size() - off);
        if (n <= 0) return;
        off += n;
    }
}

gboolean send_command_later(gpointer data)
{
    int id = (int)(intptr_t)data;
    HWND dlg = dialog_innermost();
    if (dlg) SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return G_SOURCE_REMOVE;
}

// One request per line: "dlg", "ctl <id>", "cmd <id>".
gboolean on_request(gint fd, GIOCondition, gpointer)
{
    static std::string pending;
    char buf[256];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) _exit(99); // the test went away
    pending.append(buf, n);
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
        std::istringstream req(pending.substr(0, nl));
        pending.erase(0, nl + 1);
        std::string what;
        int id = 0;
        req >> what >> id;
        HWND dlg = dialog_innermost();
        std::ostringstream out;
        if (what == "dlg") {
            DialogInfo i;
            if (!dlg || !dialog_info(dlg, &i)) {
                reply("none");
                continue;
            }
            out << i.title << '\t' << i.x << '\t' << i.y << '\t' << i.width << '\t' << i.height << '\t' << i.xid
                << '\t' << i.base_x << '\t' << i.base_y << '\t' << i.font_points << '\t' << i.resizable;
        } else if (what == "ctl") {
            DialogControlInfo c;
            if (!dlg || !dialog_control_info(dlg, id, &c)) {
                reply("none");
                continue;
            }
            out << (int)c.kind << '\t' << c.text << '\t' << c.checked << '\t' << c.pos << '\t' << c.range_min
                << '\t' << c.range_max << '\t' << c.x << '\t' << c.y << '\t' << c.width << '\t' << c.height << '\t'
                << c.focused << '\t' << c.tab_stop << '\t' << c.fits;
        } else if (what == "cmd") {
            // Sent from an idle callback, so a dialog it opens runs its loop outside this one.
            g_idle_add(send_command_later, (gpointer)(intptr_t)id);
            out << "queued";
        }
        reply(out.str());
    }
    return G_SOURCE_CONTINUE;
}

// ---- Parent side.

struct DlgState {
    std::string title;
    int x = 0, y = 0, width = 0, height = 0;
    unsigned long xid = 0;
    int base_x = 0, base_y = 0;
    double points = 0;
    bool resizable = true;
};

struct CtlState {
    int kind = 0;
    std::string text;
    int checked = 0, pos = 0, min = 0, max = 0;
    int x = 0, y = 0, width = 0, height = 0;
    bool focused = false, tab_stop = false, fits = false;
};

std::vector<std::string> split_tabs(const std::string &s)
{
    std::vector<std::string> f;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); i++) {
        if (i == s.size() || s[i] == '\t') {
            f.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return f;
}

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
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (to_child_ >= 0) close(to_child_);
        if (from_child_ >= 0) close(from_child_);
        if (dpy_) XCloseDisplay(dpy_);
        unsetenv("XDG_CONFIG_HOME");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Runs body in a child process that answers requests while its dialogs run.
    void start_child(const std::function<int()> &body)
    {
        int req[2], rep[2];
        ASSERT_EQ(pipe(req), 0);
        ASSERT_EQ(pipe(rep), 0);
        std::string err = dir_ + "/stderr";
        fflush(nullptr);
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            close(req[1]);
            close(rep[0]);
            g_reply_fd = rep[1];
            FILE *f = fopen(err.c_str(), "w");
            if (f) dup2(fileno(f), 2);
            g_unix_fd_add(req[0], G_IO_IN, on_request, nullptr);
            _exit(body());
        }
        close(req[0]);
        close(rep[1]);
        to_child_ = req[1];
        from_child_ = rep[0];
    }

    void start_config() { start_child([] { return ss_config(); }); }

    std::string ask(const std::string &request)
    {
        std::string line = request + "\n";
        if (write(to_child_, line.data(), line.size()) != (ssize_t)line.size()) return "";
        std::string answer;
        pollfd p = {from_child_, POLLIN, 0};
        char c;
        while (poll(&p, 1, 10000) > 0 && read(from_child_, &c, 1) == 1) {
            if (c == '\n') return answer;
            answer += c;
        }
        return "";
    }

    bool dlg(DlgState *s)
    {
        std::vector<std::string> f = split_tabs(ask("dlg"));
        if (f.size() != 10) return false;
        s->title = f[0];
        s->x = std::stoi(f[1]);
        s->y = std::stoi(f[2]);
        s->width = std::stoi(f[3]);
        s->height = std::stoi(f[4]);
        s->xid = std::stoul(f[5]);
        s->base_x = std::stoi(f[6]);
        s->base_y = std::stoi(f[7]);
        s->points = std::stod(f[8]);
        s->resizable = f[9] == "1";
        return true;
    }

    CtlState ctl(int id)
    {
        CtlState s;
        std::vector<std::string> f = split_tabs(ask("ctl " + std::to_string(id)));
        if (f.size() != 13) {
            ADD_FAILURE() << "no control " << id;
            return s;
        }
        s.kind = std::stoi(f[0]);
        s.text = f[1];
        s.checked = std::stoi(f[2]);
        s.pos = std::stoi(f[3]);
        s.min = std::stoi(f[4]);
        s.max = std::stoi(f[5]);
        s.x = std::stoi(f[6]);
        s.y = std::stoi(f[7]);
        s.width = std::stoi(f[8]);
        s.height = std::stoi(f[9]);
        s.focused = f[10] == "1";
        s.tab_stop = f[11] == "1";
        s.fits = f[12] == "1";
        return s;
    }

    Window input_focus()
    {
        Window w;
        int revert;
        XGetInputFocus(dpy_, &w, &revert);
        return w;
    }

    // Waits until the innermost dialog has the given title, is on screen and has the keyboard.
    DlgState wait_dialog(const std::string &title)
    {
        DlgState s;
        bool ok = wait_until([&] { return dlg(&s) && s.title == title && s.xid && input_focus() == s.xid; });
        EXPECT_TRUE(ok) << "dialog " << title << " did not come up with the keyboard focus";
        return s;
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
        CtlState c = ctl(id);
        click(c.x + c.width / 2, c.y + c.height / 2);
    }

    void key(const char *name, bool shift = false)
    {
        KeyCode shift_code = XKeysymToKeycode(dpy_, XK_Shift_L);
        KeyCode code = XKeysymToKeycode(dpy_, XStringToKeysym(name));
        if (shift) XTestFakeKeyEvent(dpy_, shift_code, True, 0);
        XTestFakeKeyEvent(dpy_, code, True, 0);
        XTestFakeKeyEvent(dpy_, code, False, 0);
        if (shift) XTestFakeKeyEvent(dpy_, shift_code, False, 0);
        XSync(dpy_, False);
    }

    // What the close box does without a window manager to draw one.
    void close_box(unsigned long xid)
    {
        XEvent ev = {};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = xid;
        ev.xclient.message_type = XInternAtom(dpy_, "WM_PROTOCOLS", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = (long)XInternAtom(dpy_, "WM_DELETE_WINDOW", False);
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(dpy_, xid, False, NoEventMask, &ev);
        XSync(dpy_, False);
    }

    // A viewable top-level window with the given title, or 0.
    Window find_window_named(const std::string &title)
    {
        Atom net_wm_name = XInternAtom(dpy_, "_NET_WM_NAME", False);
        Atom utf8 = XInternAtom(dpy_, "UTF8_STRING", False);
        Window root, parent, *children = nullptr, found = 0;
        unsigned n = 0;
        XQueryTree(dpy_, DefaultRootWindow(dpy_), &root, &parent, &children, &n);
        for (unsigned i = 0; i < n && !found; i++) {
            Atom type;
            int format;
            unsigned long count, after;
            unsigned char *prop = nullptr;
            XWindowAttributes wa;
            if (XGetWindowAttributes(dpy_, children[i], &wa) && wa.map_state == IsViewable &&
                XGetWindowProperty(dpy_, children[i], net_wm_name, 0, 64, False, utf8, &type, &format, &count,
                                   &after, &prop) == Success &&
                prop && std::string((char *)prop, count) == title)
                found = children[i];
            if (prop) XFree(prop);
        }
        if (children) XFree(children);
        return found;
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
    int wait_exit(int timeout_ms = 10000)
    {
        int status = 0;
        bool done = wait_until([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout_ms);
        if (!done) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    bool alive() { return waitpid(pid_, nullptr, WNOHANG) == 0; }

    std::string child_stderr()
    {
        std::ifstream in(dir_ + "/stderr");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    void store(const char *name, DWORD value)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, TIDEFOLD_REGISTRY_KEY, 0, (LPSTR) "", REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, 4);
        RegCloseKey(key);
    }

    // A stored value, or -1 when there is none.
    long long stored(const char *name)
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, TIDEFOLD_REGISTRY_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
        DWORD value = 0, size = 4, type = 0;
        LSTATUS r = RegQueryValueExA(key, name, nullptr, &type, (BYTE *)&value, &size);
        RegCloseKey(key);
        return r == ERROR_SUCCESS && type == REG_DWORD ? (long long)value : -1;
    }

    PrivateXvfb xvfb_;
    Display *dpy_ = nullptr;
    std::string dir_;
    pid_t pid_ = -1;
    int to_child_ = -1, from_child_ = -1;
};

const int kConfigTabOrder[] = {IDOK,          IDCANCEL,         IDC_ABOUT,           IDC_RIPPLE_DESKTOP,
                               IDC_LIGHTEN_DARKEN, IDC_DOUBLE_BUFFER, IDC_HIGH_QUALITY, IDC_TEXTURE_SMALLER,
                               IDC_TEXTURE_BIGGER};

} // namespace

using ConfigDialog = DialogFixture;
using AboutDialog = DialogFixture;
using MessageBoxTest = DialogFixture;

TEST_F(ConfigDialog, FirstRunShowsTheDefaultsWithOkFocused)
{
    start_config();
    DlgState d = wait_dialog("Configure...");
    EXPECT_EQ(d.x, 0);
    EXPECT_EQ(d.y, 0);
    EXPECT_FALSE(d.resizable);

    EXPECT_EQ(ctl(IDC_RIPPLE_DESKTOP).checked, 1);
    EXPECT_EQ(ctl(IDC_LIGHTEN_DARKEN).checked, 0);
    EXPECT_EQ(ctl(IDC_DOUBLE_BUFFER).checked, 1);
    EXPECT_EQ(ctl(IDC_HIGH_QUALITY).checked, 1);
    CtlState speed = ctl(IDC_RIPPLE_SPEED), freq = ctl(IDC_RIPPLE_FREQ);
    EXPECT_EQ(speed.pos, 20);
    EXPECT_EQ(speed.min, 1);
    EXPECT_EQ(speed.max, 30);
    EXPECT_EQ(freq.pos, 10);
    EXPECT_EQ(freq.min, 1);
    EXPECT_EQ(freq.max, 500);
    EXPECT_EQ(texture_text(), "Max texture size 1024x1024");
    EXPECT_TRUE(ctl(IDOK).focused);
    EXPECT_TRUE(alive());
}

TEST_F(ConfigDialog, ControlsSitAtTheirTemplatePlacesAndTextsFit)
{
    start_config();
    DlgState d = wait_dialog("Configure...");
    ASSERT_GT(d.base_x, 0);
    ASSERT_GT(d.base_y, 0);
    EXPECT_EQ(d.width, dlu_to_px_x(240, d.base_x));
    EXPECT_EQ(d.height, dlu_to_px_y(181, d.base_y));

    const BYTE *data;
    DWORD size;
    DialogTemplate t;
    ASSERT_TRUE(find_resource(MAKEINTRESOURCEA(RT_DIALOG_ID), "ConfigDlg", &data, &size));
    ASSERT_TRUE(parse_dialog_template(data, size, &t));
    for (const DialogItemTemplate &item : t.items) {
        if (item.id == -1) continue; // the two captions share an id; GetDlgItem finds the first
        CtlState c = ctl(item.id);
        SCOPED_TRACE("control " + std::to_string(item.id));
        EXPECT_EQ(c.x - d.x, dlu_to_px_x(item.x, d.base_x));
        EXPECT_EQ(c.y - d.y, dlu_to_px_y(item.y, d.base_y));
        EXPECT_EQ(c.width, dlu_to_px_x(item.cx, d.base_x));
        EXPECT_EQ(c.height, dlu_to_px_y(item.cy, d.base_y));
        EXPECT_TRUE(c.fits);
        EXPECT_EQ(c.tab_stop, (item.style & WS_TABSTOP) != 0);
    }
    CtlState caption = ctl(-1);
    EXPECT_EQ(caption.text, "Ripple speed");
    EXPECT_TRUE(caption.fits);
}

TEST_F(ConfigDialog, TextsShrinkRatherThanClipWithASmallDesktopFont)
{
    // Check marks and button padding keep their size while the layout follows the tiny font,
    // so only a smaller text can fit the boxes.
    std::filesystem::create_directories(dir_ + "/config/gtk-3.0");
    std::ofstream(dir_ + "/config/gtk-3.0/settings.ini") << "[Settings]\ngtk-font-name=Sans 6\n";
    start_config();
    DlgState d = wait_dialog("Configure...");
    EXPECT_LT(d.points, 6 * 0.8);
    for (int id : kConfigTabOrder) EXPECT_TRUE(ctl(id).fits) << id;
    EXPECT_TRUE(ctl(IDC_TEXTURE_SIZE).fits);
    EXPECT_TRUE(ctl(-1).fits);
    EXPECT_EQ(d.width, dlu_to_px_x(240, d.base_x)) << "the layout keeps the nominal font's units";
}

TEST_F(ConfigDialog, PlusAndMinusFrom1024StopAt64And2048)
{
    start_config();
    wait_dialog("Configure...");
    for (int size : {512, 256, 128, 64, 64}) press_and_expect(IDC_TEXTURE_SMALLER, size);
    for (int size : {128, 256, 512, 1024, 2048, 2048}) press_and_expect(IDC_TEXTURE_BIGGER, size);
    click_control(IDCANCEL);
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_EQ(stored("max_texture_size"), -1) << "Cancel stores nothing";
}

TEST_F(ConfigDialog, PlusAndMinusFromAStored1500FollowTheSameRules)
{
    store("max_texture_size", 1500);
    start_config();
    wait_dialog("Configure...");
    EXPECT_EQ(texture_text(), "Max texture size 1500x1500");
    press_and_expect(IDC_TEXTURE_BIGGER, 3000);
    press_and_expect(IDC_TEXTURE_BIGGER, 3000);
    for (int size : {1500, 750, 375, 187, 93, 46, 46}) press_and_expect(IDC_TEXTURE_SMALLER, size);
    key("Escape");
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_EQ(stored("max_texture_size"), 1500) << "Escape stores nothing";
}

TEST_F(ConfigDialog, OkStoresTheFourValuesAndExitsZero)
{
    start_config();
    wait_dialog("Configure...");
    click_control(IDC_LIGHTEN_DARKEN); // on
    click_control(IDC_DOUBLE_BUFFER);  // off
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_DOUBLE_BUFFER).checked == 0; }));
    EXPECT_EQ(ctl(IDC_LIGHTEN_DARKEN).checked, 1);

    // A click on a slider gives it the keyboard, though Tab never stops there.
    CtlState speed = ctl(IDC_RIPPLE_SPEED);
    click(speed.x + speed.width - 4, speed.y + speed.height / 3);
    key("End");
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_RIPPLE_SPEED).pos == 30; }));
    CtlState freq = ctl(IDC_RIPPLE_FREQ);
    click(freq.x + 4, freq.y + freq.height / 3);
    key("Home");
    key("Right");
    key("Right");
    key("Right");
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_RIPPLE_FREQ).pos == 4; }));
    press_and_expect(IDC_TEXTURE_BIGGER, 2048);

    click_control(IDOK);
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_EQ(stored("flags"), OPTION_LIGHTEN_DARKEN | OPTION_RIPPLE_DESKTOP | OPTION_HIGH_QUALITY);
    EXPECT_EQ(stored("max_texture_size"), 2048);
    EXPECT_EQ(stored("ripple_speed"), 30);
    EXPECT_EQ(stored("ripple_freq"), 4);
}

TEST_F(ConfigDialog, OutOfRangeStoredValuesComeBackClampedAndUnknownBitsCleared)
{
    store("flags", 0x1F);
    store("ripple_speed", 45);
    store("ripple_freq", 0);
    start_config();
    wait_dialog("Configure...");
    EXPECT_EQ(ctl(IDC_RIPPLE_SPEED).pos, 30);
    EXPECT_EQ(ctl(IDC_RIPPLE_FREQ).pos, 1);
    for (int id : {IDC_RIPPLE_DESKTOP, IDC_LIGHTEN_DARKEN, IDC_DOUBLE_BUFFER, IDC_HIGH_QUALITY})
        EXPECT_EQ(ctl(id).checked, 1) << id;
    click_control(IDOK);
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_EQ(stored("flags"), 0x17);
    EXPECT_EQ(stored("ripple_speed"), 30);
    EXPECT_EQ(stored("ripple_freq"), 1);
    EXPECT_EQ(stored("max_texture_size"), 1024);
}

TEST_F(ConfigDialog, OkWithEveryBoxClearedStoresNoFlags)
{
    start_config();
    wait_dialog("Configure...");
    for (int id : {IDC_RIPPLE_DESKTOP, IDC_DOUBLE_BUFFER, IDC_HIGH_QUALITY}) click_control(id);
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_HIGH_QUALITY).checked == 0; }));
    click_control(IDOK);
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_EQ(stored("flags"), 0);
}

TEST_F(ConfigDialog, CancelEscapeAndTheCloseBoxStoreNothing)
{
    for (int way = 0; way < 3; way++) {
        SCOPED_TRACE(way == 0 ? "Cancel" : way == 1 ? "Escape" : "close box");
        store("ripple_speed", 5);
        start_config();
        DlgState d = wait_dialog("Configure...");
        press_and_expect(IDC_TEXTURE_BIGGER, 2048);
        click_control(IDC_HIGH_QUALITY);
        EXPECT_TRUE(wait_until([&] { return ctl(IDC_HIGH_QUALITY).checked == 0; }));
        if (way == 0) click_control(IDCANCEL);
        if (way == 1) key("Escape");
        if (way == 2) close_box(d.xid);
        EXPECT_EQ(wait_exit(), 0);
        EXPECT_EQ(stored("ripple_speed"), 5);
        EXPECT_EQ(stored("max_texture_size"), -1);
        EXPECT_EQ(stored("flags"), -1);
        close(to_child_);
        close(from_child_);
        to_child_ = from_child_ = -1;
    }
}

TEST_F(ConfigDialog, TabWalksTheTabStopsInTemplateOrder)
{
    start_config();
    wait_dialog("Configure...");
    const int n = sizeof kConfigTabOrder / sizeof kConfigTabOrder[0];
    for (int step = 1; step <= n; step++) {
        int want = kConfigTabOrder[step % n];
        key("Tab");
        EXPECT_TRUE(wait_until([&] { return ctl(want).focused; }, 5000)) << "Tab " << step << " should reach " << want;
    }
    key("Tab", true); // back from OK to "+"
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_TEXTURE_BIGGER).focused; }, 5000));
    key("Tab", true);
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_TEXTURE_SMALLER).focused; }, 5000));
    EXPECT_FALSE(ctl(IDC_RIPPLE_SPEED).focused);
}

TEST_F(ConfigDialog, EnterPressesAFocusedButtonAndOtherwiseMeansOk)
{
    start_config();
    wait_dialog("Configure...");
    press_and_expect(IDC_TEXTURE_SMALLER, 512); // the "-" button now has the focus
    key("Return");
    EXPECT_TRUE(wait_until([&] { return texture_text() == "Max texture size 256x256"; }));
    EXPECT_TRUE(alive());

    key("Tab"); // to "+"
    key("Tab"); // to OK
    key("Tab"); // to Cancel
    key("Tab"); // to About
    key("Tab"); // to "Ripple desktop"
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_RIPPLE_DESKTOP).focused; }));
    key("space");
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_RIPPLE_DESKTOP).checked == 0; }));
    key("Return");
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_EQ(stored("max_texture_size"), 256);
    EXPECT_EQ(stored("flags"), OPTION_HIGH_QUALITY | OPTION_DOUBLE_BUFFER);
}

TEST_F(AboutDialog, ClosesOnlyOnOkOrEnterAndReturnsToTheConfigurationDialog)
{
    start_config();
    DlgState config = wait_dialog("Configure...");
    click_control(IDC_ABOUT);
    DlgState about = wait_dialog("About...");
    EXPECT_EQ(about.x, config.x) << "opens at the owner's client area";
    EXPECT_EQ(about.y, config.y);
    EXPECT_EQ(about.width, dlu_to_px_x(177, about.base_x));
    EXPECT_EQ(about.height, dlu_to_px_y(95, about.base_y));
    EXPECT_FALSE(ctl(IDOK).focused) << "the About procedure asks for no initial focus";
    EXPECT_FALSE(ctl(IDC_ABOUT_TEXT).focused);
    EXPECT_NE(ctl(IDC_ABOUT_TEXT).text.find(' '), std::string::npos);
    EXPECT_TRUE(ctl(IDC_ABOUT_TEXT).fits);
    EXPECT_TRUE(ctl(-1).fits);

    // Escape and the close box are ignored. Each is followed by a Tab, whose visible effect
    // shows the events before it were handled.
    key("Escape");
    key("Tab");
    EXPECT_TRUE(wait_until([&] { return ctl(IDOK).focused; }));
    close_box(about.xid);
    key("Tab");
    EXPECT_TRUE(wait_until([&] { return ctl(IDC_ABOUT_TEXT).focused; }));
    DlgState still;
    ASSERT_TRUE(dlg(&still));
    EXPECT_EQ(still.title, "About...");

    // Enter closes it, even with the focus in the text.
    key("Return");
    wait_dialog("Configure...");
    EXPECT_TRUE(alive());

    // Again, closed with the OK button this time.
    click_control(IDC_ABOUT);
    wait_dialog("About...");
    click_control(IDOK);
    wait_dialog("Configure...");
    EXPECT_TRUE(alive());
    EXPECT_EQ(texture_text(), "Max texture size 1024x1024");

    click_control(IDCANCEL);
    EXPECT_EQ(wait_exit(), 0);
}

TEST_F(MessageBoxTest, ShowsTextAndCaptionAndReturnsOkOnEnter)
{
    start_child([] {
        return MessageBoxA(nullptr, "ChoosePixelFormat() failed:  Cannot find format specified.", "Error", MB_OK);
    });
    EXPECT_TRUE(wait_until([&] {
        Window w = find_window_named("Error");
        return w && input_focus() == w;
    })) << "a box titled Error with the keyboard focus";
    EXPECT_TRUE(alive()) << "the box waits for the user";
    key("Return");
    EXPECT_EQ(wait_exit(), IDOK);
}

TEST_F(MessageBoxTest, RunsInsideAnotherDialogAndLeavesItWorking)
{
    start_child([] {
        // A message box from a dialog procedure, as a failure inside a command handler would show.
        static DLGPROC proc = [](HWND h, UINT msg, WPARAM w, LPARAM) -> INT_PTR {
            if (msg == WM_COMMAND && LOWORD(w) == IDC_ABOUT) {
                SetDlgItemTextA(h, IDOK, MessageBoxA(h, "Inside", "Note", MB_OK) == IDOK ? "Done" : "Bad");
            }
            if (msg == WM_COMMAND && LOWORD(w) == IDCANCEL) EndDialog(h, 7);
            return msg == WM_INITDIALOG;
        };
        return (int)DialogBoxParamA(nullptr, "ConfigDlg", nullptr, proc, 0);
    });
    wait_dialog("Configure...");
    click_control(IDC_ABOUT);
    EXPECT_TRUE(wait_until([&] {
        Window w = input_focus();
        DlgState d;
        return dlg(&d) && w != d.xid && w != None && w != PointerRoot;
    })) << "the message box takes the keyboard";
    key("Return");
    EXPECT_TRUE(wait_until([&] { return ctl(IDOK).text == "Done"; }));
    wait_dialog("Configure...");
    key("Escape");
    EXPECT_EQ(wait_exit(), 7) << "DialogBoxParamA returns what EndDialog was given";
}

TEST_F(MessageBoxTest, ShowsWhileAWindowIsBeingCreated)
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
        if (!GetClientRect(w, &r) || r.right != 64) return 13;
        DestroyWindow(w);
        return 0;
    });
    EXPECT_TRUE(wait_until([&] {
        Window w = find_window_named("Error");
        return w && input_focus() == w;
    }));
    key("Return");
    EXPECT_EQ(wait_exit(), 0);
}
