#include "recorder/sound/SoundMixer.h"

#include "recorder/sound/SoundSource.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#include <algorithm>
#include <string>

namespace {

constexpr const char* kSourceFormat =
    "sample_rate=48000:sample_fmt=fltp:channel_layout=stereo:time_base=1/48000";
// Summed at their own levels; the limiter's own levelling stays off and its look
// ahead is taken back out, so the mix keeps its place on the time line. The
// ceiling is 1 dB under full scale: the sound encoders cut the highest
// frequencies, and where the sound jumps (a source's gap filled with silence) the
// decoded wave overshoots the limited one by up to about 9 %.
constexpr const char* kLimiterOptions = "limit=0.891:level=0:latency=1";

AVFilterContext* AddFilter(AVFilterGraph& graph, const char* filter, const std::string& name,
                           const std::string& options) {
    AVFilterContext* context = nullptr;
    if (avfilter_graph_create_filter(&context, avfilter_get_by_name(filter), name.c_str(),
                                     options.empty() ? nullptr : options.c_str(), nullptr,
                                     &graph) < 0)
        return nullptr;
    return context;
}

bool FillFrame(AVFrame& frame, const SoundMixer::Input& block, int count, int64_t position) {
    frame.format = AV_SAMPLE_FMT_FLTP;
    frame.sample_rate = SoundSource::kSampleRate;
    frame.nb_samples = count;
    frame.pts = position;
    av_channel_layout_default(&frame.ch_layout, 2);
    if (av_frame_get_buffer(&frame, 0) < 0)
        return false;
    std::copy_n(block.left, count, reinterpret_cast<float*>(frame.data[0]));
    std::copy_n(block.right, count, reinterpret_cast<float*>(frame.data[1]));
    return true;
}

} // namespace

void SoundMixer::GraphDeleter::operator()(AVFilterGraph* graph) const {
    avfilter_graph_free(&graph);
}

SoundMixer::SoundMixer() = default;
SoundMixer::~SoundMixer() = default;

bool SoundMixer::Open(int sources) {
    m_graph.reset();
    m_inputs.clear();
    m_output = nullptr;
    if (sources < 2)
        return sources == 1 && m_frame && m_mixed;
    m_graph.reset(avfilter_graph_alloc());
    if (!m_graph || !m_frame || !m_mixed)
        return false;
    AVFilterGraph& graph = *m_graph;
    graph.nb_threads = 1;
    AVFilterContext* mix =
        AddFilter(graph, "amix", "mix",
                  "inputs=" + std::to_string(sources) + ":normalize=0:duration=longest");
    AVFilterContext* limiter = AddFilter(graph, "alimiter", "limiter", kLimiterOptions);
    AVFilterContext* format = AddFilter(graph, "aformat", "format", "sample_fmts=fltp");
    m_output = AddFilter(graph, "abuffersink", "out", "");
    if (!mix || !limiter || !format || !m_output || avfilter_link(mix, 0, limiter, 0) < 0 ||
        avfilter_link(limiter, 0, format, 0) < 0 || avfilter_link(format, 0, m_output, 0) < 0)
        return false;
    for (int i = 0; i < sources; ++i) {
        AVFilterContext* input =
            AddFilter(graph, "abuffer", "in" + std::to_string(i), kSourceFormat);
        if (!input || avfilter_link(input, 0, mix, unsigned(i)) < 0)
            return false;
        m_inputs.push_back(input);
    }
    return avfilter_graph_config(&graph, nullptr) >= 0;
}

bool SoundMixer::Mix(const std::vector<Input>& blocks, int count, int64_t position,
                     const FrameSink& sink) {
    if (!m_graph) {
        av_frame_unref(m_frame.get());
        if (blocks.size() != 1 || !FillFrame(*m_frame, blocks.front(), count, position))
            return false;
        sink(*m_frame);
        return true;
    }
    if (blocks.size() != m_inputs.size())
        return false;
    for (size_t i = 0; i < blocks.size(); ++i) {
        av_frame_unref(m_frame.get());
        if (!FillFrame(*m_frame, blocks[i], count, position) ||
            av_buffersrc_add_frame(m_inputs[i], m_frame.get()) < 0)
            return false;
    }
    Drain(sink);
    return true;
}

void SoundMixer::Finish(const FrameSink& sink) {
    if (!m_graph)
        return;
    // An input that refuses the end leaves its share of the last block unmixed.
    for (AVFilterContext* input : m_inputs)
        if (av_buffersrc_add_frame(input, nullptr) < 0)
            return;
    Drain(sink);
}

void SoundMixer::Drain(const FrameSink& sink) {
    while (av_buffersink_get_frame(m_output, m_mixed.get()) >= 0) {
        sink(*m_mixed);
        av_frame_unref(m_mixed.get());
    }
}
