#include "recorder/output/AviWriter.h"
#include "RiffReader.h"
#include "SyntheticFrame.h"
#include "recorder/output/EncoderTable.h"
#include "settings/Utf16.h"
#include "tests/support/AviDecoder.h"
#include "tests/support/ExternalCommand.h"
#include "tests/support/Players.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using testsupport::AviDecoder;

namespace {

constexpr int kColourTolerance = 16;

AviCompressOptions OptionsFor(const char (&fourcc)[5]) {
    AviCompressOptions options;
    options.fccType = MakeFourCC("vids");
    options.fccHandler = MakeFourCC(fourcc);
    options.dwQuality = 95000;
    return options;
}

std::u16string U16(const fs::path& path) {
    return FromUtf8(path.string());
}

// Colours at the centres of the picture's top and bottom halves.
std::pair<Rgb, Rgb> HalfColours(const testsupport::RgbImage& image) {
    return {image.At(image.width / 2, image.height / 4),
            image.At(image.width / 2, image.height * 3 / 4)};
}

class AviWriterTest : public ::testing::Test {
protected:
    TempFolder folder;
    fs::path file = folder / "recording.avi";
    CAviWriter writer;
};

TEST_F(AviWriterTest, RefusesMissingArgumentsWithoutCreatingAFile) {
    SyntheticFrame frame(64, 48, 32);
    const AviCompressOptions options = OptionsFor("FMP4");
    EXPECT_FALSE(writer.Open(u"", 18, options, frame.Format()));
    EXPECT_FALSE(writer.Open(U16(file), 0, options, frame.Format()));
    EXPECT_FALSE(writer.Open(U16(file), 18, options, nullptr));
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(AviWriterTest, FailsWhereTheFileCannotBeCreated) {
    SyntheticFrame frame(64, 48, 32);
    std::ofstream(folder / "plain-file") << "not a folder";
    // Tests may run as root, who may write into read-only folders: these paths
    // fail for everyone.
    for (const fs::path& path : {folder / "missing" / "x.avi", folder / "plain-file" / "x.avi",
                                 fs::path("/proc/tesmara-x.avi")}) {
        EXPECT_FALSE(writer.Open(U16(path), 18, OptionsFor("FMP4"), frame.Format())) << path;
        EXPECT_FALSE(writer.IsOpen()) << path;
    }
}

TEST_F(AviWriterTest, UnknownCompressorLeavesTheFileHeldUntilRelease) {
    SyntheticFrame frame(64, 48, 32);
    EXPECT_FALSE(writer.Open(U16(file), 18, OptionsFor("NONE"), frame.Format()));
    EXPECT_TRUE(writer.IsOpen());
    EXPECT_TRUE(fs::exists(file));
    writer.WriteFrame(0, frame.Pixels(), frame.Size());
    writer.Release();
    EXPECT_FALSE(writer.IsOpen());
    writer.Release();
}

TEST_F(AviWriterTest, UnsupportedFrameFormatFailsOpen) {
    SyntheticFrame frame(64, 48, 4); // 16-colour frames never come from X
    EXPECT_FALSE(writer.Open(U16(file), 18, OptionsFor("FMP4"), frame.Format()));
    writer.Release();
    EXPECT_FALSE(writer.IsOpen());
}

TEST_F(AviWriterTest, ReplacesAnExistingFileAndReleasesOnce) {
    std::ofstream(file, std::ios::binary) << std::string(4 << 20, 'x');
    SyntheticFrame frame(64, 48, 32);
    frame.Fill(ColourFor(0), ColourFor(1));
    ASSERT_TRUE(writer.Open(U16(file), 10, OptionsFor("FMP4"), frame.Format()));
    writer.WriteFrame(0, frame.Pixels(), frame.Size());
    writer.Release();
    const auto size = fs::file_size(file);
    const auto written = fs::last_write_time(file);
    writer.Release();
    EXPECT_EQ(fs::file_size(file), size);
    EXPECT_EQ(fs::last_write_time(file), written);
    EXPECT_LT(size, 64u * 1024);
    AviDecoder decoder(file.string());
    ASSERT_TRUE(decoder.IsOpen());
    EXPECT_EQ(decoder.DecodedPositions(), std::vector<int64_t>{0});
}

// A second recording opened without a stop in between still completes the first.
TEST_F(AviWriterTest, OpeningAgainCompletesThePreviousFile) {
    SyntheticFrame frame(64, 48, 32);
    frame.Fill(ColourFor(0), ColourFor(1));
    ASSERT_TRUE(writer.Open(U16(file), 10, OptionsFor("XVID"), frame.Format()));
    writer.WriteFrame(0, frame.Pixels(), frame.Size());
    writer.WriteFrame(2, frame.Pixels(), frame.Size());
    const fs::path second = folder / "second.avi";
    ASSERT_TRUE(writer.Open(U16(second), 10, OptionsFor("XVID"), frame.Format()));

    EXPECT_EQ(RiffReader(file.string()).ReadStreamHeader().dwLength, 3u);
    AviDecoder decoder(file.string());
    EXPECT_EQ(decoder.DecodedPositions(), (std::vector<int64_t>{0, 2}));
}

// Positions as the recording passes them: -1 before the first slot, repeats when
// two ticks share a slot, jumps when a tick comes late, and one going backwards.
TEST_F(AviWriterTest, FramesLandAtTheirPositionsAndGapsStayEmpty) {
    SyntheticFrame frame(160, 120, 32);
    ASSERT_TRUE(writer.Open(U16(file), 10, OptionsFor("XVID"), frame.Format()));
    const int positions[] = {-1, 0, 0, 1, 4, 3, 7};
    for (size_t i = 0; i < std::size(positions); ++i) {
        // Each call gets its own colour, so a frame that lands twice would show.
        frame.Fill(ColourFor(int(i)), ColourFor(int(i) + 1));
        writer.WriteFrame(positions[i], frame.Pixels(), frame.Size());
    }
    writer.Release();

    RiffReader riff(file.string());
    ASSERT_TRUE(riff.Valid());
    const std::vector<uint32_t> sizes = riff.VideoChunkSizes();
    ASSERT_EQ(sizes.size(), 8u);
    for (int slot = 0; slot < 8; ++slot)
        EXPECT_EQ(sizes[slot] > 0, slot == 0 || slot == 1 || slot == 4 || slot == 7) << slot;
    EXPECT_EQ(riff.ReadStreamHeader().dwLength, 8u);
    EXPECT_EQ(riff.AviHeaderTotalFrames(), 8u);

    AviDecoder decoder(file.string());
    ASSERT_TRUE(decoder.IsOpen());
    EXPECT_EQ(decoder.TimeBase().num, 1);
    EXPECT_EQ(decoder.TimeBase().den, 10);
    EXPECT_EQ(decoder.DecodedPositions(), (std::vector<int64_t>{0, 1, 4, 7}));
    // Position -> index of the call that wrote it.
    const std::pair<int, int> writtenBy[] = {{0, 1}, {1, 3}, {4, 4}, {7, 6}};
    for (auto [position, call] : writtenBy) {
        auto image = decoder.DecodeAt(position);
        ASSERT_TRUE(image) << position;
        auto [top, bottom] = HalfColours(*image);
        EXPECT_TRUE(Near(top, ColourFor(call), kColourTolerance))
            << position << " top " << ToString(top);
        EXPECT_TRUE(Near(bottom, ColourFor(call + 1), kColourTolerance))
            << position << " bottom " << ToString(bottom);
    }

    const std::string probe = testsupport::commandOutput(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,codec_tag_string,width,height,r_frame_rate,nb_read_frames "
        "-of default=noprint_wrappers=1 '" +
        file.string() + "'");
    EXPECT_NE(probe.find("codec_name=mpeg4"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_tag_string=XVID"), std::string::npos) << probe;
    EXPECT_NE(probe.find("width=160\nheight=120"), std::string::npos) << probe;
    EXPECT_NE(probe.find("r_frame_rate=10/1"), std::string::npos) << probe;
    EXPECT_NE(probe.find("nb_read_frames=4"), std::string::npos) << probe;
}

TEST_F(AviWriterTest, LateFirstFrameKeepsItsPlaceOnTheTimeLine) {
    SyntheticFrame frame(64, 48, 32);
    frame.Fill(ColourFor(2), ColourFor(3));
    ASSERT_TRUE(writer.Open(U16(file), 30, OptionsFor("XVID"), frame.Format()));
    writer.WriteFrame(5, frame.Pixels(), frame.Size());
    writer.WriteFrame(6, frame.Pixels(), frame.Size());
    writer.Release();

    RiffReader riff(file.string());
    EXPECT_EQ(riff.VideoChunkSizes().size(), 7u);
    AviDecoder decoder(file.string());
    EXPECT_EQ(decoder.DecodedPositions(), (std::vector<int64_t>{5, 6}));
}

// A stall of more than the muxer's own 60000-slot padding (over half an hour at
// 30 fps) must not stop the recording for good.
TEST_F(AviWriterTest, VeryLongGapIsPaddedAndRecordingGoesOn) {
    SyntheticFrame frame(32, 32, 32);
    frame.Fill(ColourFor(0), ColourFor(1));
    ASSERT_TRUE(writer.Open(U16(file), 30, OptionsFor("FMP4"), frame.Format()));
    for (int position : {0, 70001, 70002})
        writer.WriteFrame(position, frame.Pixels(), frame.Size());
    writer.Release();

    EXPECT_EQ(RiffReader(file.string()).VideoChunkSizes().size(), 70003u);
    AviDecoder decoder(file.string());
    EXPECT_EQ(decoder.DecodedPositions(), (std::vector<int64_t>{0, 70001, 70002}));
}

// The table's header for a 1920x1080 screen at 32 bits and 18 frames per second.
TEST_F(AviWriterTest, StreamHeaderCarriesRateFrameAndBufferSize) {
    SyntheticFrame frame(1920, 1080, 32);
    frame.Fill(ColourFor(0), ColourFor(1));
    ASSERT_TRUE(writer.Open(U16(file), 18, OptionsFor("XVID"), frame.Format()));
    for (int position = 0; position < 3; ++position)
        writer.WriteFrame(position, frame.Pixels(), frame.Size());
    writer.Release();

    RiffReader riff(file.string());
    ASSERT_TRUE(riff.Valid());
    const RiffReader::StreamHeader header = riff.ReadStreamHeader();
    EXPECT_EQ(header.fccType, "vids");
    EXPECT_EQ(header.fccHandler, "XVID");
    EXPECT_EQ(header.dwFlags, 0u);
    EXPECT_EQ(header.dwScale, 1u);
    EXPECT_EQ(header.dwRate, 18u);
    EXPECT_EQ(header.dwStart, 0u);
    EXPECT_EQ(header.dwLength, 3u);
    EXPECT_EQ(header.dwSuggestedBufferSize, 1920u * 1080u * 4u);
    EXPECT_EQ(header.dwQuality, 9000u);
    EXPECT_EQ(header.dwSampleSize, 0u);
    EXPECT_EQ(header.left, 0);
    EXPECT_EQ(header.top, 0);
    EXPECT_EQ(header.right, 1920);
    EXPECT_EQ(header.bottom, 1080);

    EXPECT_EQ(riff.StreamFormatSize(), 40u);
    const BitmapInfoHeader format = riff.ReadStreamFormat();
    EXPECT_EQ(format.biSize, 40u);
    EXPECT_EQ(format.biWidth, 1920);
    EXPECT_EQ(format.biHeight, 1080);
    EXPECT_EQ(format.biCompression, MakeFourCC("XVID"));
}

struct DepthCase {
    int bitCount;
    uint32_t compression;
};

class FrameBufferDepth : public ::testing::TestWithParam<DepthCase> {};

// Every layout the grabber may produce decodes upright and in its colours.
TEST_P(FrameBufferDepth, DecodesUprightInItsColours) {
    TempFolder folder;
    const fs::path file = folder / "depth.avi";
    SyntheticFrame frame(96, 64, GetParam().bitCount, GetParam().compression);
    const Rgb top{224, 0, 0}, bottom{0, 0, 192};
    frame.Fill(top, bottom);
    CAviWriter writer;
    ASSERT_TRUE(writer.Open(U16(file), 25, OptionsFor("FMP4"), frame.Format()));
    writer.WriteFrame(0, frame.Pixels(), frame.Size());
    writer.Release();

    AviDecoder decoder(file.string());
    auto image = decoder.DecodeAt(0);
    ASSERT_TRUE(image);
    auto [decodedTop, decodedBottom] = HalfColours(*image);
    EXPECT_TRUE(Near(decodedTop, top, kColourTolerance)) << ToString(decodedTop);
    EXPECT_TRUE(Near(decodedBottom, bottom, kColourTolerance)) << ToString(decodedBottom);
}

INSTANTIATE_TEST_SUITE_P(AviWriter, FrameBufferDepth,
                         ::testing::Values(DepthCase{32, SyntheticFrame::kBiRgb},
                                           DepthCase{32, SyntheticFrame::kBiBitfields},
                                           DepthCase{24, SyntheticFrame::kBiRgb},
                                           DepthCase{16, SyntheticFrame::kBiRgb},
                                           DepthCase{16, SyntheticFrame::kBiBitfields},
                                           DepthCase{8, SyntheticFrame::kBiRgb}));

TEST_F(AviWriterTest, PixelBufferShorterThanTheFormatIsDropped) {
    SyntheticFrame frame(64, 48, 32);
    frame.Fill(ColourFor(4), ColourFor(5));
    ASSERT_TRUE(writer.Open(U16(file), 10, OptionsFor("FMP4"), frame.Format()));
    writer.WriteFrame(0, frame.Pixels(), frame.Size() - 1);
    writer.WriteFrame(0, nullptr, frame.Size());
    // The dropped calls used up nothing: position 0 is still free.
    writer.WriteFrame(0, frame.Pixels(), frame.Size());
    writer.Release();
    AviDecoder decoder(file.string());
    EXPECT_EQ(decoder.DecodedPositions(), std::vector<int64_t>{0});
}

// An odd-sized screen records with every encoder; those that need even sizes
// lose the odd last column and row.
TEST_F(AviWriterTest, OddScreenSizeRecordsWithEveryEncoder) {
    SyntheticFrame frame(641, 481, 32);
    frame.Fill(ColourFor(0), ColourFor(2));
    for (const EncoderEntry& entry : EncoderTable()) {
        if (!avcodec_find_encoder_by_name(entry.encoderName))
            continue;
        AviCompressOptions options = OptionsFor("FMP4");
        options.fccHandler = entry.fourcc;
        ASSERT_TRUE(writer.Open(U16(file), 10, options, frame.Format())) << entry.encoderName;
        writer.WriteFrame(0, frame.Pixels(), frame.Size());
        writer.Release();
        AviDecoder decoder(file.string());
        EXPECT_EQ(decoder.Width(), entry.evenSize ? 640 : 641) << entry.encoderName;
        EXPECT_EQ(decoder.Height(), entry.evenSize ? 480 : 481) << entry.encoderName;
        EXPECT_EQ(decoder.DecodedPositions(), std::vector<int64_t>{0}) << entry.encoderName;
    }
}

// The codec list offers only encoders whose files the desktop's common players
// take: GStreamer decodes every frame, VLC finds them all in the index.
TEST_F(AviWriterTest, EveryOfferedEncoderPlaysInGStreamerAndVlc) {
    SyntheticFrame frame(641, 481, 32);
    const int frames = 3;
    for (const EncoderEntry& entry : EncoderTable()) {
        if (!avcodec_find_encoder_by_name(entry.encoderName))
            continue;
        SCOPED_TRACE(entry.encoderName);
        AviCompressOptions options = OptionsFor("FMP4");
        options.fccHandler = entry.fourcc;
        ASSERT_TRUE(writer.Open(U16(file), 10, options, frame.Format()));
        for (int position = 0; position < frames; ++position) {
            frame.Fill(ColourFor(position), ColourFor(position + 1));
            writer.WriteFrame(position, frame.Pixels(), frame.Size());
        }
        writer.Release();
        testsupport::ExpectBothPlayersTake(file, frames);
    }
}

// A still screen is mostly repeats, which FFmpeg's readers skip and VLC reads
// past: from the start and after a seek into its still part both players still
// show a picture in time. For the codecs a user gets without choosing one
// (VLC's decoders of x264 and Huffyuv, working on frame threads, pass a picture on
// only after as many more as they have threads).
TEST_F(AviWriterTest, StillScreenShowsInTimeInVlcAndGStreamerAfterASeekToo) {
    constexpr unsigned kRate = 30;
    constexpr double kSeekSeconds = 1.5;
    SyntheticFrame frame(320, 240, 32);
    for (uint32_t fourcc : {MakeFourCC("XVID"), MakeFourCC("FMP4")}) {
        const EncoderEntry* entry = FindEncoderEntry(fourcc);
        ASSERT_NE(entry, nullptr);
        if (!avcodec_find_encoder_by_name(entry->encoderName))
            continue;
        SCOPED_TRACE(entry->encoderName);
        AviCompressOptions options = OptionsFor("FMP4");
        options.fccHandler = fourcc;
        ASSERT_TRUE(writer.Open(U16(file), kRate, options, frame.Format()));
        // A change half a second in, then two seconds of nothing: longer than VLC reads ahead.
        for (int slot = 0; slot < int(kRate) * 5 / 2; ++slot) {
            if (slot == 0 || slot == int(kRate) / 2) {
                frame.Fill(ColourFor(slot), ColourFor(slot + 1));
                writer.WriteFrame(slot, frame.Pixels(), frame.Size());
            } else {
                writer.WriteRepeat(slot);
            }
        }
        writer.Release();
        testsupport::ExpectAPictureSoonAfterASeek(file, kSeekSeconds, 0.3);
    }
}

// x264 lets a picture out only once more have come (its look-ahead). On a still
// screen a change still reaches a Matroska file within a second, and the file's
// end keeps close behind the recording, so that a crash loses little of either.
TEST_F(AviWriterTest, X264ChangeOnAStillScreenReachesTheFileAtOnceAndItsEndKeepsUp) {
    constexpr int kRate = 30;
    constexpr int kChange = kRate;
    constexpr int kSlots = 3 * kRate;
    const fs::path mkv = folder / "recording.mkv";
    SyntheticFrame frame(320, 240, 32);
    ASSERT_TRUE(writer.Open(U16(mkv), kRate, OptionsFor("H264"), frame.Format()));
    for (int slot = 0; slot < kSlots; ++slot) {
        if (slot == 0 || slot == kChange) {
            frame.Fill(ColourFor(slot), ColourFor(slot + 1));
            writer.WriteFrame(slot, frame.Pixels(), frame.Size());
        } else {
            writer.WriteRepeat(slot);
        }
    }
    // The file as a crash would leave it now.
    AviDecoder decoder(mkv.string());
    ASSERT_TRUE(decoder.IsOpen());
    const AVRational base = decoder.TimeBase();
    const std::vector<AviDecoder::Packet> packets = decoder.Packets();
    ASSERT_FALSE(packets.empty());
    EXPECT_GT(double(packets.back().position) * base.num / base.den, kSlots / double(kRate) - 1)
        << "the file's end lags the recording by more than a second";
    const auto change = decoder.DecodeAt(int64_t(kChange) * base.den / (base.num * kRate));
    ASSERT_TRUE(change) << "the change is not in the file";
    EXPECT_TRUE(Near(HalfColours(*change).first, ColourFor(kChange), kColourTolerance));
}

// The top-level boxes of an MP4 file, in file order.
std::vector<std::string> TopLevelBoxes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto bigEndian = [&bytes](size_t at, int length) {
        uint64_t value = 0;
        for (int i = 0; i < length; ++i)
            value = value << 8 | uint8_t(bytes[at + size_t(i)]);
        return value;
    };
    std::vector<std::string> boxes;
    for (size_t at = 0; at + 8 <= bytes.size();) {
        uint64_t size = bigEndian(at, 4);
        boxes.push_back(bytes.substr(at + 4, 4));
        if (size == 1 && at + 16 <= bytes.size()) // a 64-bit size follows the type
            size = bigEndian(at + 8, 8);
        if (size < 8)
            break;
        at += size;
    }
    return boxes;
}

// Written in fragments while recording, an MP4 file is an ordinary one once
// completed: its index in front of the data, every frame at its place.
TEST_F(AviWriterTest, CompletedMp4HasItsIndexInFrontOfItsData) {
    const fs::path mp4 = folder / "recording.mp4";
    SyntheticFrame frame(160, 120, 32);
    ASSERT_TRUE(writer.Open(U16(mp4), 10, OptionsFor("H264"), frame.Format()));
    for (int position : {0, 1, 2, 5, 6, 20}) {
        frame.Fill(ColourFor(position), ColourFor(position + 1));
        writer.WriteFrame(position, frame.Pixels(), frame.Size());
    }
    writer.Release();
    const auto boxes = TopLevelBoxes(mp4);
    const auto moov = std::ranges::find(boxes, "moov");
    ASSERT_NE(moov, boxes.end());
    EXPECT_LT(moov, std::ranges::find(boxes, "mdat"));
    EXPECT_EQ(std::ranges::find(boxes, "moof"), boxes.end()) << "no fragments left";
    AviDecoder decoder(mp4.string());
    // MP4 counts time in its own units: the slots are a tenth of a second apart.
    const AVRational base = decoder.TimeBase();
    const int64_t slot = base.den / (base.num * 10);
    std::vector<int64_t> slots;
    for (int64_t position : decoder.DecodedPositions())
        slots.push_back(position / slot);
    EXPECT_EQ(slots, (std::vector<int64_t>{0, 1, 2, 5, 6, 20}));
    auto image = decoder.DecodeAt(5 * slot);
    ASSERT_TRUE(image);
    EXPECT_TRUE(Near(HalfColours(*image).first, ColourFor(5), kColourTolerance));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1)
        << "no rewriting leftovers";
}

} // namespace
