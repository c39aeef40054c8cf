#pragma once

#include "recorder/sound/SoundMixer.h"
#include "recorder/sound/SoundSource.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// The sound of one recording: the chosen devices, each read on its own thread,
// mixed into one track on the video's time line. The thread that writes the file
// pulls the mix up to where its video has come; a device that lags far behind the
// clock (stalled, or gone until it is opened again) counts as silence meanwhile.
class SoundRecording {
public:
    using Clock = SoundSource::Clock;
    // How far a device may lag behind the clock before its absence is silence.
    static constexpr int64_t kStallSamples = SoundSource::kSampleRate / 2;

    SoundRecording();
    ~SoundRecording();

    // Opens the chosen devices; false when none of them could be, and the
    // recording goes on without sound. problem() tells why a chosen one failed.
    bool Open(bool microphone, bool desktopSound);
    bool active() const { return !m_sources.empty(); }
    SoundProblem problem() const { return m_problem; }

    // Sample 0 of the time line lies at timeLineStart, the moment of the video's
    // first frame.
    void Start(Clock::time_point timeLineStart);
    // What the devices deliver from `at` to the resume is left out, and the time
    // line goes on after the resume where it was at `at`. The encoder thread may
    // pull meanwhile.
    void Pause(Clock::time_point at);
    void Resume(Clock::time_point at);
    // The mix up to time line sample `until`, as far as it can be told yet.
    void Pull(int64_t until, const SoundMixer::FrameSink& sink);
    // The whole rest up to `end`, once what is on its way has arrived or is given
    // up on; the devices are then closed.
    void Finish(int64_t end, const SoundMixer::FrameSink& sink);
    // Closes the devices; safe to repeat.
    void Stop();

    // Whether a device stopped delivering during the recording (valid after Finish).
    bool Interrupted() const { return m_interrupted; }

private:
    int64_t ReadyEnd(int64_t until) const;
    void MixUpTo(int64_t end, const SoundMixer::FrameSink& sink);
    // Where a source's block of left samples starts; its right ones follow.
    float* LeftOf(size_t source);

    std::vector<std::unique_ptr<SoundSource>> m_sources;
    SoundMixer m_mixer;
    SoundProblem m_problem = SoundProblem::NoProblem;
    // The clock time that the time line has run: now less the pauses.
    Clock::duration TimeLineElapsed() const;

    Clock::time_point m_start;
    mutable std::mutex m_pauseMutex;  // the two below, which the pause changes
    Clock::duration m_pausedBefore{}; // the pauses that ended
    std::optional<Clock::time_point> m_pauseBegan;
    int64_t m_next = 0;
    bool m_interrupted = false;
    std::vector<float> m_samples;            // left then right, for each source
    std::vector<SoundMixer::Input> m_blocks; // each source's part of m_samples
};
