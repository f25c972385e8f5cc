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

const std::string kWholeOutput = "(0, 0) -> (" + std::to_string(kWidth) + ", " + std::to_string(kHeight) + ")";

// Waits up to 15 s for a toplevel of client to cover the output; where its first toplevel lies.
std::string wait_for_cover(HeadlessCompositor &session, Process &client)
{
    std::string place;
    for (int waited = 0; (place = toplevel_place(session.scene_graph(), client.pid())) != kWholeOutput; waited += 200) {
        if (waited >= 15000 || !client.running()) break;
        sleep_ms(200);
    }
    return place;
}

// The rig itself: a plain fullscreen client is seen covering the output.
TEST(WestonRig, AFullscreenClientIsSeenCoveringTheOutput)
{
    HeadlessCompositor session;
    ASSERT_TRUE(session.start_weston(kWidth, kHeight)) << session.log();
    Process client;
    ASSERT_TRUE(client.start({"weston-simple-egl", "-f"}, session.client_env(), true, session.home.user));
    EXPECT_EQ(wait_for_cover(session, client), kWholeOutput) << session.scene_graph();
}

TEST(WestonSaver, CoversTheOutputWithAFullscreenToplevelAndEndsOnSigterm)
{
    HeadlessCompositor session;
    ASSERT_TRUE(session.start_weston(kWidth, kHeight)) << session.log();
    WaylandSaver saver(session);
    ASSERT_TRUE(saver.launch({"/s"}));
    EXPECT_EQ(wait_for_cover(session, saver.process()), kWholeOutput) << "no toplevel of the saver covers the output\n"
                                                                       << session.scene_graph() << saver.log();
    EXPECT_EQ(saver.wait_exit(1000), -1) << "the saver ended by itself" << saver.log();
    saver.signal(SIGTERM);
    EXPECT_EQ(saver.wait_exit(5000), 0) << saver.log();
}

// Weston stops answering (stopped, or wedged) while the saver runs: SIGTERM still ends it.
TEST(WestonSaver, SigtermEndsItWhileWestonIsStopped)
{
    HeadlessCompositor session;
    ASSERT_TRUE(session.start_weston(kWidth, kHeight)) << session.log();
    WaylandSaver saver(session);
    ASSERT_TRUE(saver.launch({"/s"}));
    ASSERT_EQ(wait_for_cover(session, saver.process()), kWholeOutput) << saver.log();
    sleep_ms(500);
    session.kill_compositor(SIGSTOP);
    sleep_ms(500);
    saver.signal(SIGTERM);
    int status = saver.wait_exit(1000);
    session.kill_compositor(SIGCONT);
    EXPECT_EQ(status, 0) << "SIGTERM did not end the saver within a second" << saver.log();
}

} // namespace
