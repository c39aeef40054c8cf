#pragma once

#include "recorder/media/FfmpegPtr.h"
#include "recorder/output/OutputContainer.h"

#include <functional>

struct AVAudioFifo;

// The sound track of a recording file: MP3 (libmp3lame, 192 kbit/s) in AVI, AAC in
// MP4 and Matroska; 48 kHz stereo. It takes the time line's samples in any
// portions and hands out whole encoded frames.
class SoundEncoder {
public:
    using PacketSink = std::function<void(AVPacket&)>;

    SoundEncoder();
    ~SoundEncoder();
    SoundEncoder(const SoundEncoder&) = delete;
    SoundEncoder& operator=(const SoundEncoder&) = delete;

    // Adds the track to the muxer, before its header is written.
    bool Open(AVFormatContext& muxer, ContainerKind kind);
    // Planar float stereo samples whose pts is their time line position; they
    // follow each other without gaps. Packets come out in the stream's time base.
    void Write(const AVFrame& samples, const PacketSink& sink);
    // What the encoder holds, at the end of the recording.
    void Finish(const PacketSink& sink);

private:
    // Frames of frameSize samples while the fifo holds that many.
    void EncodeFrames(int frameSize, const PacketSink& sink);
    bool Send(const AVFrame* frame, const PacketSink& sink);

    struct FifoDeleter {
        void operator()(AVAudioFifo* fifo) const;
    };
    ffmpeg::CodecContextPtr m_encoder;
    AVStream* m_stream = nullptr;
    std::unique_ptr<AVAudioFifo, FifoDeleter> m_fifo;
    ffmpeg::FramePtr m_frame{av_frame_alloc()};
    ffmpeg::PacketPtr m_packet{av_packet_alloc()};
    int64_t m_firstSample = 0; // where the encoder's input starts on the time line
    int64_t m_fifoStart = -1;  // the time line sample of the fifo's first sample
};
