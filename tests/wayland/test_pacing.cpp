// Frames on Wayland keep to the output's refresh rate and follow the compositor's frame callbacks;
// EGL never waits for one (the compositor stops answering surfaces it does not show), so while none
// comes nothing is drawn, and the saver waits for it or for input. Frames are counted as the
// surface commits the client's protocol log shows.
#include <gtest/gtest.h>

#include "compositor.h"

#include <csignal>
#include <sstream>

namespace {

// The times (ms) of the client's surface commits in a WAYLAND_DEBUG log.
std::vector<double> commit_times(const std::string &log)
{
    std::vector<double> times;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("-> wl_surface@") == std::string::npos || line.find(".commit()") == std::string::npos) continue;
        size_t open = line.find('[');
        if (open != std::string::npos) times.push_back(std::stod(line.substr(open + 1)));
    }
    return times;
}

int commits(const std::string &log) { return int(commit_times(log).size()); }

// A sway nested in another, whose window on the parent is the saver's output: the parent stops
// repainting that window while it shows an empty workspace, and so the nested sway stops sending
// the saver frame callbacks.
TEST(WaylandPacing, NothingDrawnWhileTheCompositorShowsTheSurfaceNowhere)
{
    HeadlessCompositor parent;
    ASSERT_TRUE(parent.start_sway(320, 240)) << parent.log(); // the nested output fills it
    HeadlessCompositor session;
    ASSERT_TRUE(session.start_nested_sway(parent, 1)) << session.log();
    WaylandSaver saver(session);
    ASSERT_TRUE(saver.launch({"/s"}, {"WAYLAND_DEBUG=1"}));
    sleep_ms(2000);
    ASSERT_TRUE(saver.running()) << saver.log();
    ASSERT_GT(commits(saver.log()), 10) << "the saver drew almost nothing";

    ASSERT_TRUE(parent.swaymsg({"workspace", "2"})) << parent.log();
    sleep_ms(500);
    int hidden = commits(saver.log());
    double cpu = cpu_seconds(saver.pid());
    sleep_ms(3000);
    EXPECT_LE(commits(saver.log()) - hidden, 1) << "frames drawn for a surface the compositor shows nowhere";
    // Drawing costs more than 3 % of a core on any machine; waiting costs next to nothing.
    EXPECT_LT(cpu_seconds(saver.pid()) - cpu, 0.1) << "CPU seconds over 3 s while the surface is shown nowhere";

    ASSERT_TRUE(parent.swaymsg({"workspace", "1"})) << parent.log();
    sleep_ms(1000);
    int shown = commits(saver.log());
    EXPECT_GT(shown - hidden, 10) << "frames did not go on once the surface was shown again";

    ASSERT_TRUE(parent.swaymsg({"workspace", "2"})) << parent.log();
    sleep_ms(500);
    EXPECT_EQ(session.type({"-k", "Escape"}), 0);
    EXPECT_EQ(saver.wait_exit(3000), 0) << "a key did not end the saver while its surface was shown nowhere";

    // Started while shown nowhere: the compositor never answers a frame callback, and after a
    // second's frames by the clock nothing more is drawn until it shows the surface. (The
    // photograph waits two seconds first: the output is not repainted for screen copy either.)
    WaylandSaver late(session);
    ASSERT_TRUE(late.launch({"/s"}, {"WAYLAND_DEBUG=1"}));
    sleep_ms(4500);
    ASSERT_TRUE(late.running()) << late.log();
    int before = commits(late.log());
    cpu = cpu_seconds(late.pid());
    sleep_ms(3000);
    EXPECT_LE(commits(late.log()) - before, 1) << "frames drawn for a surface never shown";
    EXPECT_LT(cpu_seconds(late.pid()) - cpu, 0.1) << "CPU seconds over 3 s for a surface never shown";
    ASSERT_TRUE(parent.swaymsg({"workspace", "1"})) << parent.log();
    sleep_ms(1000);
    EXPECT_GT(commits(late.log()) - before, 10) << "frames did not begin once the surface was shown";
    late.signal(SIGTERM);
    EXPECT_EQ(late.wait_exit(3000), 0);
}

// A small output, which software OpenGL fills hundreds of times a second when nothing holds it back.
TEST(WaylandPacing, ShowsNoMoreFramesThanTheOutputRefreshes)
{
    HeadlessCompositor session;
    ASSERT_TRUE(session.start_sway(320, 240)) << session.log();
    WaylandSaver saver(session);
    ASSERT_TRUE(saver.launch({"/s"}, {"WAYLAND_DEBUG=1"}));
    sleep_ms(4000);
    ASSERT_TRUE(saver.running()) << saver.log();
    saver.signal(SIGTERM);
    EXPECT_EQ(saver.wait_exit(5000), 0);
    std::vector<double> t = commit_times(saver.log());
    ASSERT_GT(t.size(), 10u) << "the saver drew almost nothing";
    // Two seconds from a second after the first frame: at 60 Hz, 120 frames and a little slack.
    int frames = 0;
    for (double when : t)
        if (when >= t.front() + 1000 && when < t.front() + 3000) frames++;
    EXPECT_LE(frames, 60 * 2 + 3);
    EXPECT_GE(frames, 30) << "far fewer frames than the machine can draw";
}

} // namespace
