// The full-screen saver and the settings dialog as a native client of headless sway: the known
// picture is the background swaybg shows, the saver finds it through screencopy and ripples it on
// a layer surface, and keys (a virtual keyboard) and the pointer (a virtual pointer) end it by
// the same rules as on X11. A pointer button released over the saver never reaches it under sway
// (the surface under a held button keeps the pointer), so only key releases are tried.
#include <gtest/gtest.h>

#include "compositor.h"
#include "idle_cases.h"
#include "picture_files.h"
#include "rippling.h"

#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <sstream>

namespace {

constexpr int kWidth = 1280, kHeight = 720;
constexpr unsigned kLeft = 272, kRight = 273, kMiddle = 274; // Linux button codes

// One sway for the cases that leave it as they found it.
class SwaySaver : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session_ = std::make_unique<HeadlessCompositor>();
        started_ = session_->start_sway(kWidth, kHeight);
    }
    static void TearDownTestSuite() { session_.reset(); }
    void SetUp() override { ASSERT_TRUE(started_) << "sway did not start with its background" << session_->log(); }
    // A case that failed may leave savers behind; the next one needs the background back.
    void TearDown() override { EXPECT_TRUE(saver.end_all()) << "a saver outlived SIGKILL"; }

    // Starts `tidefold /s` and waits for its first frames over the background.
    void start_saver(const std::vector<std::string> &extra_env = {})
    {
        ASSERT_TRUE(saver.launch({"/s"}, extra_env));
        ASSERT_TRUE(session_->wait_for_change(saver.process(), "", background())) << "the saver never drew" << saver.log();
        sleep_ms(500);
        ASSERT_TRUE(saver.running()) << saver.log();
    }
    void expect_still_running(const char *after)
    {
        EXPECT_EQ(saver.wait_exit(1200), -1) << "the saver closed after " << after;
    }
    void expect_closed(const char *after)
    {
        EXPECT_EQ(saver.wait_exit(5000), 0) << "the saver did not close with 0 after " << after << saver.log();
    }
    static Picture background() { return known_picture(kWidth, kHeight); }

    static std::unique_ptr<HeadlessCompositor> session_;
    static bool started_;
    HeadlessCompositor &session = *session_;
    WaylandSaver saver{*session_};
};

std::unique_ptr<HeadlessCompositor> SwaySaver::session_;
bool SwaySaver::started_;

TEST_F(SwaySaver, ShowsTheBackgroundRipplingInPlaceAndAtScale)
{
    ASSERT_NO_FATAL_FAILURE(start_saver());
    sleep_ms(1000); // the first frames, photographed and uploaded on a busy machine
    expect_rippling_shots([&] { return session.screenshot(); }, background(), "the saver under sway");
    EXPECT_EQ(session.type({"-k", "Escape"}), 0);
    expect_closed("a key");
}

// A picture source takes the place of the photograph on Wayland too.
TEST_F(SwaySaver, ShowsThePictureAskedForInsteadOfTheBackground)
{
    char tmpl[] = "/tmp/tidefold-pictures-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    ASSERT_EQ(chmod(tmpl, 0755), 0);
    const std::string green = save_flat_picture(std::string(tmpl) + "/green.png", kGreenPicture);
    ASSERT_EQ(chmod(green.c_str(), 0644), 0);
    ASSERT_TRUE(saver.launch({"/s", "--image", green}));
    ASSERT_TRUE(session.wait_for_change(saver.process(), "", background())) << "the saver never drew" << saver.log();
    sleep_ms(1000);
    EXPECT_GT(middle(session.screenshot()).fraction_near(kGreenPicture), 0.5) << saver.log();
    EXPECT_EQ(session.type({"-k", "Escape"}), 0);
    expect_closed("a key");
    std::error_code ignored;
    std::filesystem::remove_all(tmpl, ignored);
}

TEST_F(SwaySaver, KeyPressEndsItWithStatusZero)
{
    ASSERT_NO_FATAL_FAILURE(start_saver());
    EXPECT_EQ(session.type({"a"}), 0);
    expect_closed("a key press");
}

TEST_F(SwaySaver, EachButtonEndsItWithStatusZero)
{
    for (unsigned button : {kLeft, kRight, kMiddle}) {
        InputDriver pointer;
        ASSERT_TRUE(pointer.start(session)) << "no virtual pointer";
        ASSERT_NO_FATAL_FAILURE(start_saver());
        ASSERT_TRUE(pointer.button(button, true));
        expect_closed(("button " + std::to_string(button)).c_str());
        pointer.button(button, false);
    }
}

// The client's protocol log: once the pointer enters the saver's surface, the saver answers that
// enter (by its serial) with no cursor image at all.
TEST_F(SwaySaver, PointerIsHiddenOverTheSaver)
{
    InputDriver pointer;
    ASSERT_TRUE(pointer.start(session)) << "no virtual pointer";
    ASSERT_NO_FATAL_FAILURE(start_saver({"WAYLAND_DEBUG=1"}));
    ASSERT_TRUE(pointer.move(1, 0));
    expect_still_running("a move of 1 pixel");
    std::istringstream lines(saver.log());
    std::string line, serial;
    bool hidden = false;
    while (std::getline(lines, line)) {
        size_t enter = line.find(".enter(");
        if (line.find(" wl_pointer@") != std::string::npos && enter != std::string::npos && line.find("->") == std::string::npos)
            serial = line.substr(enter + 7, line.find(',', enter) - enter - 7);
        if (!serial.empty() && line.find("-> wl_pointer@") != std::string::npos &&
            line.find(".set_cursor(" + serial + ", nil, 0, 0)") != std::string::npos)
            hidden = true;
    }
    ASSERT_FALSE(serial.empty()) << "the pointer never entered the saver";
    EXPECT_TRUE(hidden) << "no empty cursor for the enter with serial " << serial;
}

TEST_F(SwaySaver, TenPixelMoveFromStartKeepsRunningElevenCloses)
{
    InputDriver pointer;
    ASSERT_TRUE(pointer.start(session)) << "no virtual pointer";
    ASSERT_NO_FATAL_FAILURE(start_saver());
    ASSERT_TRUE(pointer.move(4, 6));
    expect_still_running("a move of 10 pixels");
    ASSERT_TRUE(pointer.move(-4, -6));
    expect_still_running("a move back to the start");
    ASSERT_TRUE(pointer.move(5, 6));
    expect_closed("a move of 11 pixels");
}

TEST_F(SwaySaver, KeyReleaseAndWheelDoNotClose)
{
    InputDriver pointer;
    ASSERT_TRUE(pointer.start(session)) << "no virtual pointer";
    // "b" goes down before the saver starts and comes up once it runs.
    Process held;
    ASSERT_TRUE(session.start_typing(held, {"-P", "b", "-s", "6000", "-p", "b"}));
    sleep_ms(1000); // wtype's pause, then the press
    ASSERT_NO_FATAL_FAILURE(start_saver());
    ASSERT_TRUE(held.running()) << "the saver took too long to start for the key release to reach it";
    EXPECT_EQ(held.wait_exit(10000), 0);
    expect_still_running("a key release");
    ASSERT_TRUE(pointer.wheel(1));
    ASSERT_TRUE(pointer.wheel(-1));
    expect_still_running("the wheel");
    EXPECT_EQ(session.type({"-k", "Return"}), 0);
    expect_closed("a key after the wheel");
}

TEST_F(SwaySaver, SigtermEndsItWithStatusZero)
{
    ASSERT_NO_FATAL_FAILURE(start_saver());
    saver.signal(SIGTERM);
    expect_closed("SIGTERM");
}

// The variable the savers of the other outputs are told their output in, set in the user's
// environment, makes no saver that leaves the keyboard to the windows underneath.
TEST_F(SwaySaver, MonitorVariableInTheUsersEnvironmentStillTakesTheKeyboard)
{
    ASSERT_NO_FATAL_FAILURE(start_saver({"TIDEFOLD_MONITOR=0,0,1280,720"}));
    EXPECT_EQ(session.type({"a"}), 0);
    expect_closed("a key");
}

// An idle manager firing twice: the second saver leaves at once, and one key uncovers the screen.
TEST_F(SwaySaver, ASecondSaverLeavesAtOnce)
{
    ASSERT_NO_FATAL_FAILURE(start_saver());
    WaylandSaver second(session);
    ASSERT_TRUE(second.launch({"/s"}));
    EXPECT_EQ(second.wait_exit(5000), 0) << "a second saver stayed" << second.log();
    EXPECT_EQ(session.type({"a"}), 0);
    expect_closed("a key");
    EXPECT_TRUE(saver.all_gone(1000)) << "a saver still covers the screen after the key";
}

TEST_F(SwaySaver, ConfigurationDialogOkSavesTheSettings)
{
    const std::string settings = session.home.home + "/.config/tidefold/registry.ini";
    unlink(settings.c_str());
    InputDriver input;
    ASSERT_TRUE(input.start(session)) << "no virtual keyboard";
    ASSERT_TRUE(saver.launch({"/c"}));
    ASSERT_TRUE(session.wait_for_change(saver.process(), "", background())) << "no dialog appeared" << saver.log();
    sleep_ms(500);
    // Enter presses the dialog's default button, OK.
    ASSERT_TRUE(input.key("Return"));
    EXPECT_EQ(saver.wait_exit(5000), 0) << saver.log();
    EXPECT_NE(read_file(settings).find("ripple_speed="), std::string::npos) << "OK saved nothing in " << settings;
}

// The override names X11, which has no server here: the saver fails as it does without a display.
TEST_F(SwaySaver, BackendOverrideToX11IgnoresTheCompositor)
{
    ASSERT_TRUE(saver.launch({"/s"}, {"TIDEFOLD_BACKEND=x11"}));
    EXPECT_EQ(saver.wait_exit(5000), 1) << saver.log();
    EXPECT_NE(saver.log().find("tidefold: cannot open display"), std::string::npos) << saver.log();
}

// The compositor goes away under the saver, which ends as it does when the X server goes.
// sway 1.7 tells idleness through KDE's idle protocol; the pointer's moves are the user.
TEST_F(SwaySaver, IdleWatcherStartsTheSaverOncePerIdlePeriodNeverWhileHeldAwakeAndEndsWithIt)
{
    ASSERT_TRUE(session.start_session_bus());
    InputDriver input;
    ASSERT_TRUE(input.start(session));
    int step = 0;
    IdleSession idle;
    idle.launch = [&](Process &program, const std::vector<std::string> &args) { return session.launch_program(program, args); };
    idle.user_input = [&] { return input.move(++step % 2 ? 40 : -40, 0); };
    idle.hold_awake = [&](Process &holder) { return session.hold_awake(holder); };
    expect_idle_watcher_rules(idle, [&] { return session.home.log("tidefold.log"); });
}

TEST(SwayLost, KillingTheCompositorEndsTheSaverWithStatusOne)
{
    HeadlessCompositor session;
    ASSERT_TRUE(session.start_sway(800, 600)) << session.log();
    WaylandSaver saver(session);
    ASSERT_TRUE(saver.launch({"/s"}));
    ASSERT_TRUE(session.wait_for_change(saver.process(), "", known_picture(800, 600)))
        << "the saver never drew" << saver.log();
    session.kill_compositor(SIGKILL);
    EXPECT_EQ(saver.wait_exit(5000), 1) << saver.log();
    EXPECT_NE(saver.log().find("tidefold: lost the connection"), std::string::npos) << saver.log();
    EXPECT_TRUE(saver.all_gone(1000)) << "a saver process outlived the compositor";
}

// Two outputs of unequal size side by side, each showing its own part of one wide picture.
class SwayTwoOutputs : public ::testing::Test {
protected:
    static constexpr int kRightWidth = 1024, kRightHeight = 768;

    void SetUp() override
    {
        ASSERT_TRUE(session.start_sway(kWidth, kHeight)) << session.log();
        right_name = session.add_output(kRightWidth, kRightHeight, kWidth);
        ASSERT_FALSE(right_name.empty()) << "no second output" << session.log();
        Picture layout = known_picture(kWidth + kRightWidth, kRightHeight);
        left = crop(layout, 0, 0, kWidth, kHeight);
        right = crop(layout, kWidth, 0, kRightWidth, kRightHeight);
        ASSERT_TRUE(session.set_background("HEADLESS-1", left));
        ASSERT_TRUE(session.set_background(right_name, right));
        ASSERT_TRUE(saver.launch({"/s"}));
        ASSERT_TRUE(session.wait_for_change(saver.process(), "HEADLESS-1", left))
            << "the left output never changed" << saver.log();
        ASSERT_TRUE(session.wait_for_change(saver.process(), right_name, right))
            << "the right output never changed" << saver.log();
        sleep_ms(1000);
    }

    HeadlessCompositor session;
    WaylandSaver saver{session};
    std::string right_name;
    Picture left, right;
};

TEST_F(SwayTwoOutputs, EachOutputShowsItsOwnPartRippling)
{
    expect_rippling_shots([&] { return session.screenshot("HEADLESS-1"); }, left, "the left output");
    expect_rippling_shots([&] { return session.screenshot(right_name); }, right, "the right output");
}

// A compositor that stops answering gives back no buffers; SIGTERM still ends every output's saver.
TEST_F(SwayTwoOutputs, SigtermEndsEveryOutputsSaverWhileTheCompositorIsStopped)
{
    session.kill_compositor(SIGSTOP);
    sleep_ms(500); // the savers have swapped what buffers they had by now
    saver.signal(SIGTERM);
    int status = saver.wait_exit(1000);
    bool all_gone = saver.all_gone(1000);
    session.kill_compositor(SIGCONT);
    EXPECT_EQ(status, 0) << "SIGTERM did not end the saver within a second" << saver.log();
    EXPECT_TRUE(all_gone) << "an output's saver outlived SIGTERM";
}

TEST_F(SwayTwoOutputs, OneKeyEndsEveryOutputsSaver)
{
    EXPECT_EQ(session.type({"a"}), 0);
    EXPECT_EQ(saver.wait_exit(5000), 0) << saver.log();
    EXPECT_TRUE(saver.all_gone(1000)) << "an output's saver outlived the first";
}

// Waits up to timeout_ms for the saver to run as this many processes; gives them.
std::vector<pid_t> wait_for_processes(const WaylandSaver &saver, size_t count, int timeout_ms)
{
    std::vector<pid_t> found = saver.processes();
    for (int waited = 0; found.size() != count && waited < timeout_ms; waited += 50) {
        sleep_ms(50);
        found = saver.processes();
    }
    std::sort(found.begin(), found.end());
    return found;
}

size_t new_ones(const std::vector<pid_t> &before, const std::vector<pid_t> &after)
{
    return (size_t)std::count_if(after.begin(), after.end(), [&](pid_t p) {
        return std::find(before.begin(), before.end(), p) == before.end();
    });
}

// An output created and one rescaled while the saver runs: the new one is covered by a saver of
// its own, the rescaled one's saver is replaced, and one key still ends every one with status 0.
TEST_F(SwayTwoOutputs, OutputsAddedAndRescaledAreFollowedAndOneKeyStillEndsAll)
{
    std::vector<pid_t> two = wait_for_processes(saver, 2, 1000);
    ASSERT_EQ(two.size(), 2u);
    Picture third_background = known_picture(800, 600);
    std::string third = session.add_output(800, 600, kWidth + kRightWidth);
    ASSERT_FALSE(third.empty()) << session.log();
    ASSERT_TRUE(session.set_background(third, third_background));
    EXPECT_TRUE(session.wait_for_change(saver.process(), third, third_background))
        << "the added output was never covered" << saver.log();
    std::vector<pid_t> three = wait_for_processes(saver, 3, 2000);
    EXPECT_EQ(new_ones(two, three), 1u) << "not one saver more for the added output" << saver.log();

    ASSERT_TRUE(session.swaymsg({"output", third, "scale", "2"}));
    std::vector<pid_t> rescaled = three;
    for (int waited = 0; new_ones(three, rescaled) == 0 && waited < 8000; waited += 100) {
        sleep_ms(100);
        rescaled = saver.processes();
    }
    sleep_ms(500);
    rescaled = wait_for_processes(saver, 3, 2000);
    EXPECT_EQ(new_ones(three, rescaled), 1u) << "the rescaled output's saver was not replaced alone" << saver.log();

    EXPECT_EQ(session.type({"a"}), 0);
    EXPECT_EQ(saver.wait_exit(5000), 0) << saver.log();
    EXPECT_TRUE(saver.all_gone(1000)) << "an output's saver outlived the first";
}

// Sway nested in another, its two outputs windows of the parent's: the parent closing one window
// takes that output away. Its saver alone ends, the first saver (whose output grows to the
// parent's width) goes on over the one left and waits once none is left, outputs made again are
// covered, and one key still ends every saver with status 0.
TEST(SwayNestedOutputs, AnOutputTakenAwayEndsOnlyItsSaverAndOneMadeAgainIsCovered)
{
    HeadlessCompositor parent, nested;
    ASSERT_TRUE(parent.start_sway(2 * kWidth, kHeight)) << parent.log();
    ASSERT_TRUE(nested.start_nested_sway(parent, 2)) << nested.log();
    WaylandSaver saver{nested};
    ASSERT_TRUE(saver.launch({"/s"}));
    std::vector<pid_t> two = wait_for_processes(saver, 2, 10000);
    ASSERT_EQ(two.size(), 2u) << saver.log();
    sleep_ms(1000);

    ASSERT_TRUE(parent.swaymsg({"[title=\"wlroots - WL-2\"]", "kill"}));
    std::vector<pid_t> one = wait_for_processes(saver, 1, 3000);
    EXPECT_EQ(one.size(), 1u) << "the saver of the output taken away did not end" << saver.log();
    sleep_ms(1000);
    EXPECT_TRUE(saver.running()) << "the output taken away ended the whole saver" << saver.log();

    // The last output taken away too: the saver waits, drawing nothing, and covers the next.
    ASSERT_TRUE(parent.swaymsg({"[title=\"wlroots - WL-1\"]", "kill"}));
    sleep_ms(1000);
    ASSERT_TRUE(saver.running()) << "no output left ended the saver" << saver.log();
    double cpu = cpu_seconds(saver.pid());
    sleep_ms(2000);
    EXPECT_LT(cpu_seconds(saver.pid()) - cpu, 0.1) << "CPU seconds over 2 s with no output";
    ASSERT_TRUE(nested.swaymsg({"create_output"}));
    sleep_ms(1000);
    cpu = cpu_seconds(saver.pid());
    sleep_ms(2000);
    EXPECT_GT(cpu_seconds(saver.pid()) - cpu, 0.1) << "the first saver drew nothing on the output made";
    EXPECT_EQ(saver.processes().size(), 1u) << saver.log();
    ASSERT_TRUE(nested.swaymsg({"create_output"}));
    std::vector<pid_t> again = wait_for_processes(saver, 2, 3000);
    EXPECT_EQ(again.size(), 2u) << "the output made again got no saver" << saver.log();
    sleep_ms(1000);

    EXPECT_EQ(nested.type({"a"}), 0);
    EXPECT_EQ(saver.wait_exit(5000), 0) << saver.log();
    EXPECT_TRUE(saver.all_gone(1000)) << "an output's saver outlived the first";
}

} // namespace
