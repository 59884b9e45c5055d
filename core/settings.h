#pragma once
// The settings record: one field per configuration key, named as the key without its colon.
#include <cstdint>

#include "core/text.h"

namespace movra {

// The values of TrafficSpeedAutoControll.
enum ControlMode : int32_t {
    kModeMonitoring = 0,      // read only
    kModeFreeChannel = 1,     // all free channel to the download user
    kModeDownloadClient = 2,  // the channel to the download client: announced, nothing divided
    kModeDivision = 3,        // the channel divided among the active users by rating
};

struct Settings {
    int32_t SrvLimTraff_MB = 0;
    int32_t SpeedLimTraff_Mode = 0;
    int32_t SpeedLimTraff_SefeTraff = 100;
    int32_t SpeedLimTraff_MaxTraff = 500;
    double SpeedLimTraff_StartKoeff = 100.0;
    double SpeedLimTraff_EndKoeff = 25.0;
    int32_t SpeedLimTraff_DnoLimitKbits = 0;
    int32_t BeforeQuit = 2;
    int32_t UserMAXSpeedLimits = 1;
    int32_t ReUseFreeChanal = 1;
    int32_t DisplaySpeed_in_kBytes_s = 0;
    int32_t AutoMeasure = 0;  // presence of "UseAutoChanalWithCorrection:"
    uint32_t UseAutoChanalWithCorrection = 1;
    int32_t AutoZamer_minRXchanal = 64;
    uint32_t UserSleepTraffic = 0;
    Text LogFileName = u"Movra.log";
    uint32_t LogMaxSize = 50;
    uint32_t GridSize = 4;
    Text Server = u"192.168.0.1";
    Text AutoLoginPass = u"48213";
    int32_t StorePassword = 0;  // presence of "AutoLoginPass:"
    uint32_t RefreshTimer_msec = 1500;
    int32_t TrafficSpeedAutoControll = kModeMonitoring;
    uint32_t RXMAXkbit = 256;
    uint32_t TXMAXkbit = 64;
    Text DOWNLOADER_USERNAME;
    int32_t UserSleep_TimeOut_sec = 20;
    int32_t Use_Sleepers_Traffic = 1;
    // Mode 3 lends what users and groups leave unused to those who want more; off by default.
    int32_t ChanalBorrowing = 0;
    int32_t StartMinimized = 0;  // presence of "StartMinimized:"

    // Fixed at construction, opened by its bare name in the current directory.
    Text ConfigFileName = u"Movra.cfg";
};

// The first failing check of the main settings page, or an empty text when all pass.
Text ValidateSettings(const Settings& s);

}  // namespace movra
