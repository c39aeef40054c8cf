#pragma once

#include "recorder/media/FrameBuffer.h"

#include <X11/Xlib.h>

#include <cstdint>

// Turns captured images of one server pixel format into frame rows of the same
// bits per pixel: 8-bit indexes as they are (the colour table says what they
// mean), 16-bit as 5-5-5, 24-bit as B,G,R and 32-bit as B,G,R,0.
class PixelConverter {
public:
    // False for formats that have no such frame layout (e.g. DirectColor
    // above 8 bits, 1-bit screens, byte-swapped servers).
    bool Prepare(const XImage& image, const Visual& visual);
    int bitCount() const { return m_bitCount; }

    // The given parts of the screen; the image is top-down, the frame bottom-up,
    // both the same size.
    void Convert(const XImage& image, const RowBands& rows, FrameBuffer& frame) const;

private:
    struct Channel {
        uint32_t mask = 0;
        int shift = 0;
        int bits = 0;

        static Channel FromMask(unsigned long mask);
        uint8_t ToByte(uint32_t pixel) const;
    };

    enum class Method { CopyRows, CopyClearingPadding, FromMasks };

    void ConvertRow(const XImage& image, int y, int left, int width, FrameBuffer& frame) const;
    void ConvertFromMasks(const uint8_t* source, uint8_t* target, int width) const;

    Method m_method = Method::CopyRows;
    int m_bitCount = 0;
    Channel m_red;
    Channel m_green;
    Channel m_blue;
};
