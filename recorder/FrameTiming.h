#pragma once

#include <cstdint>

// Frames are placed on the time line by when they were captured, not counted, in
// 32-bit millisecond arithmetic that wraps like the clock does.

// Monotonic milliseconds, wrapping at 2^32.
uint32_t MillisecondClock();

// ((tickTime - startTime) * frameRate) / 1000 - 1 in unsigned 32-bit arithmetic: a
// tick less than one frame period after the start gives 0xFFFFFFFF (-1 to the
// writer), a late tick skips positions, two ticks within one period share one.
uint32_t FramePosition(uint32_t startTime, uint32_t tickTime, uint32_t frameRate);
