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
    using testsupport::MarksAround;
    const auto atLeft = MarksAround(video, left.x, left.y);
    const auto atRight = MarksAround(video, right.x, right.y);
    const auto atMiddle = MarksAround(video, middle.x, middle.y);
    EXPECT_GT(atLeft.red, 20);
    EXPECT_EQ(atLeft.green, 0);
    EXPECT_GT(atRight.green, 20);
    EXPECT_EQ(atRight.red, 0);
    EXPECT_EQ(atMiddle.red + atMiddle.green, 0);
}

} // namespace
