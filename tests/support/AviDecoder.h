#pragma once

#include "recorder/media/FfmpegPtr.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A decoded picture as top-down, tightly packed RGB24 rows.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    std::array<uint8_t, 3> At(int x, int y) const;
};

// Reads a recording back through libavformat and libavcodec, as a player would,
// so tests check what was really written rather than what the writer meant.
class AviDecoder {
public:
    struct Packet {
        int64_t position; // in samples of the stream's time base (dwScale / dwRate)
        int size;
        bool key;
    };

    explicit AviDecoder(const std::string& path);
    AviDecoder(const AviDecoder&) = delete;
    AviDecoder& operator=(const AviDecoder&) = delete;

    bool IsOpen() const { return m_decoder != nullptr; }
    int Width() const;
    int Height() const;
    AVRational TimeBase() const;    // seconds per sample
    uint32_t CodecTag() const;      // the FourCC in the stream format
    std::string CodecName() const;  // libavcodec's name of the decoder
    int64_t DeclaredFrames() const; // the stream's length as its header states it

    // The non-empty packets in file order; empty chunks (gaps) are not listed.
    std::vector<Packet> Packets();
    // Positions of every frame that decodes, from the start of the file.
    std::vector<int64_t> DecodedPositions();
    // The frame at a position, decoded from the nearest key frame before it.
    std::optional<RgbImage> DecodeAt(int64_t position);

private:
    struct InputCloser {
        void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
    };
    bool Rewind(int64_t position);
    // Calls onFrame for each decoded frame until it returns false or the file ends.
    template <typename OnFrame> void DecodeFrames(OnFrame onFrame);
    RgbImage ToRgb(const AVFrame& frame);

    std::unique_ptr<AVFormatContext, InputCloser> m_input;
    AVStream* m_stream = nullptr;
    ffmpeg::CodecContextPtr m_decoder;
    ffmpeg::FramePtr m_frame{av_frame_alloc()};
    ffmpeg::PacketPtr m_packet{av_packet_alloc()};
    ffmpeg::SwsPtr m_sws;
};

// Pixels in the click marks' colours, (250, 0, 0) and (0, 250, 0) blurred a little
// by the codec, within 40 pixels of a point over every frame of a recording.
struct MarkPixels {
    int red = 0;
    int green = 0;
};
MarkPixels MarksAround(AviDecoder& video, int x, int y);

} // namespace testsupport
