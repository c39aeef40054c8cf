#include "RiffReader.h"
#include "SyntheticFrame.h"
#include "recorder/output/AviWriter.h"
#include "recorder/output/EncoderTable.h"
#include "settings/Utf16.h"
#include "tests/support/AviDecoder.h"
#include "tests/support/Players.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sched.h>
#include <sys/mount.h>
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

// Records noise frames until the writer reports the disk full (or frames run out);
// exits 0 when it did, 1 when every frame fitted, 2 when the file could not be opened.
int RecordUntilFull(const fs::path& file, int frames) {
    SyntheticFrame frame(320, 240, 32);
    CAviWriter writer;
    if (!writer.Open(FromUtf8(file.string()), 10, OptionsFor(MakeFourCC("FMP4")), frame.Format()))
        return 2;
    for (int position = 0; position < frames && !writer.WriteFailed(); ++position) {
        frame.FillNoise(uint32_t(position + 1));
        writer.WriteFrame(position, frame.Pixels(), frame.Size());
    }
    writer.Release();
    return writer.WriteFailed() && writer.FramesStored() > 0 ? 0 : 1;
}

// Runs body in a child process; its exit status.
template <typename Body> int InChild(Body body) {
    pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = -1;
    waitpid(child, &status, 0);
    return status;
}

// In the child: a tmpfs of sizeBytes at folder, in mount and user namespaces of the
// child's own, so no privilege is needed and nothing outside sees it.
bool MountSmallDisk(const fs::path& folder, size_t sizeBytes) {
    // Root mounts in a mount namespace of its own; anyone else needs a user
    // namespace for that, which a chroot (as in scripts/debian-root) refuses.
    const bool root = getuid() == 0;
    const std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
    if (unshare(root ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return false;
    if (!root) {
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    }
    const std::string options = "size=" + std::to_string(sizeBytes);
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

// What a file cut short by a full disk must be: every frame up to the last whole
// one, counted right in the headers and listed in the index.
void ExpectCompleteUpToTheLastWholeFrame(const fs::path& file, int framesOffered) {
    AviDecoder decoder(file.string());
    ASSERT_TRUE(decoder.IsOpen());
    const std::vector<int64_t> decoded = decoder.DecodedPositions();
    ASSERT_GE(decoded.size(), 2u);
    EXPECT_LT(decoded.size(), size_t(framesOffered));
    EXPECT_EQ(decoded, Iota(int64_t(decoded.size())));
    RiffReader riff(file.string());
    ASSERT_TRUE(riff.Valid());
    EXPECT_FALSE(riff.Truncated());
    EXPECT_EQ(uint64_t(riff.Riffs().at(0).size) + 8, fs::file_size(file));
    EXPECT_TRUE(riff.Find({"AVI ", "idx1"}));
    EXPECT_EQ(riff.ReadStreamHeader().dwLength, decoded.size());
    EXPECT_EQ(riff.AviHeaderTotalFrames(), decoded.size());
    EXPECT_EQ(riff.VideoChunkSizes().size(), decoded.size());
}

TEST(AviWriterLimits, FileSizeLimitEndsTheRecordingWithAWholeFile) {
    TempFolder folder;
    const fs::path file = folder / "limited.avi";
    const rlim_t limit = 400 * 1024;
    const int frames = 60;
    const int status = InChild([&] {
        // Without this the kernel would kill the child at the limit.
        signal(SIGXFSZ, SIG_IGN);
        rlimit fileSize{limit, limit};
        setrlimit(RLIMIT_FSIZE, &fileSize);
        return RecordUntilFull(file, frames);
    });
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LE(fs::file_size(file), limit);
    ExpectCompleteUpToTheLastWholeFrame(file, frames);
}

// A real full disk; the players most desktops use must take the file without
// complaint: GStreamer decodes it to the end, VLC finds its index.
TEST(AviWriterLimits, FullDiskEndsTheRecordingWithAFilePlayersAccept) {
    TempFolder folder;
    const fs::path disk = folder / "disk";
    const fs::path file = folder / "full.avi";
    fs::create_directory(disk);
    const int frames = 200;
    const int status = InChild([&] {
        if (!MountSmallDisk(disk, 1 << 20))
            return 3;
        const int result = RecordUntilFull(disk / "full.avi", frames);
        fs::copy_file(disk / "full.avi", file);
        return result;
    });
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_GT(fs::file_size(file), 900u * 1024);
    ExpectCompleteUpToTheLastWholeFrame(file, frames);

    const int stored = int(AviDecoder(file.string()).DecodedPositions().size());
    testsupport::ExpectBothPlayersTake(file, stored);
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
