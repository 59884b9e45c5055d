#include "log/color_index.h"

#include <gtest/gtest.h>

#include <array>

namespace movra {
namespace {

std::array<ColorPair, 6> SixPairs() {
    std::array<ColorPair, 6> p;
    for (uint32_t i = 0; i < 6; ++i) p[i] = {i, 0x100u + i};
    return p;
}

TEST(ColorIndexTest, IndexesOutsideTheTableBecomeZeroButCountKeepsDefaults) {
    ColorIndexStore s;
    auto pairs = SixPairs();
    EXPECT_EQ(s.SetColors(pairs), 0);
    EXPECT_EQ(s.ColorCount(), 6);

    EXPECT_EQ(s.SetItemColor(0, 7), 0);
    EXPECT_EQ(s.ItemColor(0), 0);
    EXPECT_EQ(s.SetItemColor(1, -3), 0);
    EXPECT_EQ(s.ItemColor(1), 0);
    EXPECT_EQ(s.SetItemColor(2, 6), 0);
    EXPECT_EQ(s.ItemColor(2), 6);
    EXPECT_EQ(s.SetItemColor(3, 5), 0);

    EXPECT_EQ(s.RowColors(0), pairs[0]);
    EXPECT_EQ(s.RowColors(2), std::nullopt);  // index == count: default colors
    EXPECT_EQ(s.RowColors(3), pairs[5]);
}

TEST(ColorIndexTest, NegativeRowIsRefusedAndStoresNothing) {
    ColorIndexStore s;
    s.SetColors(SixPairs());
    EXPECT_EQ(s.SetItemColor(-1, 2), -1);
    EXPECT_EQ(s.Size(), 0u);
    EXPECT_EQ(s.SetItemColor(ColorIndexStore::kMaxRows, 2), -1);
    EXPECT_EQ(s.SetItemColor(INT32_MAX, 2), -1);
    EXPECT_EQ(s.Size(), 0u);
}

TEST(ColorIndexTest, ArrayGrowsToRowPlusTenWithZeros) {
    ColorIndexStore s;
    s.SetColors(SixPairs());
    s.SetItemColor(0, 1);
    s.SetItemColor(1, 2);
    s.SetItemColor(2, 3);  // 10 entries after the first call
    EXPECT_EQ(s.Size(), 10u);
    s.SetItemColor(25, 4);
    EXPECT_EQ(s.Size(), 35u);
    for (int32_t row = 3; row < 35; ++row) EXPECT_EQ(s.ItemColor(row), row == 25 ? 4 : 0) << row;
    EXPECT_EQ(s.ItemColor(1), 2);
    s.SetItemColor(34, 1);  // fits: no growth
    EXPECT_EQ(s.Size(), 35u);
}

TEST(ColorIndexTest, UnsetRowsUseTheFirstPairAndNoTableMeansDefaults) {
    ColorIndexStore s;
    EXPECT_EQ(s.RowColors(0), std::nullopt);
    s.SetItemColor(0, 0);
    EXPECT_EQ(s.RowColors(0), std::nullopt);

    auto pairs = SixPairs();
    s.SetColors(pairs);
    EXPECT_EQ(s.RowColors(500), pairs[0]);  // beyond the array
    EXPECT_EQ(s.RowColors(-4), pairs[0]);

    // An empty table: index 0 equals the count, so default colors.
    s.SetColors({});
    EXPECT_EQ(s.RowColors(0), std::nullopt);
}

TEST(ColorIndexTest, ReplacingTheTableCopiesItAndRevalidatesStoredIndexes) {
    ColorIndexStore s;
    std::array<ColorPair, 6> pairs = SixPairs();
    s.SetColors(pairs);
    s.SetItemColor(0, 5);
    pairs[5] = {0xAA, 0xBB};  // the caller's array is not referenced
    EXPECT_EQ(s.RowColors(0), (ColorPair{5, 0x105}));

    std::array<ColorPair, 2> two = {{{1, 2}, {3, 4}}};
    s.SetColors(two);
    EXPECT_EQ(s.ItemColor(0), 5);
    EXPECT_EQ(s.RowColors(0), std::nullopt);  // no longer inside the table
}

TEST(ColorIndexTest, RemovingARowMovesLaterIndexesUp) {
    ColorIndexStore s;
    s.SetColors(SixPairs());
    for (int32_t row = 0; row < 4; ++row) s.SetItemColor(row, row + 1);
    s.RemoveRow(0);
    EXPECT_EQ(s.ItemColor(0), 2);
    EXPECT_EQ(s.ItemColor(2), 4);
    s.RemoveRow(1);
    EXPECT_EQ(s.ItemColor(0), 2);
    EXPECT_EQ(s.ItemColor(1), 4);
    s.RemoveRow(1000);
    s.RemoveRow(-1);
    EXPECT_EQ(s.ItemColor(1), 4);
}

}  // namespace
}  // namespace movra
