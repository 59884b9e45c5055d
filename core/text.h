#pragma once
// Text inside the core is UTF-16, compared by code units; conversions happen only at the edges.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace movra {

struct SystemTime;

using Text = std::u16string;
using TextView = std::u16string_view;

std::string ToUtf8(TextView text);
// Invalid UTF-8 sequences become U+FFFD.
Text FromUtf8(std::string_view utf8);

// One argument of Format. A user-visible text only ever enters a line as an argument,
// never as the format itself.
struct FmtArg {
    enum Kind { kInt, kUInt, kReal, kText } kind;
    int64_t i = 0;
    uint64_t u = 0;
    double d = 0;
    TextView s;
    FmtArg(int v) : kind(kInt), i(v) {}
    FmtArg(long v) : kind(kInt), i(v) {}
    FmtArg(long long v) : kind(kInt), i(v) {}
    FmtArg(unsigned v) : kind(kUInt), u(v) {}
    FmtArg(unsigned long v) : kind(kUInt), u(v) {}
    FmtArg(unsigned long long v) : kind(kUInt), u(v) {}
    FmtArg(double v) : kind(kReal), d(v) {}
    FmtArg(float v) : kind(kReal), d(v) {}
    FmtArg(const Text& v) : kind(kText), s(v) {}
    FmtArg(TextView v) : kind(kText), s(v) {}
    FmtArg(const char16_t* v) : kind(kText), s(v) {}
};

// printf-style formatting into UTF-16: %d %i %u %f %g %e %x %s %c and %%, with flags, width and
// precision (including '*'). Numbers never depend on the C locale: the decimal separator is
// always a point. A missing argument formats as nothing; extra arguments are ignored.
Text Format(TextView fmt, std::initializer_list<FmtArg> args);

template <class... A>
Text Fmt(TextView fmt, const A&... a) {
    return Format(fmt, {FmtArg(a)...});
}

// The numbers and times the program shows and writes, each written one way wherever it appears.

// `v` with `decimals` digits after `mark`, rounded as printf's "%.*f" rounds ("2,5" for 2.5, 1,
// u','); with `group` set, the whole digits are parted in threes by it ("12 500"). Never reads the
// C locale.
Text FixedText(double v, int decimals, char16_t mark = u'.', char16_t group = 0);

// How ClockText writes a date and time. Month, minutes and seconds always take two digits.
struct ClockStyle {
    bool date = true;           // the date before the time: "ДД.ММ.ГГГГ"
    bool seconds = true;        // ":СС" after the minutes
    bool padDay = true;         // "07.12", not "7.12"
    bool padHour = true;        // "09:05", not "9:05"
    bool padYear = true;        // four digits at least, else two (alike from the year 1000 on)
    char16_t afterDate = u' ';  // between the date and the time
};
// "07.12.2026 9:05:03": the event log's stamps and the table's last activity.
inline constexpr ClockStyle kLogClock{.padHour = false, .padYear = false};

// The calendar fields of `t` as `style` says; "07.12.2026 09:05:03" by default.
Text ClockText(const SystemTime& t, const ClockStyle& style = {});

// Trims blanks, tabs, CR and LF at both ends.
Text TrimBlanks(TextView text);

}  // namespace movra
