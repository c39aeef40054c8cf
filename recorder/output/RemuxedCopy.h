#pragma once

#include <cstdint>
#include <string>

// Rewrites a finished or cut-off recording into a new file without re-encoding,
// and proves a file plays, for the steps that complete or repair a recording.
class RemuxedCopy {
public:
    // Copies the video of `from`, and its sound if it has any, into a new file `to` written by the
    // named muxer; movflags is handed to the MP4 muxer (nullptr for none). Packets cut short by an
    // interruption are left out. The video goes on for `repeats` more frame periods, each showing
    // the last picture again (empty packets, for AVI). On failure `to` is removed.
    static bool Write(const std::string& from, const std::string& to, const char* muxerName,
                      const char* movflags = nullptr, int64_t repeats = 0);
    // True when the file holds video and every one of its frames decodes.
    static bool DecodesCompletely(const std::string& path);
    // Creates an empty file beside path, with path's permissions, under a name of
    // its own; empty when that failed.
    static std::string NewFileBeside(const std::string& path);
    // Puts `replacement` in the place of `target` once its bytes are on disk, so
    // that a power cut leaves either file whole.
    static bool ReplaceDurably(const std::string& replacement, const std::string& target);
};
