#pragma once
// The color table and per-row color index that the colored list controls keep. Plain logic:
// the list view's custom draw only asks RowColors() and paints what it answers.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace movra {

// A text color and a background color, both in the 0x00BBGGRR form.
struct ColorPair {
    uint32_t text = 0;
    uint32_t back = 0;
    bool operator==(const ColorPair&) const = default;
};

constexpr uint32_t MakeRgb(uint32_t r, uint32_t g, uint32_t b) {
    return r | (g << 8) | (b << 16);
}

// The log window draws every row in the first pair.
extern const std::array<ColorPair, 4> kLogWindowColors;

class ColorIndexStore {
  public:
    // Rows at or above this are refused like a negative row, so that "row + 10" can neither
    // overflow nor ask for gigabytes.
    static constexpr int32_t kMaxRows = 1 << 24;

    // Replaces the table by a copy of `pairs`; the color count becomes their number. Returns 0.
    int32_t SetColors(std::span<const ColorPair> pairs);

    // -1 for a negative (or absurdly large) row, nothing stored. Otherwise an index above the
    // color count or negative stores 0; the array grows to row + 10 entries when it is shorter
    // than row + 1. Returns 0.
    int32_t SetItemColor(int32_t row, int32_t index);

    // The stored index of a row; 0 for a row beyond the array (or negative).
    int32_t ItemColor(int32_t row) const;
    // The pair a row is drawn in; none (default colors) while no table is set or when the
    // row's index is not below the color count.
    std::optional<ColorPair> RowColors(int32_t row) const;

    // Removes the row's entry so later rows keep their own indexes as they move up one place
    // (a list control that deletes a line). A row beyond the array changes nothing.
    void RemoveRow(int32_t row);

    int32_t ColorCount() const { return count_; }
    // The number of entries of the index array (not the number of rows of the control).
    size_t Size() const { return indexes_.size(); }

  private:
    bool hasTable_ = false;
    int32_t count_ = 0;
    std::vector<ColorPair> table_;
    std::vector<int32_t> indexes_;
};

}  // namespace movra
