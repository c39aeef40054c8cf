#include "tests/support/SoundAnalysis.h"

#include "tests/support/ExternalCommand.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace testsupport {

namespace {

constexpr double kRate = 48000;
// The recorder stretches or squeezes sound by a fraction of a percent to keep it
// with the picture; over a long window that turns a tone's phase enough to cancel
// it, over 50 ms not at all.
constexpr double kAmplitudeBlockSeconds = 0.05;

size_t sampleAt(const std::vector<float>& samples, double seconds) {
    return std::min(samples.size(), size_t(std::max(0.0, seconds) * kRate));
}

} // namespace

double DecodedSound::onset(double threshold, double from) const {
    for (size_t i = sampleAt(samples, from); i < samples.size(); ++i)
        if (std::fabs(samples[i]) >= threshold)
            return i / kRate;
    return -1;
}

double DecodedSound::level(double from, double to) const {
    const size_t begin = sampleAt(samples, from), end = sampleAt(samples, to);
    double sum = 0;
    for (size_t i = begin; i < end; ++i)
        sum += double(samples[i]) * samples[i];
    return end > begin ? std::sqrt(sum / double(end - begin)) : 0;
}

double DecodedSound::amplitudeAt(double frequency, double from, double to) const {
    const size_t begin = sampleAt(samples, from), end = sampleAt(samples, to);
    const size_t block = size_t(kAmplitudeBlockSeconds * kRate);
    const double step = 2 * M_PI * frequency / kRate;
    double sum = 0;
    size_t blocks = 0;
    for (size_t first = begin; first + block <= end; first += block, ++blocks) {
        double real = 0, imaginary = 0;
        for (size_t i = first; i < first + block; ++i) {
            real += samples[i] * std::cos(step * double(i));
            imaginary += samples[i] * std::sin(step * double(i));
        }
        sum += 2 * std::hypot(real, imaginary) / double(block);
    }
    return blocks ? sum / double(blocks) : 0;
}

double DecodedSound::peak() const {
    float most = 0;
    for (float sample : samples)
        most = std::max(most, std::fabs(sample));
    return most;
}

DecodedSound decodeSound(const std::filesystem::path& file) {
    const std::string quoted = "'" + file.string() + "'";
    DecodedSound sound;
    const std::string streams = commandOutput(
        "ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 " + quoted);
    sound.streams = int(std::count(streams.begin(), streams.end(), '\n'));
    if (sound.streams == 0)
        return sound;
    const std::string raw = commandOutput("ffmpeg -v error -i " + quoted +
                                          " -map 0:a:0 -af 'pan=mono|c0=c0' -f f32le -ar 48000 -");
    sound.samples.resize(raw.size() / sizeof(float));
    std::memcpy(sound.samples.data(), raw.data(), sound.samples.size() * sizeof(float));
    return sound;
}

} // namespace testsupport
