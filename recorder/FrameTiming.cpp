#include "recorder/FrameTiming.h"

#include <ctime>

uint32_t MillisecondClock() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

uint32_t FramePosition(uint32_t startTime, uint32_t tickTime, uint32_t frameRate) {
    return ((tickTime - startTime) * frameRate) / 1000u - 1u;
}
