// Where a device's samples land on the time line when its clock runs fast: the
// real libswresample steering, fed packets whose stamps tell the true time.
#include "recorder/sound/SoundPlacement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kPacket = 960; // 20 ms, as the server delivers them

// A 1 kHz tone made by a device whose clock runs at deviceRate, in packets, each
// stamped with the true time it began (with a few ms of wander) on the time line.
struct DriftingDevice {
    double deviceRate;
    int64_t made = 0;
    uint32_t noise = 12345;

    std::vector<int16_t> NextPacket() {
        std::vector<int16_t> samples(2 * kPacket);
        for (int i = 0; i < kPacket; ++i) {
            const double t = double(made + i) / deviceRate;
            samples[2 * i] = samples[2 * i + 1] =
                int16_t(16000 * std::sin(2 * std::numbers::pi * 1000 * t));
        }
        return samples;
    }
    int64_t Stamp() {
        noise = noise * 1664525u + 1013904223u;
        const int64_t wander = int64_t(noise >> 16) % 481 - 240; // +-5 ms
        return std::llround(double(made) / deviceRate * kRate) + wander;
    }
    int64_t TrueEnd() const { return std::llround(double(made) / deviceRate * kRate); }
};

} // namespace

// 1000 ppm fast (48 048 Hz) for a minute: by count alone the sound would end 60 ms
// late. Steered, it stays within 20 ms, never jumps, and the tone has no click.
TEST(SoundPlacement, KeepsAFastDeviceWithinTwentyMillisecondsWithoutAJumpOrAClick) {
    SoundPlacement placement;
    DriftingDevice device{48048.0};
    int64_t expectedStart = -1;
    float previous = 0.0f;
    float largestStep = 0.0f;
    int64_t end = 0;
    for (int packet = 0; packet < 60 * 50; ++packet) {
        const int64_t stamp = device.Stamp();
        const std::vector<int16_t> samples = device.NextPacket();
        device.made += kPacket;
        const SoundBlock block = placement.Place(samples.data(), kPacket, stamp);
        if (expectedStart >= 0) {
            ASSERT_EQ(block.start, expectedStart) << "a jump at packet " << packet;
        }
        expectedStart = block.end();
        end = block.end();
        for (size_t i = 0; i < block.left.size(); ++i) {
            if (packet > 0 || i > 64) // past the resampler's first filter length
                largestStep = std::max(largestStep, std::abs(block.left[i] - previous));
            previous = block.left[i];
        }
    }
    EXPECT_LE(std::llabs(end - device.TrueEnd()), kRate / 50)
        << "ends " << (end - device.TrueEnd()) * 1000.0 / kRate << " ms off";
    // A 1 kHz tone at 0.49 changes by at most 0.064 from one sample to the next.
    EXPECT_LT(largestStep, 0.075f);
}

// After a stall the count is given up and the stamp places the sound anew.
TEST(SoundPlacement, PlacesAnewAfterAStall) {
    SoundPlacement placement;
    DriftingDevice device{48000.0};
    std::vector<int16_t> samples = device.NextPacket();
    const SoundBlock first = placement.Place(samples.data(), kPacket, 1000);
    const SoundBlock second = placement.Place(samples.data(), kPacket, first.end());
    EXPECT_EQ(second.start, first.end());
    const SoundBlock afterStall = placement.Place(samples.data(), kPacket, second.end() + kRate);
    EXPECT_EQ(afterStall.start, second.end() + kRate);
}
