#pragma once
// What the two pages of the settings sheet show and take: one binding per field of the settings
// record, by control id, in the order each page takes them. Made from the table of settings keys.
#include <vector>

#include "config/field_exchange.h"
#include "config/settings_keys.h"
#include "core/settings.h"

namespace movra {

std::vector<Binding<Settings>> MainPageBindings();
std::vector<Binding<Settings>> TrafficPageBindings();

}  // namespace movra
