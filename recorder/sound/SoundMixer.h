#pragma once

#include "recorder/media/FfmpegPtr.h"

#include <functional>
#include <vector>

struct AVFilterContext;
struct AVFilterGraph;

// Mixes the sound sources of one recording into one stereo track of 48 kHz
// planar float samples. Two sources go through libavfilter's amix, summed at
// their own levels, then a limiter that touches only peaks that would clip;
// one source passes through as it is.
class SoundMixer {
public:
    // One block of a source: its left and right samples.
    struct Input {
        const float* left;
        const float* right;
    };
    using FrameSink = std::function<void(const AVFrame&)>;

    SoundMixer();
    ~SoundMixer();
    SoundMixer(const SoundMixer&) = delete;
    SoundMixer& operator=(const SoundMixer&) = delete;

    bool Open(int sources);
    // One block of the same length and time line position from every source;
    // what the mix gives out goes to sink, in order.
    bool Mix(const std::vector<Input>& blocks, int count, int64_t position, const FrameSink& sink);
    // The end of the sources: what the limiter still holds comes out.
    void Finish(const FrameSink& sink);

private:
    void Drain(const FrameSink& sink);

    struct GraphDeleter {
        void operator()(AVFilterGraph* graph) const;
    };
    std::unique_ptr<AVFilterGraph, GraphDeleter> m_graph;
    std::vector<AVFilterContext*> m_inputs;
    AVFilterContext* m_output = nullptr;
    ffmpeg::FramePtr m_frame{av_frame_alloc()};
    ffmpeg::FramePtr m_mixed{av_frame_alloc()};
};
