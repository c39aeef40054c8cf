// The whole chain of a marked press: the program records, its hook host reports the
// presses made with xdotool, and the decoded video shows a red ring at the left press
// and a green one at the right press, nothing at the middle press.

#include <gtest/gtest.h>

#include "tests/app/RecordingHarness.h"
#include "tests/support/AviDecoder.h"

#include <chrono>
#include <thread>

namespace {

struct Point {
    int x;
    int y;
};

struct MarkPixels {
    int red = 0;
    int green = 0;
};

// Mark-coloured pixels within 40 pixels of a point, over every frame of a recording.
// The marks are drawn in (250, 0, 0) and (0, 250, 0); the codec blurs them a little.
MarkPixels MarksAround(testsupport::AviDecoder& video, Point point) {
    MarkPixels found;
    for (int64_t position : video.DecodedPositions()) {
        const auto frame = video.DecodeAt(position);
        if (!frame)
            continue;
        for (int y = point.y - 40; y <= point.y + 40; ++y)
            for (int x = point.x - 40; x <= point.x + 40; ++x) {
                const auto [r, g, b] = frame->At(x, y);
                found.red += r > 160 && g < 90 && b < 90;
                found.green += g > 160 && r < 90 && b < 90;
            }
    }
    return found;
}

void Pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

TEST(ClickMarkRecordingTest, LeftAndRightPressesAreRingedWhereTheyHappened) {
    recordingtests::Desktop desktop;
    ASSERT_TRUE(desktop.ready()) << "Xvfb, openbox and trayer must run";
    recordingtests::ProgramRun run(desktop);
    ASSERT_TRUE(run.start());
    run.pressStartRecord();
    ASSERT_TRUE(run.waitDialogVisible(false));
    ASSERT_TRUE(run.helperRunning());
    // The host has no way to say it is hooked; it takes a few milliseconds.
    Pause(1000);

    const Point left{300, 400};
    const Point right{800, 300};
    const Point middle{500, 550};
    // Escape closes the window manager's desktop menus that right and middle presses open.
    desktop.run("xdotool mousemove 300 400 click 1 sleep 0.6 mousemove 800 300 click 3 sleep 0.6 "
                "key Escape mousemove 500 550 click 2 sleep 0.6 key Escape mousemove 1100 650");
    Pause(600);
    run.keys("F9");
    ASSERT_TRUE(run.waitDialogVisible(true));

    const auto files = run.recordings();
    ASSERT_EQ(files.size(), 1u);
    testsupport::AviDecoder video(files[0].string());
    ASSERT_TRUE(video.IsOpen());
    const MarkPixels atLeft = MarksAround(video, left);
    const MarkPixels atRight = MarksAround(video, right);
    const MarkPixels atMiddle = MarksAround(video, middle);
    EXPECT_GT(atLeft.red, 20);
    EXPECT_EQ(atLeft.green, 0);
    EXPECT_GT(atRight.green, 20);
    EXPECT_EQ(atRight.red, 0);
    EXPECT_EQ(atMiddle.red + atMiddle.green, 0);
}

} // namespace
