#pragma once

#include "recorder/media/FrameBuffer.h"
#include "recorder/media/RowBands.h"

#include <array>
#include <cstddef>
#include <cstdint>

// Numbers a source's pictures and remembers where each one differs from the one
// before, so that a frame handed back after showing an older picture is brought
// up to date in those parts only. Each source numbers from a base of its own: a
// frame filled by another source is never taken for one of its pictures.
class PictureHistory {
public:
    PictureHistory();

    // Counts a new picture that differs from the last one only in rows; its number.
    uint64_t Add(const RowBands& rows);
    // Where the frame differs from the newest picture: under what was drawn over
    // its own picture, and wherever the pictures since that one changed; all of
    // it when it shows none of this source's pictures, or one too old to recall.
    RowBands RowsToRefresh(const FrameBuffer& frame) const;
    bool empty() const { return m_count == m_base; }
    // The newest picture's number.
    uint64_t newest() const { return m_count; }

private:
    // A frame reused after more pictures than this is refreshed whole.
    static constexpr size_t kRemembered = 64;

    std::array<RowBands, kRemembered> m_rows{}; // picture n at n % kRemembered
    const uint64_t m_base;                      // the number before the first picture
    uint64_t m_count;
};
