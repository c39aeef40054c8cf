#include "recorder/output/Bgr0ToYuv420.h"
#include "recorder/media/FfmpegPtr.h"
#include "recorder/media/FrameBuffer.h"
#include "recorder/output/FrameConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct Yuv {
    double y, u, v;
};

// BT.601 limited range in floating point, the definition the integer code approximates.
Yuv Reference(double r, double g, double b) {
    return {16 + 219 * (0.299 * r + 0.587 * g + 0.114 * b) / 255,
            128 + 224 * (-0.168736 * r - 0.331264 * g + 0.5 * b) / 255,
            128 + 224 * (0.5 * r - 0.418688 * g - 0.081312 * b) / 255};
}

// Random pixels, sizes that leave tails behind the vector blocks, rows bottom-up
// and top-down: every output sample within one step of the exact value.
TEST(Bgr0ToYuv420, MatchesTheExactConversionEverywhere) {
    for (auto [width, height, bottomUp] : {std::tuple{50, 6, true}, std::tuple{64, 4, false},
                                           std::tuple{2, 2, true}, std::tuple{34, 10, false}}) {
        const int stride = width * 4;
        std::vector<uint8_t> source(size_t(stride) * height);
        uint32_t seed = uint32_t(width * 7919 + height);
        for (uint8_t& byte : source) {
            seed = seed * 1664525u + 1013904223u;
            byte = uint8_t(seed >> 24);
        }
        const int lineSizes[3] = {width + 3, width / 2 + 5, width / 2 + 1};
        std::vector<uint8_t> y(size_t(lineSizes[0]) * height), u(size_t(lineSizes[1]) * height / 2),
            v(size_t(lineSizes[2]) * height / 2);
        uint8_t* const planes[3] = {y.data(), u.data(), v.data()};
        const uint8_t* top =
            bottomUp ? source.data() + ptrdiff_t(stride) * (height - 1) : source.data();
        ConvertBgr0ToYuv420(top, bottomUp ? -stride : stride, width, height, planes, lineSizes);

        auto pixel = [&](int x, int row) { // row counted from the top of the picture
            const uint8_t* p = top + ptrdiff_t(bottomUp ? -stride : stride) * row + 4 * x;
            return Reference(p[2], p[1], p[0]);
        };
        for (int row = 0; row < height; ++row) {
            for (int x = 0; x < width; ++x)
                ASSERT_NEAR(y[size_t(row) * lineSizes[0] + x], pixel(x, row).y, 1.0)
                    << width << "x" << height << " at " << x << "," << row;
        }
        for (int row = 0; row < height / 2; ++row) {
            for (int x = 0; x < width / 2; ++x) {
                double expectedU = 0, expectedV = 0;
                for (auto [dx, dy] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
                    expectedU += pixel(2 * x + dx, 2 * row + dy).u / 4;
                    expectedV += pixel(2 * x + dx, 2 * row + dy).v / 4;
                }
                ASSERT_NEAR(u[size_t(row) * lineSizes[1] + x], expectedU, 1.0) << x << "," << row;
                ASSERT_NEAR(v[size_t(row) * lineSizes[2] + x], expectedV, 1.0) << x << "," << row;
            }
        }
    }
}

// The recorder's conversion of only the changed rows, the rest copied from the last
// picture, which the encoder still holds (so the pool hands out another buffer):
// the same picture as converting every row.
TEST(FrameConverter, ChangedRowsAloneGiveThePictureThatEveryRowGives) {
    constexpr int kWidth = 64;
    constexpr int kHeight = 40;
    FrameBuffer frame;
    ASSERT_TRUE(frame.Allocate(kWidth, kHeight, 32));
    ffmpeg::CodecContextPtr encoder(avcodec_alloc_context3(nullptr));
    encoder->width = kWidth;
    encoder->height = kHeight;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    FrameConverter changedOnly;
    FrameConverter everyRow;
    ASSERT_TRUE(changedOnly.Setup(*frame.Header(), *encoder));
    ASSERT_TRUE(everyRow.Setup(*frame.Header(), *encoder));
    auto paint = [&](const RowBands::Band& band, uint8_t seed) {
        for (int row = band.top; row < band.bottom; ++row) {
            for (int byte = 4 * band.left; byte < 4 * std::min(band.right, kWidth); ++byte)
                frame.ScreenRow(row)[byte] = uint8_t(seed + byte * 7 + row * 13);
        }
    };
    auto convert = [&](FrameConverter& converter, const RowBands* rows) {
        return converter.Convert(frame.Pixels(), frame.Header()->biSizeImage, rows);
    };
    paint({0, kHeight}, 1);
    ffmpeg::FramePtr held(av_frame_alloc());
    ASSERT_EQ(av_frame_ref(held.get(), convert(changedOnly, &frame.changedRows())), 0);

    // An odd row or column shares its chroma sample with its even neighbour.
    RowBands changed;
    for (const RowBands::Band& band :
         {RowBands::Band{3, 4}, RowBands::Band{21, 26, 7, 30}, RowBands::Band{39, 40}}) {
        paint(band, 90);
        changed.Add(band, kHeight);
    }
    auto expectSamePicture = [&](const AVFrame* partial, const AVFrame* whole) {
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane == 0 ? kHeight : kHeight / 2;
            const int width = plane == 0 ? kWidth : kWidth / 2;
            for (int row = 0; row < rows; ++row)
                ASSERT_EQ(0, std::memcmp(partial->data[plane] + row * partial->linesize[plane],
                                         whole->data[plane] + row * whole->linesize[plane], width))
                    << "plane " << plane << " row " << row;
        }
    };
    // The encoder holds the first picture: the second is built in a buffer of its own.
    const AVFrame* partial = convert(changedOnly, &changed);
    ASSERT_TRUE(partial);
    ASSERT_NE(partial->data[0], held->data[0]);
    expectSamePicture(partial, convert(everyRow, nullptr));

    // Once the encoder has let go, the next picture is changed in place.
    held.reset();
    const uint8_t* secondPicture = partial->data[0];
    paint({10, 13, 40, 64}, 200);
    RowBands changedAgain;
    changedAgain.Add({10, 13, 40, 64}, kHeight);
    partial = convert(changedOnly, &changedAgain);
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->data[0], secondPicture);
    expectSamePicture(partial, convert(everyRow, nullptr));
}

} // namespace
