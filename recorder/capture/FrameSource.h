#pragma once

#include "recorder/capture/CaptureBackend.h"
#include "recorder/media/ClickMark.h"
#include "recorder/media/FrameBuffer.h"
#include "recorder/media/ScreenArea.h"
#include "settings/AreaChoice.h"

// Where a press's mark goes on the pictures of a source.
enum class MarkPlacement {
    Placed,     // at the press's position, or moved to where the pictures show the pointer
    OffPicture, // the pointer is not on the shared screen now
    Unknowable  // the pictures have the pointer drawn in and do not tell where it is
};

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
    // Where the X server reports the pointer, the press's own position is right.
    virtual MarkPlacement PlaceClickMark(ClickMark&) { return MarkPlacement::Placed; }
    // Calls off an Open that is waiting for an answer.
    virtual void Abandon() {}

    virtual FrameBuffer& frame() = 0;
    // The rectangle the marks are drawn in, in the coordinates PlaceClickMark
    // leaves them in.
    virtual ScreenArea area() const = 0;
    virtual CaptureFailure failure() const = 0;
    // Why the source took the primary monitor instead of the area asked for.
    virtual AreaFallback areaFallback() const { return AreaFallback::Kept; }
    // The window recorded was closed; the frames go on with its last picture.
    virtual bool windowClosed() const { return false; }
};
