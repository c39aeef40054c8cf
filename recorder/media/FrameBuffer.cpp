#include "recorder/media/FrameBuffer.h"

#include <memory>
#include <new>

size_t FrameBuffer::RowStride(int width, int bitCount) {
    return ((static_cast<size_t>(bitCount) * static_cast<size_t>(width) + 31) / 32) * 4;
}

size_t FrameBuffer::ColourTableEntries(int bitCount) {
    return bitCount <= 8 ? size_t{1} << bitCount : 0;
}

bool FrameBuffer::Allocate(int width, int height, int bitCount) {
    Free();
    if (width <= 0 || height <= 0 || bitCount <= 0 || bitCount > 32)
        return false;
    const size_t stride = RowStride(width, bitCount);
    const size_t tableBytes = ColourTableEntries(bitCount) * sizeof(RgbQuad);
    const size_t imageBytes = stride * static_cast<size_t>(height);
    if (imageBytes > UINT32_MAX) // biSizeImage must hold it
        return false;
    m_block.reset(new (std::nothrow) uint8_t[sizeof(BitmapInfoHeader) + tableBytes + imageBytes]());
    if (!m_block)
        return false;

    BitmapInfoHeader header;
    header.biWidth = width;
    header.biHeight = height; // positive: bottom-up rows
    header.biBitCount = static_cast<uint16_t>(bitCount);
    header.biSizeImage = static_cast<uint32_t>(imageBytes);
    header.biClrUsed = static_cast<uint32_t>(ColourTableEntries(bitCount));
    new (m_block.get()) BitmapInfoHeader(header);
    std::uninitialized_value_construct_n(
        reinterpret_cast<RgbQuad*>(m_block.get() + sizeof(BitmapInfoHeader)),
        ColourTableEntries(bitCount));

    m_pixels = m_block.get() + sizeof(BitmapInfoHeader) + tableBytes;
    m_width = width;
    m_height = height;
    m_bitCount = bitCount;
    m_stride = stride;
    m_changedRows = RowBands::Whole(height);
    return true;
}

void FrameBuffer::Free() {
    m_block.reset();
    m_pixels = nullptr;
    m_width = m_height = m_bitCount = 0;
    m_stride = 0;
    m_changedRows.Clear();
    m_overlayRows.Clear();
    m_picture = 0;
}

const BitmapInfoHeader* FrameBuffer::Header() const {
    return reinterpret_cast<const BitmapInfoHeader*>(m_block.get());
}

RgbQuad* FrameBuffer::ColourTable() {
    return m_block ? reinterpret_cast<RgbQuad*>(m_block.get() + sizeof(BitmapInfoHeader)) : nullptr;
}

const RgbQuad* FrameBuffer::ColourTable() const {
    return m_block ? reinterpret_cast<const RgbQuad*>(m_block.get() + sizeof(BitmapInfoHeader))
                   : nullptr;
}
