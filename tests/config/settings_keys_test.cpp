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
    // The first control that cannot be taken gets the focus and the ones before it are kept:
    // each page reads top to bottom as it always did, not in the file's order.
    auto firstIds = [](const std::vector<Binding<Settings>>& page) {
        std::vector<int> ids;
        for (const auto& b : page) ids.push_back(b.ids.front());
        return ids;
    };
    EXPECT_EQ(
        firstIds(MainPageBindings()),
        (std::vector<int>{IDC_SETT_SERVER,         IDC_SETT_PASSWORD,        IDC_SETT_RXMAX,
                          IDC_SETT_TXMAX,          IDC_SETT_DOWNLOADER,      IDC_SETT_REFRESH,
                          IDC_SETT_MODE0,          IDC_SETT_SLEEP_TIMEOUT,   IDC_SETT_USE_SLEEPERS,
                          IDC_SETT_STORE_PASSWORD, IDC_SETT_START_MINIMIZED, IDC_SETT_LOGFILE,
                          IDC_SETT_LOGMAX,         IDC_SETT_GRIDSIZE,        IDC_SETT_MIN_RX,
                          IDC_SETT_AUTOMEASURE,    IDC_SETT_CORRECTION,      IDC_SETT_SLEEP_TRAFFIC,
                          IDC_SETT_KBYTES,         IDC_SETT_MAX_LIMITS,      IDC_SETT_QUIT0,
                          IDC_SETT_REUSE_FREE,     IDC_SETT_SRV_LIM_TRAFF}));
    EXPECT_EQ(
        firstIds(TrafficPageBindings()),
        (std::vector<int>{IDC_TRAFF_MODE0, IDC_TRAFF_SAFE, IDC_TRAFF_MAX, IDC_TRAFF_START_KOEFF,
                          IDC_TRAFF_END_KOEFF, IDC_TRAFF_DNO_LIMIT, IDC_TRAFF_BORROWING}));
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
