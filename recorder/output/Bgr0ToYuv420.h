#pragma once

#include <cstddef>
#include <cstdint>

// The recorder's hot conversion: 32-bit BGRx rows (a 24-bit X screen) to planar
// BT.601 limited-range YUV 4:2:0 with each chroma sample averaged over its 2x2
// block, as swscale makes it but in a fraction of swscale's time. Width and height
// must be even; the row stride may be negative (bottom-up source rows).
void ConvertBgr0ToYuv420(const uint8_t* topRow, ptrdiff_t stride, int width, int height,
                         uint8_t* const planes[3], const int lineSizes[3]);
