#pragma once

#include "recorder/media/FfmpegPtr.h"

#include <cstdint>
#include <vector>

// Samples of one device as left and right channel, from time line sample `start` on.
struct SoundBlock {
    int64_t start = 0;
    std::vector<float> left;
    std::vector<float> right;
    int64_t end() const { return start + int64_t(left.size()); }
};

// Places a device's 16-bit stereo packets on the recording's time line. The first
// packet goes where its stamp says, the rest follow by count, since the stamps
// wander by tens of milliseconds and the count does not. A device whose clock runs
// fast or slow (100 ppm is 360 ms an hour) would part from the picture by count
// alone: when the stamps, averaged over seconds, say the count has moved away,
// the samples are resampled by at most 0.2 % until it is back, which no one hears.
// Only a stall (count and stamps more than 200 ms apart) places a packet anew.
class SoundPlacement {
public:
    SoundPlacement();

    // The next packet is placed by its stamp, as after a device that came back.
    void Restart();
    // samples: count interleaved left/right pairs whose first lies at `stamped`
    // on the time line by the packet's stamp.
    SoundBlock Place(const int16_t* samples, int count, int64_t stamped);

private:
    void PlaceAnew(int64_t stamped);
    void Steer(int count, int64_t stamped);

    ffmpeg::SwrPtr m_resampler;
    bool m_placed = false;
    int64_t m_next = 0;        // where the next packet's first sample goes
    double m_meanOffset = 0.0; // stamps minus count, averaged over seconds
};
