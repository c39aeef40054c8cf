// The whole chain of a marked press: the program records, its hook host reports the
// presses made with xdotool, and the decoded video shows a red ring at the left press
// and a green one at the right press, nothing at the middle press. Meanwhile the
// dialog's thread asks the kernel for short turns, and the encoder does not.

#include <gtest/gtest.h>

#include "tests/app/RecordingHarness.h"
#include "tests/support/AviDecoder.h"

#include "hooklib/ThisThread.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

struct Point {
    int x;
    int y;
};

void Pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::filesystem::path TasksOf(pid_t process) {
    return "/proc/" + std::to_string(process) + "/task";
}

// The turn on a processor that a thread asks for, in nanoseconds, as the kernel's
// scheduler statistics show it; 0 where they do not.
uint64_t TurnOf(pid_t process, pid_t thread) {
    std::ifstream statistics(TasksOf(process) / std::to_string(thread) / "sched");
    std::string line;
    while (std::getline(statistics, line)) {
        if (line.rfind("se.slice", 0) == 0)
            return std::stoull(line.substr(line.find(':') + 1));
    }
    return 0;
}

pid_t ThreadNamed(pid_t process, const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator(TasksOf(process))) {
        std::string comm;
        std::getline(std::ifstream(task.path() / "comm"), comm);
        if (comm == name)
            return static_cast<pid_t>(std::stoi(task.path().filename().string()));
    }
    return 0;
}

// Kernels before 6.12 take no such request; there is nothing to check then.
bool KernelGrantsShortTurns() {
    uint64_t plain = 0;
    uint64_t asked = 0;
    std::thread([&] {
        plain = TurnOf(getpid(), gettid());
        thisthread::AnswerPromptly(thisthread::LaterThreads::Inherit);
        asked = TurnOf(getpid(), gettid());
    }).join();
    return asked != 0 && asked < plain;
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
    if (KernelGrantsShortTurns()) {
        const pid_t encoder = ThreadNamed(run.pid(), "encoder");
        ASSERT_NE(encoder, 0);
        EXPECT_LT(TurnOf(run.pid(), run.pid()), TurnOf(run.pid(), encoder))
            << "the dialog's thread";
    }

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
