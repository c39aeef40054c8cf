#include "recorder/output/FrameConverter.h"

#include "recorder/output/Bgr0ToYuv420.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
// Room behind the last plane for encoders whose SIMD loads run past the row end.
constexpr int kBufferPadding = 64;
constexpr int kLineAlignment = 64;

struct ChannelMasks {
    uint32_t red, green, blue;
    bool operator==(const ChannelMasks&) const = default;
};

AVPixelFormat FormatFromMasks(uint16_t bitCount, const ChannelMasks& masks) {
    if (bitCount == 16 && masks == ChannelMasks{0xF800, 0x07E0, 0x001F})
        return AV_PIX_FMT_RGB565LE;
    if (bitCount == 16 && masks == ChannelMasks{0x7C00, 0x03E0, 0x001F})
        return AV_PIX_FMT_RGB555LE;
    if (bitCount == 32 && masks == ChannelMasks{0xFF0000, 0x00FF00, 0x0000FF})
        return AV_PIX_FMT_BGR0;
    return AV_PIX_FMT_NONE;
}

AVPixelFormat FormatFromBitCount(uint16_t bitCount) {
    switch (bitCount) {
    case 8:
        return AV_PIX_FMT_PAL8;
    case 16:
        return AV_PIX_FMT_RGB555LE;
    case 24:
        return AV_PIX_FMT_BGR24;
    case 32:
        return AV_PIX_FMT_BGR0;
    default:
        return AV_PIX_FMT_NONE;
    }
}

} // namespace

bool FrameConverter::SetSourceFormat(const BitmapInfoHeader& format) {
    // Bit masks, where present, sit right behind the 40 bytes every header shares.
    const auto* behindHeader = reinterpret_cast<const uint8_t*>(&format) + sizeof(format);
    if (format.biCompression == kBiBitfields) {
        ChannelMasks masks{};
        std::memcpy(&masks, behindHeader, sizeof(masks));
        m_sourceFormat = FormatFromMasks(format.biBitCount, masks);
    } else if (format.biCompression == kBiRgb) {
        m_sourceFormat = FormatFromBitCount(format.biBitCount);
    } else {
        m_sourceFormat = AV_PIX_FMT_NONE;
    }
    if (m_sourceFormat == AV_PIX_FMT_PAL8) {
        const auto* table = reinterpret_cast<const uint8_t*>(&format) + format.biSize;
        uint32_t colours = format.biClrUsed == 0 ? 256 : std::min<uint32_t>(format.biClrUsed, 256);
        m_palette.fill(0xFF000000);
        // Colour-table entries are blue, green, red, reserved; FFmpeg wants opaque ARGB.
        for (uint32_t i = 0; i < colours; ++i) {
            const uint8_t* entry = table + 4 * i;
            m_palette[i] =
                0xFF000000 | uint32_t(entry[2]) << 16 | uint32_t(entry[1]) << 8 | entry[0];
        }
    }
    return m_sourceFormat != AV_PIX_FMT_NONE;
}

PictureSize ScaledSize(int width, int height, int scaleHeight) {
    if (scaleHeight <= 0 || scaleHeight >= height)
        return {width, height};
    const int scaledWidth = int((int64_t(width) * scaleHeight + height / 2) / height);
    return {std::max(2, scaledWidth & ~1), scaleHeight & ~1};
}

bool FrameConverter::Setup(const BitmapInfoHeader& format, const AVCodecContext& encoder,
                           bool scaled) {
    Release();
    if (!SetSourceFormat(format) || format.biWidth <= 0 || format.biHeight == 0)
        return false;
    m_rowBytes = (format.biWidth * format.biBitCount + 31) / 32 * 4;
    m_rows = std::abs(format.biHeight);
    m_bottomUp = format.biHeight > 0;
    if (encoder.width > format.biWidth || encoder.height > m_rows)
        return false;

    // A scaled picture is converted whole by swscale: every output pixel mixes
    // several rows, which the partial conversion does not follow.
    m_direct = !scaled && m_sourceFormat == AV_PIX_FMT_BGR0 &&
               encoder.pix_fmt == AV_PIX_FMT_YUV420P && encoder.color_range != AVCOL_RANGE_JPEG &&
               encoder.width % 2 == 0 && encoder.height % 2 == 0;
    if (!m_direct && !SetUpScaler(encoder, scaled ? int(format.biWidth) : encoder.width,
                                  scaled ? m_rows : encoder.height))
        return false;
    m_sourceRows = scaled ? m_rows : encoder.height;

    int bytes =
        av_image_get_buffer_size(encoder.pix_fmt, encoder.width, encoder.height, kLineAlignment);
    if (bytes <= 0)
        return false;
    m_pool.reset(av_buffer_pool_init(bytes + kBufferPadding, nullptr));
    m_frame.reset(av_frame_alloc());
    m_lastPicture.reset(av_frame_alloc());
    if (!m_pool || !m_frame || !m_lastPicture)
        return false;
    m_frame->format = encoder.pix_fmt;
    m_frame->width = encoder.width;
    m_frame->height = encoder.height;
    m_frame->color_range = encoder.color_range;
    return true;
}

bool FrameConverter::SetUpScaler(const AVCodecContext& encoder, int sourceWidth, int sourceHeight) {
    m_sws.reset(sws_getContext(sourceWidth, sourceHeight, m_sourceFormat, encoder.width,
                               encoder.height, encoder.pix_fmt, SWS_BILINEAR, nullptr, nullptr,
                               nullptr));
    if (!m_sws)
        return false;
    if (encoder.color_range == AVCOL_RANGE_JPEG) {
        const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
        sws_setColorspaceDetails(m_sws.get(), coefficients, 0, coefficients, 1, 0, 1 << 16,
                                 1 << 16);
    }
    return true;
}

AVFrame* FrameConverter::Convert(const void* pixels, uint32_t size, const RowBands* changedRows) {
    if (!m_frame || !pixels || uint64_t(size) < uint64_t(m_rowBytes) * uint64_t(m_rows)) {
        ForgetLastPicture();
        return nullptr;
    }
    av_buffer_unref(&m_frame->buf[0]);
    const bool inPlace = m_direct && changedRows && TakeBackLastPicture();
    if (!inPlace)
        m_frame->buf[0] = av_buffer_pool_get(m_pool.get());
    if (!m_frame->buf[0]) {
        ForgetLastPicture();
        return nullptr;
    }
    av_image_fill_arrays(m_frame->data, m_frame->linesize, m_frame->buf[0]->data,
                         AVPixelFormat(m_frame->format), m_frame->width, m_frame->height,
                         kLineAlignment);

    // Bottom-up rows are read from the last row upwards: a negative stride flips them.
    const auto* rows = static_cast<const uint8_t*>(pixels);
    const uint8_t* top = m_bottomUp ? rows + ptrdiff_t(m_rowBytes) * (m_rows - 1) : rows;
    const int stride = m_bottomUp ? -m_rowBytes : m_rowBytes;
    if (m_direct) {
        const bool overLastPicture = inPlace || (changedRows && m_lastPicture->buf[0]);
        if (overLastPicture) {
            if (!inPlace)
                CopyUnchangedRowsOfLastPicture(*changedRows);
            for (const RowBands::Band& band : changedRows->bands())
                ConvertPart(top, stride, EvenPart(band));
        } else {
            ConvertPart(top, stride, RowBands::Band{0, m_frame->height, 0, m_frame->width});
        }
    } else {
        const uint8_t* source[4] = {top, reinterpret_cast<const uint8_t*>(m_palette.data()),
                                    nullptr, nullptr};
        const int strides[4] = {stride, 0, 0, 0};
        sws_scale(m_sws.get(), source, strides, 0, m_sourceRows, m_frame->data, m_frame->linesize);
    }
    av_frame_unref(m_lastPicture.get());
    av_frame_ref(m_lastPicture.get(), m_frame.get());
    return m_frame.get();
}

AVFrame* FrameConverter::LastPicture() {
    return m_lastPicture && m_lastPicture->buf[0] ? m_lastPicture.get() : nullptr;
}

// Encoders that copy each frame they are given have let go of the last picture by
// now: it is changed in place, with nothing copied. One still held is left alone,
// and the next picture starts from a fresh buffer.
bool FrameConverter::TakeBackLastPicture() {
    if (!m_lastPicture->buf[0] || !av_buffer_is_writable(m_lastPicture->buf[0]))
        return false;
    m_frame->buf[0] = m_lastPicture->buf[0];
    m_lastPicture->buf[0] = nullptr;
    av_frame_unref(m_lastPicture.get());
    return true;
}

// A chroma sample covers two rows and two columns: a part grows to even edges
// within the picture (whose width and height are even).
RowBands::Band FrameConverter::EvenPart(const RowBands::Band& band) const {
    return {band.top & ~1, std::min(m_frame->height, (band.bottom + 1) & ~1), band.left & ~1,
            band.right >= m_frame->width ? m_frame->width : (band.right + 1) & ~1};
}

void FrameConverter::ConvertPart(const uint8_t* top, ptrdiff_t stride, const RowBands::Band& part) {
    if (part.top >= part.bottom || part.left >= part.right)
        return;
    uint8_t* const planes[3] = {
        m_frame->data[0] + ptrdiff_t(part.top) * m_frame->linesize[0] + part.left,
        m_frame->data[1] + ptrdiff_t(part.top / 2) * m_frame->linesize[1] + part.left / 2,
        m_frame->data[2] + ptrdiff_t(part.top / 2) * m_frame->linesize[2] + part.left / 2};
    ConvertBgr0ToYuv420(top + ptrdiff_t(part.top) * stride + 4 * part.left, stride,
                        part.right - part.left, part.bottom - part.top, planes, m_frame->linesize);
}

// Copying a row of the last picture costs a fraction of converting it: the changed
// parts are converted over a copy of every row that is not converted whole.
void FrameConverter::CopyUnchangedRowsOfLastPicture(const RowBands& changedRows) {
    int copied = 0;
    for (const RowBands::Band& band : changedRows.bands()) {
        const RowBands::Band part = EvenPart(band);
        if (part.left == 0 && part.right == m_frame->width) {
            CopyRowsOfLastPicture(copied, part.top);
            copied = std::max(copied, part.bottom);
        }
    }
    CopyRowsOfLastPicture(copied, m_frame->height);
}

// Every picture of the pool has the same layout, so the rows lie together in both.
void FrameConverter::CopyRowsOfLastPicture(int first, int end) {
    if (first >= end)
        return;
    for (int plane = 0; plane < 3; ++plane) {
        const int shift = plane == 0 ? 0 : 1;
        const ptrdiff_t lineSize = m_frame->linesize[plane];
        std::memcpy(m_frame->data[plane] + (first >> shift) * lineSize,
                    m_lastPicture->data[plane] + (first >> shift) * lineSize,
                    size_t(((end - first) >> shift) * lineSize));
    }
}

void FrameConverter::ForgetLastPicture() {
    if (m_lastPicture)
        av_frame_unref(m_lastPicture.get());
}

void FrameConverter::Release() {
    m_lastPicture.reset();
    m_frame.reset();
    m_pool.reset();
    m_sws.reset();
    m_direct = false;
    m_sourceFormat = AV_PIX_FMT_NONE;
}
