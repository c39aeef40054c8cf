#pragma once

#include "recorder/media/BitmapInfoHeader.h"
#include "recorder/media/RowBands.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// One colour-table entry as the bitmap layout stores it.
struct RgbQuad {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
    uint8_t reserved = 0;
};
static_assert(sizeof(RgbQuad) == 4);

// The frame as one heap block: the 40-byte header, a colour table when the
// pixels are palette indexes (8 bits or fewer), then bottom-up rows padded to
// a multiple of 4 bytes. The writer takes the header as its stream format and
// the rows as frame data, so the layout is fixed to the byte.
class FrameBuffer {
public:
    static size_t RowStride(int width, int bitCount);
    static size_t ColourTableEntries(int bitCount);

    // Zero-filled, header written; false when the size is invalid or memory is short.
    bool Allocate(int width, int height, int bitCount);
    void Free();

    bool allocated() const { return m_block != nullptr; }
    const BitmapInfoHeader* Header() const;
    RgbQuad* ColourTable();
    const RgbQuad* ColourTable() const;
    const uint8_t* Pixels() const { return m_pixels; }

    int width() const { return m_width; }
    int height() const { return m_height; }
    int bitCount() const { return m_bitCount; }
    size_t stride() const { return m_stride; }

    // What a grab into a reused frame needs to know, and the writer after it.
    // Where (rows top-down, with their columns) the frame may differ from the
    // one grabbed before it: everywhere after Allocate.
    RowBands& changedRows() { return m_changedRows; }
    const RowBands& changedRows() const { return m_changedRows; }
    // Where something is drawn over the screen's picture (cursor, circles).
    RowBands& overlayRows() { return m_overlayRows; }
    const RowBands& overlayRows() const { return m_overlayRows; }
    // Which of its source's pictures the frame shows; 0: none.
    uint64_t picture() const { return m_picture; }
    void setPicture(uint64_t picture) { m_picture = picture; }

    // Rows are stored bottom-up: screen row 0 is the last row of the block.
    uint8_t* ScreenRow(int y) { return m_pixels + (m_height - 1 - y) * m_stride; }
    const uint8_t* ScreenRow(int y) const { return m_pixels + (m_height - 1 - y) * m_stride; }

private:
    std::unique_ptr<uint8_t[]> m_block;
    uint8_t* m_pixels = nullptr;
    int m_width = 0;
    int m_height = 0;
    int m_bitCount = 0;
    size_t m_stride = 0;
    RowBands m_changedRows;
    RowBands m_overlayRows;
    uint64_t m_picture = 0;
};
