#pragma once

#include <array>
#include <climits>
#include <cstddef>
#include <span>

// The parts of a picture to read or convert again: a few sorted, separate bands
// of rows, each with the span of columns that changed in it. Bands close to each
// other are joined, and past a handful the closest are joined too: each band
// costs a request, and the rows in between cost little. A plain value, so that
// a grab allocates nothing for it.
class RowBands {
public:
    struct Band {
        int top = 0;         // the first row
        int bottom = 0;      // the row after the last
        int left = 0;        // the first column
        int right = INT_MAX; // the column after the last: INT_MAX for the picture's edge
    };

    static constexpr size_t kMostBands = 8;

    static RowBands Whole(int height);

    // The band's rows clipped to [0, height), its columns to [0, ...); nothing
    // when that is empty. A band joining others spans all their columns.
    void Add(Band band, int height);
    // Every band of the other, clipped the same way.
    void Add(const RowBands& other, int height);
    void Clear() { m_count = 0; }
    bool empty() const { return m_count == 0; }
    bool Covers(int row) const;
    std::span<const Band> bands() const { return {m_bands.data(), m_count}; }

private:
    void JoinClosest();

    // One more than the most: room for a new band before the closest are joined.
    std::array<Band, kMostBands + 1> m_bands{};
    size_t m_count = 0;
};
