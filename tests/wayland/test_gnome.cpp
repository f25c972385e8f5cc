// The saver under GNOME 43 (the Shell, and mutter alone), which offers neither layer shell nor a
// screen copy: a full-screen window, and the photograph through the desktop portal only when the
// portal's permission store already allows it, since otherwise the Shell puts its question over
// the saver. Without leave the saver shows at once with what stands for the photograph. The idle
// watcher there listens to mutter's idle monitor.
#include <gtest/gtest.h>

#include <chrono>

#include "compositor.h"
#include "idle_cases.h"
#include "rippling.h"

namespace {

constexpr int kWidth = 1024, kHeight = 768;

// One Shell for every case: it takes a few seconds to start.
class GnomeShellSaver : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session_ = new HeadlessCompositor;
        if (!session_->start_gnome("gnome-shell", kWidth, kHeight, &why_not_) && why_not_.empty())
            why_not_ = "!gnome-shell did not start" + session_->log();
    }
    static void TearDownTestSuite()
    {
        delete session_;
        session_ = nullptr;
    }
    void SetUp() override
    {
        if (why_not_.rfind("!", 0) == 0) FAIL() << why_not_;
        if (!why_not_.empty()) GTEST_SKIP() << why_not_;
    }
    // Stores the screenshot permission of programs outside a sandbox ("" takes it away).
    bool store_permission(const std::string &answer)
    {
        const std::string store = "org.freedesktop.impl.portal.PermissionStore";
        std::vector<std::string> call = {"gdbus", "call", "--session", "--dest", store, "--object-path",
                                         "/org/freedesktop/impl/portal/PermissionStore", "--method"};
        if (answer.empty()) {
            call.insert(call.end(), {store + ".DeletePermission", "screenshot", "screenshot", ""});
            session_->run(call);  // fails when there was nothing to take away
            return true;
        }
        call.insert(call.end(), {store + ".SetPermission", "screenshot", "true", "screenshot", "", "['" + answer + "']"});
        return session_->run(call) == 0;
    }
    static inline HeadlessCompositor *session_ = nullptr;
    static inline std::string why_not_;
};

TEST_F(GnomeShellSaver, WithLeaveInThePermissionStoreItRipplesThePortalsPhotograph)
{
    ASSERT_TRUE(store_permission("yes"));
    WaylandSaver saver(*session_);
    ASSERT_TRUE(saver.launch({"/s"}));
    ASSERT_TRUE(session_->wait_for_change(saver.process(), "", session_->screenshot())) << saver.log();
    sleep_ms(1500);
    expect_rippling_shots([&] { return session_->screenshot(); }, known_picture(kWidth, kHeight),
                          "the saver under GNOME Shell");
    saver.signal(SIGTERM);
    EXPECT_EQ(saver.wait_exit(5000), 0) << saver.log();
}

TEST_F(GnomeShellSaver, WithoutLeaveItCoversTheOutputAtOnceAndNoQuestionAppears)
{
    const Picture desktop = known_picture(kWidth, kHeight);
    for (const char *stored : {"", "no"}) {
        SCOPED_TRACE(*stored ? "stored no" : "nothing stored");
        ASSERT_TRUE(store_permission(stored));
        const Picture before = session_->screenshot();
        WaylandSaver saver(*session_);
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(saver.launch({"/s"}));
        ASSERT_TRUE(session_->wait_for_change(saver.process(), "", before)) << "the saver never covered the output"
                                                                          << saver.log();
        // The portal's wait left the desktop showing for five seconds; the screenshots polled here
        // take a few tenths of a second each.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(3000));
        sleep_ms(2000);
        saver.signal(SIGTERM);
        EXPECT_EQ(saver.wait_exit(5000), 0) << saver.log();
        // The Shell's question, had the portal been asked, would outlive the saver over the desktop.
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (middle(session_->screenshot()).mean_difference(middle(desktop)) > 3)
            ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "something stands over the desktop";
    }
}

} // namespace

namespace {

// A mutter of its own for each case.
class MutterSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why_not;
        if (session.start_gnome("mutter", kWidth, kHeight, &why_not)) return;
        if (!why_not.empty()) GTEST_SKIP() << why_not;
        FAIL() << "mutter did not start" << session.log();
    }
    HeadlessCompositor session;
};
using MutterSaver = MutterSession;
using MutterIdleWatcher = MutterSession;

// mutter alone, where no portal backend answers: the saver shows its first frame at once all the
// same. Nothing photographs mutter's output here, so the first frame is the first buffer the
// saver's protocol log shows it attaching.
TEST_F(MutterSaver, ShowsItsFirstFrameAtOnceThoughNoPortalAnswers)
{
    WaylandSaver saver(session);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(saver.launch({"/s"}, {"WAYLAND_DEBUG=client"}));
    const auto give_up = started + std::chrono::seconds(10);
    while (saver.log().find(".attach(wl_buffer@") == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "no frame shown";
        ASSERT_TRUE(saver.running());
        sleep_ms(20);
    }
    // About a quarter of a second here; the portal's wait used to leave the desktop showing for
    // five. (That the portal is not asked without leave is PortalCapture's to check.)
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(3000));
    saver.signal(SIGTERM);
    EXPECT_EQ(saver.wait_exit(5000), 0) << saver.log();
}

// mutter alone: idleness from its idle monitor on the session bus, keys through its remote desktop.
TEST_F(MutterIdleWatcher, StartsTheSaverOncePerIdlePeriodNeverWhileHeldAwakeAndEndsWithIt)
{
    IdleSession idle;
    idle.launch = [&](Process &program, const std::vector<std::string> &args) { return session.launch_program(program, args); };
    // A remote desktop session's first key makes its keyboard; the second reaches the saver.
    idle.user_input = [&] { return session.keys({0xffe1, 0xffe1}); };  // Shift
    idle.hold_awake = [&](Process &holder) { return session.hold_awake(holder); };
    expect_idle_watcher_rules(idle, [&] { return session.home.log("tidefold.log"); });
}

} // namespace
