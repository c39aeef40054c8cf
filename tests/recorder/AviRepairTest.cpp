// Recordings cut off as a kill leaves them (a child process that ends without
// completing its file), repaired through the markers the writer leaves.
#include "recorder/output/AviRepair.h"
#include "SyntheticFrame.h"
#include "recorder/output/AviWriter.h"
#include "recorder/output/EncoderTable.h"
#include "recorder/output/RecordingMarker.h"
#include "settings/Utf16.h"
#include "tests/support/AviDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class AviRepair : public ::testing::Test {
protected:
    void SetUp() override {
        const char* saved = std::getenv("XDG_DATA_HOME");
        m_savedDataHome = saved ? std::optional<std::string>(saved) : std::nullopt;
        setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
    }
    void TearDown() override {
        if (m_savedDataHome)
            setenv("XDG_DATA_HOME", m_savedDataHome->c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
    }

    // Records frames 0 to count - 1, then as many repeats of the last one, and ends
    // the process without completing the file.
    static void RecordAndDie(const fs::path& path, int count, int repeats = 0) {
        const pid_t child = fork();
        if (child == 0) {
            SyntheticFrame frame(160, 120, 32);
            AviCompressOptions options;
            options.fccHandler = MakeFourCC("FMP4");
            CAviWriter writer;
            if (!writer.Open(FromUtf8(path.string()), 10, options, frame.Format()))
                _exit(1);
            for (int position = 0; position < count; ++position) {
                frame.Fill(ColourFor(position), ColourFor(position + 1));
                writer.WriteFrame(position, frame.Pixels(), frame.Size());
            }
            for (int position = count; position < count + repeats; ++position)
                writer.WriteRepeat(position);
            _exit(0);
        }
        int status = -1;
        waitpid(child, &status, 0);
        ASSERT_EQ(status, 0);
    }

    static size_t Markers() {
        const fs::path markers = RecordingMarker::Folder();
        return fs::exists(markers) ? size_t(std::distance(fs::directory_iterator(markers),
                                                          fs::directory_iterator()))
                                   : 0;
    }

    TempFolder folder;
    std::optional<std::string> m_savedDataHome;
};

TEST_F(AviRepair, CutOffRecordingGetsItsIndexAndKeepsEveryFrame) {
    const fs::path file = folder / "cut.avi";
    RecordAndDie(file, 25, 15);
    ASSERT_EQ(Markers(), 1u);
    const auto outcomes = CAviRepair::RepairInterrupted(RecordingMarker::Folder());
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].path, file.string());
    EXPECT_EQ(outcomes[0].result, CAviRepair::Result::Repaired);
    EXPECT_EQ(Markers(), 0u);
    testsupport::AviDecoder decoder(file.string());
    // The still end's last three slots were still waiting to learn whether they end
    // the recording; before them it shows its picture again every 0.3 s.
    EXPECT_EQ(decoder.DeclaredFrames(), 37)
        << "the header states the length again, the still end included";
    const std::vector<int64_t> pictures = decoder.DecodedPositions();
    EXPECT_EQ(pictures.size(), 25u + 4u) << "every frame, and the still end's pictures";
    EXPECT_EQ(pictures.back(), 36);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 2)
        << "the recording and the data folder, no copies";
}

// A repair given up halfway (the user cancels a long one) leaves the file as it
// was, no copy beside it, and the marker for the next start, which repairs it.
TEST_F(AviRepair, CancelledRepairLeavesTheFileForALaterOne) {
    const fs::path file = folder / "long.avi";
    RecordAndDie(file, 300);
    const std::string cut = ReadBytes(file);
    std::vector<double> heard;
    const auto cancelled =
        CAviRepair::RepairInterrupted(RecordingMarker::Folder(), [&heard](double done) {
            heard.push_back(done);
            return done < 0.25;
        });
    ASSERT_EQ(cancelled.size(), 1u);
    EXPECT_EQ(cancelled[0].result, CAviRepair::Result::Cancelled);
    EXPECT_EQ(ReadBytes(file), cut);
    EXPECT_EQ(Markers(), 1u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 2);
    ASSERT_GE(heard.size(), 2u);
    EXPECT_TRUE(std::is_sorted(heard.begin(), heard.end()));

    heard.clear();
    const auto repaired =
        CAviRepair::RepairInterrupted(RecordingMarker::Folder(), [&heard](double done) {
            heard.push_back(done);
            return true;
        });
    ASSERT_EQ(repaired.size(), 1u);
    EXPECT_EQ(repaired[0].result, CAviRepair::Result::Repaired);
    EXPECT_EQ(Markers(), 0u);
    ASSERT_FALSE(heard.empty());
    EXPECT_GT(heard.back(), 0.75) << "the check of the copy is the second half";
    EXPECT_LE(heard.back(), 1.0);
}

TEST_F(AviRepair, LeavesEverythingButItsOwnEndedRecordingsAlone) {
    // Cut off, then recorded into again by another instance, which still runs:
    // the new marker is locked, the old one not.
    const fs::path running = folder / "running.avi";
    RecordAndDie(running, 3);
    RecordingMarker live;
    ASSERT_TRUE(live.Create(running.string()));
    // Replaced by another file of the same name since.
    const fs::path replaced = folder / "replaced.avi";
    RecordAndDie(replaced, 3);
    fs::copy_file(replaced, folder / "copy.avi");
    fs::rename(folder / "copy.avi", replaced);
    // Overwritten in place with something else.
    const fs::path rewritten = folder / "rewritten.avi";
    RecordAndDie(rewritten, 3);
    std::ofstream(rewritten, std::ios::binary) << "RIFF of some other program";
    // Completed normally later on, under the same name.
    const fs::path completed = folder / "completed.avi";
    RecordAndDie(completed, 3);
    {
        SyntheticFrame frame(160, 120, 32);
        AviCompressOptions options;
        options.fccHandler = MakeFourCC("FMP4");
        CAviWriter writer;
        ASSERT_TRUE(writer.Open(FromUtf8(completed.string()), 10, options, frame.Format()));
        writer.WriteFrame(0, frame.Pixels(), frame.Size());
    }
    std::map<fs::path, std::string> before;
    for (const fs::path& file : {running, replaced, rewritten, completed})
        before[file] = ReadBytes(file);
    ASSERT_EQ(Markers(), 5u);

    EXPECT_TRUE(CAviRepair::RepairInterrupted(RecordingMarker::Folder()).empty());
    for (const auto& [file, bytes] : before)
        EXPECT_EQ(ReadBytes(file), bytes) << file;
    EXPECT_EQ(Markers(), 1u) << "only the running recording's marker stays";
}

TEST_F(AviRepair, OriginalStaysWhenTheCopyDoesNotDecode) {
    const fs::path file = folder / "damaged.avi";
    RecordAndDie(file, 10);
    std::string bytes = ReadBytes(file);
    const size_t frames = bytes.find("movi");
    ASSERT_NE(frames, std::string::npos);
    for (size_t i = frames + 40; i < bytes.size(); i += 7)
        bytes[i] = char(i * 31);
    std::fstream(file, std::ios::in | std::ios::out | std::ios::binary)
        .write(bytes.data(), bytes.size());
    const auto outcomes = CAviRepair::RepairInterrupted(RecordingMarker::Folder());
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].result, CAviRepair::Result::Failed);
    EXPECT_EQ(ReadBytes(file), bytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 2);
}

} // namespace
