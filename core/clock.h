#pragma once
// Local time reaches the core through one seam, so tests can fix "now".
#include <cstdint>

namespace movra {

// The Windows SYSTEMTIME layout: eight unsigned 16-bit fields.
struct SystemTime {
    uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
    uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
    bool operator==(const SystemTime&) const = default;
};

// Proleptic Gregorian calendar arithmetic, counted in days from 1970-01-01.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day);
// A date and time as seconds from 1970-01-01 00:00 of the same calendar, with no time zone in
// between, and back: a local wall-clock time counted this way prints back as itself.
int64_t CivilSeconds(const SystemTime& t);
SystemTime CivilTime(int64_t seconds);

class Clock {
  public:
    virtual ~Clock() = default;
    // The current local time of this machine.
    virtual SystemTime LocalNow() const = 0;
    // The current calendar time, seconds since 1970-01-01 00:00 UTC.
    virtual int64_t Now() const = 0;
    // A local date and time as a calendar time (like mktime); -1 when it cannot be represented.
    virtual int64_t LocalToUnix(const SystemTime& t) const = 0;
};

// The machine's own clock and time zone.
Clock& SystemClock();

// A clock for tests: "now" is set by hand and local time is UTC.
class ManualClock : public Clock {
  public:
    explicit ManualClock(int64_t now = 1796126400 /* 2026-12-01 12:00:00 */) : now_(now) {}
    void Set(int64_t now) { now_ = now; }
    void Advance(int64_t seconds) { now_ += seconds; }
    SystemTime LocalNow() const override { return UnixToUtc(now_); }
    int64_t Now() const override { return now_; }
    int64_t LocalToUnix(const SystemTime& t) const override { return UtcToUnix(t); }

    static SystemTime UnixToUtc(int64_t t) { return CivilTime(t); }
    static int64_t UtcToUnix(const SystemTime& t) { return CivilSeconds(t); }

  private:
    int64_t now_;
};

}  // namespace movra
