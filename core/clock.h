#pragma once
// Local time and a steady count reach the core through one seam, so tests can fix "now" and
// move the clock as a clock set or a time-zone change would.
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
    // Milliseconds on a line that never steps: the calendar time (UTC) when the program started,
    // moved on since by a monotonic count. Neither a clock set nor a time-zone change moves it.
    virtual int64_t SteadyMs() const = 0;
};

// One instant on both lines: steady seconds, which order and space events, and the local
// wall-clock time that names the instant to the user (civil seconds, as CivilSeconds counts).
struct ClockStamp {
    int64_t steady = 0;
    int64_t local = 0;
    // How far the wall clock stands from the steady line; moves only with a clock change.
    int64_t Offset() const { return local - steady; }
    bool operator==(const ClockStamp&) const = default;
};
// Now on both lines. The local second is the steady one moved by the wall clock's offset rounded
// to whole seconds, so that the two never disagree by a second between two reads.
ClockStamp StampNow(const Clock& clock);

// The machine's own clock and time zone.
Clock& SystemClock();

// A clock for tests: "now" is set by hand and local time is UTC moved by a settable offset
// (0 unless set). Set and SetUtcOffset change the wall clock only, as a clock set and a change
// of summer time do; Advance and AdvanceMs are time passing and move the steady line too.
class ManualClock : public Clock {
  public:
    explicit ManualClock(int64_t now = 1796126400 /* 2026-12-01 12:00:00 */)
        : nowMs_(now * 1000), steadyMs_(now * 1000) {}
    void Set(int64_t now) { nowMs_ = now * 1000; }
    void SetUtcOffset(int64_t seconds) { offset_ = seconds; }
    void Advance(int64_t seconds) { AdvanceMs(seconds * 1000); }
    void AdvanceMs(int64_t ms) {
        nowMs_ += ms;
        steadyMs_ += ms;
    }
    SystemTime LocalNow() const override {
        SystemTime t = UnixToUtc(Now() + offset_);
        t.wMilliseconds = static_cast<uint16_t>(nowMs_ - Now() * 1000);
        return t;
    }
    int64_t Now() const override { return nowMs_ >= 0 ? nowMs_ / 1000 : -((999 - nowMs_) / 1000); }
    int64_t LocalToUnix(const SystemTime& t) const override { return UtcToUnix(t) - offset_; }
    int64_t SteadyMs() const override { return steadyMs_; }

    static SystemTime UnixToUtc(int64_t t) { return CivilTime(t); }
    static int64_t UtcToUnix(const SystemTime& t) { return CivilSeconds(t); }

  private:
    int64_t nowMs_;
    int64_t steadyMs_;
    int64_t offset_ = 0;
};

}  // namespace movra
