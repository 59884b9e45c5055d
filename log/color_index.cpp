#include "log/color_index.h"

namespace movra {

const std::array<ColorPair, 4> kLogWindowColors = {{
    {MakeRgb(0, 0, 200), MakeRgb(245, 245, 245)},
    {MakeRgb(255, 255, 255), MakeRgb(200, 0, 150)},
    {MakeRgb(255, 255, 255), MakeRgb(0, 150, 150)},
    {MakeRgb(200, 255, 200), MakeRgb(0, 0, 50)},
}};

int32_t ColorIndexStore::SetColors(std::span<const ColorPair> pairs) {
    table_.assign(pairs.begin(), pairs.end());
    count_ = static_cast<int32_t>(table_.size());
    hasTable_ = true;
    return 0;
}

int32_t ColorIndexStore::SetItemColor(int32_t row, int32_t index) {
    if (row < 0 || row >= kMaxRows) return -1;
    // An index equal to the count is kept on purpose: such a row shows the default colors.
    if (index > count_ || index < 0) index = 0;
    if (indexes_.size() < static_cast<size_t>(row) + 1)
        indexes_.resize(static_cast<size_t>(row) + 10, 0);
    indexes_[static_cast<size_t>(row)] = index;
    return 0;
}

int32_t ColorIndexStore::ItemColor(int32_t row) const {
    if (row < 0 || static_cast<size_t>(row) >= indexes_.size()) return 0;
    return indexes_[static_cast<size_t>(row)];
}

std::optional<ColorPair> ColorIndexStore::RowColors(int32_t row) const {
    if (!hasTable_) return std::nullopt;
    int32_t index = ItemColor(row);
    if (index < 0 || index >= count_) return std::nullopt;
    return table_[static_cast<size_t>(index)];
}

void ColorIndexStore::RemoveRow(int32_t row) {
    if (row < 0 || static_cast<size_t>(row) >= indexes_.size()) return;
    indexes_.erase(indexes_.begin() + row);
}

}  // namespace movra
