// The cursor and the click marks drawn into real captured frames.
#include "recorder/FrameCanvas.h"
#include "recorder/ScreenGrabber.h"
#include "tests/recorder/GrabScene.h"

#include <gtest/gtest.h>

#include <memory>

using grabtest::Colour;
using grabtest::FramePixel;
using grabtest::GrabScene;

namespace {

constexpr Colour kBlue{0, 0, 255};
constexpr Colour kYellow{255, 255, 0};
constexpr Colour kMarkRed{250, 0, 0};
constexpr Colour kMarkGreen{0, 250, 0};

class GrabberOverlay : public testing::Test {
protected:
    static void SetUpTestSuite() { s_server = std::make_unique<testsupport::XvfbServer>("640x480x24"); }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override {
        ASSERT_TRUE(s_server->running());
        s_server->makeCurrent();
        m_scene = std::make_unique<GrabScene>(*s_server);
        ASSERT_TRUE(m_scene->connected());
        // Out of the way of the marks unless a test says otherwise.
        m_scene->SetCursor(4, 4, 0, 0, kBlue);
        m_scene->MovePointer(20, 20);
    }

    void AddMark(int x, int y, bool left) { m_grabber.ClickMarks().push_back({x, y, left, 0}); }

    static std::unique_ptr<testsupport::XvfbServer> s_server;
    std::unique_ptr<GrabScene> m_scene;
    CScreenGrabber m_grabber;
};

std::unique_ptr<testsupport::XvfbServer> GrabberOverlay::s_server;

TEST_F(GrabberOverlay, CursorHotSpotLandsOnThePointer) {
    const struct {
        int hotX, hotY;
    } hotSpots[] = {{3, 2}, {0, 0}};
    for (const auto& hot : hotSpots) {
        SCOPED_TRACE(testing::Message() << "hot spot " << hot.hotX << "," << hot.hotY);
        m_scene->SetCursor(8, 6, hot.hotX, hot.hotY, kBlue);
        m_scene->MovePointer(200, 150);
        ASSERT_TRUE(m_grabber.Setup());
        ASSERT_TRUE(m_grabber.Grab());
        const int left = 200 - hot.hotX;
        const int top = 150 - hot.hotY;
        EXPECT_EQ(FramePixel(m_grabber, left, top), kBlue);
        EXPECT_EQ(FramePixel(m_grabber, left + 7, top + 5), kBlue);
        EXPECT_NE(FramePixel(m_grabber, left - 1, top), kBlue);
        EXPECT_NE(FramePixel(m_grabber, left + 8, top), kBlue);
        EXPECT_NE(FramePixel(m_grabber, left, top - 1), kBlue);
        EXPECT_NE(FramePixel(m_grabber, left, top + 6), kBlue);
        m_grabber.Release();
    }
}

TEST_F(GrabberOverlay, CursorFollowsPointerAndShapeBetweenGrabs) {
    ASSERT_TRUE(m_grabber.Setup());
    m_scene->SetCursor(8, 8, 0, 0, kBlue);
    m_scene->MovePointer(100, 100);
    ASSERT_TRUE(m_grabber.Grab());
    EXPECT_EQ(FramePixel(m_grabber, 107, 107), kBlue);

    m_scene->SetCursor(12, 12, 0, 0, kYellow);
    m_scene->MovePointer(300, 200);
    ASSERT_TRUE(m_grabber.Grab());
    EXPECT_EQ(FramePixel(m_grabber, 311, 211), kYellow);
    EXPECT_NE(FramePixel(m_grabber, 107, 107), kBlue);

    // Partly off screen: clipped, the visible part still drawn.
    m_scene->MovePointer(635, 475);
    ASSERT_TRUE(m_grabber.Grab());
    EXPECT_EQ(FramePixel(m_grabber, 639, 479), kYellow);
}

TEST_F(GrabberOverlay, ClickMarkGrowsForFiveGrabsThenGoes) {
    const struct {
        bool left;
        Colour colour;
    } buttons[] = {{true, kMarkRed}, {false, kMarkGreen}};
    ASSERT_TRUE(m_grabber.Setup());
    for (const auto& button : buttons) {
        SCOPED_TRACE(button.left ? "left" : "right");
        const int x = 300;
        const int y = 200;
        AddMark(x, y, button.left);
        for (int diameter = 0; diameter <= 20; diameter += 5) {
            SCOPED_TRACE(testing::Message() << "diameter " << diameter);
            ASSERT_TRUE(m_grabber.Grab());
            const int r = diameter / 2;
            EXPECT_EQ(FramePixel(m_grabber, x + r, y), button.colour);
            EXPECT_EQ(FramePixel(m_grabber, x - r, y), button.colour);
            EXPECT_EQ(FramePixel(m_grabber, x, y + r), button.colour);
            EXPECT_EQ(FramePixel(m_grabber, x, y - r), button.colour);
            EXPECT_NE(FramePixel(m_grabber, x + r + 2, y), button.colour);
            if (diameter > 0) {
                EXPECT_NE(FramePixel(m_grabber, x, y), button.colour) << "an outline, not a disc";
            }
            if (diameter < 20) {
                EXPECT_EQ(m_grabber.ClickMarks().front().size, diameter + 5);
            }
        }
        EXPECT_TRUE(m_grabber.ClickMarks().empty());
        ASSERT_TRUE(m_grabber.Grab());
        EXPECT_NE(FramePixel(m_grabber, x + 10, y), button.colour);
    }
}

TEST_F(GrabberOverlay, OnlyTheOlderOfTwoGrownMarksGoesPerGrab) {
    ASSERT_TRUE(m_grabber.Setup());
    AddMark(200, 200, true);
    AddMark(400, 200, false);
    for (int grab = 0; grab < 5; ++grab)
        ASSERT_TRUE(m_grabber.Grab());
    ASSERT_EQ(m_grabber.ClickMarks().size(), 1u);
    EXPECT_FALSE(m_grabber.ClickMarks().front().left);
    EXPECT_EQ(m_grabber.ClickMarks().front().size, 25);

    ASSERT_TRUE(m_grabber.Grab());
    EXPECT_EQ(FramePixel(m_grabber, 412, 200), kMarkGreen); // diameter 25
    EXPECT_NE(FramePixel(m_grabber, 210, 200), kMarkRed);
    EXPECT_TRUE(m_grabber.ClickMarks().empty());
}

TEST_F(GrabberOverlay, CircleIsDrawnOverTheCursor) {
    m_scene->SetCursor(20, 20, 0, 0, kBlue);
    m_scene->MovePointer(300, 300);
    ASSERT_TRUE(m_grabber.Setup());
    AddMark(310, 310, true);
    for (int grab = 0; grab < 3; ++grab) // diameter 10 on the third
        ASSERT_TRUE(m_grabber.Grab());
    EXPECT_EQ(FramePixel(m_grabber, 315, 310), kMarkRed);
    EXPECT_EQ(FramePixel(m_grabber, 310, 310), kBlue);
}

TEST_F(GrabberOverlay, MarksOutliveReleaseAndAgeInTheNextRecording) {
    ASSERT_TRUE(m_grabber.Setup());
    AddMark(100, 300, true);
    m_grabber.Release();
    ASSERT_EQ(m_grabber.ClickMarks().size(), 1u);
    ASSERT_TRUE(m_grabber.Setup());
    ASSERT_TRUE(m_grabber.Grab());
    EXPECT_EQ(FramePixel(m_grabber, 100, 300), kMarkRed);
    EXPECT_EQ(m_grabber.ClickMarks().front().size, 5);
}

TEST_F(GrabberOverlay, GrabBeforeSetupNeitherCapturesNorAges) {
    AddMark(100, 100, true);
    EXPECT_FALSE(m_grabber.Grab());
    EXPECT_EQ(m_grabber.ClickMarks().front().size, 0);
}

TEST(GrabberPalette, EightBitOverlaysTakeTheNearestTableColour) {
    testsupport::XvfbServer server("640x480x8");
    ASSERT_TRUE(server.running());
    server.makeCurrent();
    GrabScene scene(server);
    ASSERT_TRUE(scene.connected());
    // Puts pure red and blue into the colormap; the circle's (250,0,0) is nearest to red.
    scene.FillRect(600, 0, 10, 10, {255, 0, 0});
    scene.FillRect(620, 0, 10, 10, kBlue);
    scene.SetCursor(6, 6, 0, 0, kBlue);
    scene.MovePointer(50, 50);
    CScreenGrabber grabber;
    ASSERT_TRUE(grabber.Setup());
    grabber.ClickMarks().push_back({200, 200, true, 10});
    ASSERT_TRUE(grabber.Grab());
    EXPECT_EQ(FramePixel(grabber, 55, 55), kBlue);
    EXPECT_EQ(FramePixel(grabber, 205, 200), (Colour{255, 0, 0}));
}

TEST(CursorBlend, PremultipliedSourceOverOpaqueFrame) {
    EXPECT_EQ(BlendPremultiplied(0xFF102030, {200, 100, 0}), (Rgb{0x10, 0x20, 0x30}));
    EXPECT_EQ(BlendPremultiplied(0x00000000, {200, 100, 7}), (Rgb{200, 100, 7}));
    // Half-transparent white: half of it, plus half of what lies below.
    EXPECT_EQ(BlendPremultiplied(0x80808080, {0, 0, 0}), (Rgb{128, 128, 128}));
    EXPECT_EQ(BlendPremultiplied(0x80808080, {200, 100, 255}), (Rgb{228, 178, 255}));
}

} // namespace
