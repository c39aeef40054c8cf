#pragma once

#include "recorder/media/BitmapInfoHeader.h"
#include "recorder/media/FfmpegPtr.h"
#include "recorder/media/RowBands.h"

#include <array>
#include <cstdint>

// Turns frame-buffer pixels (DIB rows at 8, 16, 24 or 32 bits, bottom-up unless the
// height is negative) into frames for one encoder. Everything is set up once; a
// conversion takes a recycled buffer from a pool, so nothing is allocated per frame
// even while the encoder still holds earlier frames.
struct PictureSize {
    int width = 0;
    int height = 0;
};
// A picture taller than scaleHeight made that tall, its aspect kept, with even
// sides; any other picture, or a scaleHeight of 0, keeps its size.
PictureSize ScaledSize(int width, int height, int scaleHeight);

class FrameConverter {
public:
    // format: the frame buffer's header with its colour table or bit masks behind it.
    // Scaled: the whole picture is scaled to the encoder's size; otherwise the
    // encoder takes its size from the top left corner.
    bool Setup(const BitmapInfoHeader& format, const AVCodecContext& encoder, bool scaled = false);
    // Null when the pixels are fewer than the format needs or no buffer is left.
    // changedRows, where given, say where (rows top-down, with their columns) these
    // pixels may differ from those of the last conversion: the recorder's own
    // conversion then converts only there and copies the rest of the last picture.
    AVFrame* Convert(const void* pixels, uint32_t size, const RowBands* changedRows = nullptr);
    // The last conversion's picture, to be encoded again as it is; null before the
    // first conversion and after ForgetLastPicture.
    AVFrame* LastPicture();
    // Pixels were left out: the next conversion converts every row, and there is
    // no last picture.
    void ForgetLastPicture();
    void Release();

private:
    bool SetSourceFormat(const BitmapInfoHeader& format);
    bool SetUpScaler(const AVCodecContext& encoder, int sourceWidth, int sourceHeight);
    bool TakeBackLastPicture();
    RowBands::Band EvenPart(const RowBands::Band& band) const;
    void ConvertPart(const uint8_t* top, ptrdiff_t stride, const RowBands::Band& part);
    void CopyUnchangedRowsOfLastPicture(const RowBands& changedRows);
    void CopyRowsOfLastPicture(int first, int end);

    ffmpeg::SwsPtr m_sws; // empty where the recorder's own conversion serves
    bool m_direct = false;
    ffmpeg::BufferPoolPtr m_pool;
    ffmpeg::FramePtr m_frame;
    ffmpeg::FramePtr m_lastPicture; // empty until a conversion, and after ForgetLastPicture
    AVPixelFormat m_sourceFormat = AV_PIX_FMT_NONE;
    std::array<uint32_t, 256> m_palette{};
    int m_rowBytes = 0;
    int m_rows = 0;
    int m_sourceRows = 0; // what swscale reads
    bool m_bottomUp = true;
};
