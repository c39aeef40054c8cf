#pragma once

#include <cstdint>
#include <vector>

// A caption to draw into the frames near the bottom of the recorded area:
// width × height premultiplied 0xAARRGGBB pixels, as FrameCanvas::BlendImage takes.
struct CaptionPicture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    bool empty() const { return pixels.empty(); }
};
