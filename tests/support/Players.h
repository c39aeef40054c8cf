#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// What a player other than FFmpeg's tools makes of a recording: the desktop's
// players must take our files as they are, index and headers included.
struct PlayerVerdict {
    bool played = false; // opened and decoded pictures with no error and no complaint
    int frames = -1;     // frames decoded (GStreamer) or listed in the AVI index it read (VLC)
    std::string log;     // the player's own words, for the failure message
};

// gst-launch-1.0 decodes every frame; complaints are its warning and error messages.
PlayerVerdict PlayWithGStreamer(const std::filesystem::path& file);
// VLC plays the file through its dummy outputs from startSeconds on (the seek a
// player makes at a start time), as an unprivileged user when run as root (it
// refuses root); complaints are its demuxer's and decoder's errors, among them
// the one it logs when the decoder gave no picture for the second it read ahead.
PlayerVerdict PlayWithVlc(const std::filesystem::path& file, double startSeconds = 0);

// What GStreamer delivers after a seek, as a player's position slider makes it.
struct SeekVerdict {
    bool played = false;      // the seek and the play to the end went without a complaint
    double firstPicture = -1; // seconds: the first picture from the seek point on; -1: none
    std::string log;          // the player's own words, for the failure message
};
// An exact seek to the moment, then every picture to the end.
SeekVerdict SeekWithGStreamer(const std::filesystem::path& file, double seconds);
// Both players play the file without a complaint and find this many frames.
void ExpectBothPlayersTake(const std::filesystem::path& file, int frames);
// VLC plays the file from its start and from the moment without a complaint, and
// GStreamer's seek to the moment gives a picture within `within` seconds after it
// (a still screen's spacing of pictures).
void ExpectAPictureSoonAfterASeek(const std::filesystem::path& file, double seconds, double within);

} // namespace testsupport
