#pragma once

#include "recorder/output/RecordingMarker.h"

#include <string>

// The last step of an MP4 recording: the fragments it was written in are rewritten
// as an ordinary MP4 with its index in front, which every player and editor takes.
// For a long recording that takes a while, so it may run on any thread. Until it
// has run the fragmented file plays too, and its marker stays, so that a crash
// meanwhile leaves a file the next start knows.
class Mp4Completion {
public:
    Mp4Completion(std::string path, RecordingMarker marker);

    // A failed rewrite (a full disk) leaves the fragmented file.
    void Run();
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    RecordingMarker m_marker;
};
