// The parts a capture reads again: every row added stays covered, in few bands.
#include "recorder/media/RowBands.h"

#include <gtest/gtest.h>

namespace {

TEST(RowBands, RowsAddedStayCoveredInAFewSortedSeparateBandsWithinTheHeight) {
    RowBands rows;
    rows.Add({-5, 3}, 1000);
    rows.Add({990, 1200}, 1000);
    rows.Add({500, 500}, 1000);
    for (int row = 40; row < 1000; row += 60)
        rows.Add({row, row + 2}, 1000);
    rows.Add({20, 41}, 1000);

    ASSERT_LE(rows.bands().size(), 8u);
    EXPECT_EQ(rows.bands().front().top, 0);
    EXPECT_EQ(rows.bands().back().bottom, 1000);
    for (size_t index = 1; index < rows.bands().size(); ++index)
        EXPECT_LT(rows.bands()[index - 1].bottom, rows.bands()[index].top);
    for (int row = 40; row < 1000; row += 60)
        EXPECT_TRUE(rows.Covers(row) && rows.Covers(row + 1)) << row;
    EXPECT_TRUE(rows.Covers(2) && rows.Covers(20) && rows.Covers(999));
    EXPECT_FALSE(rows.Covers(1000));

    // Two bands 16 rows apart are one; 17 apart stay two.
    RowBands close;
    close.Add({0, 10}, 100);
    close.Add({26, 30}, 100);
    close.Add({47, 50}, 100);
    ASSERT_EQ(close.bands().size(), 2u);
    EXPECT_EQ(close.bands()[0].bottom, 30);
    EXPECT_TRUE(RowBands().empty());

    // Joined bands span the columns of both.
    RowBands spans;
    spans.Add({10, 20, 100, 200}, 480);
    spans.Add({25, 30, 50, 120}, 480);
    ASSERT_EQ(spans.bands().size(), 1u);
    EXPECT_EQ(spans.bands()[0].left, 50);
    EXPECT_EQ(spans.bands()[0].right, 200);
}

} // namespace
