#include "recorder/media/RowBands.h"

#include <algorithm>

namespace {

// Below this many rows apart a second request costs more than the rows between.
constexpr int kJoinGap = 16;

void Join(RowBands::Band& into, const RowBands::Band& other) {
    into.top = std::min(into.top, other.top);
    into.bottom = std::max(into.bottom, other.bottom);
    into.left = std::min(into.left, other.left);
    into.right = std::max(into.right, other.right);
}

} // namespace

RowBands RowBands::Whole(int height) {
    RowBands rows;
    rows.Add(Band{0, height}, height);
    return rows;
}

void RowBands::Add(Band band, int height) {
    band.top = std::max(band.top, 0);
    band.bottom = std::min(band.bottom, height);
    band.left = std::max(band.left, 0);
    if (band.top >= band.bottom || band.left >= band.right)
        return;
    Band* const begin = m_bands.data();
    Band* const end = begin + m_count;
    // The bands this one touches (or nearly) become one, in the first one's place.
    Band* const first = std::find_if(
        begin, end, [&](const Band& other) { return other.bottom + kJoinGap >= band.top; });
    Band* const last = std::find_if(
        first, end, [&](const Band& other) { return other.top > band.bottom + kJoinGap; });
    for (const Band* joined = first; joined != last; ++joined)
        Join(band, *joined);
    if (first == last) {
        std::move_backward(first, end, end + 1);
        ++m_count;
    } else {
        std::move(last, end, first + 1);
        m_count -= static_cast<size_t>(last - first) - 1;
    }
    *first = band;
    if (m_count > kMostBands)
        JoinClosest();
}

void RowBands::Add(const RowBands& other, int height) {
    for (const Band& band : other.bands())
        Add(band, height);
}

bool RowBands::Covers(int row) const {
    return std::ranges::any_of(
        bands(), [row](const Band& band) { return band.top <= row && row < band.bottom; });
}

void RowBands::JoinClosest() {
    Band* const begin = m_bands.data();
    Band* const end = begin + m_count;
    Band* closest = begin;
    for (Band* band = begin; band + 1 != end; ++band) {
        if (band[1].top - band->bottom < closest[1].top - closest->bottom)
            closest = band;
    }
    Join(*closest, closest[1]);
    std::move(closest + 2, end, closest + 1);
    --m_count;
}
