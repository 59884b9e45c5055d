#include "config/field_exchange.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace movra {

namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}
bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

TextView StripBlanks(TextView t) {
    size_t b = 0, e = t.size();
    while (b < e && IsBlank(t[b])) ++b;
    while (e > b && IsBlank(t[e - 1])) --e;
    return t.substr(b, e - b);
}

// Digits with an optional sign; the magnitude, or nothing when it is not one or exceeds `limit`.
std::optional<uint64_t> Magnitude(TextView t, bool allowMinus, bool& negative, uint64_t limit) {
    t = StripBlanks(t);
    negative = false;
    if (!t.empty() && (t[0] == u'+' || t[0] == u'-')) {
        if (t[0] == u'-') {
            if (!allowMinus) return std::nullopt;
            negative = true;
        }
        t.remove_prefix(1);
    }
    if (t.empty()) return std::nullopt;
    uint64_t v = 0;
    for (char16_t c : t) {
        if (!IsDigit(c)) return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - u'0');
        if (v > limit) return std::nullopt;
    }
    return v;
}

}  // namespace

std::optional<uint32_t> ParseUnsigned(TextView text) {
    bool neg = false;
    auto m = Magnitude(text, false, neg, std::numeric_limits<uint32_t>::max());
    if (!m) return std::nullopt;
    return static_cast<uint32_t>(*m);
}

std::optional<int32_t> ParseInteger(TextView text) {
    bool neg = false;
    auto m = Magnitude(text, true, neg, uint64_t{1} << 31);
    if (!m) return std::nullopt;
    if (neg) return static_cast<int32_t>(-static_cast<int64_t>(*m));
    if (*m > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return std::nullopt;
    return static_cast<int32_t>(*m);
}

std::optional<double> ParseReal(TextView text) {
    TextView t = StripBlanks(text);
    std::string ascii;
    size_t i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
        if (t[i] == u'-') ascii += '-';
        ++i;
    }
    int digits = 0;
    bool point = false;
    for (; i < t.size(); ++i) {
        char16_t c = t[i];
        if (IsDigit(c)) {
            ascii += static_cast<char>(c);
            ++digits;
        } else if ((c == u'.' || c == u',') && !point) {
            point = true;
            ascii += '.';
        } else {
            break;
        }
    }
    if (digits == 0) return std::nullopt;
    if (i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
        ascii += 'e';
        ++i;
        if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) ascii += static_cast<char>(t[i++]);
        int expDigits = 0;
        for (; i < t.size() && IsDigit(t[i]); ++i, ++expDigits) ascii += static_cast<char>(t[i]);
        if (expDigits == 0) return std::nullopt;
    }
    if (i != t.size()) return std::nullopt;
    double v = 0;
    auto r = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        // Too small to represent is zero for a user; too large is refused.
        bool tiny = ascii.find("e-") != std::string::npos;
        if (!tiny) return std::nullopt;
        return ascii[0] == '-' ? -0.0 : 0.0;
    }
    if (r.ec != std::errc() || r.ptr != ascii.data() + ascii.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

Text FormatUnsigned(uint32_t v) {
    return Fmt(u"%u", v);
}
Text FormatInteger(int32_t v) {
    return Fmt(u"%d", v);
}
Text FormatReal(double v) {
    return Fmt(u"%.*g", 15, v);
}

// English on purpose, like kMsgInteger and its kin: a refused entry gets the message the
// platform's own dialog data exchange gives, not one of ours.
Text IntegerRangeMessage(int64_t lo, int64_t hi) {
    return Fmt(u"Please enter an integer between %d and %d.", static_cast<long long>(lo),
               static_cast<long long>(hi));
}

Text RealRangeMessage(double lo, double hi) {
    return Fmt(u"Please enter a number between %s and %s.", FormatReal(lo), FormatReal(hi));
}

TakeResult TakeControls(const std::vector<FieldShape>& shapes, ControlAccess& controls) {
    TakeResult r;
    auto fail = [&](int id, Text message) {
        r.ok = false;
        r.failedId = id;
        r.message = std::move(message);
        controls.Focus(id);
        return r;
    };
    for (const FieldShape& s : shapes) {
        const std::vector<int>& ids = *s.ids;
        if (s.showOnly || ids.empty()) {
            r.values.emplace_back(std::monostate{});
            continue;
        }
        const int id = ids.front();
        switch (s.kind) {
            case FieldKind::kText:
            case FieldKind::kPassword:
                r.values.emplace_back(controls.GetText(id));
                break;
            case FieldKind::kUnsigned: {
                auto v = ParseUnsigned(controls.GetText(id));
                if (!v) return fail(id, kMsgPositiveInteger);
                if (s.ranged && (*v < s.lo || *v > s.hi))
                    return fail(id, IntegerRangeMessage(static_cast<int64_t>(s.lo),
                                                        static_cast<int64_t>(s.hi)));
                r.values.emplace_back(static_cast<int64_t>(*v));
                break;
            }
            case FieldKind::kInteger: {
                auto v = ParseInteger(controls.GetText(id));
                if (!v) return fail(id, kMsgInteger);
                if (s.ranged && (*v < s.lo || *v > s.hi))
                    return fail(id, IntegerRangeMessage(static_cast<int64_t>(s.lo),
                                                        static_cast<int64_t>(s.hi)));
                r.values.emplace_back(static_cast<int64_t>(*v));
                break;
            }
            case FieldKind::kReal: {
                auto v = ParseReal(controls.GetText(id));
                if (!v || (s.single && !std::isfinite(static_cast<float>(*v))))
                    return fail(id, kMsgNumber);
                if (s.ranged && (*v < s.lo || *v > s.hi))
                    return fail(id, RealRangeMessage(s.lo, s.hi));
                r.values.emplace_back(*v);
                break;
            }
            case FieldKind::kCheck:
                r.values.emplace_back(int64_t{controls.GetCheck(id) ? 1 : 0});
                break;
            case FieldKind::kRadio: {
                TakenValue v = std::monostate{};
                for (size_t i = 0; i < ids.size(); ++i) {
                    if (controls.GetCheck(ids[i])) {
                        v = static_cast<int64_t>(i);
                        break;
                    }
                }
                r.values.push_back(v);
                break;
            }
        }
    }
    return r;
}

namespace detail {

void ShowText(ControlAccess& c, const FieldShape& s, const Text& v) {
    if (!s.ids->empty()) c.SetText(s.ids->front(), v);
}

void ShowNumber(ControlAccess& c, const FieldShape& s, double v) {
    if (!s.ids->empty()) c.SetText(s.ids->front(), FormatReal(v));
}

void ShowInt(ControlAccess& c, const FieldShape& s, int64_t v) {
    const std::vector<int>& ids = *s.ids;
    if (ids.empty()) return;
    switch (s.kind) {
        case FieldKind::kCheck:
            c.SetCheck(ids.front(), v != 0);
            break;
        case FieldKind::kRadio:
            for (size_t i = 0; i < ids.size(); ++i)
                c.SetCheck(ids[i], static_cast<int64_t>(i) == v);
            break;
        case FieldKind::kUnsigned:
            c.SetText(ids.front(), FormatUnsigned(static_cast<uint32_t>(v)));
            break;
        default:
            c.SetText(ids.front(), FormatInteger(static_cast<int32_t>(v)));
            break;
    }
}

}  // namespace detail

}  // namespace movra
