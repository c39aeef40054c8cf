// Sound recorded through the real dialog from a real sound server, and its place
// beside the picture in the file, as FFmpeg decodes both.
#include "tests/app/RecordingHarness.h"
#include "tests/support/ExternalCommand.h"
#include "tests/support/SoundAnalysis.h"
#include "tests/support/SoundServer.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

using recordingtests::Desktop;
using recordingtests::ProgramRun;
using Clock = std::chrono::steady_clock;

namespace {

constexpr unsigned kRate = 30;
constexpr int kSampleRate = 48000;
void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Paints the whole X screen, from its own connection.
class ScreenPainter {
public:
    explicit ScreenPainter(const std::string& display) : m_display(XOpenDisplay(display.c_str())) {}
    ~ScreenPainter() {
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool open() const { return m_display != nullptr; }
    void paint(bool white) {
        const int screen = DefaultScreen(m_display);
        const Window root = RootWindow(m_display, screen);
        GC gc = XCreateGC(m_display, root, 0, nullptr);
        XSetForeground(m_display, gc,
                       white ? WhitePixel(m_display, screen) : BlackPixel(m_display, screen));
        XFillRectangle(m_display, root, gc, 0, 0, DisplayWidth(m_display, screen),
                       DisplayHeight(m_display, screen));
        XFreeGC(m_display, gc);
        XSync(m_display, False);
    }

private:
    Display* m_display;
};

// Plays 100 ms beeps at 1 kHz into the speakers at the given seconds of its own
// sound, and turns the screen white for 100 ms the moment each beep leaves the
// sink, as the server's latency tells. True when every beep was played.
bool flashBeeps(const std::string& display, const std::vector<double>& beeps, double seconds) {
    ScreenPainter painter(display);
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, kSampleRate, 2};
    pa_buffer_attr buffering;
    std::memset(&buffering, 0xff, sizeof buffering);
    buffering.tlength = uint32_t(pa_usec_to_bytes(50000, &sampleFormat));
    buffering.minreq = uint32_t(pa_usec_to_bytes(10000, &sampleFormat));
    int error = 0;
    pa_simple* player = pa_simple_new(nullptr, "flash-beep", PA_STREAM_PLAYBACK, "speakers",
                                      "beeps", &sampleFormat, nullptr, &buffering, &error);
    if (!player || !painter.open())
        return false;
    std::mutex mutex;
    std::vector<Clock::time_point> flashes;
    std::atomic<bool> played{false};
    std::thread flasher([&] {
        for (size_t done = 0;;) {
            std::unique_lock lock(mutex);
            if (done == flashes.size()) {
                lock.unlock();
                if (played)
                    return;
                pause(1);
                continue;
            }
            const Clock::time_point at = flashes[done++];
            lock.unlock();
            std::this_thread::sleep_until(at);
            painter.paint(true);
            std::this_thread::sleep_until(at + std::chrono::milliseconds(100));
            painter.paint(false);
        }
    });
    constexpr int kChunk = 480;
    int16_t chunk[kChunk * 2];
    bool written = true;
    for (int start = 0; written && start < int(seconds * kSampleRate); start += kChunk) {
        for (int i = 0; i < kChunk; ++i) {
            int16_t value = 0;
            for (double beep : beeps) {
                const int offset = start + i - int(beep * kSampleRate);
                if (offset >= 0 && offset < kSampleRate / 10)
                    value = int16_t(12000 * std::sin(2 * M_PI * 1000 * offset / kSampleRate));
            }
            chunk[2 * i] = chunk[2 * i + 1] = value;
        }
        written = pa_simple_write(player, chunk, sizeof chunk, &error) == 0;
        for (double beep : beeps) {
            const int first = int(beep * kSampleRate);
            if (first < start || first >= start + kChunk)
                continue;
            // The chunk's end leaves the sink after the latency; the beep's first
            // sample lies that many samples before it.
            const pa_usec_t latency = pa_simple_get_latency(player, &error);
            const auto leaves =
                Clock::now() + std::chrono::microseconds(latency) -
                std::chrono::microseconds(int64_t(start + kChunk - first) * 1000000 / kSampleRate);
            std::lock_guard lock(mutex);
            flashes.push_back(leaves);
        }
    }
    written = written && pa_simple_drain(player, &error) == 0;
    pa_simple_free(player);
    played = true;
    flasher.join();
    return written;
}

// The seconds of the file's time line at which the picture turns white.
std::vector<double> flashesInVideo(const std::filesystem::path& file) {
    std::istringstream lines(
        testsupport::commandOutput("ffprobe -v error -f lavfi -i 'movie=" + file.string() +
                                   ",signalstats' -show_entries "
                                   "frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of csv=p=0"));
    std::vector<double> flashes;
    double previous = 0;
    std::string line;
    while (std::getline(lines, line)) {
        const double time = std::stod(line);
        const double luma = std::stod(line.substr(line.find(',') + 1));
        if (luma > 128 && previous <= 128)
            flashes.push_back(time);
        previous = luma;
    }
    return flashes;
}

class RecordingSound : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_desktop = std::make_unique<Desktop>();
        s_server = std::make_unique<testsupport::SoundServer>();
        s_server->makeCurrent();
    }
    static void TearDownTestSuite() {
        s_server.reset();
        s_desktop.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(s_desktop->ready()) << "Xvfb, openbox and trayer must run";
        ASSERT_TRUE(s_server->running()) << "the sound server did not start";
    }

    static ProgramRun::Options withDesktopSound() {
        ProgramRun::Options options;
        options.frameRate = kRate;
        options.desktopSound = true;
        return options;
    }

    static std::unique_ptr<Desktop> s_desktop;
    static std::unique_ptr<testsupport::SoundServer> s_server;
};

std::unique_ptr<Desktop> RecordingSound::s_desktop;
std::unique_ptr<testsupport::SoundServer> RecordingSound::s_server;

} // namespace

// Each beep's onset in the file's sound and its flash in the file's picture agree
// within a frame period. The server then goes away before the stop: the file is
// still whole, and the dialog says the sound stopped.
TEST_F(RecordingSound, BeepsAndFlashesAgreeWithinAFramePeriod) {
    ProgramRun run(*s_desktop, withDesktopSound());
    ASSERT_TRUE(run.start());
    ScreenPainter(s_desktop->server().display()).paint(false);
    run.pressStartRecord();
    ASSERT_TRUE(run.waitDialogVisible(false));
    // Each a third of a frame period later against the frames than the one before;
    // the first once the player's latency is known.
    const std::vector<double> beeps{1.2, 2.41, 3.62};
    ASSERT_TRUE(flashBeeps(s_desktop->server().display(), beeps, 4.2));
    s_server->stop();
    pause(300);
    run.clickTrayIcon(1);
    ASSERT_TRUE(run.waitDialogVisible(true));
    pause(500);
    EXPECT_EQ(run.messageBoxesShown(), 1) << "the interrupted sound is told";

    ASSERT_EQ(run.recordings().size(), 1u);
    const auto file = run.recordings().front();
    const testsupport::DecodedSound sound = testsupport::decodeSound(file);
    ASSERT_EQ(sound.streams, 1);
    EXPECT_NEAR(sound.seconds(), recordingtests::probe(file).slots / double(kRate), 1.0 / kRate);
    const std::vector<double> flashes = flashesInVideo(file);
    ASSERT_EQ(flashes.size(), beeps.size());
    // A flash is seen in the first slot grabbed after it, up to a frame period
    // late, and a beep's onset moves with the sound server's 20 ms fragments: one
    // pair may lie a little more than a frame period apart, their mean may not.
    double from = 0;
    double apart = 0;
    for (double flash : flashes) {
        const double onset = sound.onset(0.1, from);
        EXPECT_NEAR(onset, flash, 1.5 / kRate) << "flash at " << flash << " s";
        apart += onset - flash;
        from = onset + 0.5;
    }
    EXPECT_NEAR(apart / double(flashes.size()), 0.0, 1.0 / kRate);
    s_server = std::make_unique<testsupport::SoundServer>();
    s_server->makeCurrent();
}

TEST_F(RecordingSound, WithoutASoundServerTheVideoIsRecordedAndTheDialogSaysSoOnce) {
    setenv("PULSE_SERVER", "unix:/nonexistent/pulse/native", 1);
    ProgramRun run(*s_desktop, withDesktopSound());
    ASSERT_TRUE(run.start());
    run.pressStartRecord();
    ASSERT_TRUE(run.waitDialogVisible(false)) << "the recording goes on without sound";
    EXPECT_FALSE(run.messageBoxShown()) << "nothing is said while recording";
    pause(1200);
    run.clickTrayIcon(1);
    ASSERT_TRUE(run.waitDialogVisible(true));
    pause(500);
    EXPECT_EQ(run.messageBoxesShown(), 1);
    ASSERT_EQ(run.recordings().size(), 1u);
    EXPECT_GE(recordingtests::probe(run.recordings().front()).packets, 1);
    EXPECT_EQ(testsupport::decodeSound(run.recordings().front()).streams, 0);
    s_server->makeCurrent();
}

// Two seconds recorded, two paused from the tray's menu, two more: the file holds
// the four recorded ones on an unbroken time line, the picture jumping once by the
// pause and never showing a moment twice, and its sound is as long as its picture
// and holds none of the beeps played during the pause.
TEST_F(RecordingSound, PauseFromTheTrayIsCutFromPictureSoundAndTimeLine) {
    ProgramRun run(*s_desktop, withDesktopSound());
    ASSERT_TRUE(run.start());
    recordingtests::StripeClock clock(s_desktop->server().display());
    const auto started = Clock::now();
    run.pressStartRecord();
    ASSERT_TRUE(run.waitDialogVisible(false));
    pause(2000);
    run.chooseInTrayMenu(0);
    const auto paused = Clock::now();
    // Beeps while paused, none of which may reach the file.
    ASSERT_TRUE(flashBeeps(s_desktop->server().display(), {0.3, 0.6, 0.9, 1.2}, 1.5));
    std::this_thread::sleep_until(paused + std::chrono::milliseconds(2000));
    EXPECT_EQ(run.visibleProgramWindows(), 0) << "a pause keeps the dialog hidden";
    run.chooseInTrayMenu(0);
    const auto resumed = Clock::now();
    pause(2000);
    run.keys("F9");
    const auto stopped = Clock::now();
    ASSERT_TRUE(run.waitDialogVisible(true));
    const auto milliseconds = [](Clock::duration span) {
        return double(std::chrono::duration_cast<std::chrono::milliseconds>(span).count());
    };

    ASSERT_EQ(run.recordings().size(), 1u);
    const auto file = run.recordings().front();
    const int slots = recordingtests::probe(file).slots;
    const std::vector<recordingtests::ClockFrame> frames = recordingtests::clockFrames(file);
    ASSERT_GE(frames.size(), 60u);
    // The cut is the one step in the shown time far longer than a frame period.
    const auto step = [&](size_t i) {
        return frames[i].shownMilliseconds - frames[i - 1].shownMilliseconds;
    };
    size_t cut = 1;
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_GT(step(i), 0) << "frame " << frames[i].position << " shows an earlier moment again";
        if (step(i) > step(cut))
            cut = i;
    }
    const int jump = step(cut);
    // Each menu choice takes as long, so the pause lasted about as long as between them.
    EXPECT_NEAR(jump, milliseconds(resumed - paused), 200);
    EXPECT_EQ(frames[cut].position, frames[cut - 1].position + 1) << "no gap at the cut";
    // On each side of the cut the time line keeps pace with the shown time.
    constexpr double kPeriod = 1000.0 / kRate;
    const auto drift = [&](size_t from, size_t to) {
        return (frames[to].shownMilliseconds - frames[from].shownMilliseconds) -
               (frames[to].position - frames[from].position) * kPeriod;
    };
    EXPECT_NEAR(drift(0, cut - 1), 0, kPeriod + recordingtests::StripeClock::kTickMilliseconds);
    EXPECT_NEAR(drift(cut, frames.size() - 1), 0,
                kPeriod + recordingtests::StripeClock::kTickMilliseconds);
    EXPECT_NEAR(slots * kPeriod, milliseconds(stopped - started - (resumed - paused)), 400)
        << "the whole run less the pause";
    EXPECT_EQ(frames.back().position + 1, slots) << "every slot to the end holds a frame";
    const testsupport::DecodedSound sound = testsupport::decodeSound(file);
    ASSERT_EQ(sound.streams, 1);
    EXPECT_NEAR(sound.seconds(), slots / double(kRate), 1.0 / kRate);
    EXPECT_LT(sound.peak(), 0.05) << "a beep of the pause is in the file";
}
