#include "tests/support/AviDecoder.h"

#include <algorithm>

namespace testsupport {

std::array<uint8_t, 3> RgbImage::At(int x, int y) const {
    const uint8_t* pixel = rgb.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
    return {pixel[0], pixel[1], pixel[2]};
}

AviDecoder::AviDecoder(const std::string& path) {
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0)
        return;
    m_input.reset(input);
    if (avformat_find_stream_info(input, nullptr) < 0)
        return;
    int index = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return;
    m_stream = input->streams[index];
    const AVCodec* codec = avcodec_find_decoder(m_stream->codecpar->codec_id);
    ffmpeg::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!codec || !decoder ||
        avcodec_parameters_to_context(decoder.get(), m_stream->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return;
    m_decoder = std::move(decoder);
}

int AviDecoder::Width() const {
    return m_stream ? m_stream->codecpar->width : 0;
}
int AviDecoder::Height() const {
    return m_stream ? m_stream->codecpar->height : 0;
}
AVRational AviDecoder::TimeBase() const {
    return m_stream ? m_stream->time_base : AVRational{};
}
uint32_t AviDecoder::CodecTag() const {
    return m_stream ? m_stream->codecpar->codec_tag : 0;
}
std::string AviDecoder::CodecName() const {
    return m_decoder ? m_decoder->codec->name : "";
}
int64_t AviDecoder::DeclaredFrames() const {
    return m_stream ? m_stream->nb_frames : 0;
}

bool AviDecoder::Rewind(int64_t position) {
    if (!m_decoder)
        return false;
    avcodec_flush_buffers(m_decoder.get());
    if (av_seek_frame(m_input.get(), m_stream->index, position, AVSEEK_FLAG_BACKWARD) >= 0)
        return true;
    // Before the first picture there is no key frame to go back to: take the next one.
    return avformat_seek_file(m_input.get(), m_stream->index, INT64_MIN, position, INT64_MAX, 0) >=
           0;
}

std::vector<AviDecoder::Packet> AviDecoder::Packets() {
    std::vector<Packet> packets;
    if (!Rewind(0))
        return packets;
    while (av_read_frame(m_input.get(), m_packet.get()) >= 0) {
        if (m_packet->stream_index == m_stream->index && m_packet->size > 0)
            packets.push_back(
                {m_packet->pts, m_packet->size, (m_packet->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(m_packet.get());
    }
    return packets;
}

template <typename OnFrame> void AviDecoder::DecodeFrames(OnFrame onFrame) {
    bool more = true;
    auto receiveAll = [&] {
        while (more && avcodec_receive_frame(m_decoder.get(), m_frame.get()) == 0) {
            more = onFrame(*m_frame);
            av_frame_unref(m_frame.get());
        }
    };
    while (more && av_read_frame(m_input.get(), m_packet.get()) >= 0) {
        if (m_packet->stream_index == m_stream->index && m_packet->size > 0 &&
            avcodec_send_packet(m_decoder.get(), m_packet.get()) >= 0)
            receiveAll();
        av_packet_unref(m_packet.get());
    }
    if (more && avcodec_send_packet(m_decoder.get(), nullptr) >= 0)
        receiveAll();
}

std::vector<int64_t> AviDecoder::DecodedPositions() {
    std::vector<int64_t> positions;
    if (!Rewind(0))
        return positions;
    DecodeFrames([&](const AVFrame& frame) {
        positions.push_back(frame.best_effort_timestamp);
        return true;
    });
    return positions;
}

std::optional<RgbImage> AviDecoder::DecodeAt(int64_t position) {
    std::optional<RgbImage> image;
    if (!Rewind(position))
        return image;
    DecodeFrames([&](const AVFrame& frame) {
        if (frame.best_effort_timestamp == position)
            image = ToRgb(frame);
        return !image && frame.best_effort_timestamp < position;
    });
    return image;
}

RgbImage AviDecoder::ToRgb(const AVFrame& frame) {
    RgbImage image{frame.width, frame.height, {}};
    // swscale's vector code may write a little past the last row of a packed
    // picture whose rows are not a multiple of its vector size: room for that.
    const size_t bytes = size_t(frame.width) * size_t(frame.height) * 3;
    constexpr size_t kOverrunRoom = 64;
    image.rgb.resize(bytes + kOverrunRoom);
    m_sws.reset(sws_getContext(frame.width, frame.height, AVPixelFormat(frame.format), frame.width,
                               frame.height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr,
                               nullptr));
    uint8_t* target[4] = {image.rgb.data(), nullptr, nullptr, nullptr};
    const int targetStride[4] = {frame.width * 3, 0, 0, 0};
    if (m_sws)
        sws_scale(m_sws.get(), frame.data, frame.linesize, 0, frame.height, target, targetStride);
    image.rgb.resize(bytes);
    return image;
}

MarkPixels MarksAround(AviDecoder& video, int x, int y) {
    MarkPixels found;
    for (int64_t position : video.DecodedPositions()) {
        const auto frame = video.DecodeAt(position);
        if (!frame)
            continue;
        for (int row = std::max(0, y - 40); row <= std::min(frame->height - 1, y + 40); ++row)
            for (int column = std::max(0, x - 40); column <= std::min(frame->width - 1, x + 40);
                 ++column) {
                const auto [r, g, b] = frame->At(column, row);
                found.red += r > 160 && g < 90 && b < 90;
                found.green += g > 160 && r < 90 && b < 90;
            }
    }
    return found;
}

} // namespace testsupport
