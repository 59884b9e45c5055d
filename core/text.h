#pragma once
// Text inside the core is UTF-16, compared by code units; conversions happen only at the edges.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace movra {

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

// Trims blanks, tabs, CR and LF at both ends.
Text TrimBlanks(TextView text);

}  // namespace movra
