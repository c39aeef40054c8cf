#include "recorder/RowBands.h"

#include <algorithm>
#include <iterator>

namespace {

// Below this many rows apart a second request costs more than the rows between.
constexpr int kJoinGap = 16;
constexpr size_t kMostBands = 8;

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
    // The bands this one touches (or nearly) become one.
    auto first = std::ranges::find_if(
        m_bands, [&](const Band& other) { return other.bottom + kJoinGap >= band.top; });
    auto last = std::find_if(first, m_bands.end(), [&](const Band& other) {
        return other.top > band.bottom + kJoinGap;
    });
    for (auto joined = first; joined != last; ++joined)
        Join(band, *joined);
    first = m_bands.erase(first, last);
    m_bands.insert(first, band);
    if (m_bands.size() > kMostBands)
        JoinClosest();
}

void RowBands::Add(const RowBands& other, int height) {
    for (const Band& band : other.m_bands)
        Add(band, height);
}

bool RowBands::Covers(int row) const {
    return std::ranges::any_of(m_bands,
                               [row](const Band& band) { return band.top <= row && row < band.bottom; });
}

void RowBands::JoinClosest() {
    auto closest = m_bands.begin();
    for (auto band = m_bands.begin(); std::next(band) != m_bands.end(); ++band) {
        if (std::next(band)->top - band->bottom < std::next(closest)->top - closest->bottom)
            closest = band;
    }
    Join(*closest, *std::next(closest));
    m_bands.erase(std::next(closest));
}
