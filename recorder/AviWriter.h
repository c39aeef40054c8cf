#pragma once

#include "recorder/BitmapInfoHeader.h"
#include "settings/AviCompressOptions.h"

#include <cstdint>
#include <memory>
#include <string>

// One recording as an AVI file with a single compressed video stream; frames are
// placed by their position on the time line.
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
    // The slot at this position shows the frame before it again: stored as an
    // empty chunk, which players take for a repeat.
    void WriteRepeat(int32_t position);
    void Release();

    // True from the creation of the file on, also after an Open that failed later
    // (the file then stays on disk until Release); frames go in only after a
    // successful Open.
    bool IsOpen() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};
