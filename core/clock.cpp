#include "core/clock.h"

#include <chrono>
#include <ctime>

namespace movra {

namespace {

class SystemClockImpl : public Clock {
  public:
    SystemTime LocalNow() const override {
        auto now = std::chrono::system_clock::now();
        std::time_t t = std::chrono::system_clock::to_time_t(now);
        auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
        std::tm tm{};
#ifdef _WIN32
        localtime_s(&tm, &t);
#else
        localtime_r(&t, &tm);
#endif
        SystemTime st;
        st.wYear = static_cast<uint16_t>(tm.tm_year + 1900);
        st.wMonth = static_cast<uint16_t>(tm.tm_mon + 1);
        st.wDayOfWeek = static_cast<uint16_t>(tm.tm_wday);
        st.wDay = static_cast<uint16_t>(tm.tm_mday);
        st.wHour = static_cast<uint16_t>(tm.tm_hour);
        st.wMinute = static_cast<uint16_t>(tm.tm_min);
        st.wSecond = static_cast<uint16_t>(tm.tm_sec);
        st.wMilliseconds = static_cast<uint16_t>(ms.count());
        return st;
    }
    int64_t Now() const override {
        return static_cast<int64_t>(std::time(nullptr));
    }
    int64_t LocalToUnix(const SystemTime& t) const override {
        std::tm tm{};
        tm.tm_year = t.wYear - 1900;
        tm.tm_mon = t.wMonth - 1;
        tm.tm_mday = t.wDay;
        tm.tm_hour = t.wHour;
        tm.tm_min = t.wMinute;
        tm.tm_sec = t.wSecond;
        tm.tm_isdst = -1;
        return static_cast<int64_t>(std::mktime(&tm));
    }
    int64_t SteadyMs() const override {
        using namespace std::chrono;
        // Taken once: the calendar time at the first call less the monotonic count then.
        static const int64_t base =
            duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() -
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        return base + duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
};

int64_t FloorDiv(int64_t a, int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

}  // namespace

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t days, int64_t& y, unsigned& m, unsigned& d) {
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

ClockStamp StampNow(const Clock& clock) {
    const int64_t steadyMs = clock.SteadyMs();
    const SystemTime local = clock.LocalNow();
    const int64_t localMs = CivilSeconds(local) * 1000 + local.wMilliseconds;
    ClockStamp s;
    s.steady = FloorDiv(steadyMs, 1000);
    s.local = s.steady + FloorDiv(localMs - steadyMs + 500, 1000);
    return s;
}

Clock& SystemClock() {
    static SystemClockImpl clock;
    return clock;
}

SystemTime CivilTime(int64_t t) {
    int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
    int64_t secs = t - days * 86400;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    SystemTime st;
    st.wYear = static_cast<uint16_t>(y);
    st.wMonth = static_cast<uint16_t>(m);
    st.wDay = static_cast<uint16_t>(d);
    st.wDayOfWeek = static_cast<uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    st.wHour = static_cast<uint16_t>(secs / 3600);
    st.wMinute = static_cast<uint16_t>(secs / 60 % 60);
    st.wSecond = static_cast<uint16_t>(secs % 60);
    return st;
}

int64_t CivilSeconds(const SystemTime& t) {
    return DaysFromCivil(t.wYear, t.wMonth, t.wDay) * 86400 + t.wHour * 3600 + t.wMinute * 60 +
           t.wSecond;
}

}  // namespace movra
