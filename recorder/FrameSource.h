#pragma once

#include "recorder/CaptureBackend.h"
#include "recorder/FrameBuffer.h"
#include "recorder/ScreenArea.h"

// One way of getting the screen's pictures into the grabber's frame buffer.
class FrameSource {
public:
    virtual ~FrameSource() = default;

    // Connects and sizes the frame; false with failure() saying why.
    virtual bool Open() = 0;
    // Puts the newest picture, cursor drawn in, into the frame; false leaves
    // the frame as it was.
    virtual bool Capture() = 0;
    // Whether the next Capture could give another picture than the last one;
    // true where the source cannot tell.
    virtual bool HasChanged() = 0;
    // Calls off an Open that is waiting for an answer.
    virtual void Abandon() {}

    virtual FrameBuffer& frame() = 0;
    // The captured rectangle, in the pointer's coordinates.
    virtual ScreenArea area() const = 0;
    virtual CaptureFailure failure() const = 0;
};
