#include "recorder/RecordingPipeline.h"

#include "recorder/FrameTiming.h"
#include "recorder/ScreenGrabber.h"
#include "recorder/output/AviWriter.h"
#include "recorder/sound/SoundRecording.h"

#include "hooklib/ThisThread.h"

#include <algorithm>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr size_t kFewestFrames = 2;

} // namespace

RecordingPipeline::RecordingPipeline(CScreenGrabber& grabber, CAviWriter& writer, size_t ringBytes)
    : m_grabber(grabber), m_writer(writer), m_ringBytes(ringBytes) {}

RecordingPipeline::~RecordingPipeline() {
    Stop();
}

bool RecordingPipeline::Start(uint32_t startTime, unsigned frameRate, SoundRecording* sound,
                              uint32_t slotLimit) {
    Stop();
    const BitmapInfoHeader* format = m_grabber.Header();
    if (!format || frameRate == 0)
        return false;
    const size_t frameBytes = std::max<size_t>(format->biSizeImage, 1);
    const size_t capacity =
        std::max(kFewestFrames, std::min<size_t>(m_ringBytes / frameBytes, frameRate));
    m_ring.Reset(capacity, format->biWidth, format->biHeight, format->biBitCount);
    // The schedule's clock and the millisecond clock are the same monotonic clock;
    // the start is placed on it where the 32-bit start time says.
    const auto now = Clock::now();
    const uint64_t nowMs = std::chrono::duration_cast<milliseconds>(now.time_since_epoch()).count();
    m_startPoint =
        Clock::time_point(milliseconds(nowMs - (static_cast<uint32_t>(nowMs) - startTime)));
    m_startTime = startTime;
    m_frameRate = frameRate;
    m_slotLimit = slotLimit;
    m_stopping = false;
    m_paused = false;
    m_reachedLimit = false;
    m_frames = m_repeats = m_gaps = m_ringFullGaps = 0;
    m_writeNanoseconds = 0;
    m_sound = sound && sound->active() ? sound : nullptr;
    // A frame shows what was on screen when it was grabbed, at the end of its
    // period: a change appears on average half a period after it happened. The
    // sound's time line starts that much before the first grab, so that sound and
    // picture agree on average, and never by more than half a period.
    if (m_sound)
        m_sound->Start(SlotTime(0) - std::chrono::microseconds(500000 / frameRate));
    m_encoder = std::thread(&RecordingPipeline::EncodeLoop, this);
    m_capture = std::thread(&RecordingPipeline::CaptureLoop, this);
    return true;
}

void RecordingPipeline::Stop() {
    if (!running())
        return;
    {
        std::lock_guard lock(m_stopMutex);
        m_stopping = true;
    }
    m_stopRequested.notify_all();
    m_capture.join();
    m_encoder.join();
    m_ring.Free();
}

void RecordingPipeline::Pause() {
    std::lock_guard lock(m_stopMutex);
    if (!running() || m_paused)
        return;
    m_paused = true;
    m_pauseBegan = Clock::now();
    if (m_sound)
        m_sound->Pause(m_pauseBegan);
    m_stopRequested.notify_all();
}

// The millisecond start time and the schedule's start point move on by the same
// whole milliseconds, and the sound by exactly that too, so picture and sound
// stay together across the cut.
void RecordingPipeline::Resume() {
    std::lock_guard lock(m_stopMutex);
    if (!m_paused)
        return;
    const auto pausedFor = std::chrono::duration_cast<milliseconds>(Clock::now() - m_pauseBegan);
    m_startTime += static_cast<uint32_t>(pausedFor.count());
    m_startPoint += pausedFor;
    if (m_sound)
        m_sound->Resume(m_pauseBegan + pausedFor);
    m_paused = false;
    m_stopRequested.notify_all();
}

bool RecordingPipeline::paused() const {
    std::lock_guard lock(m_stopMutex);
    return m_paused;
}

uint32_t RecordingPipeline::RecordedMilliseconds() const {
    std::lock_guard lock(m_stopMutex);
    const auto end = m_paused ? m_pauseBegan : Clock::now();
    return static_cast<uint32_t>(
        std::max<int64_t>(0, std::chrono::duration_cast<milliseconds>(end - m_startPoint).count()));
}

RecordingPipeline::Counts RecordingPipeline::counts() const {
    return {m_frames.load(), m_repeats.load(), m_gaps.load(), m_ringFullGaps.load()};
}

// The first moment at which the position formula gives this position.
Clock::time_point RecordingPipeline::SlotTime(uint32_t position) const {
    const uint64_t due = (uint64_t(position) + 1) * 1000u;
    return m_startPoint + milliseconds((due + m_frameRate - 1) / m_frameRate);
}

// Waits until the slot is due, and through any pause; false at the stop.
bool RecordingPipeline::WaitForSlot(std::unique_lock<std::mutex>& lock, uint32_t position) {
    for (;;) {
        if (!m_stopRequested.wait_until(lock, SlotTime(position),
                                        [this] { return m_stopping || m_paused; }))
            return true;
        if (m_stopping)
            return false;
        // A resume moves the start on, so the slot's time is found anew.
        m_stopRequested.wait(lock, [this] { return m_stopping || !m_paused; });
    }
}

void RecordingPipeline::CaptureLoop() {
    thisthread::Name("capture");
    uint32_t next = 0;
    std::unique_lock lock(m_stopMutex);
    while ((m_slotLimit == 0 || next < m_slotLimit) && WaitForSlot(lock, next)) {
        const uint32_t startTime = m_startTime;
        lock.unlock();
        uint32_t position = FramePosition(startTime, MillisecondClock(), m_frameRate);
        if (m_slotLimit != 0 && position != UINT32_MAX)
            position = std::min(position, m_slotLimit - 1);
        // A wake-up late by whole periods leaves the slots in between empty.
        if (position >= next && position != UINT32_MAX) {
            m_gaps += position - next;
            CaptureSlot(position);
            next = position + 1;
        }
        lock.lock();
    }
    m_reachedLimit = !m_stopping;
    lock.unlock();
    m_ring.Close();
}

// An unchanged screen is not grabbed: the writer shows the last picture again.
// A repeat shows the frame before it, so the file starts with a frame.
void RecordingPipeline::CaptureSlot(uint32_t position) {
    const auto slot = static_cast<int32_t>(position);
    if (m_frames > 0 && !m_grabber.HasChanged()) {
        m_ring.Push({slot, nullptr});
        ++m_repeats;
        return;
    }
    FrameBuffer* frame = RingFull() ? nullptr : m_ring.TakeFree();
    if (!frame) {
        ++m_gaps;
        ++m_ringFullGaps;
        return;
    }
    // A failed grab leaves the screen's last picture standing, as a repeat does.
    if (!m_grabber.Grab()) {
        m_ring.GiveBack(frame);
        m_ring.Push({slot, nullptr});
        ++m_repeats;
        return;
    }
    m_grabber.ExchangeFrame(*frame);
    m_ring.Push({slot, frame});
    ++m_frames;
}

// Until the first frame is written its cost is unknown, and the first frame is the
// slowest (the encoder sets itself up): the writing is taken to keep pace with the
// frame rate, and the first measurement corrects that.
bool RecordingPipeline::RingFull() {
    const auto queued = static_cast<int64_t>(m_ring.busy());
    int64_t perFrame = m_writeNanoseconds.load();
    if (perFrame == 0)
        perFrame = 1000000000 / int64_t(m_frameRate);
    return queued * perFrame >
           std::chrono::duration_cast<std::chrono::nanoseconds>(kDrainBudget).count();
}

void RecordingPipeline::EncodeLoop() {
    thisthread::Name("encoder");
    FrameRing::Entry entry;
    int64_t end = 0; // the slot after the last one written
    while (m_ring.Pop(entry)) {
        end = std::max<int64_t>(end, int64_t(entry.position) + 1);
        WriteSoundUntil(entry.position, false);
        if (!entry.frame) {
            m_writer.WriteRepeat(entry.position);
            continue;
        }
        const auto begun = Clock::now();
        WriteFrame(entry.position, *entry.frame);
        const int64_t took =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - begun).count();
        // A quarter of each new measurement: steady, yet quick to follow the load.
        const int64_t average = m_writeNanoseconds.load();
        m_writeNanoseconds = average == 0 ? took : average + (took - average) / 4;
        m_ring.GiveBack(entry.frame);
    }
    WriteSoundUntil(end, true);
}

// The sound up to the start of the slot; the last call ends the sound there.
void RecordingPipeline::WriteSoundUntil(int64_t slot, bool last) {
    if (!m_sound)
        return;
    const int64_t sample = slot * SoundSource::kSampleRate / m_frameRate;
    const auto write = [this](const AVFrame& samples) { m_writer.WriteSound(samples); };
    if (last)
        m_sound->Finish(sample, write);
    else
        m_sound->Pull(sample, write);
}

void RecordingPipeline::WriteFrame(int32_t position, const FrameBuffer& frame) {
    m_writer.WriteFrame(position, frame.Pixels(), frame.Header()->biSizeImage,
                        &frame.changedRows());
}
