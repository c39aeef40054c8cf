#include "recorder/output/SoundEncoder.h"

#include "recorder/sound/SoundSource.h"

extern "C" {
#include <libavutil/audio_fifo.h>
}

#include <algorithm>
#include <vector>

namespace {

constexpr int64_t kBitRate = 192000;

} // namespace

void SoundEncoder::FifoDeleter::operator()(AVAudioFifo* fifo) const {
    av_audio_fifo_free(fifo);
}

SoundEncoder::SoundEncoder() = default;
SoundEncoder::~SoundEncoder() = default;

bool SoundEncoder::Open(AVFormatContext& muxer, ContainerKind kind) {
    const AVCodec* codec = kind == ContainerKind::Avi ? avcodec_find_encoder_by_name("libmp3lame")
                                                      : avcodec_find_encoder(AV_CODEC_ID_AAC);
    m_encoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!m_encoder || !m_frame || !m_packet)
        return false;
    m_encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_encoder->sample_rate = SoundSource::kSampleRate;
    m_encoder->bit_rate = kBitRate;
    m_encoder->time_base = AVRational{1, SoundSource::kSampleRate};
    av_channel_layout_default(&m_encoder->ch_layout, 2);
    if (muxer.oformat->flags & AVFMT_GLOBALHEADER)
        m_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(m_encoder.get(), codec, nullptr) < 0)
        return false;
    m_stream = avformat_new_stream(&muxer, nullptr);
    if (!m_stream || avcodec_parameters_from_context(m_stream->codecpar, m_encoder.get()) < 0)
        return false;
    m_stream->time_base = m_encoder->time_base;
    m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, m_encoder->frame_size));
    // One frame's buffer for the whole recording, written again once the encoder
    // has let go of it.
    av_frame_unref(m_frame.get());
    m_frame->format = AV_SAMPLE_FMT_FLTP;
    m_frame->sample_rate = SoundSource::kSampleRate;
    m_frame->nb_samples = m_encoder->frame_size;
    av_channel_layout_default(&m_frame->ch_layout, 2);
    if (av_frame_get_buffer(m_frame.get(), 0) < 0)
        return false;
    // An AVI file has no place for the encoder's delay, and players start its sound
    // with the encoder's first output: the delay's worth of the time line is skipped,
    // so that what is heard lines up with the picture. The other containers note
    // the delay and players skip it themselves.
    m_firstSample = kind == ContainerKind::Avi ? m_encoder->initial_padding : 0;
    m_fifoStart = -1;
    return m_fifo != nullptr;
}

void SoundEncoder::Write(const AVFrame& samples, const PacketSink& sink) {
    if (!m_fifo)
        return;
    const int skipped =
        int(std::clamp<int64_t>(m_firstSample - samples.pts, 0, samples.nb_samples));
    if (skipped == samples.nb_samples)
        return;
    if (m_fifoStart < 0)
        m_fifoStart = samples.pts + skipped;
    void* planes[2] = {samples.data[0] + skipped * sizeof(float),
                       samples.data[1] + skipped * sizeof(float)};
    if (av_audio_fifo_write(m_fifo.get(), planes, samples.nb_samples - skipped) < 0)
        return;
    EncodeFrames(m_encoder->frame_size, sink);
}

void SoundEncoder::EncodeFrames(int frameSize, const PacketSink& sink) {
    while (av_audio_fifo_size(m_fifo.get()) >= frameSize) {
        if (av_frame_make_writable(m_frame.get()) < 0)
            return;
        m_frame->nb_samples = frameSize;
        if (av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(m_frame->data), frameSize) <
            frameSize)
            return;
        m_frame->pts = m_fifoStart;
        m_fifoStart += frameSize;
        if (!Send(m_frame.get(), sink))
            return;
    }
}

// The last part of a frame goes as a short frame where the encoder takes one
// (the file then ends with the time line), else filled up with silence.
void SoundEncoder::Finish(const PacketSink& sink) {
    if (!m_fifo)
        return;
    const int held = av_audio_fifo_size(m_fifo.get());
    if (held > 0) {
        const bool shortFrame = m_encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
        if (!shortFrame) {
            std::vector<float> silence(size_t(m_encoder->frame_size - held), 0.0f);
            void* planes[2] = {silence.data(), silence.data()};
            av_audio_fifo_write(m_fifo.get(), planes, int(silence.size()));
        }
        EncodeFrames(shortFrame ? held : m_encoder->frame_size, sink);
    }
    Send(nullptr, sink);
    m_fifo.reset();
}

bool SoundEncoder::Send(const AVFrame* frame, const PacketSink& sink) {
    if (avcodec_send_frame(m_encoder.get(), frame) < 0)
        return false;
    while (avcodec_receive_packet(m_encoder.get(), m_packet.get()) == 0) {
        m_packet->stream_index = m_stream->index;
        av_packet_rescale_ts(m_packet.get(), m_encoder->time_base, m_stream->time_base);
        sink(*m_packet);
        av_packet_unref(m_packet.get());
    }
    return true;
}
