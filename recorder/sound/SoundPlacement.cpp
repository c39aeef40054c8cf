#include "recorder/sound/SoundPlacement.h"

#include "recorder/sound/SoundSource.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kRate = SoundSource::kSampleRate;
// Count and stamps part by more than this only after a stall the server did not
// report: the stamp then places the samples anew.
constexpr int64_t kPlaceAnewBeyond = kRate / 5;
// The stamps' wander averages out over this many seconds; a drifting clock's
// offset grows steadily through it.
constexpr double kAveragingSeconds = 5.0;
// Within this the count is left alone (5 ms): the stamps' own wander.
constexpr double kLeaveWithin = kRate / 200.0;
// The most a second of sound is stretched or squeezed: 0.2 % (3.5 cents).
constexpr int kMostStepPerSecond = kRate / 500;

ffmpeg::SwrPtr MakeResampler() {
    SwrContext* context = nullptr;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO; // FFmpeg 5 takes it as non-const
    if (swr_alloc_set_opts2(&context, &stereo, AV_SAMPLE_FMT_FLTP, kRate, &stereo,
                            AV_SAMPLE_FMT_S16, kRate, 0, nullptr) < 0)
        return {};
    ffmpeg::SwrPtr resampler(context);
    // At one rate the resampler is left out unless asked for; compensation needs it.
    av_opt_set_int(context, "flags", SWR_FLAG_RESAMPLE, 0);
    if (swr_init(context) < 0)
        return {};
    return resampler;
}

} // namespace

SoundPlacement::SoundPlacement() : m_resampler(MakeResampler()) {}

void SoundPlacement::Restart() {
    m_placed = false;
}

SoundBlock SoundPlacement::Place(const int16_t* samples, int count, int64_t stamped) {
    if (!m_resampler)
        return {stamped, {}, {}}; // no memory for it: the device is heard as silence
    if (!m_placed || std::llabs(stamped - m_next) > kPlaceAnewBeyond)
        PlaceAnew(stamped);
    else
        Steer(count, stamped);
    SoundBlock block{m_next, {}, {}};
    const int room = count + kMostStepPerSecond + swr_get_out_samples(m_resampler.get(), count);
    block.left.resize(room);
    block.right.resize(room);
    uint8_t* planes[] = {reinterpret_cast<uint8_t*>(block.left.data()),
                         reinterpret_cast<uint8_t*>(block.right.data())};
    const uint8_t* input[] = {reinterpret_cast<const uint8_t*>(samples)};
    const int made = std::max(0, swr_convert(m_resampler.get(), planes, room, input, count));
    block.left.resize(made);
    block.right.resize(made);
    m_next = block.end();
    return block;
}

// Whatever the resampler still holds belongs before the stall and is dropped.
void SoundPlacement::PlaceAnew(int64_t stamped) {
    swr_init(m_resampler.get());
    m_next = stamped;
    m_meanOffset = 0.0;
    m_placed = true;
}

// Stretches the sound while the count lags the stamps, squeezes it while it runs
// ahead, spread over the next second.
void SoundPlacement::Steer(int count, int64_t stamped) {
    const double weight = std::min(1.0, count / (kAveragingSeconds * kRate));
    m_meanOffset += (double(stamped - m_next) - m_meanOffset) * weight;
    const int step = std::abs(m_meanOffset) <= kLeaveWithin
                         ? 0
                         : int(std::clamp(std::lround(m_meanOffset), long(-kMostStepPerSecond),
                                          long(kMostStepPerSecond)));
    swr_set_compensation(m_resampler.get(), step, kRate);
}
