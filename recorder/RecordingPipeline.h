#pragma once

#include "recorder/FrameRing.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class CAviWriter;
class CScreenGrabber;
class SoundRecording;

// A running recording: the capture thread wakes on the frame schedule, kept on an
// absolute clock, and grabs into the ring, each frame stamped with its position on
// the time line; the encoder thread writes the ring's frames to the file in order.
// When the ring is full a slot stays a gap and the schedule goes on, so a slow
// encoder costs frames, never the time line. The ring also counts as full while
// its frames would take the encoder longer than half a second to write: a slow
// encoder writes no fewer frames for a longer queue, and the stop, which writes
// every queued frame, stays prompt. The thread that starts and stops it does no
// work per frame. A recording with sound has its mix written by the encoder
// thread too, after each slot up to that slot's time, so the file's sound and
// pictures lie close together.
class RecordingPipeline {
public:
    struct Counts {
        uint32_t frames = 0;   // slots with a new picture
        uint32_t repeats = 0;  // slots whose screen had not changed
        uint32_t gaps = 0;     // slots missed: capture late or the ring full
        uint32_t ringFull = 0; // of the gaps, those the full ring made
    };

    // About one second of frames, but never more memory than this.
    static constexpr size_t kRingBytes = 256u << 20;
    // The most writing that a stop may find queued.
    static constexpr std::chrono::milliseconds kDrainBudget{500};

    RecordingPipeline(CScreenGrabber& grabber, CAviWriter& writer, size_t ringBytes = kRingBytes);
    virtual ~RecordingPipeline();
    RecordingPipeline(const RecordingPipeline&) = delete;
    RecordingPipeline& operator=(const RecordingPipeline&) = delete;

    // The grabber set up and the writer open; startTime as MillisecondClock gave
    // it; sound opened, or nullptr. slotLimit: the capture ends by itself after
    // that many slots (0: never). False without a frame format or rate.
    bool Start(uint32_t startTime, unsigned frameRate, SoundRecording* sound = nullptr,
               uint32_t slotLimit = 0);
    // Ends the capture at once and returns when every captured slot is in the
    // writer; the ring's memory goes. Safe to repeat.
    void Stop();
    bool running() const { return m_capture.joinable(); }

    // No slot is captured and no sound kept from the pause to the resume; the
    // time line then goes on where it stopped, as if the span had not been.
    // Each is ignored when it changes nothing.
    void Pause();
    void Resume();
    bool paused() const;
    // The time line's length so far: the running time less its pauses.
    uint32_t RecordedMilliseconds() const;
    // The capture took its last slot, as the slot limit says.
    bool reachedLimit() const { return m_reachedLimit; }

    // Complete once stopped.
    Counts counts() const;
    size_t ringCapacity() const { return m_ring.capacity(); }

protected:
    // On the encoder thread, for each frame in order.
    virtual void WriteFrame(int32_t position, const FrameBuffer& frame);

private:
    void CaptureLoop();
    void CaptureSlot(uint32_t position);
    bool RingFull();
    void EncodeLoop();
    void WriteSoundUntil(int64_t slot, bool last);
    std::chrono::steady_clock::time_point SlotTime(uint32_t position) const;
    bool WaitForSlot(std::unique_lock<std::mutex>& lock, uint32_t position);

    CScreenGrabber& m_grabber;
    CAviWriter& m_writer;
    size_t m_ringBytes;
    FrameRing m_ring;
    uint32_t m_startTime = 0;
    std::chrono::steady_clock::time_point m_startPoint;
    unsigned m_frameRate = 0;
    SoundRecording* m_sound = nullptr;
    uint32_t m_slotLimit = 0;
    // Guards the stop and the pause, and the start times a resume moves on.
    mutable std::mutex m_stopMutex;
    std::condition_variable m_stopRequested;
    bool m_stopping = false;
    bool m_paused = false;
    std::chrono::steady_clock::time_point m_pauseBegan;
    std::atomic<bool> m_reachedLimit{false};
    std::atomic<uint32_t> m_frames{0};
    std::atomic<uint32_t> m_repeats{0};
    std::atomic<uint32_t> m_gaps{0};
    std::atomic<uint32_t> m_ringFullGaps{0};
    // The encoder thread's recent wall time per frame, waiting for a processor included.
    std::atomic<int64_t> m_writeNanoseconds{0};
    std::thread m_capture;
    std::thread m_encoder;
};
