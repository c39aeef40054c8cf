#include "recorder/media/FrameCanvas.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

uint8_t Over(uint32_t source, uint8_t destination, unsigned transparency) {
    return static_cast<uint8_t>(std::min(255u, source + (destination * transparency + 127) / 255));
}

int SquaredDistance(Rgb a, const RgbQuad& b) {
    const int red = a.red - b.red;
    const int green = a.green - b.green;
    const int blue = a.blue - b.blue;
    return red * red + green * green + blue * blue;
}

} // namespace

Rgb BlendPremultiplied(uint32_t source, Rgb destination) {
    const unsigned transparency = 255 - (source >> 24);
    return {Over((source >> 16) & 0xFF, destination.red, transparency),
            Over((source >> 8) & 0xFF, destination.green, transparency),
            Over(source & 0xFF, destination.blue, transparency)};
}

void FrameCanvas::BlendImage(const uint32_t* pixels, int width, int height, int left, int top) {
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const uint32_t source = pixels[row * width + column];
            const int x = left + column;
            const int y = top + row;
            if ((source >> 24) == 0 || !Contains(x, y))
                continue;
            SetPixel(x, y, BlendPremultiplied(source, PixelAt(x, y)));
        }
    }
}

void FrameCanvas::DrawCircle(int x, int y, float diameter, Rgb colour) {
    // A pen 2 wide centred on the circle covers the pixels whose centres lie
    // less than 1 from it.
    const float radius = diameter * 0.5f;
    const float inner = std::max(radius - 1.0f, 0.0f);
    const float outer = radius + 1.0f;
    const int reach = static_cast<int>(std::ceil(outer));
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            const float distanceSquared = static_cast<float>(dx * dx + dy * dy);
            if (distanceSquared < inner * inner || distanceSquared >= outer * outer ||
                !Contains(x + dx, y + dy))
                continue;
            SetPixel(x + dx, y + dy, colour);
        }
    }
}

Rgb FrameCanvas::PixelAt(int x, int y) const {
    const int bitCount = m_frame.bitCount();
    const uint8_t* at = m_frame.ScreenRow(y) + static_cast<size_t>(x) * (bitCount / 8);
    if (bitCount == 8) {
        const RgbQuad& entry = m_frame.ColourTable()[*at];
        return {entry.red, entry.green, entry.blue};
    }
    return ReadFramePixel(at, bitCount);
}

void FrameCanvas::SetPixel(int x, int y, Rgb colour) {
    const int bitCount = m_frame.bitCount();
    uint8_t* at = m_frame.ScreenRow(y) + static_cast<size_t>(x) * (bitCount / 8);
    if (bitCount == 8)
        *at = NearestIndex(colour);
    else
        WriteFramePixel(at, bitCount, colour);
}

uint8_t FrameCanvas::NearestIndex(Rgb colour) const {
    const RgbQuad* table = m_frame.ColourTable();
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (int index = 0; index < 256 && bestDistance > 0; ++index) {
        const int distance = SquaredDistance(colour, table[index]);
        if (distance < bestDistance) {
            best = index;
            bestDistance = distance;
        }
    }
    return static_cast<uint8_t>(best);
}
