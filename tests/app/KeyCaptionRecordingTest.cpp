// Keys shown in the video: the whole program under Xvfb, keys sent with xdotool
// while it records, the caption looked for in the decoded frames.
#include <gtest/gtest.h>

#include "tests/app/RecordingHarness.h"
#include "tests/support/AviDecoder.h"

#include <chrono>
#include <thread>
#include <unistd.h>

using recordingtests::Desktop;
using recordingtests::ProgramRun;

namespace {

constexpr int kFrameRate = 18;

void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// White text pixels in the band above the bottom edge where the caption goes; the
// desk behind it is dark.
int captionPixels(const testsupport::RgbImage& image) {
    int white = 0;
    for (int y = image.height * 3 / 4; y < image.height; ++y)
        for (int x = image.width / 4; x < image.width * 3 / 4; ++x) {
            const auto pixel = image.At(x, y);
            white += pixel[0] > 200 && pixel[1] > 200 && pixel[2] > 200;
        }
    return white;
}

// The frame slots over which a caption showed: from the first decoded frame with
// one to the first after it without; {-1, -1} when none showed.
std::pair<int64_t, int64_t> captionSpan(const std::filesystem::path& file) {
    testsupport::AviDecoder video(file.string());
    std::pair<int64_t, int64_t> span{-1, -1};
    for (int64_t position : video.DecodedPositions()) {
        const auto image = video.DecodeAt(position);
        const bool shown = image && captionPixels(*image) > 20;
        if (shown && span.first < 0)
            span.first = position;
        else if (!shown && span.first >= 0 && span.second < 0)
            span.second = position;
    }
    return span;
}

// Records while `keys` are pressed one after another, half a second apart, after
// a second; the recording.
std::filesystem::path recordWhilePressing(const Desktop& desktop, ProgramRun::Options options,
                                          const std::vector<std::string>& keys) {
    ProgramRun run(desktop, options);
    EXPECT_TRUE(run.start());
    desktop.run("xdotool mousemove 20 20");
    run.pressStartRecord();
    EXPECT_TRUE(run.waitDialogVisible(false));
    pause(1000);
    for (const std::string& key : keys) {
        desktop.run("xdotool key " + key);
        pause(500);
    }
    pause(2500);
    run.keys("F9");
    EXPECT_TRUE(run.waitDialogVisible(true));
    const auto files = run.recordings();
    EXPECT_EQ(files.size(), 1u);
    // The run's home goes with it.
    const std::filesystem::path kept =
        std::filesystem::temp_directory_path() / ("keys-" + std::to_string(getpid()) + ".avi");
    if (!files.empty())
        std::filesystem::copy_file(files[0], kept,
                                   std::filesystem::copy_options::overwrite_existing);
    run.signal(SIGTERM);
    run.waitExit();
    return kept;
}

} // namespace

class KeyCaptionRecording : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_desktop = std::make_unique<Desktop>(); }
    static void TearDownTestSuite() { s_desktop.reset(); }
    void SetUp() override { ASSERT_TRUE(s_desktop->ready()); }
    static std::unique_ptr<Desktop> s_desktop;
};
std::unique_ptr<Desktop> KeyCaptionRecording::s_desktop;

// A plain letter is typed text and stays private; the shortcut after it shows for
// about a second and a half, then the caption is gone.
TEST_F(KeyCaptionRecording, ShortcutShowsForASecondAndAHalfTypedTextNot) {
    ProgramRun::Options options;
    options.showKeys = true;
    const auto file = recordWhilePressing(*s_desktop, options, {"a", "ctrl+shift+t"});
    const auto [from, to] = captionSpan(file);
    ASSERT_GE(from, 0) << "no caption";
    // Pressed 1.5 s in: the letter half a second before left nothing.
    EXPECT_GE(from, int64_t(1.2 * kFrameRate));
    EXPECT_LE(from, int64_t(2.5 * kFrameRate));
    ASSERT_GT(to, from) << "the caption never went";
    EXPECT_NEAR(double(to - from) / kFrameRate, 1.5, 0.3);
    std::filesystem::remove(file);
}

// Typed text shows only when asked for; with keys off nothing is read at all.
TEST_F(KeyCaptionRecording, TypedTextOnlyWhenAskedForAndNothingWithKeysOff) {
    ProgramRun::Options options;
    options.showKeys = true;
    options.showTypedKeys = true;
    const auto typed = recordWhilePressing(*s_desktop, options, {"a"});
    EXPECT_GE(captionSpan(typed).first, 0) << "typed text asked for, not shown";
    std::filesystem::remove(typed);

    options.showKeys = false;
    const auto off = recordWhilePressing(*s_desktop, options, {"ctrl+shift+t", "Escape"});
    EXPECT_EQ(captionSpan(off).first, -1);
    std::filesystem::remove(off);
}
