// Frames on Wayland keep to the output's refresh rate: the saver does not wait for the compositor
// (it stops answering surfaces it does not show), so its own frame clock must hold the rate. Frames
// are counted as the surface commits the client's protocol log shows.
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
