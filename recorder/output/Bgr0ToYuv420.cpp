#include "recorder/output/Bgr0ToYuv420.h"

#include <cstring>

#include <immintrin.h>

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

// The portable rows, for processors without AVX2.
void LumaRow(const uint8_t* __restrict source, uint8_t* __restrict luma, int width) {
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
void ChromaRow(const uint8_t* __restrict upper, const uint8_t* __restrict lower, int chromaWidth,
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

// The same sums with AVX2, written out: the compiler's own vector code for the
// rows above multiplies in 32-bit lanes, while every coefficient fits 16 bits,
// so one multiply-add of 16-bit pairs (B and G, R and the unused byte) takes
// half the work. The results are the portable rows' to the bit.
#define TESMARA_AVX2 __attribute__((target("avx2")))

// Each pixel's B, G, R, x bytes as 16-bit numbers, paired with these.
TESMARA_AVX2 inline __m256i PixelCoefficients(int blue, int green, int red) {
    return _mm256_set_epi16(0, int16_t(red), int16_t(green), int16_t(blue), 0, int16_t(red),
                            int16_t(green), int16_t(blue), 0, int16_t(red), int16_t(green),
                            int16_t(blue), 0, int16_t(red), int16_t(green), int16_t(blue));
}

// Luma of 8 pixels, as 32-bit numbers in pixel order.
TESMARA_AVX2 inline __m256i LumaOf8(const uint8_t* source, __m256i coefficients) {
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source));
    const __m256i zero = _mm256_setzero_si256();
    // Pixels 0, 1 | 4, 5 and 2, 3 | 6, 7: adding each pixel's two sums puts them in order.
    const __m256i low = _mm256_madd_epi16(_mm256_unpacklo_epi8(pixels, zero), coefficients);
    const __m256i high = _mm256_madd_epi16(_mm256_unpackhi_epi8(pixels, zero), coefficients);
    const __m256i sums = _mm256_hadd_epi32(low, high);
    return _mm256_srai_epi32(_mm256_add_epi32(sums, _mm256_set1_epi32(kLumaOffset)), kShift);
}

TESMARA_AVX2 void LumaRowAvx2(const uint8_t* __restrict source, uint8_t* __restrict luma,
                              int width) {
    const __m256i coefficients = PixelCoefficients(kYb, kYg, kYr);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        // 16-bit halves 0-3, 8-11 | 4-7, 12-15, put back in order.
        const __m256i words =
            _mm256_permute4x64_epi64(_mm256_packs_epi32(LumaOf8(source + 4 * x, coefficients),
                                                        LumaOf8(source + 4 * x + 32, coefficients)),
                                     0xD8);
        const __m128i bytes =
            _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + x), bytes);
    }
    LumaPixels(source, luma, x, width);
}

// The B, G, R, x sums of four 2x2 blocks (8 columns of two rows) as 16-bit
// numbers: blocks 0, 1 | 2, 3.
TESMARA_AVX2 inline __m256i BlockSums(const uint8_t* upper, const uint8_t* lower) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i top = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(upper));
    const __m256i bottom = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lower));
    // Columns 0, 1 | 4, 5 and 2, 3 | 6, 7, each upper and lower pixel added.
    const __m256i low =
        _mm256_add_epi16(_mm256_unpacklo_epi8(top, zero), _mm256_unpacklo_epi8(bottom, zero));
    const __m256i high =
        _mm256_add_epi16(_mm256_unpackhi_epi8(top, zero), _mm256_unpackhi_epi8(bottom, zero));
    // Each column added to its right-hand neighbour: the block's sum in the low half.
    return _mm256_unpacklo_epi64(_mm256_add_epi16(low, _mm256_srli_si256(low, 8)),
                                 _mm256_add_epi16(high, _mm256_srli_si256(high, 8)));
}

// U of four blocks, then V of them: 32-bit numbers in block order.
TESMARA_AVX2 inline __m256i ChromaOf4(const uint8_t* upper, const uint8_t* lower) {
    const __m256i sums = BlockSums(upper, lower);
    const __m256i u = _mm256_madd_epi16(sums, PixelCoefficients(kUb, kUg, kUr));
    const __m256i v = _mm256_madd_epi16(sums, PixelCoefficients(kVb, kVg, kVr));
    // U0, U1, V0, V1 | U2, U3, V2, V3.
    const __m256i pairs = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_hadd_epi32(u, v), _mm256_set1_epi32(kChromaOffset)), kChromaShift);
    return _mm256_permutevar8x32_epi32(pairs, _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7));
}

TESMARA_AVX2 void ChromaRowAvx2(const uint8_t* __restrict upper, const uint8_t* __restrict lower,
                                int chromaWidth, uint8_t* __restrict u, uint8_t* __restrict v) {
    int x = 0;
    for (; x + 8 <= chromaWidth; x += 8) {
        // U0-U7 | V0-V7 as 16-bit numbers, then as bytes.
        const __m256i words = _mm256_packs_epi32(ChromaOf4(upper + 8 * x, lower + 8 * x),
                                                 ChromaOf4(upper + 8 * x + 32, lower + 8 * x + 32));
        const __m256i bytes = _mm256_packus_epi16(words, words);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(u + x), _mm256_castsi256_si128(bytes));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(v + x), _mm256_extracti128_si256(bytes, 1));
    }
    for (; x < chromaWidth; ++x)
        ChromaPixel(upper, lower, x, u, v);
}

} // namespace

void ConvertBgr0ToYuv420(const uint8_t* topRow, ptrdiff_t stride, int width, int height,
                         uint8_t* const planes[3], const int lineSizes[3]) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    const auto lumaRow = avx2 ? LumaRowAvx2 : LumaRow;
    const auto chromaRow = avx2 ? ChromaRowAvx2 : ChromaRow;
    for (int y = 0; y < height; y += 2) {
        const uint8_t* upper = topRow + stride * y;
        const uint8_t* lower = upper + stride;
        lumaRow(upper, planes[0] + ptrdiff_t(lineSizes[0]) * y, width);
        lumaRow(lower, planes[0] + ptrdiff_t(lineSizes[0]) * (y + 1), width);
        chromaRow(upper, lower, width / 2, planes[1] + ptrdiff_t(lineSizes[1]) * (y / 2),
                  planes[2] + ptrdiff_t(lineSizes[2]) * (y / 2));
    }
}
