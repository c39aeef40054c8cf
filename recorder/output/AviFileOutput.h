#pragma once

#include "recorder/media/FfmpegPtr.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The file beneath the AVI muxer. Room is set aside on disk ahead of the muxer
// (Reserve), so that when the disk fills the writer can stop before a frame and
// the muxer's closing index and header fix-ups still land in room already held.
// When a write fails all the same (an I/O error) the part already on disk is kept
// as it is: later appends are dropped, while rewrites inside that part still land.
// What reaches the file is put on the disk about once a second, so that a power
// cut takes at most the last second or so of a recording.
class AviFileOutput {
public:
    AviFileOutput() = default;
    ~AviFileOutput();
    AviFileOutput(const AviFileOutput&) = delete;
    AviFileOutput& operator=(const AviFileOutput&) = delete;

    // Creates the file or empties an existing one.
    bool Create(const std::string& path);
    AVIOContext* Io() const { return m_io.get(); }
    bool WriteFailed() const { return m_failed; }
    // Makes sure the file can grow to end bytes without running out of room;
    // false when the disk (or the process's file size limit) has no room for it.
    bool Reserve(int64_t end);
    // Bytes on disk so far.
    int64_t Size() const { return m_end; }

    // Direct access to bytes already written, for header fields the muxer leaves
    // as it likes; the muxer's buffer must have been flushed first.
    bool ReadAt(int64_t offset, void* data, size_t size) const;
    bool WriteAt(int64_t offset, const void* data, size_t size);

    void Close();

private:
    static int WritePacket(void* opaque, uint8_t* data, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);
    void Append(const uint8_t* data, size_t size);
    bool Allocate(int64_t end) const;

    int m_fd = -1;
    ffmpeg::IoContextPtr m_io;
    int64_t m_position = 0; // where the muxer writes next
    int64_t m_end = 0;      // bytes on disk
    int64_t m_reserved = 0; // bytes the disk holds for the file
    bool m_failed = false;
    int64_t m_lastSync = 0; // monotonic milliseconds
};
