#include "engine/traffic_ratings.h"

#include <cstdint>

namespace movra {

void RatingsFromTraffic(Model& m) {
    const Settings& s = m.settings;
    const double start = s.SpeedLimTraff_StartKoeff;
    const double end = s.SpeedLimTraff_EndKoeff;
    // In 64 bits, so that thresholds of 2048 MB and more do not overflow.
    const int64_t a = static_cast<int64_t>(s.SpeedLimTraff_SefeTraff) * 1048576;
    const int64_t b = static_cast<int64_t>(s.SpeedLimTraff_MaxTraff) * 1048576;
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        CTiUserData& u = m.Users[i];
        const double t = u.RxTotal;
        if (t < static_cast<double>(a)) {
            u.UserKTraff = static_cast<float>(start);
        } else if (t >= static_cast<double>(b)) {
            u.UserKTraff = static_cast<float>(end);
            if (s.SpeedLimTraff_DnoLimitKbits > 0) {
                u.UserLimitMaxIn = s.SpeedLimTraff_DnoLimitKbits;
                u.UserLimitMaxOut = s.SpeedLimTraff_DnoLimitKbits;
            }
        } else {
            // Only reached when a <= t < b, so b - a > 0.
            u.UserKTraff = static_cast<float>(start + (t - static_cast<double>(a)) * (end - start) /
                                                          static_cast<double>(b - a));
        }
    }
}

}  // namespace movra
