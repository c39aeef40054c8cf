// The cursor and the click marks drawn into real captured frames.
#include "recorder/ScreenGrabber.h"
#include "recorder/media/FrameCanvas.h"
#include "tests/recorder/GrabScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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
    static void SetUpTestSuite() { s_scene = std::make_unique<GrabScene>("640x480x24"); }
    static void TearDownTestSuite() { s_scene.reset(); }

    void SetUp() override {
        ASSERT_TRUE(s_scene->ready());
        s_scene->server().makeCurrent();
        // Out of the way of the marks unless a test says otherwise.
        s_scene->SetCursor(4, 4, 0, 0, kBlue);
        s_scene->MovePointer(20, 20);
        ASSERT_TRUE(m_grabber.Setup());
    }

    void AddMark(int x, int y, bool left) { m_grabber.ClickMarks().push_back({x, y, left, 0}); }

    static std::unique_ptr<GrabScene> s_scene;
    CScreenGrabber m_grabber;
};

std::unique_ptr<GrabScene> GrabberOverlay::s_scene;

TEST_F(GrabberOverlay, CursorHotSpotLandsOnThePointer) {
    for (const int hotSpot : {0, 3}) {
        SCOPED_TRACE(testing::Message() << "hot spot " << hotSpot);
        s_scene->SetCursor(8, 6, hotSpot, hotSpot, kBlue);
        s_scene->MovePointer(200, 150);
        ASSERT_TRUE(m_grabber.Grab());
        const int left = 200 - hotSpot;
        const int top = 150 - hotSpot;
        EXPECT_EQ(FramePixel(m_grabber, left, top), kBlue);
        EXPECT_EQ(FramePixel(m_grabber, left + 7, top + 5), kBlue);
        EXPECT_NE(FramePixel(m_grabber, left - 1, top), kBlue);
        EXPECT_NE(FramePixel(m_grabber, left, top - 1), kBlue);
        EXPECT_NE(FramePixel(m_grabber, left + 8, top + 6), kBlue);
    }
}

// For the conversion, the frame says which rows may differ from the last one: where
// the cursor and the circles were as well as where they are.
TEST_F(GrabberOverlay, ChangedRowsHoldWhereCursorAndMarksWereAndAre) {
    FrameBuffer frame;
    ASSERT_TRUE(frame.Allocate(640, 480, 32));
    s_scene->MovePointer(300, 100);
    AddMark(100, 300, true);
    ASSERT_TRUE(m_grabber.Grab());
    s_scene->MovePointer(300, 200);
    ASSERT_TRUE(m_grabber.Grab());
    m_grabber.ExchangeFrame(frame);
    const RowBands& rows = frame.changedRows();
    for (const int row : {100, 103, 200, 203, 297, 303})
        EXPECT_TRUE(rows.Covers(row)) << row;
    for (const int row : {0, 150, 250, 400, 479})
        EXPECT_FALSE(rows.Covers(row)) << row;
}

// A grab into a frame handed back after other grabs brings every stale row up to
// date: what was drawn since, and where its cursor was.
TEST_F(GrabberOverlay, FrameHandedBackAfterOtherGrabsShowsWhatAFreshGrabShows) {
    FrameBuffer kept;
    ASSERT_TRUE(kept.Allocate(640, 480, 32));
    s_scene->MovePointer(100, 100);
    ASSERT_TRUE(m_grabber.Grab());
    m_grabber.ExchangeFrame(kept);
    s_scene->FillRect(560, 200, 30, 10, kYellow);
    s_scene->MovePointer(300, 300);
    ASSERT_TRUE(m_grabber.Grab());
    s_scene->FillRect(560, 400, 30, 10, kYellow);
    ASSERT_TRUE(m_grabber.Grab());
    m_grabber.ExchangeFrame(kept);
    ASSERT_TRUE(m_grabber.Grab());
    CScreenGrabber fresh;
    ASSERT_TRUE(fresh.Setup());
    ASSERT_TRUE(fresh.Grab());
    EXPECT_EQ(FramePixel(m_grabber, 100, 100), FramePixel(fresh, 100, 100));
    EXPECT_EQ(std::memcmp(m_grabber.Pixels(), fresh.Pixels(), fresh.Header()->biSizeImage), 0);
}

TEST_F(GrabberOverlay, CursorFollowsPointerAndShapeBetweenGrabs) {
    s_scene->SetCursor(12, 12, 0, 0, kYellow);
    s_scene->MovePointer(300, 200);
    ASSERT_TRUE(m_grabber.Grab());
    EXPECT_EQ(FramePixel(m_grabber, 311, 211), kYellow);
    EXPECT_NE(FramePixel(m_grabber, 20, 20), kBlue);
    // Partly off screen: clipped, the visible part still drawn.
    s_scene->MovePointer(635, 475);
    ASSERT_TRUE(m_grabber.Grab());
    EXPECT_EQ(FramePixel(m_grabber, 639, 479), kYellow);
}

TEST_F(GrabberOverlay, ClickMarkGrowsForFiveGrabsThenGoes) {
    for (const bool left : {true, false}) {
        SCOPED_TRACE(left ? "left" : "right");
        const Colour colour = left ? kMarkRed : kMarkGreen;
        AddMark(300, 200, left);
        for (int diameter = 0; diameter <= 20; diameter += 5) {
            SCOPED_TRACE(testing::Message() << "diameter " << diameter);
            ASSERT_TRUE(m_grabber.Grab());
            const int radius = diameter / 2;
            EXPECT_EQ(FramePixel(m_grabber, 300 + radius, 200), colour);
            EXPECT_EQ(FramePixel(m_grabber, 300, 200 - radius), colour);
            EXPECT_NE(FramePixel(m_grabber, 300 + radius + 2, 200), colour);
            EXPECT_EQ(FramePixel(m_grabber, 300, 200) == colour, diameter == 0)
                << "an outline, not a disc";
        }
        EXPECT_TRUE(m_grabber.ClickMarks().empty());
        ASSERT_TRUE(m_grabber.Grab());
        EXPECT_NE(FramePixel(m_grabber, 310, 200), colour);
    }
}

TEST_F(GrabberOverlay, OnlyTheOlderOfTwoGrownMarksGoesPerGrab) {
    AddMark(200, 200, true);
    AddMark(400, 200, false);
    for (int grab = 0; grab < 5; ++grab)
        ASSERT_TRUE(m_grabber.Grab());
    ASSERT_EQ(m_grabber.ClickMarks().size(), 1u);
    EXPECT_FALSE(m_grabber.ClickMarks().front().left);
    ASSERT_TRUE(m_grabber.Grab());
    EXPECT_EQ(FramePixel(m_grabber, 412, 200), kMarkGreen); // diameter 25
    EXPECT_TRUE(m_grabber.ClickMarks().empty());
}

TEST_F(GrabberOverlay, CircleIsDrawnOverTheCursor) {
    s_scene->SetCursor(20, 20, 0, 0, kBlue);
    s_scene->MovePointer(300, 300);
    AddMark(310, 310, true);
    for (int grab = 0; grab < 3; ++grab) // diameter 10 on the third
        ASSERT_TRUE(m_grabber.Grab());
    EXPECT_EQ(FramePixel(m_grabber, 315, 310), kMarkRed);
    EXPECT_EQ(FramePixel(m_grabber, 310, 310), kBlue);
}

// Without damage notices each grab compares the whole screen with the last one:
// what was drawn is in the frame, and only its rows and columns count as changed.
TEST(GrabberWithoutDamage, OnlyWhatWasDrawnCountsAsChanged) {
    GrabScene scene("320x240x24", {"-extension", "DAMAGE"});
    ASSERT_TRUE(scene.ready());
    scene.SetCursor(4, 4, 0, 0, kBlue);
    scene.MovePointer(10, 10);
    CScreenGrabber grabber;
    ASSERT_TRUE(grabber.Setup());
    ASSERT_TRUE(grabber.Grab());
    scene.FillRect(200, 100, 40, 20, kYellow);
    ASSERT_TRUE(grabber.Grab());
    EXPECT_EQ(FramePixel(grabber, 239, 119), kYellow);
    FrameBuffer frame;
    ASSERT_TRUE(frame.Allocate(320, 240, 32));
    grabber.ExchangeFrame(frame);
    const RowBands& rows = frame.changedRows();
    for (const int row : {50, 99, 120, 239})
        EXPECT_FALSE(rows.Covers(row)) << row;
    const auto drawn = std::find_if(rows.bands().begin(), rows.bands().end(),
                                    [](const RowBands::Band& band) { return band.top == 100; });
    ASSERT_NE(drawn, rows.bands().end());
    EXPECT_EQ(drawn->bottom, 120);
    // Compared in steps of 16 pixels.
    EXPECT_GT(drawn->left, 200 - 16);
    EXPECT_LE(drawn->left, 200);
    EXPECT_GE(drawn->right, 240);
    EXPECT_LT(drawn->right, 240 + 16);
}

TEST(CursorBlend, PremultipliedSourceOverOpaqueFrame) {
    EXPECT_EQ(BlendPremultiplied(0xFF102030, {200, 100, 0}), (Rgb{0x10, 0x20, 0x30}));
    EXPECT_EQ(BlendPremultiplied(0x00000000, {200, 100, 7}), (Rgb{200, 100, 7}));
    // Half-transparent white: half of it, plus half of what lies below.
    EXPECT_EQ(BlendPremultiplied(0x80808080, {200, 100, 255}), (Rgb{228, 178, 255}));
}

} // namespace
