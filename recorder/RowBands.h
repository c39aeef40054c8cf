#pragma once

#include <vector>

// Rows of a picture to read again, as a few sorted, separate bands. Bands close
// to each other are joined, and past a handful the closest are joined too: each
// band costs a request, and the rows in between cost little.
class RowBands {
public:
    struct Band {
        int top = 0;    // the first row
        int bottom = 0; // the row after the last
    };

    static RowBands Whole(int height);

    // Rows [top, bottom) clipped to [0, height); nothing when that is empty.
    void Add(int top, int bottom, int height);
    // Every band of the other, clipped the same way.
    void Add(const RowBands& other, int height);
    void Clear() { m_bands.clear(); }
    bool empty() const { return m_bands.empty(); }
    bool Covers(int row) const;
    const std::vector<Band>& bands() const { return m_bands; }

private:
    void JoinClosest();

    std::vector<Band> m_bands;
};
