#include "recorder/capture/PictureHistory.h"

#include <atomic>

namespace {

std::atomic<uint64_t> g_bases{0};

uint64_t NewBase() {
    return g_bases.fetch_add(uint64_t(1) << 32) + (uint64_t(1) << 32);
}

} // namespace

PictureHistory::PictureHistory() : m_base(NewBase()), m_count(m_base) {}

uint64_t PictureHistory::Add(const RowBands& rows) {
    ++m_count;
    m_rows[m_count % kRemembered] = rows;
    return m_count;
}

RowBands PictureHistory::RowsToRefresh(const FrameBuffer& frame) const {
    const uint64_t shown = frame.picture();
    if (shown <= m_base || shown > m_count || m_count - shown >= kRemembered)
        return RowBands::Whole(frame.height());
    RowBands rows = frame.overlayRows();
    for (uint64_t later = shown + 1; later <= m_count; ++later)
        rows.Add(m_rows[later % kRemembered], frame.height());
    return rows;
}
