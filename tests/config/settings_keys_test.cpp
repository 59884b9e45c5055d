#include "config/settings_keys.h"

#include <gtest/gtest.h>

#include <set>
#include <type_traits>
#include <variant>

#include "config/config_file.h"
#include "config/settings_pages.h"
#include "config/settings_res.h"

namespace movra {
namespace {

using Member = Binding<Settings>::Member;

// Whether a control of this kind shows and takes a field of this type without changing it.
bool KindFitsField(FieldKind kind, const Member& field) {
    return std::visit(
        [&](auto m) {
            using T = std::decay_t<decltype(Settings().*m)>;
            switch (kind) {
                case FieldKind::kText:
                case FieldKind::kPassword:
                    return std::is_same_v<T, Text>;
                case FieldKind::kUnsigned:
                    return std::is_same_v<T, uint32_t>;
                case FieldKind::kInteger:
                case FieldKind::kCheck:
                case FieldKind::kRadio:
                    return std::is_same_v<T, int32_t>;
                case FieldKind::kReal:
                    return std::is_same_v<T, double>;
            }
            return false;
        },
        field);
}

TEST(ConfigKeys, EachKeyFieldAndPageControlAppearsOnce) {
    std::set<Text> names = {kUserKey,           kUserKTraffKey,      kUserGrIDKey,
                            kUserLimitMaxInKey, kUserLimitMaxOutKey, kGroupNameKey,
                            kGroupMaxInKey};
    ASSERT_EQ(names.size(), 7u);
    std::vector<Member> fields;
    for (const SettingKey& k : SettingKeys()) {
        EXPECT_TRUE(names.insert(k.name).second) << ToUtf8(k.name);
        EXPECT_EQ(Text(k.name).back(), u':') << ToUtf8(k.name);
        fields.push_back(k.field);
        if (k.flag) fields.push_back(k.flag);
    }
    for (size_t i = 0; i < fields.size(); ++i)
        for (size_t j = i + 1; j < fields.size(); ++j)
            EXPECT_FALSE(fields[i] == fields[j]) << "rows " << i << " and " << j;

    // Every field and flag of the table is on exactly one page, by a control that fits it.
    size_t bound = 0;
    for (const auto& page : {MainPageBindings(), TrafficPageBindings()}) {
        std::set<int> ids;
        for (const Binding<Settings>& b : page) {
            ++bound;
            EXPECT_TRUE(KindFitsField(b.kind, b.member)) << b.ids.front();
            EXPECT_EQ(b.ids.size() > 1, b.kind == FieldKind::kRadio) << b.ids.front();
            for (int id : b.ids) EXPECT_TRUE(ids.insert(id).second) << id;
        }
    }
    EXPECT_EQ(bound, fields.size());
}

TEST(ConfigKeys, PagesTakeTheirControlsInTheirOwnOrder) {
    // Two controls at one place would be taken in no fixed order.
    for (SettingsPage page : {SettingsPage::kMain, SettingsPage::kTraffic}) {
        std::vector<int> places;
        for (const SettingKey& k : SettingKeys()) {
            if (k.control.page == page) places.push_back(k.control.place);
            if (k.flag && k.flagControl.page == page) places.push_back(k.flagControl.place);
        }
        EXPECT_EQ(std::set<int>(places.begin(), places.end()).size(), places.size());
    }
    // The first control that cannot be taken gets the focus: the order is the page's, not the
    // file's.
    const auto main = MainPageBindings();
    const auto traffic = TrafficPageBindings();
    EXPECT_EQ(main.front().ids.front(), IDC_SETT_SERVER);
    EXPECT_EQ(main[1].ids.front(), IDC_SETT_PASSWORD);
    EXPECT_EQ(main.back().ids.front(), IDC_SETT_SRV_LIM_TRAFF);
    EXPECT_EQ(traffic.front().ids.front(), IDC_TRAFF_MODE0);
    EXPECT_EQ(traffic.back().ids.front(), IDC_TRAFF_BORROWING);
}

TEST(ConfigKeys, TheWriterWritesEveryKeyInTheTablesOrder) {
    ConfigSnapshot c;
    Settings& s = c.settings;
    s.AutoMeasure = 1;
    s.StorePassword = 1;
    s.DOWNLOADER_USERNAME = u"dl";
    s.ChanalBorrowing = 1;
    s.StartMinimized = 1;
    const Text text = ConfigText(c);
    std::vector<Text> written;
    for (size_t b = 0; b < text.size();) {
        size_t e = text.find(u'\n', b);
        written.push_back(text.substr(b, text.find(u' ', b) - b));
        b = e + 1;
    }
    std::vector<Text> table;
    for (const SettingKey& k : SettingKeys()) table.push_back(k.name);
    EXPECT_EQ(written, table);
}

}  // namespace
}  // namespace movra
