#pragma once

#include <filesystem>
#include <vector>

namespace testsupport {

// The sound of a recording as FFmpeg decodes it: the left channel at 48 kHz,
// from the start of the file's time line.
struct DecodedSound {
    int streams = 0; // sound streams in the file
    std::vector<float> samples;

    double seconds() const { return samples.size() / 48000.0; }
    // The first sample from `from` on whose level reaches threshold, in seconds; -1 if none.
    double onset(double threshold, double from = 0) const;
    // Root mean square level over [from, to) seconds.
    double level(double from, double to) const;
    // The amplitude of the sine at this frequency over [from, to) seconds: the
    // mean of its amplitude in each whole 50 ms block.
    double amplitudeAt(double frequency, double from, double to) const;
    double peak() const;
};

DecodedSound decodeSound(const std::filesystem::path& file);

} // namespace testsupport
