// The rig the saver's tests stand on, with a plain client in the saver's place: keys typed with
// wtype and the input driver's motion, buttons, wheel and keys reach weston's event demo under sway.
#include <gtest/gtest.h>

#include "compositor.h"

#include <cstdio>
#include <sstream>

namespace {

// The x, y of every pointer motion the event demo logged.
std::vector<std::pair<double, double>> motions(const std::string &log)
{
    std::vector<std::pair<double, double>> found;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        unsigned time;
        double x, y;
        if (sscanf(line.c_str(), "motion time: %u, x: %lf, y: %lf", &time, &x, &y) == 3) found.push_back({x, y});
    }
    return found;
}

TEST(SwayRig, KeysAndTheVirtualDevicesReachAPlainClient)
{
    HeadlessCompositor session;
    ASSERT_TRUE(session.start_sway(800, 600)) << session.log();
    InputDriver input;
    ASSERT_TRUE(input.start(session)) << "no virtual pointer or keyboard";
    Process demo;
    const std::string log = session.home.home + "/demo.log";
    ASSERT_TRUE(demo.start({"stdbuf", "-oL", "weston-eventdemo", "--log-key", "--log-button", "--log-axis", "--log-motion"},
                           session.client_env(), true, session.home.user, log, session.home.home));
    ASSERT_TRUE(session.wait_for_change(demo, "", known_picture(800, 600))) << "the event demo never showed";
    ASSERT_TRUE(input.move(5, 5));
    ASSERT_TRUE(input.move(11, -3));
    ASSERT_TRUE(input.click(273));
    ASSERT_TRUE(input.wheel(1));
    ASSERT_TRUE(input.key("b"));
    EXPECT_EQ(session.type({"a"}), 0);
    sleep_ms(300);
    std::string text = read_file(log);
    auto moved = motions(text);
    ASSERT_EQ(moved.size(), 2u) << text;
    EXPECT_EQ(moved[1].first - moved[0].first, 11) << "motion is not in whole pixels, unaccelerated";
    EXPECT_EQ(moved[1].second - moved[0].second, -3);
    EXPECT_NE(text.find("button: 273, state: pressed"), std::string::npos) << text;
    EXPECT_NE(text.find("button: 273, state: released"), std::string::npos) << text;
    EXPECT_NE(text.find("axis: vertical, value: 15.0"), std::string::npos) << text;
    EXPECT_NE(text.find("unicode: 98, state: pressed"), std::string::npos) << text;
    EXPECT_NE(text.find("unicode: 97, state: pressed"), std::string::npos) << text;
}

} // namespace
