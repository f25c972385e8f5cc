// The saver where the compositor offers neither layer shell nor screencopy: weston's headless
// backend. There the saver covers the output with a fullscreen toplevel; weston takes no
// screenshots headless and has no virtual keyboard, so the scene graph its debug stream prints
// tells where the saver's surface lies, and a signal ends it.
#include <gtest/gtest.h>

#include "compositor.h"

namespace {

constexpr int kWidth = 1024, kHeight = 768;

// The place of the first toplevel view of client pid in a weston scene graph, as the graph
// prints it ("(0, 0) -> (1024, 768)"); "" when it has none.
std::string toplevel_place(const std::string &graph, pid_t pid)
{
    size_t view = graph.find("role xdg_toplevel, PID " + std::to_string(pid) + ",");
    size_t place = graph.find("position: ", view);
    if (view == std::string::npos || place == std::string::npos) return "";
    place += 10;
    return graph.substr(place, graph.find('\n', place) - place);
}

TEST(WestonSaver, CoversTheOutputWithAFullscreenToplevelAndEndsOnSigterm)
{
    HeadlessCompositor session;
    ASSERT_TRUE(session.start_weston(kWidth, kHeight)) << session.log();
    WaylandSaver saver(session);
    ASSERT_TRUE(saver.launch({"/s"}));
    const std::string whole_output = "(0, 0) -> (" + std::to_string(kWidth) + ", " + std::to_string(kHeight) + ")";
    std::string place;
    for (int waited = 0; (place = toplevel_place(session.scene_graph(), saver.pid())) != whole_output; waited += 200) {
        if (waited >= 15000 || !saver.running()) break;
        sleep_ms(200);
    }
    EXPECT_EQ(place, whole_output) << "no toplevel of the saver covers the output\n"
                                   << session.scene_graph() << saver.log();
    EXPECT_EQ(saver.wait_exit(1000), -1) << "the saver ended by itself" << saver.log();
    saver.signal(SIGTERM);
    EXPECT_EQ(saver.wait_exit(5000), 0) << saver.log();
}

} // namespace
