#include "tests/support/Players.h"

#include "tests/support/ExternalCommand.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testsupport {
namespace {

// Decoded frames are scaled to this many grey bytes each, so their count is the
// output's size over it.
constexpr int kFrameBytes = 16 * 16;

// Standard output and standard error together, for the verdict's log.
CommandResult Run(const std::string& command) {
    return runCommand(command + " 2>&1");
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

bool Mentions(const std::string& text, const char* pattern) {
    return std::regex_search(text, std::regex(pattern));
}

// A folder anyone may read, for a player that runs as another user.
struct SharedCopy {
    explicit SharedCopy(const fs::path& file) {
        char pattern[] = "/tmp/tesmara-player-XXXXXX";
        folder = mkdtemp(pattern);
        fs::permissions(folder,
                        fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
        fs::create_directory(folder / "home");
        copy = folder / file.filename();
        fs::copy_file(file, copy);
        fs::permissions(copy,
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        if (geteuid() == 0)
            Run("chown nobody " + Quoted(folder / "home"));
    }
    ~SharedCopy() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    fs::path folder;
    fs::path copy;
};

} // namespace

PlayerVerdict PlayWithGStreamer(const fs::path& file) {
    const fs::path raw = fs::path(file).concat(".gray");
    const CommandResult run =
        Run("gst-launch-1.0 -m filesrc location=" + Quoted(file) +
            " ! decodebin ! videoconvert ! videoscale ! video/x-raw,format=GRAY8,width=16,height=16"
            " ! filesink location=" +
            Quoted(raw));
    PlayerVerdict verdict;
    verdict.log = "gst-launch-1.0 (exit " + std::to_string(run.status) + "):\n" + run.output;
    std::error_code error;
    const uintmax_t bytes = fs::file_size(raw, error);
    verdict.frames = error ? -1 : int(bytes / kFrameBytes);
    fs::remove(raw, error);
    verdict.played = run.status == 0 && verdict.frames > 0 &&
                     !Mentions(run.output, "\\((warning|error)\\)|ERROR|WARNING");
    return verdict;
}

PlayerVerdict PlayWithVlc(const fs::path& file, double startSeconds) {
    const SharedCopy shared(file);
    const std::string asUser =
        geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup --clear-groups " : "";
    const CommandResult run =
        Run("HOME=" + Quoted(shared.folder / "home") + " " + asUser +
            "vlc -I dummy --no-dbus -vv --play-and-exit --vout=dummy --aout=dummy --start-time=" +
            std::to_string(startSeconds) + " " + Quoted(shared.copy));
    PlayerVerdict verdict;
    verdict.log = "vlc (exit " + std::to_string(run.status) + "):\n" + run.output;
    std::smatch entries;
    if (std::regex_search(run.output, entries, std::regex("created (\\d+) index entries")))
        verdict.frames = std::atoi(entries[1].str().c_str());
    verdict.played =
        run.status == 0 && Mentions(run.output, "Received first picture") &&
        !Mentions(run.output, "broken or missing index|avi demux error|"
                              "decoder error|get_buffer\\(\\) failed|no suitable decoder");
    return verdict;
}

// The seek runs in a helper script through GStreamer's Python bindings, which
// belong to the system's own interpreter.
SeekVerdict SeekWithGStreamer(const fs::path& file, double seconds) {
    const char* source = std::getenv("TESMARA_SOURCE_DIR");
    const fs::path script = fs::path(source ? source : ".") / "tests/support/gst-seek.py";
    const CommandResult run = Run("/usr/bin/python3 " + Quoted(script) + " " + Quoted(file) + " " +
                                  std::to_string(seconds));
    SeekVerdict verdict;
    verdict.log = "GStreamer seek to " + std::to_string(seconds) + " s (exit " +
                  std::to_string(run.status) + "):\n" + run.output;
    std::smatch first;
    if (std::regex_search(run.output, first, std::regex("first ([0-9.]+)")))
        verdict.firstPicture = std::atof(first[1].str().c_str());
    verdict.played = run.status == 0 && !Mentions(run.output, "(^|\\n)(warning|error) ");
    return verdict;
}

void ExpectBothPlayersTake(const fs::path& file, int frames) {
    const PlayerVerdict gstreamer = PlayWithGStreamer(file);
    EXPECT_TRUE(gstreamer.played) << gstreamer.log;
    EXPECT_EQ(gstreamer.frames, frames);
    const PlayerVerdict vlc = PlayWithVlc(file);
    EXPECT_TRUE(vlc.played) << vlc.log;
    EXPECT_EQ(vlc.frames, frames);
}

void ExpectAPictureSoonAfterASeek(const fs::path& file, double seconds, double within) {
    for (double start : {0.0, seconds}) {
        const PlayerVerdict vlc = PlayWithVlc(file, start);
        EXPECT_TRUE(vlc.played) << "from " << start << " s: " << vlc.log;
    }
    const SeekVerdict seek = SeekWithGStreamer(file, seconds);
    EXPECT_TRUE(seek.played) << seek.log;
    EXPECT_GE(seek.firstPicture, seconds) << seek.log;
    EXPECT_LE(seek.firstPicture, seconds + within) << seek.log;
}

} // namespace testsupport
