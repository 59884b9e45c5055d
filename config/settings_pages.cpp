#include "config/settings_pages.h"

#include "config/settings_res.h"

namespace movra {

std::vector<Binding<Settings>> MainPageBindings() {
    using S = Settings;
    using K = FieldKind;
    std::vector<Binding<S>> b;
    b.push_back(Bind<S>(K::kText, {IDC_SETT_SERVER}, &S::Server));
    b.push_back(Bind<S>(K::kPassword, {IDC_SETT_PASSWORD}, &S::AutoLoginPass));
    b.push_back(Bind<S>(K::kUnsigned, {IDC_SETT_RXMAX}, &S::RXMAXkbit));
    b.push_back(Bind<S>(K::kUnsigned, {IDC_SETT_TXMAX}, &S::TXMAXkbit));
    b.push_back(Bind<S>(K::kText, {IDC_SETT_DOWNLOADER}, &S::DOWNLOADER_USERNAME));
    b.push_back(Bind<S>(K::kUnsigned, {IDC_SETT_REFRESH}, &S::RefreshTimer_msec));
    b.push_back(Bind<S>(K::kRadio, {IDC_SETT_MODE0, IDC_SETT_MODE1, IDC_SETT_MODE2, IDC_SETT_MODE3},
                        &S::TrafficSpeedAutoControll));
    b.push_back(Bind<S>(K::kInteger, {IDC_SETT_SLEEP_TIMEOUT}, &S::UserSleep_TimeOut_sec));
    b.push_back(Bind<S>(K::kCheck, {IDC_SETT_USE_SLEEPERS}, &S::Use_Sleepers_Traffic));
    b.push_back(Bind<S>(K::kCheck, {IDC_SETT_STORE_PASSWORD}, &S::StorePassword));
    b.push_back(Bind<S>(K::kCheck, {IDC_SETT_START_MINIMIZED}, &S::StartMinimized));
    b.push_back(Bind<S>(K::kText, {IDC_SETT_LOGFILE}, &S::LogFileName));
    b.push_back(Bind<S>(K::kUnsigned, {IDC_SETT_LOGMAX}, &S::LogMaxSize));
    auto grid = Bind<S>(K::kUnsigned, {IDC_SETT_GRIDSIZE}, &S::GridSize);
    grid.ranged = true;
    grid.lo = 0;
    grid.hi = kMaxGridSize;
    b.push_back(grid);
    b.push_back(Bind<S>(K::kInteger, {IDC_SETT_MIN_RX}, &S::AutoZamer_minRXchanal));
    b.push_back(Bind<S>(K::kCheck, {IDC_SETT_AUTOMEASURE}, &S::AutoMeasure));
    b.push_back(Bind<S>(K::kUnsigned, {IDC_SETT_CORRECTION}, &S::UseAutoChanalWithCorrection));
    b.push_back(Bind<S>(K::kUnsigned, {IDC_SETT_SLEEP_TRAFFIC}, &S::UserSleepTraffic));
    b.push_back(Bind<S>(K::kCheck, {IDC_SETT_KBYTES}, &S::DisplaySpeed_in_kBytes_s));
    b.push_back(Bind<S>(K::kCheck, {IDC_SETT_MAX_LIMITS}, &S::UserMAXSpeedLimits));
    b.push_back(
        Bind<S>(K::kRadio, {IDC_SETT_QUIT0, IDC_SETT_QUIT1, IDC_SETT_QUIT2}, &S::BeforeQuit));
    b.push_back(Bind<S>(K::kCheck, {IDC_SETT_REUSE_FREE}, &S::ReUseFreeChanal));
    b.push_back(Bind<S>(K::kInteger, {IDC_SETT_SRV_LIM_TRAFF}, &S::SrvLimTraff_MB));
    return b;
}

std::vector<Binding<Settings>> TrafficPageBindings() {
    using S = Settings;
    using K = FieldKind;
    std::vector<Binding<S>> b;
    b.push_back(Bind<S>(K::kRadio,
                        {IDC_TRAFF_MODE0, IDC_TRAFF_MODE1, IDC_TRAFF_MODE2, IDC_TRAFF_MODE3},
                        &S::SpeedLimTraff_Mode));
    b.push_back(Bind<S>(K::kInteger, {IDC_TRAFF_SAFE}, &S::SpeedLimTraff_SefeTraff));
    b.push_back(Bind<S>(K::kInteger, {IDC_TRAFF_MAX}, &S::SpeedLimTraff_MaxTraff));
    b.push_back(Bind<S>(K::kReal, {IDC_TRAFF_START_KOEFF}, &S::SpeedLimTraff_StartKoeff));
    b.push_back(Bind<S>(K::kReal, {IDC_TRAFF_END_KOEFF}, &S::SpeedLimTraff_EndKoeff));
    b.push_back(Bind<S>(K::kInteger, {IDC_TRAFF_DNO_LIMIT}, &S::SpeedLimTraff_DnoLimitKbits));
    b.push_back(Bind<S>(K::kCheck, {IDC_TRAFF_BORROWING}, &S::ChanalBorrowing));
    return b;
}

}  // namespace movra
