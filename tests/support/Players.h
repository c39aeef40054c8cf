#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// What a player other than FFmpeg's tools makes of a recording: the desktop's
// players must take our files as they are, index and headers included.
struct PlayerVerdict {
    bool played = false; // opened and decoded with no error and no complaint
    int frames = -1;     // frames decoded (GStreamer) or listed in the index it read (VLC)
    std::string log;     // the player's own words, for the failure message
};

// gst-launch-1.0 decodes every frame; complaints are its warning and error messages.
PlayerVerdict PlayWithGStreamer(const std::filesystem::path& file);
// VLC plays the file through its dummy outputs, as an unprivileged user when run
// as root (it refuses root); complaints are its demuxer's and decoder's errors.
PlayerVerdict PlayWithVlc(const std::filesystem::path& file);
// Both players play the file without a complaint and find this many frames.
void ExpectBothPlayersTake(const std::filesystem::path& file, int frames);

} // namespace testsupport
