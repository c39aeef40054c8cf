// Two monitors side by side on one root window: only the primary is recorded.
#include "recorder/ScreenGrabber.h"
#include "tests/recorder/GrabScene.h"

#include <gtest/gtest.h>

using grabtest::Colour;
using grabtest::FramePixel;
using grabtest::GrabScene;

namespace {

TEST(GrabberMonitors, PrimaryMonitorOnTheRightIsCapturedAndEverythingTranslated) {
    const Colour green{0, 255, 0};
    const Colour white{255, 255, 255};
    const Colour blue{0, 0, 255};
    const Colour markRed{250, 0, 0};
    GrabScene scene("1280x480x24");
    ASSERT_TRUE(scene.ready());
    ASSERT_EQ(testsupport::runOnDisplay(scene.server(),
                                        "xrandr --setmonitor '*right' 640/169x480/127+640+0 none"
                                        " && xrandr --setmonitor left 640/169x480/127+0+0 none"),
              0);
    scene.FillRect(700, 100, 20, 20, green); // on the primary, at (60, 100) in it
    scene.FillRect(60, 300, 20, 20, white);  // on the other monitor only
    scene.SetCursor(5, 5, 0, 0, blue);
    scene.MovePointer(650, 20);

    CScreenGrabber grabber;
    ASSERT_TRUE(grabber.Setup());
    ASSERT_EQ(grabber.Header()->biWidth, 640);
    ASSERT_EQ(grabber.Header()->biHeight, 480);
    grabber.ClickMarks().push_back({660, 400, true, 0});
    grabber.ClickMarks().push_back({100, 400, true, 0}); // clicked on the other monitor
    ASSERT_TRUE(grabber.Grab());
    EXPECT_EQ(FramePixel(grabber, 60, 100), green);
    EXPECT_EQ(FramePixel(grabber, 79, 119), green);
    EXPECT_NE(FramePixel(grabber, 60, 300), white);
    EXPECT_EQ(FramePixel(grabber, 10, 20), blue);
    EXPECT_NE(FramePixel(grabber, 9, 20), blue);
    EXPECT_EQ(FramePixel(grabber, 20, 400), markRed);
    EXPECT_NE(FramePixel(grabber, 100, 400), markRed);

    // A pointer on the other monitor leaves no cursor in the frame.
    scene.MovePointer(100, 20);
    ASSERT_TRUE(grabber.Grab());
    EXPECT_NE(FramePixel(grabber, 100, 20), blue);
    EXPECT_NE(FramePixel(grabber, 10, 20), blue);
}

} // namespace
