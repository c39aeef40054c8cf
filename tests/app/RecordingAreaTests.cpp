// The part of the screen chosen to record, through the whole program: a region
// saved in the settings file, and a saved region that lies on no screen.
#include <gtest/gtest.h>

#include "tests/app/RecordingHarness.h"
#include "tests/recorder/GrabScene.h"
#include "tests/support/AviDecoder.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>

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
    EXPECT_TRUE(run.messageBoxShown());
    const auto probe = recordingtests::probe(file);
    EXPECT_EQ(probe.width, 1280);
    EXPECT_EQ(probe.height, 720);
}

// Select... shows the overlay; a drag and Enter choose the region, which is
// recorded (without the frame drawn around it) and remembered at Close.
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
    s_desktop->run("xdotool mousemove 300 200 mousedown 1 mousemove 400 300 mousemove 500 400"
                   " mouseup 1 key Return");
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
