// What the grabber does when the X server is missing, goes away, changes under
// it or has a pixel format no frame layout can carry: report false, never crash.
#include "recorder/ScreenGrabber.h"
#include "tests/recorder/GrabScene.h"

#include <gtest/gtest.h>

// After gtest: Xlib's macros would clash with its names.
#include <X11/Xlib.h>

#include <cstdlib>

namespace {

TEST(GrabberFailure, NoXServerMeansNoSetup) {
    testsupport::XvfbServer server("320x200x24");
    server.makeCurrent();
    server.stop(); // DISPLAY now names a server that is gone
    CScreenGrabber grabber;
    EXPECT_FALSE(grabber.Setup());
    EXPECT_EQ(grabber.Header(), nullptr);
    EXPECT_FALSE(grabber.Grab());
    unsetenv("DISPLAY");
    EXPECT_FALSE(grabber.Setup());
}

TEST(GrabberFailure, ServerGoneDuringRecordingFailsGrabsAndReleasesCleanly) {
    testsupport::XvfbServer server("640x480x24");
    ASSERT_TRUE(server.running());
    server.makeCurrent();
    CScreenGrabber grabber;
    ASSERT_TRUE(grabber.Setup());
    ASSERT_TRUE(grabber.Grab());
    grabber.ClickMarks().push_back({10, 10, true, 0});
    server.stop();
    EXPECT_FALSE(grabber.Grab());
    EXPECT_FALSE(grabber.Grab());
    // The last good frame stays for the writer.
    ASSERT_NE(grabber.Header(), nullptr);
    EXPECT_EQ(grabber.Header()->biWidth, 640);
    EXPECT_EQ(grabber.ClickMarks().front().size, 10);
    grabber.Release();
    grabber.Release();
    EXPECT_FALSE(grabber.Setup());
}

TEST(GrabberFailure, ScreenShrunkDuringRecordingFailsGrabsUntilSetUpAgain) {
    grabtest::GrabScene scene("640x480x24");
    ASSERT_TRUE(scene.ready());
    CScreenGrabber grabber;
    ASSERT_TRUE(grabber.Setup());
    ASSERT_TRUE(grabber.Grab());
    // xrandr complains about the output but shrinks the screen all the same; as
    // wide as before, so that rows it still has could be read.
    testsupport::runOnDisplay(scene.server(), "xrandr --fb 640x200 2>/dev/null");
    EXPECT_FALSE(grabber.Grab()); // the server refuses a rectangle it no longer has
    ASSERT_TRUE(grabber.Setup());
    EXPECT_EQ(grabber.Header()->biHeight, 200);
    EXPECT_TRUE(grabber.Grab());
}

// In a fresh process, so that the grabber's handler is installed after the
// program's own one, as in the dialog program.
TEST(GrabberFailure, ErrorsOfOtherConnectionsStillReachTheProgramsHandler) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static int programErrors = 0;
            XSetErrorHandler([](Display*, XErrorEvent*) {
                ++programErrors;
                return 0;
            });
            // Stopped before exit: it would otherwise hold the child's pipe to gtest.
            testsupport::XvfbServer server("320x200x24");
            server.makeCurrent();
            CScreenGrabber grabber;
            bool passed = grabber.Setup();
            Display* other = XOpenDisplay(nullptr);
            if (passed && other) {
                XMapWindow(other, 0x7FFFFF); // no such window
                XSync(other, False);
                passed = programErrors == 1 && grabber.Grab();
            }
            server.stop();
            std::_Exit(passed ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(GrabberFailure, DirectColourRootCannotBeConverted) {
    grabtest::GrabScene scene("320x200x24", {"-cc", "5"});
    ASSERT_TRUE(scene.ready());
    CScreenGrabber grabber;
    EXPECT_FALSE(grabber.Setup());
    EXPECT_EQ(grabber.Header(), nullptr);
}

} // namespace
