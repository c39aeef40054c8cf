#pragma once

#include <cstdint>

// A compressor choice as the codec catalogue makes it and the AVI writer takes it.
struct AviCompressOptions {
    uint32_t fccType = 0;    // "vids"
    uint32_t fccHandler = 0; // the encoder's FourCC as stored in the AVI file
    uint32_t dwKeyFrameEvery = 0;
    uint32_t dwQuality = 0; // 95000 asks for the encoder's best quality
    uint32_t dwBytesPerSecond = 0;
    uint32_t dwFlags = 0;
    uint32_t dwInterleaveEvery = 0;
};
