#include "recorder/RowBands.h"

#include <algorithm>
#include <iterator>

namespace {

// Below this many rows apart a second request costs more than the rows between.
constexpr int kJoinGap = 16;
constexpr size_t kMostBands = 8;

} // namespace

RowBands RowBands::Whole(int height) {
    RowBands rows;
    rows.Add(0, height, height);
    return rows;
}

void RowBands::Add(int top, int bottom, int height) {
    top = std::max(top, 0);
    bottom = std::min(bottom, height);
    if (top >= bottom)
        return;
    // The bands this one touches (or nearly) become one.
    auto first = std::ranges::find_if(m_bands,
                                      [&](const Band& band) { return band.bottom + kJoinGap >= top; });
    auto last = std::find_if(first, m_bands.end(),
                             [&](const Band& band) { return band.top > bottom + kJoinGap; });
    if (first != last) {
        top = std::min(top, first->top);
        bottom = std::max(bottom, std::prev(last)->bottom);
    }
    first = m_bands.erase(first, last);
    m_bands.insert(first, Band{top, bottom});
    if (m_bands.size() > kMostBands)
        JoinClosest();
}

void RowBands::Add(const RowBands& other, int height) {
    for (const Band& band : other.m_bands)
        Add(band.top, band.bottom, height);
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
    closest->bottom = std::next(closest)->bottom;
    m_bands.erase(std::next(closest));
}
