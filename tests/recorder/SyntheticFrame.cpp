#include "SyntheticFrame.h"

#include <cstdlib>
#include <cstring>

SyntheticFrame::SyntheticFrame(int width, int height, int bitCount, uint32_t compression)
    : m_width(width), m_height(height), m_bitCount(bitCount),
      m_stride((width * bitCount + 31) / 32 * 4),
      m_masks565(compression == kBiBitfields && bitCount == 16) {
    BitmapInfoHeader header;
    header.biWidth = width;
    header.biHeight = height;
    header.biBitCount = uint16_t(bitCount);
    header.biCompression = compression;
    header.biSizeImage = uint32_t(m_stride * height);
    header.biClrUsed = bitCount == 8 ? 256 : 0;
    m_format.resize(sizeof(header));
    std::memcpy(m_format.data(), &header, sizeof(header));
    if (bitCount == 8) {
        for (int i = 0; i < 256; ++i) {
            uint8_t entry[4] = {uint8_t((i & 3) << 6), uint8_t((i & 0x1C) << 3), uint8_t(i & 0xE0),
                                0};
            m_format.insert(m_format.end(), entry, entry + 4);
        }
    }
    if (compression == kBiBitfields) {
        const uint32_t masks[3] = {bitCount == 32 ? 0xFF0000u : 0xF800u,
                                   bitCount == 32 ? 0x00FF00u : 0x07E0u,
                                   bitCount == 32 ? 0x0000FFu : 0x001Fu};
        const auto* bytes = reinterpret_cast<const uint8_t*>(masks);
        m_format.insert(m_format.end(), bytes, bytes + sizeof(masks));
    }
    m_pixels.resize(size_t(m_stride) * size_t(height));
}

const BitmapInfoHeader* SyntheticFrame::Format() const {
    return reinterpret_cast<const BitmapInfoHeader*>(m_format.data());
}

void SyntheticFrame::SetPixel(int x, int row, Rgb colour) {
    uint8_t* pixel = m_pixels.data() + size_t(row) * size_t(m_stride);
    auto [r, g, b] = colour;
    switch (m_bitCount) {
    case 8:
        pixel[x] = uint8_t((r & 0xE0) | (g & 0xE0) >> 3 | b >> 6);
        break;
    case 16: {
        uint16_t value = m_masks565 ? uint16_t((r >> 3) << 11 | (g >> 2) << 5 | b >> 3)
                                    : uint16_t((r >> 3) << 10 | (g >> 3) << 5 | b >> 3);
        std::memcpy(pixel + 2 * x, &value, 2);
        break;
    }
    default: {
        int bytes = m_bitCount / 8;
        pixel[bytes * x] = b;
        pixel[bytes * x + 1] = g;
        pixel[bytes * x + 2] = r;
        break;
    }
    }
}

void SyntheticFrame::Fill(Rgb top, Rgb bottom) {
    // Row 0 of the buffer is the bottom of the picture; each half repeats its first row.
    const int topStart = m_height / 2;
    for (int x = 0; x < m_width; ++x) {
        SetPixel(x, 0, bottom);
        SetPixel(x, topStart, top);
    }
    for (int row = 1; row < m_height; ++row) {
        if (row != topStart)
            std::memcpy(&m_pixels[size_t(row) * m_stride],
                        &m_pixels[size_t(row < topStart ? 0 : topStart) * m_stride],
                        size_t(m_stride));
    }
}

void SyntheticFrame::FillNoise(uint32_t seed) {
    for (uint8_t& byte : m_pixels) {
        seed = seed * 1664525u + 1013904223u;
        byte = uint8_t(seed >> 24);
    }
}

Rgb ColourFor(int position) {
    static constexpr Rgb kColours[] = {{224, 32, 32},  {32, 224, 32},   {32, 32, 224},
                                       {224, 224, 32}, {224, 32, 224},  {32, 224, 224},
                                       {128, 64, 0},   {255, 255, 255}, {96, 96, 96}};
    return kColours[position % std::size(kColours)];
}

bool Near(Rgb actual, Rgb expected, int tolerance) {
    for (size_t i = 0; i < 3; ++i) {
        if (std::abs(int(actual[i]) - int(expected[i])) > tolerance)
            return false;
    }
    return true;
}

std::string ToString(Rgb colour) {
    return "(" + std::to_string(colour[0]) + "," + std::to_string(colour[1]) + "," +
           std::to_string(colour[2]) + ")";
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "aviwriter-XXXXXX").string();
    if (mkdtemp(pattern.data()))
        m_path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ignored);
}
