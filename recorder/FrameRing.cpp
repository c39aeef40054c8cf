#include "recorder/FrameRing.h"

void FrameRing::Reset(size_t capacity, int width, int height, int bitCount) {
    Free();
    std::lock_guard lock(m_mutex);
    m_capacity = capacity;
    m_width = width;
    m_height = height;
    m_bitCount = bitCount;
    m_closed = false;
}

void FrameRing::Free() {
    std::lock_guard lock(m_mutex);
    m_queue.clear();
    m_free.clear();
    m_frames.clear();
}

size_t FrameRing::busy() {
    std::lock_guard lock(m_mutex);
    return m_frames.size() - m_free.size();
}

FrameBuffer* FrameRing::TakeFree() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_free.empty()) {
            FrameBuffer* frame = m_free.back();
            m_free.pop_back();
            return frame;
        }
        if (m_frames.size() >= m_capacity)
            return nullptr;
    }
    return MakeFrame();
}

// Only the capture thread adds frames, so the size checked above still holds.
FrameBuffer* FrameRing::MakeFrame() {
    auto frame = std::make_unique<FrameBuffer>();
    if (!frame->Allocate(m_width, m_height, m_bitCount))
        return nullptr;
    std::lock_guard lock(m_mutex);
    m_frames.push_back(std::move(frame));
    return m_frames.back().get();
}

void FrameRing::GiveBack(FrameBuffer* frame) {
    std::lock_guard lock(m_mutex);
    m_free.push_back(frame);
}

void FrameRing::Push(const Entry& entry) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(entry);
    }
    m_queued.notify_one();
}

void FrameRing::Close() {
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_queued.notify_one();
}

bool FrameRing::Pop(Entry& entry) {
    std::unique_lock lock(m_mutex);
    m_queued.wait(lock, [this] { return m_closed || !m_queue.empty(); });
    if (m_queue.empty())
        return false;
    entry = m_queue.front();
    m_queue.pop_front();
    return true;
}
