// Sound from a real sound server (PipeWire's pulse server), recorded beside a real
// Xvfb screen by the real pipeline and writer, and decoded again by FFmpeg.
#include "recorder/sound/SoundRecording.h"

#include "recorder/FrameTiming.h"
#include "recorder/RecordingPipeline.h"
#include "recorder/ScreenGrabber.h"
#include "recorder/output/AviWriter.h"
#include "recorder/output/EncoderTable.h"
#include "settings/Utf16.h"
#include "tests/recorder/GrabScene.h"
#include "tests/recorder/SyntheticFrame.h"
#include "tests/support/AviDecoder.h"
#include "tests/support/ExternalCommand.h"
#include "tests/support/SoundAnalysis.h"
#include "tests/support/SoundServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using testsupport::DecodedSound;
using testsupport::SoundServer;

namespace {

constexpr unsigned kRate = 30;
constexpr int kLow = 440;
constexpr int kHigh = 1000;

void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

class SoundRecordingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartServer(); }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }
    static void StartServer() {
        delete s_server;
        s_server = new SoundServer;
        s_server->makeCurrent();
    }

    void SetUp() override {
        ASSERT_TRUE(s_server->running()) << "the sound server did not start";
        ASSERT_TRUE(scene.ready());
        ASSERT_TRUE(grabber.Setup());
        ASSERT_TRUE(grabber.Grab());
    }

    // Records for `milliseconds` with the chosen sound; `during` runs right after
    // the start. False when the sound could not be opened.
    bool Record(bool microphone, bool desktopSound, int milliseconds,
                const std::function<void()>& during = {}) {
        if (!sound.Open(microphone, desktopSound))
            return false;
        AviCompressOptions options;
        options.fccHandler = fourcc;
        writer.SetSoundTrack(true);
        EXPECT_TRUE(writer.Open(FromUtf8(file.string()), kRate, options, grabber.Header()));
        RecordingPipeline pipeline(grabber, writer);
        EXPECT_TRUE(pipeline.Start(MillisecondClock(), kRate, &sound));
        if (during)
            during();
        pause(milliseconds);
        pipeline.Stop();
        writer.Release();
        return true;
    }

    static SoundServer* s_server;
    grabtest::GrabScene scene{"320x240x24"};
    TempFolder folder;
    std::filesystem::path file = folder / "recording.avi";
    uint32_t fourcc = MakeFourCC("FMP4");
    CScreenGrabber grabber;
    CAviWriter writer;
    SoundRecording sound;
};

SoundServer* SoundRecordingTest::s_server = nullptr;

} // namespace

// Each tone lasts from 0.3 s to 1.5 s of the recording, give or take the time the
// players take to start.
TEST_F(SoundRecordingTest, EachSourceAloneAndBothMixedAtTheirOwnLevels) {
    struct Case {
        bool microphone, desktopSound;
    };
    for (const Case c : {Case{true, false}, Case{false, true}, Case{true, true}}) {
        SCOPED_TRACE(testing::Message()
                     << "microphone " << c.microphone << ", desktop " << c.desktopSound);
        ASSERT_TRUE(Record(c.microphone, c.desktopSound, 2000, [&] {
            pause(300);
            if (c.microphone)
                s_server->playIntoMicrophone(1.2, kLow, 0.3);
            if (c.desktopSound)
                s_server->playOnSpeakers(1.2, kHigh, 0.3);
        }));
        const DecodedSound decoded = testsupport::decodeSound(file);
        ASSERT_EQ(decoded.streams, 1);
        testsupport::AviDecoder video(file.string());
        EXPECT_NEAR(decoded.seconds(), double(video.DeclaredFrames()) / kRate, 1.0 / kRate);
        const double onset = decoded.onset(0.1);
        EXPECT_NEAR(onset, 0.35, 0.15);
        EXPECT_LT(decoded.level(0, onset - 0.02), 0.01) << "silence before the tone";
        EXPECT_NEAR(decoded.amplitudeAt(kLow, 0.6, 1.2), c.microphone ? 0.3 : 0.0, 0.03);
        EXPECT_NEAR(decoded.amplitudeAt(kHigh, 0.6, 1.2), c.desktopSound ? 0.3 : 0.0, 0.03);
    }
}

TEST_F(SoundRecordingTest, LoudSourcesTogetherAreLimitedNotClipped) {
    ASSERT_TRUE(Record(true, true, 1500, [&] {
        s_server->playIntoMicrophone(1.2, kLow, 0.8);
        s_server->playOnSpeakers(1.2, kHigh, 0.8);
    }));
    const DecodedSound decoded = testsupport::decodeSound(file);
    // Their sum would reach 1.6: the limiter lowers both, and keeps both.
    EXPECT_LE(decoded.peak(), 1.0);
    EXPECT_GT(decoded.amplitudeAt(kLow, 0.4, 1.0), 0.4);
    EXPECT_GT(decoded.amplitudeAt(kHigh, 0.4, 1.0), 0.4);
}

// The video is whole and the sound as long as it: silent while the server is
// gone, and heard again once it is back.
TEST_F(SoundRecordingTest, ServerKilledMidRecordingLeavesSilenceUntilItIsBack) {
    double killedAt = 0, backAt = 0;
    ASSERT_TRUE(Record(false, true, 2000, [&] {
        const auto start = std::chrono::steady_clock::now();
        const auto since = [&] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        s_server->playOnSpeakers(0.8, kHigh, 0.3);
        pause(600);
        killedAt = since();
        StartServer();
        backAt = since();
        s_server->playOnSpeakers(2.0, kHigh, 0.3);
    }));
    EXPECT_TRUE(sound.Interrupted());
    testsupport::AviDecoder video(file.string());
    ASSERT_TRUE(video.IsOpen());
    const double videoSeconds = double(video.DeclaredFrames()) / kRate;
    EXPECT_NEAR(videoSeconds, backAt + 2.0, 0.2);
    const DecodedSound decoded = testsupport::decodeSound(file);
    EXPECT_NEAR(decoded.seconds(), videoSeconds, 1.0 / kRate);
    EXPECT_GT(decoded.amplitudeAt(kHigh, 0.2, killedAt - 0.1), 0.2);
    EXPECT_LT(decoded.level(killedAt + 0.1, backAt), 0.01);
    // The recorder asks again every half second, and may just have asked.
    EXPECT_GT(decoded.amplitudeAt(kHigh, backAt + 1.0, videoSeconds - 0.1), 0.2);
}

TEST_F(SoundRecordingTest, Mp4AndMatroskaCarryTheSoundAsAac) {
    fourcc = MakeFourCC("H264");
    for (const char* name : {"recording.mp4", "recording.mkv"}) {
        SCOPED_TRACE(name);
        file = folder / name;
        ASSERT_TRUE(Record(false, true, 1500, [&] {
            pause(300);
            s_server->playOnSpeakers(1.0, kHigh, 0.3);
        }));
        EXPECT_EQ(testsupport::commandOutput("ffprobe -v error -select_streams a "
                                             "-show_entries stream=codec_name -of csv=p=0 " +
                                             file.string()),
                  "aac\n");
        const DecodedSound decoded = testsupport::decodeSound(file);
        testsupport::AviDecoder video(file.string());
        const std::vector<int64_t> pictures = video.DecodedPositions();
        ASSERT_FALSE(pictures.empty());
        const double videoSeconds =
            double(pictures.back()) * av_q2d(video.TimeBase()) + 1.0 / kRate;
        EXPECT_NEAR(decoded.seconds(), videoSeconds, 1.0 / kRate);
        EXPECT_NEAR(decoded.onset(0.1), 0.35, 0.15);
        EXPECT_NEAR(decoded.amplitudeAt(kHigh, 0.6, 1.1), 0.3, 0.03);
    }
}

TEST_F(SoundRecordingTest, WithoutAServerThereIsNoSoundToRecord) {
    setenv("PULSE_SERVER", "unix:/nonexistent/pulse/native", 1);
    EXPECT_FALSE(sound.Open(true, true));
    EXPECT_EQ(sound.problem(), SoundProblem::NoServer);
    s_server->makeCurrent();
}
