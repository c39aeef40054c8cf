#include "RiffReader.h"
#include "SyntheticFrame.h"
#include "recorder/AviWriter.h"
#include "recorder/EncoderTable.h"
#include "settings/Utf16.h"
#include "tests/support/AviDecoder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <numeric>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testsupport::AviDecoder;

namespace {

AviCompressOptions OptionsFor(uint32_t fourcc) {
    AviCompressOptions options;
    options.fccType = MakeFourCC("vids");
    options.fccHandler = fourcc;
    options.dwQuality = 95000;
    return options;
}

std::vector<int64_t> Iota(int64_t count) {
    std::vector<int64_t> values(size_t(count), 0);
    std::iota(values.begin(), values.end(), 0);
    return values;
}

// Records frames in a child process whose files may not grow past limitBytes, as on
// a full disk; returns the child's exit status.
int RecordWithFileSizeLimit(const fs::path& file, rlim_t limitBytes, int frames) {
    pid_t child = fork();
    if (child == 0) {
        // Without this the kernel would kill the child at the limit instead of
        // failing the write, which is what a full disk does.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{limitBytes, limitBytes};
        setrlimit(RLIMIT_FSIZE, &limit);
        SyntheticFrame frame(320, 240, 32);
        CAviWriter writer;
        if (!writer.Open(FromUtf8(file.string()), 10, OptionsFor(MakeFourCC("FMP4")),
                         frame.Format()))
            _exit(2);
        for (int position = 0; position < frames; ++position) {
            frame.FillNoise(uint32_t(position + 1));
            writer.WriteFrame(position, frame.Pixels(), frame.Size());
        }
        writer.Release();
        _exit(0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return status;
}

TEST(AviWriterLimits, FramesWrittenBeforeTheDiskFillsStillDecode) {
    TempFolder folder;
    const fs::path file = folder / "full.avi";
    const rlim_t limit = 400 * 1024;
    const int frames = 60;
    const int status = RecordWithFileSizeLimit(file, limit, frames);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_LE(fs::file_size(file), limit);

    AviDecoder decoder(file.string());
    ASSERT_TRUE(decoder.IsOpen());
    const std::vector<int64_t> decoded = decoder.DecodedPositions();
    ASSERT_GE(decoded.size(), 2u);
    EXPECT_LT(decoded.size(), size_t(frames));
    EXPECT_EQ(decoded, Iota(int64_t(decoded.size())));
    // The closing fix-ups of the header landed although the index did not fit.
    RiffReader riff(file.string());
    ASSERT_TRUE(riff.Valid());
    const RiffReader::StreamHeader header = riff.ReadStreamHeader();
    EXPECT_GE(header.dwLength, decoded.size());
    EXPECT_GE(riff.AviHeaderTotalFrames(), decoded.size());
    EXPECT_EQ(header.dwQuality, 9000u);
}

// Past 1 GiB the muxer closes the first RIFF and continues in "AVIX" ones with
// OpenDML indexes; each RIFF stays under 1 GiB and indexes by 64-bit base offsets,
// which is also what keeps recordings beyond 4 GiB addressable.
TEST(AviWriterLimits, RecordingPastOneGibibyteIsOpenDml) {
    TempFolder folder;
    const fs::path file = folder / "long.avi";
    // Noise through a lossless encoder: about 5.7 MB per full-HD frame.
    SyntheticFrame frame(1920, 1080, 32);
    frame.FillNoise(7);
    const AviCompressOptions options = OptionsFor(MakeFourCC("HFYU"));
    CAviWriter writer;
    ASSERT_TRUE(writer.Open(FromUtf8(file.string()), 30, options, frame.Format()));
    int frames = 0;
    const uintmax_t target = (uintmax_t(1) << 30) + (100u << 20);
    for (; frames < 400 && fs::file_size(file) < target; ++frames)
        writer.WriteFrame(frames, frame.Pixels(), frame.Size());
    writer.Release();
    ASSERT_GT(fs::file_size(file), uintmax_t(1) << 30);

    RiffReader riff(file.string());
    ASSERT_TRUE(riff.Valid());
    ASSERT_GE(riff.Riffs().size(), 2u);
    EXPECT_EQ(riff.Riffs()[1].listType, "AVIX");
    for (const RiffReader::Chunk& part : riff.Riffs())
        EXPECT_LE(part.size, 1u << 30 | 64u << 20);
    EXPECT_TRUE(riff.Find({"AVI ", "hdrl", "strl", "indx"}));
    EXPECT_TRUE(riff.Find({"AVI ", "hdrl", "odml", "dmlh"}));
    EXPECT_EQ(riff.VideoChunkSizes().size(), size_t(frames));
    EXPECT_EQ(riff.ReadStreamHeader().dwLength, uint32_t(frames));

    AviDecoder decoder(file.string());
    ASSERT_TRUE(decoder.IsOpen());
    EXPECT_EQ(decoder.Packets().size(), size_t(frames));
    // The last frame lies in the AVIX part, found through the OpenDML index.
    EXPECT_TRUE(decoder.DecodeAt(frames - 1));
}

} // namespace
