#include "config/settings_keys.h"

#include <utility>

#include "config/settings_res.h"

namespace movra {

namespace {

using S = Settings;
using K = FieldKind;
constexpr SettingsPage kMain = SettingsPage::kMain;
constexpr SettingsPage kTraffic = SettingsPage::kTraffic;

// A row under construction. The typed starters let a row name only a field of its value's type.
struct Row {
    SettingKey k;

    Row On(SettingsPage page, int place, FieldKind kind, std::vector<int> ids) && {
        k.control = {page, place, kind, std::move(ids)};
        return std::move(*this);
    }
    Row Flag(int32_t S::*flag, SettingsPage page, int place, int id) && {
        k.flag = flag;
        k.flagControl = {page, place, K::kCheck, {id}};
        return std::move(*this);
    }
    Row Written(KeyWritten w) && {
        k.written = w;
        return std::move(*this);
    }
    Row Absent(KeyAbsent a) && {
        k.absent = a;
        return std::move(*this);
    }
    Row Range(double lo, double hi) && {
        k.ranged = true;
        k.lo = lo;
        k.hi = hi;
        return std::move(*this);
    }
};

Row Start(const char16_t* name, KeyValue value, Binding<Settings>::Member field) {
    Row r;
    r.k.name = name;
    r.k.value = value;
    r.k.field = field;
    return r;
}

Row Int(const char16_t* name, int32_t S::*f) {
    return Start(name, KeyValue::kInt, f);
}
Row UInt(const char16_t* name, uint32_t S::*f) {
    return Start(name, KeyValue::kUInt, f);
}
Row Real(const char16_t* name, double S::*f) {
    return Start(name, KeyValue::kReal, f);
}
Row Word(const char16_t* name, Text S::*f) {
    return Start(name, KeyValue::kWord, f);
}
Row Line(const char16_t* name, Text S::*f) {
    return Start(name, KeyValue::kLine, f);
}
Row Mark(const char16_t* name, int32_t S::*f) {
    return Start(name, KeyValue::kMark, f);
}
Row Switch(const char16_t* name, int32_t S::*f) {
    return Start(name, KeyValue::kSwitch, f);
}

std::vector<SettingKey> MakeTable() {
    using W = KeyWritten;
    using A = KeyAbsent;
    Row rows[] = {
        Int(u"SrvLimTraff_MB:", &S::SrvLimTraff_MB)
            .On(kMain, 22, K::kInteger, {IDC_SETT_SRV_LIM_TRAFF}),
        Int(u"SpeedLimTraff_Mode:", &S::SpeedLimTraff_Mode)
            .On(kTraffic, 0, K::kRadio,
                {IDC_TRAFF_MODE0, IDC_TRAFF_MODE1, IDC_TRAFF_MODE2, IDC_TRAFF_MODE3}),
        Int(u"SpeedLimTraff_SefeTraff:", &S::SpeedLimTraff_SefeTraff)
            .On(kTraffic, 1, K::kInteger, {IDC_TRAFF_SAFE}),
        Int(u"SpeedLimTraff_MaxTraff:", &S::SpeedLimTraff_MaxTraff)
            .On(kTraffic, 2, K::kInteger, {IDC_TRAFF_MAX}),
        Real(u"SpeedLimTraff_StartKoeff:", &S::SpeedLimTraff_StartKoeff)
            .On(kTraffic, 3, K::kReal, {IDC_TRAFF_START_KOEFF}),
        Real(u"SpeedLimTraff_EndKoeff:", &S::SpeedLimTraff_EndKoeff)
            .On(kTraffic, 4, K::kReal, {IDC_TRAFF_END_KOEFF}),
        Int(u"SpeedLimTraff_DnoLimitKbits:", &S::SpeedLimTraff_DnoLimitKbits)
            .On(kTraffic, 5, K::kInteger, {IDC_TRAFF_DNO_LIMIT}),
        Int(u"BeforeQuit:", &S::BeforeQuit)
            .On(kMain, 20, K::kRadio, {IDC_SETT_QUIT0, IDC_SETT_QUIT1, IDC_SETT_QUIT2}),
        Int(u"UserMAXSpeedLimits:", &S::UserMAXSpeedLimits)
            .On(kMain, 19, K::kCheck, {IDC_SETT_MAX_LIMITS}),
        Int(u"ReUseFreeChanal:", &S::ReUseFreeChanal)
            .On(kMain, 21, K::kCheck, {IDC_SETT_REUSE_FREE}),
        Int(u"DisplaySpeed_in_kBytes_s:", &S::DisplaySpeed_in_kBytes_s)
            .On(kMain, 18, K::kCheck, {IDC_SETT_KBYTES}),
        // Written only with the measurement on, and a file without it leaves the measurement
        // as it is.
        UInt(u"UseAutoChanalWithCorrection:", &S::UseAutoChanalWithCorrection)
            .On(kMain, 16, K::kUnsigned, {IDC_SETT_CORRECTION})
            .Flag(&S::AutoMeasure, kMain, 15, IDC_SETT_AUTOMEASURE)
            .Written(W::kWhileOn),
        Int(u"AutoZamer_minRXchanal:", &S::AutoZamer_minRXchanal)
            .On(kMain, 14, K::kInteger, {IDC_SETT_MIN_RX}),
        UInt(u"UserSleepTraffic:", &S::UserSleepTraffic)
            .On(kMain, 17, K::kUnsigned, {IDC_SETT_SLEEP_TRAFFIC}),
        // An empty name (no log file) is saved by leaving the key out.
        Word(u"LogFileName:", &S::LogFileName)
            .On(kMain, 11, K::kText, {IDC_SETT_LOGFILE})
            .Written(W::kUnlessEmpty)
            .Absent(A::kClears),
        UInt(u"LogMaxSize:", &S::LogMaxSize).On(kMain, 12, K::kUnsigned, {IDC_SETT_LOGMAX}),
        UInt(u"GridSize:", &S::GridSize)
            .On(kMain, 13, K::kUnsigned, {IDC_SETT_GRIDSIZE})
            .Range(0, kMaxGridSize),
        Word(u"Server:", &S::Server).On(kMain, 0, K::kText, {IDC_SETT_SERVER}),
        // The password is kept in the file only when the administrator asks for it.
        Line(u"AutoLoginPass:", &S::AutoLoginPass)
            .On(kMain, 1, K::kPassword, {IDC_SETT_PASSWORD})
            .Flag(&S::StorePassword, kMain, 9, IDC_SETT_STORE_PASSWORD)
            .Written(W::kWhileOn)
            .Absent(A::kClears),
        UInt(u"RefreshTimer_msec:", &S::RefreshTimer_msec)
            .On(kMain, 5, K::kUnsigned, {IDC_SETT_REFRESH}),
        Int(u"TrafficSpeedAutoControll:", &S::TrafficSpeedAutoControll)
            .On(kMain, 6, K::kRadio,
                {IDC_SETT_MODE0, IDC_SETT_MODE1, IDC_SETT_MODE2, IDC_SETT_MODE3}),
        UInt(u"RXMAXkbit:", &S::RXMAXkbit).On(kMain, 2, K::kUnsigned, {IDC_SETT_RXMAX}),
        UInt(u"TXMAXkbit:", &S::TXMAXkbit).On(kMain, 3, K::kUnsigned, {IDC_SETT_TXMAX}),
        Word(u"DOWNLOADER_USERNAME:", &S::DOWNLOADER_USERNAME)
            .On(kMain, 4, K::kText, {IDC_SETT_DOWNLOADER})
            .Written(W::kUnlessEmpty),
        Int(u"UserSleep_TimeOut_sec:", &S::UserSleep_TimeOut_sec)
            .On(kMain, 7, K::kInteger, {IDC_SETT_SLEEP_TIMEOUT}),
        Int(u"Use_Sleepers_Traffic:", &S::Use_Sleepers_Traffic)
            .On(kMain, 8, K::kCheck, {IDC_SETT_USE_SLEEPERS}),
        // Only when on, so that a file saved with the option off is what it always was.
        Switch(u"ChanalBorrowing:", &S::ChanalBorrowing)
            .On(kTraffic, 6, K::kCheck, {IDC_TRAFF_BORROWING})
            .Written(W::kWhileOn)
            .Absent(A::kClears),
        Mark(u"StartMinimized:", &S::StartMinimized)
            .On(kMain, 10, K::kCheck, {IDC_SETT_START_MINIMIZED})
            .Written(W::kWhileOn)
            .Absent(A::kClears),
    };
    std::vector<SettingKey> table;
    for (Row& r : rows) table.push_back(std::move(r.k));
    return table;
}

}  // namespace

const std::vector<SettingKey>& SettingKeys() {
    static const std::vector<SettingKey> table = MakeTable();
    return table;
}

}  // namespace movra
