#pragma once

#include "recorder/media/FrameBuffer.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

// The frames on their way from the capture thread to the encoder thread: a bounded
// set of frame buffers, reused for the whole recording, and the captured slots of
// the time line in capture order. One thread captures, one encodes. A buffer is
// made the first time the capture needs one more, so a start costs no time and a
// recording that keeps up uses only a few.
class FrameRing {
public:
    // One captured slot; no frame: the screen had not changed since the last one.
    struct Entry {
        int32_t position = 0;
        FrameBuffer* frame = nullptr;
    };

    // Empties the ring for at most `capacity` frames of the given layout.
    void Reset(size_t capacity, int width, int height, int bitCount);
    // Frees every buffer; only while neither thread uses the ring.
    void Free();
    size_t capacity() const { return m_capacity; }
    // Frames queued or being written.
    size_t busy();

    // Capture side. A free frame, or nullptr while every frame waits or is
    // encoded (or memory is short).
    FrameBuffer* TakeFree();
    // Frees a frame again: one taken but not filled, or that of a written entry.
    void GiveBack(FrameBuffer* frame);
    void Push(const Entry& entry);
    // No more entries come; Pop returns false once the queued ones are taken.
    void Close();

    // Encoder side. Waits for the next entry; false when closed and drained.
    bool Pop(Entry& entry);

private:
    FrameBuffer* MakeFrame();

    size_t m_capacity = 0;
    int m_width = 0;
    int m_height = 0;
    int m_bitCount = 0;
    std::mutex m_mutex;
    std::condition_variable m_queued;
    std::vector<std::unique_ptr<FrameBuffer>> m_frames;
    std::vector<FrameBuffer*> m_free;
    std::deque<Entry> m_queue;
    bool m_closed = false;
};
