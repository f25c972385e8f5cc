// Preview mode: drawing inside another program's window, and ending with it.
#include <gtest/gtest.h>

#include "harness.h"

#include <string>

namespace {

TEST(Preview, DrawsInsideAnotherClientsWindowAndEndsWhenItIsDestroyed)
{
    SaverSession s;
    ASSERT_TRUE(s.start_display(800, 600));
    Display *d = s.dpy();
    Window parent = XCreateSimpleWindow(d, DefaultRootWindow(d), 200, 150, 320, 240, 0, 0, 0);
    XMapWindow(d, parent);
    XSync(d, False);
    Picture before = s.screenshot(200, 150, 320, 240);
    ASSERT_GT(before.black_fraction(), 0.99) << "the parent starts black";

    ASSERT_TRUE(s.launch("/p " + std::to_string(parent)));
    sleep_ms(2500);
    Picture inside = s.screenshot(200, 150, 320, 240);
    // Ripples may pull in black texture from beyond the picture, but most of the window shows it.
    EXPECT_LT(inside.black_fraction(), 0.5) << "nothing was drawn in the preview window";
    sleep_ms(300);
    EXPECT_GT(inside.mean_difference(s.screenshot(200, 150, 320, 240)), 0.5) << "the preview does not move";
    // The preview never closes itself on input.
    s.move_pointer(10, 10);
    s.move_pointer(400, 300);
    s.button(1);
    s.key("a", true, true);
    EXPECT_EQ(s.wait_exit(1000), -1);

    XDestroyWindow(d, parent);
    XSync(d, False);
    EXPECT_EQ(s.wait_exit(5000), 0);
}

TEST(Preview, HandleNamingNoWindowExitsZero)
{
    SaverSession s;
    ASSERT_TRUE(s.start_display(640, 480));
    ASSERT_TRUE(s.launch("/p 12345"));
    EXPECT_EQ(s.wait_exit(5000), 0);
}

} // namespace
