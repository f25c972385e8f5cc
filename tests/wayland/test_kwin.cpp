// The saver under KDE Plasma's compositor, KWin, which has no screencopy: the photograph comes from
// KWin's own screenshot service, which serves the saver because its desktop entry asks for it.
#include <gtest/gtest.h>

#include "compositor.h"
#include "rippling.h"

namespace {

constexpr int kWidth = 1024, kHeight = 768;

// KWin has no virtual keyboard for a test client, so a signal ends the run.
TEST(KWinSaver, RipplesThePhotographFromKWinsScreenshotServiceAndEndsOnSigterm)
{
    HeadlessCompositor session;
    std::string why_not;
    if (!session.start_kwin(kWidth, kHeight, &why_not)) {
        if (!why_not.empty()) GTEST_SKIP() << why_not;
        FAIL() << "KWin did not start" << session.log();
    }
    WaylandSaver saver(session);
    ASSERT_TRUE(saver.launch({"/s"}));
    ASSERT_TRUE(session.wait_for_change(saver.process(), "", known_picture(kWidth, kHeight)))
        << "the saver did not cover the output" << saver.log() << session.log();
    expect_rippling_shots([&] { return session.screenshot(); }, known_picture(kWidth, kHeight), "the saver under KWin");
    saver.signal(SIGTERM);
    EXPECT_EQ(saver.wait_exit(5000), 0) << saver.log();
    EXPECT_TRUE(saver.all_gone(2000));
}

} // namespace
