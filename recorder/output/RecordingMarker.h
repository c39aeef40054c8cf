#pragma once

#include <string>

// Left in the program's data folder while a recording is written: only a completed
// AVI file gets its index, and only a completed file of any kind hands back the
// disk room held ahead of it. It names the file (path, device, inode) and
// stays locked while the recording runs, so that a later start can tell a
// recording that was cut off from one still going on in another instance.
class RecordingMarker {
public:
    RecordingMarker() = default;
    ~RecordingMarker();
    RecordingMarker(const RecordingMarker&) = delete;
    RecordingMarker& operator=(const RecordingMarker&) = delete;
    // The marker goes with the step that completes the file.
    RecordingMarker(RecordingMarker&& other) noexcept;
    RecordingMarker& operator=(RecordingMarker&& other) noexcept;

    // Marks the file, which must exist; the marker is on the disk when this returns true.
    bool Create(const std::string& recordingPath);
    void Remove();

    // Where the markers lie: beside the value store.
    static std::string Folder();

    // What a marker names; false when the text is not a marker's.
    struct Contents {
        unsigned long long device = 0;
        unsigned long long inode = 0;
        std::string path;
    };
    static bool Parse(const std::string& text, Contents& contents);

private:
    int m_fd = -1;
    std::string m_markerPath;
};
