#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

// Why a sound device could not be opened.
enum class SoundProblem {
    NoProblem,
    NoServer, // no sound server answers
    NoDevice, // the server has no such device
    Refused   // the server or the device refused access
};

// One sound device of the desktop's sound server, read through libavdevice's
// "pulse" input (PulseAudio, or PipeWire's pulse server) on a thread of its own.
// SoundPlacement puts its samples on the recording's time line. A device that
// stops delivering (unplugged, server restarted) leaves a gap, is opened again
// every half second, and is placed anew when it returns.
class SoundSource {
public:
    using Clock = std::chrono::steady_clock;
    enum class Device {
        Microphone,  // the default input
        DesktopSound // the monitor of the default output
    };
    static constexpr int kSampleRate = 48000;

    explicit SoundSource(Device device);
    ~SoundSource();
    SoundSource(const SoundSource&) = delete;
    SoundSource& operator=(const SoundSource&) = delete;

    // Connects now, so that a missing server or device is known before the
    // recording starts.
    SoundProblem Open();
    // Sample 0 of the time line lies at timeLineStart.
    void Start(Clock::time_point timeLineStart);
    // Samples from `at` until the resume are dropped; those after it follow on the
    // time line as if the pause had not been.
    void Pause(Clock::time_point at);
    void Resume(Clock::time_point at);
    // Ends the reading; a server that hangs is not waited for beyond a second.
    void Stop();

    // The time line's samples [from, from + count) as left and right channel, with
    // silence where nothing arrived; samples before `from + count` are then dropped.
    void Read(int64_t from, int count, float* left, float* right);
    // The time line sample up to which the device has delivered.
    int64_t DeliveredEnd() const;
    // Whether the device stopped delivering at some time since Start.
    bool Interrupted() const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::thread m_reader;
};
