#include "recorder/media/PictureFit.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

int Scale(int value, int to, int from) {
    return static_cast<int>(int64_t(value) * to / from);
}

} // namespace

PictureFit PictureFit::Between(int sourceWidth, int sourceHeight, int frameWidth, int frameHeight) {
    PictureFit fit{sourceWidth, sourceHeight, 0, 0, sourceWidth, sourceHeight};
    if (sourceWidth <= 0 || sourceHeight <= 0)
        return {sourceWidth, sourceHeight, 0, 0, frameWidth, frameHeight};
    // A picture made larger would only blur: a smaller one keeps its own pixels.
    // A larger one shrinks until its longer side, for the frame, fills it.
    if (sourceWidth > frameWidth || sourceHeight > frameHeight) {
        if (int64_t(frameWidth) * sourceHeight <= int64_t(frameHeight) * sourceWidth) {
            fit.width = frameWidth;
            fit.height = std::max(1, Scale(sourceHeight, frameWidth, sourceWidth));
        } else {
            fit.height = frameHeight;
            fit.width = std::max(1, Scale(sourceWidth, frameHeight, sourceHeight));
        }
    }
    fit.left = (frameWidth - fit.width) / 2;
    fit.top = (frameHeight - fit.height) / 2;
    return fit;
}

int PictureFit::FrameX(int sourceX) const {
    return sourceWidth > 0 ? left + Scale(sourceX, width, sourceWidth) : sourceX;
}

int PictureFit::FrameY(int sourceY) const {
    return sourceHeight > 0 ? top + Scale(sourceY, height, sourceHeight) : sourceY;
}

void CopyRows(const FrameBuffer& source, const RowBands& rows, FrameBuffer& frame) {
    const int pixelBits = frame.bitCount();
    for (const RowBands::Band& band : rows.bands()) {
        const int left = std::min(band.left, frame.width());
        const int right = std::min(band.right, frame.width());
        const size_t first = size_t(left) * pixelBits / 8;
        const size_t bytes = (size_t(right) * pixelBits + 7) / 8 - first;
        for (int y = band.top; y < std::min(band.bottom, frame.height()); ++y)
            std::memcpy(frame.ScreenRow(y) + first, source.ScreenRow(y) + first, bytes);
    }
}

// Source columns are stepped in 16.16 fixed point: no division per pixel, and no
// table to allocate with each frame.
void DrawFitted(const FrameBuffer& source, const PictureFit& fit, FrameBuffer& frame) {
    const size_t pixelBytes = size_t(std::max(1, frame.bitCount() / 8));
    const int64_t step = fit.width > 0 ? (int64_t(fit.sourceWidth) << 16) / fit.width : 0;
    for (int y = 0; y < frame.height(); ++y) {
        uint8_t* row = frame.ScreenRow(y);
        std::memset(row, 0, frame.stride());
        if (y < fit.top || y >= fit.top + fit.height)
            continue;
        const uint8_t* from = source.ScreenRow(Scale(y - fit.top, fit.sourceHeight, fit.height));
        uint8_t* to = row + size_t(fit.left) * pixelBytes;
        for (int64_t position = 0, x = 0; x < fit.width; ++x, position += step) {
            std::memcpy(to, from + size_t(position >> 16) * pixelBytes, pixelBytes);
            to += pixelBytes;
        }
    }
}
