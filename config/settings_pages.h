#pragma once
// What the two pages of the settings sheet show and take: one binding per field of the settings
// record, by control id.
#include <cstdint>
#include <vector>

#include "config/field_exchange.h"
#include "core/settings.h"

namespace movra {

std::vector<Binding<Settings>> MainPageBindings();
std::vector<Binding<Settings>> TrafficPageBindings();
// GridSize's range on the main page.
inline constexpr uint32_t kMaxGridSize = 500;

}  // namespace movra
