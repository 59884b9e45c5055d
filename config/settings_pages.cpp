#include "config/settings_pages.h"

#include <algorithm>
#include <utility>

namespace movra {

namespace {

std::vector<Binding<Settings>> PageBindings(SettingsPage page) {
    std::vector<std::pair<int, Binding<Settings>>> placed;
    for (const SettingKey& k : SettingKeys()) {
        if (k.control.page == page) {
            Binding<Settings> b{k.control.kind, k.control.ids, k.field};
            b.ranged = k.ranged;
            b.lo = k.lo;
            b.hi = k.hi;
            placed.emplace_back(k.control.place, std::move(b));
        }
        if (k.flag && k.flagControl.page == page)
            placed.emplace_back(k.flagControl.place,
                                Binding<Settings>{k.flagControl.kind, k.flagControl.ids, k.flag});
    }
    std::sort(placed.begin(), placed.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Binding<Settings>> out;
    out.reserve(placed.size());
    for (auto& p : placed) out.push_back(std::move(p.second));
    return out;
}

}  // namespace

std::vector<Binding<Settings>> MainPageBindings() {
    return PageBindings(SettingsPage::kMain);
}

std::vector<Binding<Settings>> TrafficPageBindings() {
    return PageBindings(SettingsPage::kTraffic);
}

}  // namespace movra
