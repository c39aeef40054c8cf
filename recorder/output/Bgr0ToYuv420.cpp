#include "recorder/output/Bgr0ToYuv420.h"

#include <cstring>

namespace {

// BT.601 coefficients scaled by 2^15, for 0-255 inputs.
constexpr int kShift = 15;
constexpr int kYr = 8414, kYg = 16519, kYb = 3208;
constexpr int kUr = -4857, kUg = -9535, kUb = 14392;
constexpr int kVr = 14392, kVg = -12052, kVb = -2340;
constexpr int kLumaOffset = (16 << kShift) + (1 << (kShift - 1));
// Chroma works on sums of four pixels: two more bits of shift.
constexpr int kChromaShift = kShift + 2;
constexpr int kChromaOffset = (128 << kChromaShift) + (1 << (kChromaShift - 1));
// Pixels per block of work with a fixed count, which the compiler turns into
// vector code at the project's optimisation level.
constexpr int kBlock = 16;

inline uint32_t Load(const uint8_t* pixel) {
    uint32_t value;
    std::memcpy(&value, pixel, 4);
    return value;
}

inline int Blue(uint32_t pixel) {
    return int(pixel & 0xFF);
}
inline int Green(uint32_t pixel) {
    return int((pixel >> 8) & 0xFF);
}
inline int Red(uint32_t pixel) {
    return int((pixel >> 16) & 0xFF);
}

inline uint8_t Luma(uint32_t pixel) {
    return uint8_t((kYr * Red(pixel) + kYg * Green(pixel) + kYb * Blue(pixel) + kLumaOffset) >>
                   kShift);
}

// Sources and targets never overlap; saying so lets the loops become vector code.
inline void LumaPixels(const uint8_t* __restrict source, uint8_t* __restrict luma, int from,
                       int to) {
    for (int x = from; x < to; ++x)
        luma[x] = Luma(Load(source + 4 * x));
}

// Built twice, for AVX2 and for the x86-64 baseline; the loader picks the one the
// processor runs.
#define TESMARA_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))

TESMARA_VECTOR_CLONES void LumaRow(const uint8_t* __restrict source, uint8_t* __restrict luma,
                                   int width) {
    int x = 0;
    for (; x + kBlock <= width; x += kBlock) {
        for (int i = 0; i < kBlock; ++i)
            luma[x + i] = Luma(Load(source + 4 * (x + i)));
    }
    LumaPixels(source, luma, x, width);
}

// From sums over a 2x2 block.
inline uint8_t Chroma(int kr, int kg, int kb, int r, int g, int b) {
    return uint8_t((kr * r + kg * g + kb * b + kChromaOffset) >> kChromaShift);
}

// One chroma pair from the 2x2 block whose top-left pixel is at column 2 * x.
inline void ChromaPixel(const uint8_t* __restrict upper, const uint8_t* __restrict lower, int x,
                        uint8_t* __restrict u, uint8_t* __restrict v) {
    const uint32_t a = Load(upper + 8 * x), b = Load(upper + 8 * x + 4);
    const uint32_t c = Load(lower + 8 * x), d = Load(lower + 8 * x + 4);
    const int r = Red(a) + Red(b) + Red(c) + Red(d);
    const int g = Green(a) + Green(b) + Green(c) + Green(d);
    const int bl = Blue(a) + Blue(b) + Blue(c) + Blue(d);
    u[x] = Chroma(kUr, kUg, kUb, r, g, bl);
    v[x] = Chroma(kVr, kVg, kVb, r, g, bl);
}

// Whole blocks go through local copies, whose even and odd pixels the compiler
// can pull apart in vector registers.
TESMARA_VECTOR_CLONES void ChromaRow(const uint8_t* __restrict upper,
                                     const uint8_t* __restrict lower, int chromaWidth,
                                     uint8_t* __restrict u, uint8_t* __restrict v) {
    int x = 0;
    for (; x + kBlock <= chromaWidth; x += kBlock) {
        uint32_t a[2 * kBlock], c[2 * kBlock];
        std::memcpy(a, upper + 8 * x, sizeof(a));
        std::memcpy(c, lower + 8 * x, sizeof(c));
        for (int i = 0; i < kBlock; ++i) {
            const uint32_t p = a[2 * i], q = a[2 * i + 1], s = c[2 * i], t = c[2 * i + 1];
            const int r = Red(p) + Red(q) + Red(s) + Red(t);
            const int g = Green(p) + Green(q) + Green(s) + Green(t);
            const int b = Blue(p) + Blue(q) + Blue(s) + Blue(t);
            u[x + i] = Chroma(kUr, kUg, kUb, r, g, b);
            v[x + i] = Chroma(kVr, kVg, kVb, r, g, b);
        }
    }
    for (; x < chromaWidth; ++x)
        ChromaPixel(upper, lower, x, u, v);
}

} // namespace

void ConvertBgr0ToYuv420(const uint8_t* topRow, ptrdiff_t stride, int width, int height,
                         uint8_t* const planes[3], const int lineSizes[3]) {
    for (int y = 0; y < height; y += 2) {
        const uint8_t* upper = topRow + stride * y;
        const uint8_t* lower = upper + stride;
        LumaRow(upper, planes[0] + ptrdiff_t(lineSizes[0]) * y, width);
        LumaRow(lower, planes[0] + ptrdiff_t(lineSizes[0]) * (y + 1), width);
        ChromaRow(upper, lower, width / 2, planes[1] + ptrdiff_t(lineSizes[1]) * (y / 2),
                  planes[2] + ptrdiff_t(lineSizes[2]) * (y / 2));
    }
}
