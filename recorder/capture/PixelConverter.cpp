#include "recorder/capture/PixelConverter.h"

#include "recorder/media/FramePixel.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr uint32_t kRed8 = 0xFF0000;
constexpr uint32_t kGreen8 = 0x00FF00;
constexpr uint32_t kBlue8 = 0x0000FF;
constexpr uint32_t kRed5 = 0x7C00;
constexpr uint32_t kGreen5 = 0x03E0;
constexpr uint32_t kBlue5 = 0x001F;

uint32_t ReadLittleEndian(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

// The fourth byte of a depth-24 pixel is undefined on the server; the
// frame's is zero. Eight pixels at a time, as this pass touches every pixel:
// built for AVX2 and for the x86-64 baseline (four at a time there), the loader
// picks the one the processor runs.
__attribute__((target_clones("avx2", "default"))) void
CopyClearingPadding(const uint8_t* source, uint8_t* target, int width) {
    using EightPixels = uint32_t __attribute__((vector_size(32)));
    constexpr EightPixels kColourBytes = {0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF,
                                          0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF};
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        EightPixels pixels;
        std::memcpy(&pixels, source + 4 * x, sizeof pixels);
        pixels &= kColourBytes;
        std::memcpy(target + 4 * x, &pixels, sizeof pixels);
    }
    for (; x < width; ++x) {
        uint32_t pixel;
        std::memcpy(&pixel, source + 4 * x, 4);
        pixel &= 0x00FFFFFFu;
        std::memcpy(target + 4 * x, &pixel, 4);
    }
}

bool IsContiguous(unsigned long mask) {
    return mask != 0 && std::has_single_bit((mask >> std::countr_zero(mask)) + 1);
}

} // namespace

PixelConverter::Channel PixelConverter::Channel::FromMask(unsigned long mask) {
    Channel channel;
    channel.mask = static_cast<uint32_t>(mask);
    channel.shift = std::countr_zero(channel.mask);
    channel.bits = std::popcount(channel.mask);
    return channel;
}

uint8_t PixelConverter::Channel::ToByte(uint32_t pixel) const {
    const uint32_t value = (pixel & mask) >> shift;
    if (bits >= 8)
        return static_cast<uint8_t>(value >> (bits - 8));
    const uint32_t maximum = (1u << bits) - 1;
    return static_cast<uint8_t>((value * 255 + maximum / 2) / maximum);
}

bool PixelConverter::Prepare(const XImage& image, const Visual& visual) {
    m_bitCount = 0;
    const int bits = image.bits_per_pixel;
    if (bits == 8 && image.depth <= 8) {
        m_method = Method::CopyRows;
        m_bitCount = bits;
        return true;
    }
    const bool directPixels = visual.c_class == TrueColor && image.byte_order == LSBFirst &&
                              (bits == 16 || bits == 24 || bits == 32);
    if (!directPixels || !IsContiguous(image.red_mask) || !IsContiguous(image.green_mask) ||
        !IsContiguous(image.blue_mask))
        return false;

    m_red = Channel::FromMask(image.red_mask);
    m_green = Channel::FromMask(image.green_mask);
    m_blue = Channel::FromMask(image.blue_mask);
    const bool eightBitChannels =
        m_red.mask == kRed8 && m_green.mask == kGreen8 && m_blue.mask == kBlue8;
    const bool fiveBitChannels =
        m_red.mask == kRed5 && m_green.mask == kGreen5 && m_blue.mask == kBlue5;
    if (bits == 32 && eightBitChannels)
        m_method = Method::CopyClearingPadding;
    else if ((bits == 24 && eightBitChannels) || (bits == 16 && fiveBitChannels))
        m_method = Method::CopyRows;
    else
        m_method = Method::FromMasks;
    m_bitCount = bits;
    return true;
}

void PixelConverter::Convert(const XImage& image, const RowBands& rows, FrameBuffer& frame) const {
    for (const RowBands::Band& band : rows.bands()) {
        const int left = std::min(band.left, frame.width());
        const int width = std::min(band.right, frame.width()) - left;
        for (int y = band.top; y < std::min(band.bottom, frame.height()); ++y)
            ConvertRow(image, y, left, width, frame);
    }
}

// Pixels [left, left + width) of screen row y; 8-bit indexes and 24-bit pixels
// keep their bytes, so a column's bytes lie at the same offset in both.
void PixelConverter::ConvertRow(const XImage& image, int y, int left, int width,
                                FrameBuffer& frame) const {
    const size_t pixelBytes = static_cast<size_t>(m_bitCount / 8);
    const size_t offset = static_cast<size_t>(left) * pixelBytes;
    const auto* source =
        reinterpret_cast<const uint8_t*>(image.data) + y * image.bytes_per_line + offset;
    uint8_t* target = frame.ScreenRow(y) + offset;
    switch (m_method) {
    case Method::CopyRows:
        std::memcpy(target, source, static_cast<size_t>(width) * pixelBytes);
        break;
    case Method::CopyClearingPadding:
        CopyClearingPadding(source, target, width);
        break;
    case Method::FromMasks:
        ConvertFromMasks(source, target, width);
        break;
    }
}

void PixelConverter::ConvertFromMasks(const uint8_t* source, uint8_t* target, int width) const {
    const int sourceBytes = m_bitCount / 8;
    for (int x = 0; x < width; ++x, source += sourceBytes) {
        const uint32_t pixel = ReadLittleEndian(source, sourceBytes);
        target = WriteFramePixel(
            target, m_bitCount, {m_red.ToByte(pixel), m_green.ToByte(pixel), m_blue.ToByte(pixel)});
    }
}
