#pragma once

#include "recorder/media/FrameBuffer.h"
#include "recorder/media/FramePixel.h"

#include <cstdint>

// Draws into a frame in its own pixel format, in screen coordinates (top-down,
// while the rows are stored bottom-up). Whatever falls outside is clipped. At
// 8 bits per pixel a colour is drawn as the nearest entry of the colour table,
// so the table must be filled before drawing.
class FrameCanvas {
public:
    explicit FrameCanvas(FrameBuffer& frame) : m_frame(frame) {}

    // pixels: width × height premultiplied 0xAARRGGBB, placed with its top-left at (left, top).
    void BlendImage(const uint32_t* pixels, int width, int height, int left, int top);

    // An outline 2 pixels wide around the circle of the given diameter centred
    // on (x, y); diameter 0 marks the centre pixel.
    void DrawCircle(int x, int y, float diameter, Rgb colour);

    Rgb PixelAt(int x, int y) const;

private:
    void SetPixel(int x, int y, Rgb colour);
    uint8_t NearestIndex(Rgb colour) const;
    bool Contains(int x, int y) const {
        return x >= 0 && y >= 0 && x < m_frame.width() && y < m_frame.height();
    }

    FrameBuffer& m_frame;
};

// Premultiplied source over an opaque destination, per 8-bit channel.
Rgb BlendPremultiplied(uint32_t source, Rgb destination);
