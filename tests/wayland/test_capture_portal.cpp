// The desktop portal's way of photographing an output, against a fake portal and permission store
// on a private session bus.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>

#include "wayland/capture.h"

namespace {

const char kPortalXml[] =
    "<node><interface name='org.freedesktop.portal.Screenshot'>"
    "<method name='Screenshot'><arg type='s' direction='in'/><arg type='a{sv}' direction='in'/>"
    "<arg type='o' direction='out'/></method></interface></node>";
const char kStoreXml[] =
    "<node><interface name='org.freedesktop.impl.portal.PermissionStore'>"
    "<method name='Lookup'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='a{sas}' direction='out'/><arg type='v' direction='out'/></method></interface></node>";

// How the fake portal answers a screenshot request.
enum class Answer { Picture, Cancelled, Never };

// What the fake permission store holds for screenshots by unsandboxed programs.
enum class Stored { Yes, No, Nothing, NoStore };

// A socket that takes connections into its backlog and never reads them: a bus that never answers.
class UnixListener {
public:
    bool listen(const std::string &path)
    {
        fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        unlink(path.c_str());
        return fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 && ::listen(fd_, 4) == 0;
    }
    ~UnixListener()
    {
        if (fd_ >= 0) close(fd_);
    }

private:
    int fd_ = -1;
};

// A portal service on its own connection and thread: it answers Screenshot with a request object
// and then, unless told not to, the Response signal carrying the URI it was given. Beside it, the
// portal's permission store with the screenshot permission as stored.
class FakePortal {
public:
    FakePortal(const std::string &address, Answer answer, std::string uri, Stored stored = Stored::Yes)
        : answer_(answer), stored_(stored), uri_(std::move(uri))
    {
        std::promise<bool> started;
        auto ready = started.get_future();
        thread_ = std::thread([&] { run(address, &started); });
        ok_ = ready.get();
    }
    ~FakePortal()
    {
        g_main_context_invoke(context_, [](gpointer loop) { g_main_loop_quit(static_cast<GMainLoop *>(loop)); return FALSE; },
                              loop_);
        thread_.join();
    }
    bool ok() const { return ok_; }
    int requests() const { return requests_; }
    bool asked_interactive() const { return asked_interactive_; }

private:
    void run(const std::string &address, std::promise<bool> *started)
    {
        context_ = g_main_context_new();
        loop_ = g_main_loop_new(context_, FALSE);
        g_main_context_push_thread_default(context_);
        bus_ = g_dbus_connection_new_for_address_sync(address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION), nullptr, nullptr, nullptr);
        GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(kPortalXml, nullptr);
        static const GDBusInterfaceVTable vtable = {on_method, nullptr, nullptr, {}};
        const guint object = bus_ ? g_dbus_connection_register_object(bus_, "/org/freedesktop/portal/desktop",
                                                                      node->interfaces[0], &vtable, this, nullptr, nullptr) : 0;
        // Replace whichever fake of an earlier case may still hold the name.
        GVariant *owned = object ? g_dbus_connection_call_sync(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 3u),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr) : nullptr;
        GDBusNodeInfo *store_node = g_dbus_node_info_new_for_xml(kStoreXml, nullptr);
        static const GDBusInterfaceVTable store_vtable = {on_lookup, nullptr, nullptr, {}};
        const guint store = owned && stored_ != Stored::NoStore
            ? g_dbus_connection_register_object(bus_, "/org/freedesktop/impl/portal/PermissionStore",
                                                store_node->interfaces[0], &store_vtable, this, nullptr, nullptr) : 0;
        GVariant *store_owned = store ? g_dbus_connection_call_sync(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", "org.freedesktop.impl.portal.PermissionStore", 3u),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr) : nullptr;
        if (store_owned)
            g_variant_unref(store_owned);
        // Without a store of its own, no store of an earlier case may answer either.
        GVariant *released = owned && !store ? g_dbus_connection_call_sync(bus_, "org.freedesktop.DBus",
            "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReleaseName",
            g_variant_new("(s)", "org.freedesktop.impl.portal.PermissionStore"), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr) : nullptr;
        if (released)
            g_variant_unref(released);
        started->set_value(owned != nullptr && (stored_ == Stored::NoStore || store_owned != nullptr));
        if (owned) {
            g_variant_unref(owned);
            g_main_loop_run(loop_);
        }
        if (object)
            g_dbus_connection_unregister_object(bus_, object);
        if (store)
            g_dbus_connection_unregister_object(bus_, store);
        g_dbus_node_info_unref(node);
        g_dbus_node_info_unref(store_node);
        if (bus_) {
            g_dbus_connection_close_sync(bus_, nullptr, nullptr);
            g_object_unref(bus_);
        }
        g_main_context_pop_thread_default(context_);
        g_main_loop_unref(loop_);
        g_main_context_unref(context_);
    }

    static void on_method(GDBusConnection *bus, const gchar *sender, const gchar *, const gchar *, const gchar *,
                          GVariant *parameters, GDBusMethodInvocation *invocation, gpointer data)
    {
        auto *self = static_cast<FakePortal *>(data);
        ++self->requests_;
        GVariant *options = g_variant_get_child_value(parameters, 1);
        const gchar *token = "none";
        g_variant_lookup(options, "handle_token", "&s", &token);
        gboolean interactive = TRUE;
        g_variant_lookup(options, "interactive", "b", &interactive);
        self->asked_interactive_ = interactive;
        std::string caller = sender + 1;
        for (char &c : caller)
            if (c == '.')
                c = '_';
        const std::string handle = "/org/freedesktop/portal/desktop/request/" + caller + "/" + token;
        g_variant_unref(options);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", handle.c_str()));
        if (self->answer_ == Answer::Never)
            return;
        GVariantBuilder results;
        g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
        if (self->answer_ == Answer::Picture)
            g_variant_builder_add(&results, "{sv}", "uri", g_variant_new_string(self->uri_.c_str()));
        g_dbus_connection_emit_signal(bus, sender, handle.c_str(), "org.freedesktop.portal.Request", "Response",
                                      g_variant_new("(ua{sv})", self->answer_ == Answer::Picture ? 0u : 1u, &results),
                                      nullptr);
    }

    static void on_lookup(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *,
                          GVariant *parameters, GDBusMethodInvocation *invocation, gpointer data)
    {
        auto *self = static_cast<FakePortal *>(data);
        const gchar *table = nullptr, *id = nullptr;
        g_variant_get(parameters, "(&s&s)", &table, &id);
        if (self->stored_ == Stored::Nothing || strcmp(table, "screenshot") || strcmp(id, "screenshot")) {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.NotFound", "No entry");
            return;
        }
        GVariantBuilder permissions;
        g_variant_builder_init(&permissions, G_VARIANT_TYPE("a{sas}"));
        const gchar *answer[] = {self->stored_ == Stored::Yes ? "yes" : "no", nullptr};
        const gchar *sandboxed[] = {"yes", nullptr};
        // A sandboxed program's leave is not ours.
        g_variant_builder_add(&permissions, "{s^as}", "org.example.Sandboxed", sandboxed);
        g_variant_builder_add(&permissions, "{s^as}", "", answer);
        g_dbus_method_invocation_return_value(invocation,
            g_variant_new("(a{sas}v)", &permissions, g_variant_new_variant(g_variant_new_byte(0))));
    }

    Answer answer_;
    Stored stored_;
    std::string uri_;
    std::thread thread_;
    GMainContext *context_ = nullptr;
    GMainLoop *loop_ = nullptr;
    GDBusConnection *bus_ = nullptr;
    bool ok_ = false;
    int requests_ = 0;
    bool asked_interactive_ = true;
};

// One private session bus for every case; each case starts its own fake portal on it.
class PortalCapture : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        daemon_ = fork();
        if (daemon_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            dup2(open("/dev/null", O_WRONLY), 2);
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr);
            _exit(127);
        }
        close(out[1]);
        char line[512] = {};
        FILE *from_daemon = fdopen(out[0], "r");
        ASSERT_TRUE(fgets(line, sizeof line, from_daemon)) << "dbus-daemon did not start";
        fclose(from_daemon);
        address_ = line;
        address_.erase(address_.find_last_not_of("\n") + 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    }
    static void TearDownTestSuite()
    {
        if (daemon_ > 0) {
            kill(daemon_, SIGTERM);
            waitpid(daemon_, nullptr, 0);
        }
    }
    void SetUp() override
    {
        ASSERT_FALSE(address_.empty());
        char dir[] = "/tmp/tidefold-portal-XXXXXX";
        ASSERT_TRUE(mkdtemp(dir));
        dir_ = dir;
        picture_ = dir_ + "/Screenshot.png";
    }
    void TearDown() override
    {
        unlink(picture_.c_str());
        rmdir(dir_.c_str());
    }

    // The desktop the portal photographs: red = x, green = y, blue = 77, 128 x 96 pixels.
    void write_desktop_picture()
    {
        GdkPixbuf *picture = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 128, 96);
        guchar *pixels = gdk_pixbuf_get_pixels(picture);
        const int stride = gdk_pixbuf_get_rowstride(picture);
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 128; ++x) {
                guchar *p = pixels + y * stride + x * 3;
                p[0] = guchar(x);
                p[1] = guchar(y);
                p[2] = 77;
            }
        ASSERT_TRUE(gdk_pixbuf_save(picture, picture_.c_str(), "png", nullptr, nullptr));
        g_object_unref(picture);
    }
    std::string picture_uri() const { return "file://" + picture_; }
    bool picture_exists() const { return access(picture_.c_str(), F_OK) == 0; }

    // Counts the photograph's pixels that are not the desktop picture's pixel at (left + col, top + row).
    static int pixels_unlike_desktop(const wl::Photo &photo, int left, int top)
    {
        int wrong = 0;
        for (int row = 0; row < photo.height; ++row)
            for (int col = 0; col < photo.width; ++col) {
                const uint8_t *p = &photo.pixels[(size_t(row) * photo.width + col) * 4];
                wrong += p[0] != 77 || p[1] != top + row || p[2] != left + col;
            }
        return wrong;
    }

    static inline pid_t daemon_ = -1;
    static inline std::string address_;
    std::string dir_, picture_;
};

TEST_F(PortalCapture, PhotographIsTheOutputsAreaOfThePictureInBgrxRowsTopFirstAndTheScreenshotIsDeleted)
{
    // The picture is 128 x 96; with no layout box given it is taken as the layout, one pixel a unit.
    struct Case { const char *name; int layout[4], area[4], crop[4]; };
    const Case cases[] = {
        {"picture is the layout", {0, 0, 0, 0}, {16, 8, 32, 24}, {16, 8, 32, 24}},
        {"picture twice the layout (64 x 48 from x = -32)", {-32, 0, 64, 48}, {0, 0, 32, 48}, {64, 0, 64, 96}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        write_desktop_picture();
        FakePortal portal(address_, Answer::Picture, picture_uri());
        ASSERT_TRUE(portal.ok());
        wl::CaptureGlobals g;
        g.layout_x = c.layout[0];
        g.layout_y = c.layout[1];
        g.layout_width = c.layout[2];
        g.layout_height = c.layout[3];
        wl::Photo photo;
        ASSERT_TRUE(wl::photograph_output(g, nullptr, c.area[0], c.area[1], c.area[2], c.area[3], &photo));
        EXPECT_EQ(portal.requests(), 1);
        EXPECT_FALSE(portal.asked_interactive());
        ASSERT_EQ(photo.width, c.crop[2]);
        ASSERT_EQ(photo.height, c.crop[3]);
        ASSERT_EQ(photo.pixels.size(), size_t(c.crop[2]) * c.crop[3] * 4);
        EXPECT_EQ(pixels_unlike_desktop(photo, c.crop[0], c.crop[1]), 0);
        EXPECT_FALSE(picture_exists());
    }
}

TEST_F(PortalCapture, NoPictureGivesFalseWithinTheTimeout)
{
    enum class Bus { ours, none, silent }; // silent: takes the connection, never answers
    struct Case { const char *name; bool portal; Answer answer; bool garbage_file; Bus bus; };
    const Case cases[] = {
        {"portal never answers", true, Answer::Never, false, Bus::ours},
        {"user cancelled", true, Answer::Cancelled, false, Bus::ours},
        {"file is no picture", true, Answer::Picture, true, Bus::ours},
        {"no portal on the bus", false, Answer::Never, false, Bus::ours},
        {"no session bus", false, Answer::Never, false, Bus::none},
        {"a bus that never answers", false, Answer::Never, false, Bus::silent},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.garbage_file) {
            FILE *f = fopen(picture_.c_str(), "w");
            ASSERT_TRUE(f);
            fputs("not a picture", f);
            fclose(f);
        }
        std::unique_ptr<FakePortal> portal;
        if (c.portal) {
            portal = std::make_unique<FakePortal>(address_, c.answer, picture_uri());
            ASSERT_TRUE(portal->ok());
        }
        const std::string runtime = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
        if (c.bus == Bus::none) {
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
            setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        }
        UnixListener silent;
        if (c.bus == Bus::silent) {
            ASSERT_TRUE(silent.listen(dir_ + "/silent-bus"));
            setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_ + "/silent-bus").c_str(), 1);
        }
        wl::Photo photo;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(wl::photograph_output(wl::CaptureGlobals(), nullptr, 0, 0, 64, 48, &photo));
        // Each of the portal's waits is about a second, so the desktop does not show for long.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
        EXPECT_EQ(photo.width, 0);
        EXPECT_TRUE(photo.pixels.empty());
        if (c.portal) {
            EXPECT_EQ(portal->requests(), 1);
        }
        EXPECT_FALSE(picture_exists());
        setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
        if (runtime.empty())
            unsetenv("XDG_RUNTIME_DIR");
        else
            setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
}

TEST_F(PortalCapture, WithoutLeaveInThePermissionStoreThePortalIsNeverAsked)
{
    // Asked anyway, GNOME's portal would put its question over the saver, and keep an Escape
    // there as "no" for every program outside a sandbox.
    struct Case { const char *name; Stored stored; };
    const Case cases[] = {
        {"stored no", Stored::No},
        {"nothing stored yet", Stored::Nothing},
        {"no permission store", Stored::NoStore},
    };
    write_desktop_picture();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakePortal portal(address_, Answer::Picture, picture_uri(), c.stored);
        ASSERT_TRUE(portal.ok());
        wl::Photo photo;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(wl::photograph_output(wl::CaptureGlobals(), nullptr, 0, 0, 64, 48, &photo));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
        EXPECT_EQ(portal.requests(), 0);
        EXPECT_TRUE(photo.pixels.empty());
    }
}

}
