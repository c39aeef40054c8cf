#pragma once

#include "recorder/media/FrameBuffer.h"
#include "recorder/media/RowBands.h"

// Where a picture of one size shows in a frame of another, centred: at its own
// size when it fits, else scaled down with its aspect kept; the rest of the frame
// is black. A picture of the frame's size fills it as it is.
struct PictureFit {
    int sourceWidth = 0;
    int sourceHeight = 0;
    int left = 0; // the scaled picture's rectangle in the frame
    int top = 0;
    int width = 0;
    int height = 0;

    bool operator==(const PictureFit&) const = default;
    static PictureFit Between(int sourceWidth, int sourceHeight, int frameWidth, int frameHeight);

    // The picture fills the frame at its own size: a copy, no bars.
    bool fills() const {
        return left == 0 && top == 0 && width == sourceWidth && height == sourceHeight;
    }
    // A point of the picture in the frame.
    int FrameX(int sourceX) const;
    int FrameY(int sourceY) const;
};

// Copies the rows of `source` into a frame of the same size and layout.
void CopyRows(const FrameBuffer& source, const RowBands& rows, FrameBuffer& frame);

// Draws the whole of `source` into the frame as the fit says, each frame pixel
// the nearest of the picture's; the bars are black. Both have the same bits per pixel.
void DrawFitted(const FrameBuffer& source, const PictureFit& fit, FrameBuffer& frame);
