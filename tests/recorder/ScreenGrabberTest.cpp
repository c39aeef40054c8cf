// Frame layout and screen content, on real Xvfb servers of each depth.
#include "recorder/ScreenGrabber.h"
#include "tests/recorder/GrabScene.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

using grabtest::Colour;
using grabtest::FramePixel;
using grabtest::FramePixelBits;
using grabtest::GrabScene;

namespace {

struct DepthCase {
    std::string name;
    std::string geometry;
    std::vector<std::string> serverOptions;
    int width;
    int height;
    int bitCount;  // what the frame must carry
    size_t stride; // bytes per row, padded to 4
    uint32_t coloursUsed;
};

void PrintTo(const DepthCase& depth, std::ostream* out) {
    *out << depth.name;
}

// Odd widths, so that row padding is exercised where the depth allows it.
const DepthCase kDepths[] = {
    {"Bits32", "1366x768x24", {}, 1366, 768, 32, 5464, 0},
    {"Bits16", "1365x700x16", {}, 1365, 700, 16, 2732, 0},
    {"Bits8", "1366x768x8", {}, 1366, 768, 8, 1368, 256},
    {"Bits32FromTenBitChannels", "1366x768x30", {}, 1366, 768, 32, 5464, 0},
    // A server without shared memory, as a remote one is: plain image requests.
    {"Bits32WithoutSharedMemory", "1366x768x24", {"-extension", "MIT-SHM"}, 1366, 768, 32, 5464, 0},
};

class GrabberDepth : public testing::TestWithParam<DepthCase> {};

TEST_P(GrabberDepth, HeaderDescribesTheFrameBlock) {
    const DepthCase& depth = GetParam();
    GrabScene scene(depth.geometry, depth.serverOptions);
    ASSERT_TRUE(scene.ready());
    CScreenGrabber grabber;
    ASSERT_TRUE(grabber.Setup());
    ASSERT_TRUE(grabber.Grab());
    const BitmapInfoHeader& header = *grabber.Header();
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, depth.width);
    EXPECT_EQ(header.biHeight, depth.height);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, depth.bitCount);
    EXPECT_EQ(header.biCompression, 0u);
    EXPECT_EQ(header.biSizeImage, depth.stride * depth.height);
    EXPECT_EQ(header.biXPelsPerMeter | header.biYPelsPerMeter | header.biClrImportant, 0u);
    EXPECT_EQ(header.biClrUsed, depth.coloursUsed);
    EXPECT_EQ(grabber.Pixels(),
              reinterpret_cast<const uint8_t*>(&header) + 40 + 4 * depth.coloursUsed);
}

TEST_P(GrabberDepth, ScreenContentLandsAtItsPixelsBottomUp) {
    const DepthCase& depth = GetParam();
    GrabScene scene(depth.geometry, depth.serverOptions);
    ASSERT_TRUE(scene.ready());
    const Colour red{255, 0, 0};
    const Colour blue{0, 0, 255};
    const unsigned long redPixel = scene.FillRect(100, 40, 30, 20, red);
    // Touches the right and bottom edges: the last pixel of the last screen row.
    scene.FillRect(depth.width - 7, depth.height - 5, 7, 5, blue);
    scene.MovePointer(depth.width / 2, depth.height / 2);
    CScreenGrabber grabber;
    ASSERT_TRUE(grabber.Setup());
    ASSERT_TRUE(grabber.Grab());

    EXPECT_EQ(FramePixel(grabber, 100, 40), red);
    EXPECT_EQ(FramePixel(grabber, 129, 59), red);
    EXPECT_NE(FramePixel(grabber, 99, 40), red);
    EXPECT_NE(FramePixel(grabber, 100, 60), red);
    EXPECT_EQ(FramePixel(grabber, depth.width - 1, depth.height - 1), blue);
    EXPECT_EQ(FramePixel(grabber, depth.width - 7, depth.height - 5), blue);
    EXPECT_NE(FramePixel(grabber, depth.width - 8, depth.height - 1), blue);
    EXPECT_NE(FramePixel(grabber, depth.width - 1, 0), blue);
    switch (depth.bitCount) {
    case 32: // B,G,R and a zero fourth byte
        EXPECT_EQ(FramePixelBits(grabber, 100, 40), 0x00FF0000u);
        break;
    case 16: // 5-5-5, whatever the server's 5-6-5
        EXPECT_EQ(FramePixelBits(grabber, 100, 40), 0x7C00u);
        break;
    case 8: // the server's own index, explained by the colour table
        EXPECT_EQ(FramePixelBits(grabber, 100, 40), redPixel);
        break;
    }

    // The next grab sees what changed since, in rows far apart; the rows between
    // keep what they showed.
    scene.FillRect(0, 0, 8, 2, blue);
    scene.FillRect(290, 290, 20, 20, blue);
    scene.FillRect(0, depth.height - 1, 8, 1, red);
    ASSERT_TRUE(grabber.Grab());
    EXPECT_EQ(FramePixel(grabber, 7, 1), blue);
    EXPECT_NE(FramePixel(grabber, 7, 2), blue);
    EXPECT_EQ(FramePixel(grabber, 300, 300), blue);
    EXPECT_EQ(FramePixel(grabber, 0, depth.height - 1), red);
    EXPECT_EQ(FramePixel(grabber, 100, 40), red);
    EXPECT_EQ(FramePixel(grabber, depth.width - 1, depth.height - 5), blue);
}

INSTANTIATE_TEST_SUITE_P(Depths, GrabberDepth, testing::ValuesIn(kDepths),
                         [](const testing::TestParamInfo<DepthCase>& info) {
                             return info.param.name;
                         });

TEST(GrabberLifecycle, ReleaseIsSafeToRepeatAndMarksOutliveIt) {
    GrabScene scene("640x480x24");
    ASSERT_TRUE(scene.ready());
    CScreenGrabber grabber;
    grabber.ClickMarks().push_back({100, 100, true, 0});
    EXPECT_FALSE(grabber.Grab()); // not set up: nothing grabbed, nothing aged
    ASSERT_TRUE(grabber.Setup());
    ASSERT_TRUE(grabber.Grab());
    grabber.Release();
    grabber.Release();
    EXPECT_EQ(grabber.Header(), nullptr);
    EXPECT_FALSE(grabber.Grab());
    // A mark of one recording ages on in the next.
    ASSERT_TRUE(grabber.Setup());
    ASSERT_TRUE(grabber.Grab());
    EXPECT_EQ(FramePixel(grabber, 100, 98), (Colour{250, 0, 0})); // diameter 5
    EXPECT_EQ(grabber.ClickMarks().front().size, 10);
}

} // namespace
