#pragma once

#include "recorder/media/BitmapInfoHeader.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using Rgb = std::array<uint8_t, 3>;

// A frame buffer laid out as the grabber lays out its own: the 40-byte header,
// a colour table at 8 bits (a fixed 3-3-2 palette) or bit masks with
// BI_BITFIELDS, then bottom-up rows padded to 4 bytes.
class SyntheticFrame {
public:
    static constexpr uint32_t kBiRgb = 0;
    static constexpr uint32_t kBiBitfields = 3;

    SyntheticFrame(int width, int height, int bitCount, uint32_t compression = kBiRgb);

    const BitmapInfoHeader* Format() const;
    const uint8_t* Pixels() const { return m_pixels.data(); }
    uint32_t Size() const { return uint32_t(m_pixels.size()); }

    // Top half of the picture (as seen) in one colour, bottom half in another.
    void Fill(Rgb top, Rgb bottom);
    // Deterministic noise that no encoder can squeeze much.
    void FillNoise(uint32_t seed);

private:
    void SetPixel(int x, int row, Rgb colour);

    std::vector<uint8_t> m_format;
    std::vector<uint8_t> m_pixels;
    int m_width, m_height, m_bitCount, m_stride;
    bool m_masks565;
};

// A distinct, encoder-proof colour per frame position.
Rgb ColourFor(int position);
bool Near(Rgb actual, Rgb expected, int tolerance);
std::string ToString(Rgb colour);

// A private folder for one test's files, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};
