// The capture and encoder threads on a real Xvfb screen, writing real files.
#include "recorder/RecordingPipeline.h"
#include "tests/recorder/GrabScene.h"

#include "SyntheticFrame.h"
#include "recorder/FrameTiming.h"
#include "recorder/ScreenGrabber.h"
#include "recorder/output/AviWriter.h"
#include "recorder/output/EncoderTable.h"
#include "settings/Utf16.h"
#include "tests/support/AviDecoder.h"
#include "tests/support/XvfbServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using grabtest::GrabScene;
using testsupport::AviDecoder;

namespace {

constexpr unsigned kRate = 30;

// The real writer behind an encoder that needs 100 ms per frame.
class SlowEncoderPipeline : public RecordingPipeline {
public:
    using RecordingPipeline::RecordingPipeline;

protected:
    void WriteFrame(int32_t position, const FrameBuffer& frame) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        RecordingPipeline::WriteFrame(position, frame);
    }
};

class RecordingPipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scene.ready());
        ASSERT_TRUE(grabber.Setup());
        ASSERT_TRUE(grabber.Grab());
        AviCompressOptions options;
        options.fccHandler = MakeFourCC("FMP4");
        ASSERT_TRUE(writer.Open(FromUtf8(file.string()), kRate, options, grabber.Header()));
    }

    // Records for the given time while the pointer moves (or not), then stops.
    uint32_t Record(RecordingPipeline& pipeline, std::chrono::milliseconds length, bool moving) {
        const uint32_t start = MillisecondClock();
        EXPECT_TRUE(pipeline.Start(start, kRate));
        for (int step = 0; MillisecondClock() - start < length.count(); ++step) {
            if (moving)
                scene.MovePointer(100 + step % 400, 200);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const uint32_t slots = (MillisecondClock() - start) * kRate / 1000;
        pipeline.Stop();
        writer.Release();
        return slots;
    }

    GrabScene scene{"640x480x24"};
    TempFolder folder;
    std::filesystem::path file = folder / "recording.avi";
    CScreenGrabber grabber;
    CAviWriter writer;
};

// Three frames of ring: it is full within a few slots and full when the stop comes.
TEST_F(RecordingPipelineTest, SlowEncodingLeavesCountedGapsAndTheStopWritesEveryQueuedFrame) {
    SlowEncoderPipeline pipeline(grabber, writer, 3 * size_t(grabber.Header()->biSizeImage));
    const uint32_t slots = Record(pipeline, std::chrono::milliseconds(1500), true);
    ASSERT_EQ(pipeline.ringCapacity(), 3u);
    const RecordingPipeline::Counts counts = pipeline.counts();
    EXPECT_GT(counts.ringFull, slots / 2);
    EXPECT_LE(counts.ringFull, counts.gaps);
    // Every slot of the time line was captured, left as a gap or found unchanged.
    const uint32_t captured = counts.frames + counts.repeats + counts.gaps;
    EXPECT_NEAR(double(captured), double(slots), 2.0);
    AviDecoder decoder(file.string());
    ASSERT_TRUE(decoder.IsOpen());
    const std::vector<AviDecoder::Packet> packets = decoder.Packets();
    ASSERT_EQ(packets.size(), counts.frames);
    EXPECT_LT(packets.back().position, int64_t(captured));
    EXPECT_GE(decoder.DeclaredFrames(), int64_t(captured - counts.gaps));
    EXPECT_EQ(decoder.DecodedPositions().size(), counts.frames);
}

// An unchanged screen is not grabbed again; the file still shows its last picture
// every 0.3 s and in its last slot.
TEST_F(RecordingPipelineTest, StillScreenIsWrittenAsRepeatsToTheEnd) {
    RecordingPipeline pipeline(grabber, writer);
    const uint32_t slots = Record(pipeline, std::chrono::milliseconds(1000), false);
    const RecordingPipeline::Counts counts = pipeline.counts();
    EXPECT_LE(counts.frames, 2u) << "a still screen is grabbed once";
    EXPECT_NEAR(double(counts.frames + counts.repeats + counts.gaps), double(slots), 2.0);
    EXPECT_GT(counts.repeats, counts.gaps) << "gaps only where the machine woke us late";
    AviDecoder decoder(file.string());
    ASSERT_TRUE(decoder.IsOpen());
    EXPECT_EQ(decoder.DeclaredFrames(), int64_t(counts.frames + counts.repeats + counts.gaps));
    const std::vector<AviDecoder::Packet> pictures = decoder.Packets();
    ASSERT_FALSE(pictures.empty());
    EXPECT_EQ(pictures.back().position, decoder.DeclaredFrames() - 1);
    for (size_t i = 1; i < pictures.size(); ++i)
        EXPECT_LE(pictures[i].position - pictures[i - 1].position, kRate * 3 / 10 + counts.gaps)
            << "after the picture at " << pictures[i - 1].position;
}

// Each change counts from the very next look on, so the next slot is a new frame.
TEST_F(RecordingPipelineTest, DrawingPointerMovesCursorShapesAndMarksCountAsChange) {
    EXPECT_FALSE(grabber.HasChanged());
    scene.FillRect(10, 10, 50, 50, {0, 0, 255});
    EXPECT_TRUE(grabber.HasChanged());
    ASSERT_TRUE(grabber.Grab());
    EXPECT_FALSE(grabber.HasChanged());
    scene.MovePointer(300, 300);
    EXPECT_TRUE(grabber.HasChanged());
    ASSERT_TRUE(grabber.Grab());
    scene.SetCursor(8, 8, 0, 0, {255, 0, 0});
    EXPECT_TRUE(grabber.HasChanged());
    ASSERT_TRUE(grabber.Grab());
    EXPECT_FALSE(grabber.HasChanged());
    grabber.AddClickMark({200, 200, true, 0});
    // Five grabs show the mark; the one after them shows it gone.
    for (int grab = 0; grab < 6; ++grab) {
        EXPECT_TRUE(grabber.HasChanged()) << "grab " << grab;
        ASSERT_TRUE(grabber.Grab());
    }
    EXPECT_TRUE(grabber.ClickMarks().empty());
    EXPECT_FALSE(grabber.HasChanged());
}

// The capture thread meets the lost connection; the stop and the release on
// this thread must not wait for it.
TEST(RecordingPipelineFailure, ServerGoneWhileRecordingStillStopsAndReleases) {
    testsupport::XvfbServer server("640x480x24");
    ASSERT_TRUE(server.running());
    server.makeCurrent();
    CScreenGrabber grabber;
    ASSERT_TRUE(grabber.Setup());
    ASSERT_TRUE(grabber.Grab());
    TempFolder folder;
    CAviWriter writer;
    AviCompressOptions options;
    options.fccHandler = MakeFourCC("FMP4");
    ASSERT_TRUE(
        writer.Open(FromUtf8((folder / "lost.avi").string()), kRate, options, grabber.Header()));
    RecordingPipeline pipeline(grabber, writer);
    ASSERT_TRUE(pipeline.Start(MillisecondClock(), kRate));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pipeline.Stop();
    grabber.Release();
    writer.Release();
    EXPECT_GE(pipeline.counts().frames, 1u);
    // Every frame grabbed, then the last one again for the slots after the loss.
    EXPECT_GT(AviDecoder((folder / "lost.avi").string()).Packets().size(),
              pipeline.counts().frames);
}

} // namespace
