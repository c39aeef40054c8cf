// The part of the screen chosen to record, through the whole program: a region
// saved in the settings file or dragged on the overlay, a saved region that lies
// on no screen, and a window picked by a click.
#include <gtest/gtest.h>

#include "tests/app/RecordingHarness.h"
#include "tests/recorder/GrabScene.h"
#include "tests/support/AviDecoder.h"
#include "tests/support/WaitFor.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using recordingtests::Desktop;
using recordingtests::ProgramRun;

namespace {

// Within what the codec's colour conversion blurs.
void expectColourNear(const testsupport::RgbImage& image, int x, int y, grabtest::Colour colour) {
    const auto pixel = image.At(x, y);
    EXPECT_NEAR(pixel[0], colour.red, 40) << x << "," << y;
    EXPECT_NEAR(pixel[1], colour.green, 40) << x << "," << y;
    EXPECT_NEAR(pixel[2], colour.blue, 40) << x << "," << y;
}

std::optional<testsupport::RgbImage> FirstFrame(const fs::path& file) {
    EXPECT_TRUE(recordingtests::probe(file).decodes) << file;
    testsupport::AviDecoder video(file.string());
    return video.DecodeAt(0);
}

std::optional<testsupport::RgbImage> LastFrame(const fs::path& file) {
    testsupport::AviDecoder video(file.string());
    const std::vector<int64_t> positions = video.DecodedPositions();
    return positions.empty() ? std::nullopt : video.DecodeAt(positions.back());
}

// Where a window's top left is on the screen, inside the window manager's frame.
std::pair<int, int> WindowOrigin(const Desktop& desktop, unsigned long window) {
    const std::string corner = " | awk '/Absolute upper-left X/ {x = $4}"
                               " /Absolute upper-left Y/ {y = $4} END {print x, y}'";
    std::istringstream origin(desktop.output("xwininfo -id " + std::to_string(window) + corner));
    int x = -1;
    int y = -1;
    origin >> x >> y;
    return {x, y};
}

} // namespace

class RecordingArea : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_desktop = std::make_unique<Desktop>(); }
    static void TearDownTestSuite() { s_desktop.reset(); }
    void SetUp() override {
        ASSERT_TRUE(s_desktop->ready()) << "Xvfb, openbox and trayer must run";
    }

    static ProgramRun::Options WithSettings(const std::string& settings) {
        ProgramRun::Options options;
        options.moreSettings = settings;
        return options;
    }

    // Records about two seconds from the shown dialog, with the xdotool commands
    // given at the start.
    static fs::path Record(ProgramRun& run, const std::string& presses) {
        run.pressStartRecord();
        EXPECT_TRUE(run.waitDialogVisible(false));
        std::this_thread::sleep_for(500ms);
        s_desktop->run("xdotool " + presses + " mousemove 1200 700");
        std::this_thread::sleep_for(1500ms);
        run.keys("F9");
        EXPECT_TRUE(run.waitDialogVisible(true));
        const auto files = run.recordings();
        return files.size() == 1 ? files[0] : fs::path();
    }

    // The pick begins once the dialog has left the screen; a click at (x, y) picks.
    static void PickWindowAt(const ProgramRun& run, int x, int y) {
        EXPECT_TRUE(run.waitDialogVisible(false));
        std::this_thread::sleep_for(1000ms);
        s_desktop->run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
                       " click 1 mousemove 1200 100");
    }

    static std::unique_ptr<Desktop> s_desktop;
};
std::unique_ptr<Desktop> RecordingArea::s_desktop;

TEST_F(RecordingArea, RegionIsRecordedEvenSizedWithPressesInsideMarkedWhereTheyAre) {
    const grabtest::Colour red{255, 0, 0};
    const grabtest::Colour green{0, 255, 0};
    grabtest::SceneClient scene(s_desktop->server().display());
    ASSERT_TRUE(scene.ready());
    scene.FillRect(201, 101, 20, 20, red);   // the region's top left corner
    scene.FillRect(781, 481, 20, 20, green); // its bottom right corner, odd size cut
    scene.FillRect(150, 101, 51, 40, green); // just left of it
    // A press inside, at (299, 199) in the region; one just right of it, whose
    // circle would reach in.
    ProgramRun run(*s_desktop,
                   WithSettings(R"("area" : "region", "region" : [201, 101, 601, 401])"));
    ASSERT_TRUE(run.start());
    const fs::path file = Record(run, "mousemove 500 300 click 1 mousemove 806 300 click 1");
    ASSERT_FALSE(file.empty());
    EXPECT_FALSE(run.messageBoxShown()) << "nothing to say";
    const auto first = FirstFrame(file);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width, 600);
    EXPECT_EQ(first->height, 400);
    expectColourNear(*first, 2, 2, red);
    expectColourNear(*first, 597, 397, green);
    EXPECT_GT(recordingtests::redPixelsAround(file, 299, 199), 20) << "the press inside";
    EXPECT_EQ(recordingtests::redPixelsAround(file, 550, 199), 0) << "the press outside";
}

TEST_F(RecordingArea, RegionOnNoScreenRecordsThePrimaryScreenAndSaysSo) {
    ProgramRun run(*s_desktop,
                   WithSettings(R"("area" : "region", "region" : [5000, 0, 100, 100])"));
    ASSERT_TRUE(run.start());
    const fs::path file = Record(run, "");
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(run.waitMessageBox());
    const auto probe = recordingtests::probe(file);
    EXPECT_EQ(probe.width, 1280);
    EXPECT_EQ(probe.height, 720);
}

// Select... shows the overlay; a drag, its right edge dragged further by its
// handle, and Enter choose the region, which is recorded (without the frame
// drawn around it) and remembered at Close.
TEST_F(RecordingArea, RegionDraggedOnTheOverlayIsRecordedWithoutItsFrameAndRemembered) {
    const grabtest::Colour red{255, 0, 0};
    grabtest::SceneClient scene(s_desktop->server().display());
    ASSERT_TRUE(scene.ready());
    scene.FillRect(300, 200, 30, 30, red);
    ProgramRun run(*s_desktop);
    ASSERT_TRUE(run.start());
    run.clickDialogAt(202, 167);
    ASSERT_TRUE(run.waitDialogVisible(false));
    std::this_thread::sleep_for(1000ms);
    s_desktop->run("xdotool mousemove 300 200 mousedown 1 mousemove 400 300 mousemove 450 400"
                   " mouseup 1 sleep 0.7 mousemove 450 300 mousedown 1 mousemove 480 310"
                   " mousemove 500 320 mouseup 1 key Return");
    ASSERT_TRUE(run.waitDialogVisible(true));
    const fs::path file = Record(run, "");
    ASSERT_FALSE(file.empty());
    const auto first = FirstFrame(file);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width, 200);
    EXPECT_EQ(first->height, 200);
    expectColourNear(*first, 0, 0, red);

    run.clickDialogAt(265, 365); // Close
    EXPECT_EQ(run.waitExit(), 0);
    std::ifstream saved(run.home() / ".config/Tesmara Screen Recorder/settings");
    std::string text((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
    std::erase_if(text, [](char c) { return c == ' ' || c == '\n'; });
    EXPECT_NE(text.find(R"("area":"region")"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("region":[300,200,200,200])"), std::string::npos) << text;
}

// A click inside the window manager's frame picks the window in it, which is
// recorded at its size with its own content where another window covers it,
// and followed when it moves: a press on it is marked where it is on the window.
TEST_F(RecordingArea, WindowIsRecordedWhereCoveredAndFollowedWhenItMoves) {
    const grabtest::Colour blue{0, 0, 255};
    const grabtest::Colour green{0, 255, 0};
    grabtest::SceneClient scene(s_desktop->server().display());
    ASSERT_TRUE(scene.ready());
    const unsigned long window = scene.ManagedWindow(100, 100, 400, 300, blue);
    std::this_thread::sleep_for(500ms);
    // Over the window's middle: its pixel (250, 150) whatever the frame's size.
    scene.FillRect(300, 200, 150, 150, green);
    ProgramRun run(*s_desktop, WithSettings(R"("area" : "window")"));
    ASSERT_TRUE(run.start());
    run.pressStartRecord();
    PickWindowAt(run, 200, 350);
    std::this_thread::sleep_for(1000ms);
    s_desktop->run("xdotool windowmove " + std::to_string(window) + " 700 380");
    std::this_thread::sleep_for(700ms);
    const auto [left, top] = WindowOrigin(*s_desktop, window);
    ASSERT_GE(left, 700);
    s_desktop->run("xdotool mousemove " + std::to_string(left + 100) + " " +
                   std::to_string(top + 250) + " click 1 mousemove 1200 100");
    std::this_thread::sleep_for(1000ms);
    run.keys("F9");
    ASSERT_TRUE(run.waitDialogVisible(true));
    const auto files = run.recordings();
    ASSERT_EQ(files.size(), 1u);
    const auto first = FirstFrame(files[0]);
    const auto last = LastFrame(files[0]);
    ASSERT_TRUE(first && last);
    EXPECT_EQ(first->width, 400);
    EXPECT_EQ(first->height, 300);
    expectColourNear(*first, 250, 150, blue);
    for (const auto& [x, y] : {std::pair{5, 5}, {394, 294}, {250, 150}})
        expectColourNear(*last, x, y, blue);
    EXPECT_GT(recordingtests::redPixelsAround(files[0], 100, 250), 20) << "the press on it";
}

// Esc at the pick calls a start off. A window made narrower is fitted into the
// recording between black bars; one that closes during the recording leaves its
// last picture to the recording's end, and the program says so.
TEST_F(RecordingArea, WindowResizedThenClosedKeepsItsLastPictureFittedToTheEnd) {
    recordingtests::SessionBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    const grabtest::Colour yellow{255, 255, 0};
    grabtest::SceneClient scene(s_desktop->server().display());
    ASSERT_TRUE(scene.ready());
    const unsigned long window = scene.ManagedWindow(200, 150, 320, 240, yellow);
    std::this_thread::sleep_for(500ms);
    ProgramRun::Options options;
    options.sessionBus = bus.address();
    ProgramRun run(*s_desktop, options);
    ASSERT_TRUE(run.start());
    EXPECT_EQ(run.command("--start --area window").status, 0) << "answered before the click";
    ASSERT_TRUE(run.waitDialogVisible(false));
    std::this_thread::sleep_for(1000ms);
    run.keys("Escape");
    ASSERT_TRUE(run.waitDialogVisible(true));
    EXPECT_TRUE(run.recordings().empty());

    EXPECT_EQ(run.command("--start --area window --stop-after 4").status, 0);
    PickWindowAt(run, 300, 250);
    std::this_thread::sleep_for(1000ms);
    s_desktop->run("xdotool windowsize " + std::to_string(window) + " 160 240");
    std::this_thread::sleep_for(700ms);
    s_desktop->run("xdotool windowclose " + std::to_string(window));
    ASSERT_TRUE(run.waitDialogVisible(true, 15)) << "stopped by itself";
    const auto files = run.recordings();
    ASSERT_EQ(files.size(), 1u);
    const recordingtests::Probe probe = recordingtests::probe(files[0]);
    EXPECT_TRUE(probe.decodes);
    EXPECT_NEAR(probe.slots, 4 * 18, 1) << "the whole length";
    EXPECT_EQ(probe.width, 320);
    const auto last = LastFrame(files[0]);
    ASSERT_TRUE(last);
    const grabtest::Colour black{0, 0, 0};
    for (const auto& [x, y, colour] :
         {std::tuple{20, 120, black}, {160, 120, yellow}, {300, 120, black}})
        expectColourNear(*last, x, y, colour);
    const auto saysClosed = [&] {
        return run.errorOutput().find("window was closed") != std::string::npos;
    };
    EXPECT_TRUE(testsupport::waitFor(saysClosed, 10)) << run.errorOutput();
}

// A screen taller than the chosen height is recorded scaled down, whole.
TEST(RecordingScale, FullHdScreenIsRecordedAt720pWithItsAspectKept) {
    Desktop desktop("1920x1080x24");
    ASSERT_TRUE(desktop.ready());
    const grabtest::Colour red{255, 0, 0};
    grabtest::SceneClient scene(desktop.server().display());
    ASSERT_TRUE(scene.ready());
    scene.FillRect(960, 540, 96, 54, red); // at (640, 360), 64 x 36, when scaled
    ProgramRun::Options options;
    options.moreSettings = R"("scale" : 720)";
    ProgramRun run(desktop, options);
    ASSERT_TRUE(run.start());
    run.pressStartRecord();
    ASSERT_TRUE(run.waitDialogVisible(false));
    std::this_thread::sleep_for(1500ms);
    run.keys("F9");
    ASSERT_TRUE(run.waitDialogVisible(true));
    const auto files = run.recordings();
    ASSERT_EQ(files.size(), 1u);
    const auto first = FirstFrame(files[0]);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width, 1280);
    EXPECT_EQ(first->height, 720);
    expectColourNear(*first, 672, 378, red);
    const auto outside = first->At(630, 378);
    EXPECT_LT(outside[0] - outside[1], 100) << "no red left of the scaled square";
}
