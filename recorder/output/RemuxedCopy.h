#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Told how far a long step on a large file has come, from 0 to 1; answers false to
// have the step given up.
using StepProgress = std::function<bool(double done)>;

// Rewrites a finished or cut-off recording into a new file without re-encoding,
// and proves a file plays, for the steps that complete or repair a recording.
class RemuxedCopy {
public:
    // Copies the video of `from`, and its sound if it has any, into a new file `to` written by the
    // named muxer; movflags is handed to the MP4 muxer (nullptr for none). Packets cut short by an
    // interruption are left out. The video goes on for `repeats` more frame periods, each showing
    // the last picture again (empty packets, for AVI). On failure or when progress gives up, `to`
    // is removed.
    static bool Write(const std::string& from, const std::string& to, const char* muxerName,
                      const char* movflags = nullptr, int64_t repeats = 0,
                      const StepProgress& progress = {});
    // True when the file holds video and every one of its frames decodes; false too
    // when progress gives up.
    static bool DecodesCompletely(const std::string& path, const StepProgress& progress = {});
    // Creates an empty file beside path, with path's permissions, under a name of
    // its own; empty when that failed.
    static std::string NewFileBeside(const std::string& path);
    // Puts `replacement` in the place of `target` once its bytes are on disk, so
    // that a power cut leaves either file whole.
    static bool ReplaceDurably(const std::string& replacement, const std::string& target);
};
