// Conversions of server values, with the rules of the platform's VariantChangeType and
// VariantTimeToSystemTime, so the native core reads values exactly as the Windows build does.
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "engine/tiserver.h"

namespace movra {

namespace {

const char* KindName(VarType t) {
    switch (t) {
        case VarType::Empty:
            return "empty";
        case VarType::I4:
            return "VT_I4";
        case VarType::R8:
            return "VT_R8";
        case VarType::Date:
            return "VT_DATE";
        case VarType::BStr:
            return "VT_BSTR";
        case VarType::Int:
            return "VT_INT";
        case VarType::Array:
            return "array";
    }
    return "unknown";
}

// A number written as text: blanks around it, an optional sign, digits with an optional
// decimal point, an optional exponent. Anything else (an empty text included) is no number.
bool ParseNumber(const Text& text, double& out) {
    std::string s;
    for (char16_t c : text) {
        if (c >= 0x80) return false;
        s.push_back(static_cast<char>(c));
    }
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return false;
    size_t e = s.find_last_not_of(" \t\r\n");
    s = s.substr(b, e - b + 1);
    size_t i = 0;
    if (s[i] == '+' || s[i] == '-') ++i;
    size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        size_t exp = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++exp;
        if (exp == 0) return false;
    }
    if (i != s.size()) return false;
    // strtod is locale-dependent; the text has been checked to hold only the C-locale form,
    // so swap the point for whatever the current locale uses.
    const char point = *std::localeconv()->decimal_point;
    if (point != '.') {
        for (char& c : s)
            if (c == '.') c = point;
    }
    out = std::strtod(s.c_str(), nullptr);
    return std::isfinite(out);
}

int32_t RealToInt32(double d, VarType from) {
    if (!std::isfinite(d))
        throw ConversionError(std::string("overflow converting ") + KindName(from), kDispOverflow);
    // Half to even, as the platform rounds.
    const double t = std::trunc(d);
    double r = std::round(d);
    if (std::fabs(d - t) == 0.5) r = std::fmod(t, 2.0) == 0.0 ? t : t + (d > 0 ? 1.0 : -1.0);
    if (r < -2147483648.0 || r > 2147483647.0)
        throw ConversionError(std::string("overflow converting ") + KindName(from), kDispOverflow);
    return static_cast<int32_t>(r);
}

constexpr int64_t kOleEpochUnixDays = -25569;  // 1899-12-30 counted from 1970-01-01

}  // namespace

int32_t ToInt32(const Variant& v) {
    switch (v.type) {
        case VarType::Empty:
            return 0;
        case VarType::I4:
        case VarType::Int:
            return v.i;
        case VarType::R8:
        case VarType::Date:
            return RealToInt32(v.d, v.type);
        case VarType::BStr: {
            double d = 0;
            if (!ParseNumber(v.s, d)) throw ConversionError("text is not a number");
            return RealToInt32(d, v.type);
        }
        case VarType::Array:
            break;
    }
    throw ConversionError(std::string("cannot convert ") + KindName(v.type) + " to VT_I4");
}

double ToReal(const Variant& v) {
    switch (v.type) {
        case VarType::Empty:
            return 0.0;
        case VarType::I4:
        case VarType::Int:
            return v.i;
        case VarType::R8:
        case VarType::Date:
            return v.d;
        case VarType::BStr: {
            double d = 0;
            if (!ParseNumber(v.s, d)) throw ConversionError("text is not a number");
            return d;
        }
        case VarType::Array:
            break;
    }
    throw ConversionError(std::string("cannot convert ") + KindName(v.type) + " to VT_R8");
}

bool OleDateToSystemTime(double date, SystemTime& out) {
    if (!std::isfinite(date)) return false;
    // Far outside the years 100..9999; also keeps the arithmetic below in range.
    if (date < -700000.0 || date > 3000000.0) return false;
    // The whole part counts days from 1899-12-30; the fraction is the time of day whatever
    // the sign, so -1.25 is 1899-12-29 06:00.
    double whole = std::trunc(date);
    double frac = std::fabs(date - whole);
    int64_t days = static_cast<int64_t>(whole);
    int64_t secs = static_cast<int64_t>(std::llround(frac * 86400.0));
    if (secs >= 86400) {
        secs -= 86400;
        ++days;
    }
    int64_t y = 0;
    unsigned m = 0, d = 0;
    const int64_t unixDays = days + kOleEpochUnixDays;
    CivilFromDays(unixDays, y, m, d);
    if (y < 100 || y > 9999) return false;
    SystemTime st;
    st.wYear = static_cast<uint16_t>(y);
    st.wMonth = static_cast<uint16_t>(m);
    st.wDay = static_cast<uint16_t>(d);
    // 1970-01-01 was a Thursday (4).
    int64_t dow = (unixDays + 4) % 7;
    if (dow < 0) dow += 7;
    st.wDayOfWeek = static_cast<uint16_t>(dow);
    st.wHour = static_cast<uint16_t>(secs / 3600);
    st.wMinute = static_cast<uint16_t>(secs / 60 % 60);
    st.wSecond = static_cast<uint16_t>(secs % 60);
    st.wMilliseconds = 0;
    out = st;
    return true;
}

double SystemTimeToOleDate(const SystemTime& t) {
    const int64_t days = DaysFromCivil(t.wYear, t.wMonth, t.wDay) - kOleEpochUnixDays;
    const double frac =
        (t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + t.wMilliseconds / 1000.0) / 86400.0;
    // Before the epoch the time of day is counted away from zero, mirroring the reading side.
    return days < 0 ? static_cast<double>(days) - frac : static_cast<double>(days) + frac;
}

const Variant& InfoElement(const Variant& info, size_t index) {
    if (info.type != VarType::Array) throw ConversionError("server info is not an array");
    if (index >= info.a.size())
        throw ConversionError("server info has " + std::to_string(info.a.size()) +
                              " elements, element " + std::to_string(index) + " is missing");
    return info.a[index];
}

}  // namespace movra
