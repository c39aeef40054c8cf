// Two monitors side by side on one root window: the primary is recorded unless
// another monitor, all screens or a region is chosen.
#include "recorder/ScreenGrabber.h"
#include "tests/recorder/GrabScene.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using grabtest::Colour;
using grabtest::FramePixel;
using grabtest::GrabScene;

namespace {

const Colour green{0, 255, 0};
const Colour white{255, 255, 255};
const Colour markRed{250, 0, 0};

// The primary monitor "right" beside "left", each 640 x 480, with a green square
// on the primary at (60, 100) in it and a white one on the other at (60, 300).
class TwoMonitors : public GrabScene {
public:
    TwoMonitors() : GrabScene("1280x480x24") {
        m_monitorsSet = GrabScene::ready() &&
                        testsupport::runOnDisplay(
                            server(), "xrandr --setmonitor '*right' 640/169x480/127+640+0 none"
                                      " && xrandr --setmonitor left 640/169x480/127+0+0 none") == 0;
        if (!m_monitorsSet)
            return;
        FillRect(700, 100, 20, 20, green);
        FillRect(60, 300, 20, 20, white);
    }
    bool ready() const { return GrabScene::ready() && m_monitorsSet; }

private:
    bool m_monitorsSet = false;
};

TEST(GrabberMonitors, PrimaryMonitorOnTheRightIsCapturedAndEverythingTranslated) {
    const Colour blue{0, 0, 255};
    TwoMonitors scene;
    ASSERT_TRUE(scene.ready());
    scene.SetCursor(5, 5, 0, 0, blue);
    scene.MovePointer(650, 20);

    CScreenGrabber grabber;
    ASSERT_TRUE(grabber.Setup());
    ASSERT_EQ(grabber.Header()->biWidth, 640);
    ASSERT_EQ(grabber.Header()->biHeight, 480);
    grabber.AddClickMark({660, 400, true, 0});
    grabber.AddClickMark({100, 400, true, 0}); // pressed on the other monitor
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

AreaChoice Area(AreaKind kind, std::string monitor = {}, AreaRegion region = {}) {
    AreaChoice choice;
    choice.kind = kind;
    choice.monitor = std::move(monitor);
    choice.region = region;
    return choice;
}

TEST(GrabberMonitors, ChosenAreaIsCapturedEvenSizedAndWhatCannotBeHadFallsBack) {
    TwoMonitors scene;
    ASSERT_TRUE(scene.ready());
    CScreenGrabber grabber;

    grabber.SetArea(Area(AreaKind::Monitor, "left"));
    ASSERT_TRUE(grabber.Setup());
    EXPECT_EQ(grabber.LastAreaFallback(), AreaFallback::Kept);
    EXPECT_EQ(grabber.Header()->biWidth, 640);
    ASSERT_TRUE(grabber.Grab());
    EXPECT_EQ(FramePixel(grabber, 60, 300), white);

    grabber.SetArea(Area(AreaKind::All));
    ASSERT_TRUE(grabber.Setup());
    EXPECT_EQ(grabber.Header()->biWidth, 1280);
    ASSERT_TRUE(grabber.Grab());
    EXPECT_EQ(FramePixel(grabber, 700, 100), green);
    EXPECT_EQ(FramePixel(grabber, 60, 300), white);

    // Odd sizes are cut to even ones; a press inside is marked where it is in
    // the region, one just outside leaves not even the edge of a circle.
    grabber.SetArea(Area(AreaKind::Region, {}, {650, 90, 101, 51}));
    ASSERT_TRUE(grabber.Setup());
    EXPECT_EQ(grabber.Header()->biWidth, 100);
    EXPECT_EQ(grabber.Header()->biHeight, 50);
    grabber.AddClickMark({700, 130, true, 0});
    grabber.AddClickMark({649, 100, true, 0});
    ASSERT_TRUE(grabber.Grab());
    EXPECT_EQ(FramePixel(grabber, 50, 10), green);
    EXPECT_EQ(FramePixel(grabber, 50, 40), markRed);
    ASSERT_TRUE(grabber.Grab());
    ASSERT_TRUE(grabber.Grab()); // the circles have grown to 10 pixels across
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_NE(FramePixel(grabber, x, y), markRed) << x << "," << y;

    for (const auto& [choice, fallback] :
         {std::pair{Area(AreaKind::Monitor, "HDMI-9"), AreaFallback::UnknownMonitor},
          std::pair{Area(AreaKind::Region, {}, {2000, 0, 100, 100}), AreaFallback::RegionOffScreen},
          std::pair{Area(AreaKind::Region), AreaFallback::RegionOffScreen}}) {
        grabber.SetArea(choice);
        ASSERT_TRUE(grabber.Setup());
        EXPECT_EQ(grabber.LastAreaFallback(), fallback);
        ASSERT_TRUE(grabber.Grab());
        EXPECT_EQ(FramePixel(grabber, 60, 100), green) << "the primary monitor instead";
    }
}

} // namespace
