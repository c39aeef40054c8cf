#include "recorder/sound/SoundRecording.h"

#include <algorithm>
#include <thread>

namespace {

constexpr int kBlockSamples = SoundSource::kSampleRate / 10;
// What a stop waits at most for the devices' last samples to come through the server.
constexpr auto kArrivalPatience = std::chrono::milliseconds(300);

} // namespace

SoundRecording::SoundRecording() = default;

SoundRecording::~SoundRecording() {
    Stop();
}

bool SoundRecording::Open(bool microphone, bool desktopSound) {
    Stop();
    m_problem = SoundProblem::NoProblem;
    m_interrupted = false;
    std::vector<SoundSource::Device> chosen;
    if (microphone)
        chosen.push_back(SoundSource::Device::Microphone);
    if (desktopSound)
        chosen.push_back(SoundSource::Device::DesktopSound);
    for (SoundSource::Device device : chosen) {
        auto source = std::make_unique<SoundSource>(device);
        const SoundProblem problem = source->Open();
        if (problem == SoundProblem::NoProblem)
            m_sources.push_back(std::move(source));
        else if (m_problem == SoundProblem::NoProblem)
            m_problem = problem;
    }
    if (!m_sources.empty() && !m_mixer.Open(int(m_sources.size())))
        m_sources.clear();
    m_samples.assign(m_sources.size() * 2 * kBlockSamples, 0.0f);
    m_blocks.clear();
    for (size_t i = 0; i < m_sources.size(); ++i)
        m_blocks.push_back({LeftOf(i), LeftOf(i) + kBlockSamples});
    return active();
}

void SoundRecording::Start(Clock::time_point timeLineStart) {
    m_start = timeLineStart;
    m_next = 0;
    {
        std::lock_guard lock(m_pauseMutex);
        m_pausedBefore = {};
        m_pauseBegan.reset();
    }
    for (auto& source : m_sources)
        source->Start(timeLineStart);
}

void SoundRecording::Pause(Clock::time_point at) {
    {
        std::lock_guard lock(m_pauseMutex);
        m_pauseBegan = at;
    }
    for (auto& source : m_sources)
        source->Pause(at);
}

void SoundRecording::Resume(Clock::time_point at) {
    {
        std::lock_guard lock(m_pauseMutex);
        if (m_pauseBegan)
            m_pausedBefore += at - *m_pauseBegan;
        m_pauseBegan.reset();
    }
    for (auto& source : m_sources)
        source->Resume(at);
}

SoundRecording::Clock::duration SoundRecording::TimeLineElapsed() const {
    std::lock_guard lock(m_pauseMutex);
    return m_pauseBegan.value_or(Clock::now()) - m_start - m_pausedBefore;
}

void SoundRecording::Pull(int64_t until, const SoundMixer::FrameSink& sink) {
    MixUpTo(ReadyEnd(until), sink);
}

// Where every device has delivered to, or lags so far behind the clock that
// its missing samples are taken as silence.
int64_t SoundRecording::ReadyEnd(int64_t until) const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(TimeLineElapsed());
    const int64_t givenUp = elapsed.count() * SoundSource::kSampleRate / 1000000 - kStallSamples;
    int64_t ready = until;
    for (const auto& source : m_sources)
        ready = std::min(ready, std::max(source->DeliveredEnd(), givenUp));
    return ready;
}

void SoundRecording::Finish(int64_t end, const SoundMixer::FrameSink& sink) {
    if (!active())
        return;
    const auto deadline = Clock::now() + kArrivalPatience;
    while (ReadyEnd(end) < end && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    MixUpTo(end, sink);
    m_mixer.Finish(sink);
    Stop();
}

void SoundRecording::Stop() {
    for (auto& source : m_sources) {
        source->Stop();
        m_interrupted = m_interrupted || source->Interrupted();
    }
    m_sources.clear();
}

float* SoundRecording::LeftOf(size_t source) {
    return m_samples.data() + 2 * source * kBlockSamples;
}

void SoundRecording::MixUpTo(int64_t end, const SoundMixer::FrameSink& sink) {
    while (m_next < end) {
        const int count = int(std::min<int64_t>(end - m_next, kBlockSamples));
        for (size_t i = 0; i < m_sources.size(); ++i)
            m_sources[i]->Read(m_next, count, LeftOf(i), LeftOf(i) + kBlockSamples);
        m_mixer.Mix(m_blocks, count, m_next, sink);
        m_next += count;
    }
}
