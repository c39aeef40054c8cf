// Two monitors side by side on one root window: only the primary is recorded.
#include "recorder/ScreenGrabber.h"
#include "tests/recorder/GrabScene.h"

#include <gtest/gtest.h>

using grabtest::Colour;
using grabtest::FramePixel;
using grabtest::GrabScene;

namespace {

constexpr Colour kGreen{0, 255, 0};
constexpr Colour kWhite{255, 255, 255};
constexpr Colour kBlue{0, 0, 255};
constexpr Colour kMarkRed{250, 0, 0};

TEST(GrabberMonitors, PrimaryMonitorOnTheRightIsCapturedAndEverythingTranslated) {
    testsupport::XvfbServer server("1280x480x24");
    ASSERT_TRUE(server.running());
    server.makeCurrent();
    ASSERT_EQ(testsupport::runOnDisplay(server, "xrandr --setmonitor '*right' 640/169x480/127+640+0 none"
                                                " && xrandr --setmonitor left 640/169x480/127+0+0 none"),
              0);
    GrabScene scene(server);
    ASSERT_TRUE(scene.connected());
    scene.FillRect(700, 100, 20, 20, kGreen); // on the primary, at (60, 100) in it
    scene.FillRect(60, 300, 20, 20, kWhite);  // on the other monitor only
    scene.SetCursor(5, 5, 0, 0, kBlue);
    scene.MovePointer(650, 20);

    CScreenGrabber grabber;
    ASSERT_TRUE(grabber.Setup());
    ASSERT_EQ(grabber.Header()->biWidth, 640);
    ASSERT_EQ(grabber.Header()->biHeight, 480);
    grabber.ClickMarks().push_back({660, 400, true, 0});
    grabber.ClickMarks().push_back({100, 400, true, 0}); // clicked on the other monitor
    ASSERT_TRUE(grabber.Grab());

    EXPECT_EQ(FramePixel(grabber, 60, 100), kGreen);
    EXPECT_EQ(FramePixel(grabber, 79, 119), kGreen);
    EXPECT_NE(FramePixel(grabber, 60, 300), kWhite);
    EXPECT_EQ(FramePixel(grabber, 10, 20), kBlue);
    EXPECT_NE(FramePixel(grabber, 9, 20), kBlue);
    EXPECT_EQ(FramePixel(grabber, 20, 400), kMarkRed);
    EXPECT_NE(FramePixel(grabber, 100, 400), kMarkRed);

    // A pointer on the other monitor leaves no cursor in the frame.
    scene.MovePointer(100, 20);
    ASSERT_TRUE(grabber.Grab());
    EXPECT_NE(FramePixel(grabber, 100, 20), kBlue);
    EXPECT_NE(FramePixel(grabber, 10, 20), kBlue);
}

TEST(GrabberMonitors, WithoutPrimaryTheWholeRootIsCaptured) {
    testsupport::XvfbServer server("1280x480x24");
    ASSERT_TRUE(server.running());
    server.makeCurrent();
    ASSERT_EQ(testsupport::runOnDisplay(server, "xrandr --setmonitor right 640/169x480/127+640+0 none"), 0);
    CScreenGrabber grabber;
    ASSERT_TRUE(grabber.Setup());
    EXPECT_EQ(grabber.Header()->biWidth, 1280);
    EXPECT_EQ(grabber.Header()->biHeight, 480);
}

} // namespace
