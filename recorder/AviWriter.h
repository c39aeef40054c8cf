#pragma once

#include "recorder/BitmapInfoHeader.h"
#include "settings/AviCompressOptions.h"

#include <cstdint>
#include <memory>
#include <string>

// One recording as a file with a single compressed video stream; frames are
// placed by their position on the time line. The file name picks the file type
// (AVI, or MP4 and Matroska by their extensions; see OutputContainer).
class CAviWriter {
public:
    CAviWriter();
    ~CAviWriter();
    CAviWriter(const CAviWriter&) = delete;
    CAviWriter& operator=(const CAviWriter&) = delete;

    // format: the frame buffer's header with its colour table behind it.
    bool Open(const std::u16string& fileName, unsigned frameRate, const AviCompressOptions& options,
              const BitmapInfoHeader* format);
    void WriteFrame(int32_t position, const void* pixels, uint32_t size);
    void Release();

    // True from the creation of the file on, also after an Open that failed later
    // (the file then stays on disk until Release); frames go in only after a
    // successful Open.
    bool IsOpen() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};
