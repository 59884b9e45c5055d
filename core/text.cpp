#include "core/text.h"

#include <clocale>
#include <cstdio>
#include <cstring>

#include "core/clock.h"

namespace movra {

std::string ToUtf8(TextView text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

Text FromUtf8(std::string_view s) {
    Text out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        uint32_t c;
        size_t len;
        if (b < 0x80) {
            c = b;
            len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            len = 4;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        bool ok = i + len <= s.size();
        for (size_t k = 1; ok && k < len; ++k) {
            unsigned char cb = static_cast<unsigned char>(s[i + k]);
            if ((cb & 0xC0) != 0x80)
                ok = false;
            else
                c = (c << 6) | (cb & 0x3F);
        }
        static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (!ok || c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += len;
    }
    return out;
}

namespace {

// Formats one number with a printf conversion, then turns the C locale's decimal separator
// into a point so that no output depends on the locale the program runs in.
std::string FormatNumber(const std::string& conv_spec, const FmtArg& a, char conv) {
    char buf[512];
    int n = 0;
    std::string sp = conv_spec;
    switch (conv) {
        case 'd':
        case 'i':
            sp.insert(sp.size() - 1, "ll");
            n = std::snprintf(
                buf, sizeof buf, sp.c_str(),
                static_cast<long long>(a.kind == FmtArg::kUInt   ? static_cast<long long>(a.u)
                                       : a.kind == FmtArg::kReal ? static_cast<long long>(a.d)
                                                                 : a.i));
            break;
        case 'u':
        case 'x':
        case 'X':
            sp.insert(sp.size() - 1, "ll");
            n = std::snprintf(
                buf, sizeof buf, sp.c_str(),
                static_cast<unsigned long long>(a.kind == FmtArg::kUInt ? a.u
                                                : a.kind == FmtArg::kReal
                                                    ? static_cast<unsigned long long>(a.d)
                                                    : static_cast<unsigned long long>(a.i)));
            break;
        default: {
            double d = a.kind == FmtArg::kReal   ? a.d
                       : a.kind == FmtArg::kUInt ? static_cast<double>(a.u)
                                                 : static_cast<double>(a.i);
            n = std::snprintf(buf, sizeof buf, sp.c_str(), d);
            break;
        }
    }
    if (n < 0) return std::string();
    std::string out(buf, static_cast<size_t>(n) < sizeof buf ? n : sizeof buf - 1);
    if (conv != 'd' && conv != 'i' && conv != 'u' && conv != 'x' && conv != 'X') {
        const char* dp = std::localeconv()->decimal_point;
        if (dp && *dp && std::strcmp(dp, ".") != 0) {
            size_t pos = out.find(dp);
            if (pos != std::string::npos)
                out = out.substr(0, pos) + "." + out.substr(pos + std::strlen(dp));
        }
    }
    return out;
}

}  // namespace

Text Format(TextView fmt, std::initializer_list<FmtArg> args) {
    Text out;
    auto next = args.begin();
    auto take = [&]() -> const FmtArg* { return next != args.end() ? &*next++ : nullptr; };
    for (size_t i = 0; i < fmt.size(); ++i) {
        char16_t c = fmt[i];
        if (c != u'%') {
            out += c;
            continue;
        }
        if (i + 1 < fmt.size() && fmt[i + 1] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        // %[flags][width][.precision]conv
        std::string conv_spec = "%";
        size_t j = i + 1;
        while (j < fmt.size() && (fmt[j] == u'-' || fmt[j] == u'+' || fmt[j] == u' ' ||
                                  fmt[j] == u'#' || fmt[j] == u'0'))
            conv_spec += static_cast<char>(fmt[j++]);
        auto digitsOrStar = [&]() {
            if (j < fmt.size() && fmt[j] == u'*') {
                const FmtArg* a = take();
                long long v =
                    a ? (a->kind == FmtArg::kUInt ? static_cast<long long>(a->u) : a->i) : 0;
                if (v > 200) v = 200;
                if (v < -200) v = -200;
                conv_spec += std::to_string(v);
                ++j;
            } else {
                int count = 0;
                while (j < fmt.size() && fmt[j] >= u'0' && fmt[j] <= u'9') {
                    if (++count <= 3) conv_spec += static_cast<char>(fmt[j]);
                    ++j;
                }
            }
        };
        digitsOrStar();
        if (j < fmt.size() && fmt[j] == u'.') {
            conv_spec += '.';
            ++j;
            digitsOrStar();
        }
        // Length modifiers carry no meaning here: arguments know their own size.
        while (j < fmt.size() && (fmt[j] == u'l' || fmt[j] == u'h' || fmt[j] == u'I' ||
                                  fmt[j] == u'L' || fmt[j] == u'z'))
            ++j;
        if (j >= fmt.size()) break;
        char16_t conv = fmt[j];
        i = j;
        const FmtArg* a = nullptr;
        switch (conv) {
            case u's': {
                a = take();
                Text s = a && a->kind == FmtArg::kText ? Text(a->s) : Text();
                // Width and precision of %s count UTF-16 code units.
                size_t dot = conv_spec.find('.');
                if (dot != std::string::npos) {
                    size_t prec = static_cast<size_t>(std::atoi(conv_spec.c_str() + dot + 1));
                    if (s.size() > prec) s.resize(prec);
                }
                bool left = conv_spec.find('-') != std::string::npos;
                size_t w = 0;
                for (size_t k = 1; k < conv_spec.size() && conv_spec[k] != '.'; ++k)
                    if (conv_spec[k] >= '1' && conv_spec[k] <= '9') {
                        w = static_cast<size_t>(std::atoi(conv_spec.c_str() + k));
                        break;
                    }
                if (s.size() < w) {
                    Text pad(w - s.size(), u' ');
                    s = left ? s + pad : pad + s;
                }
                out += s;
                break;
            }
            case u'c': {
                a = take();
                if (a) out += static_cast<char16_t>(a->kind == FmtArg::kUInt ? a->u : a->i);
                break;
            }
            case u'd':
            case u'i':
            case u'u':
            case u'x':
            case u'X':
            case u'f':
            case u'F':
            case u'e':
            case u'E':
            case u'g':
            case u'G': {
                a = take();
                if (!a || a->kind == FmtArg::kText) break;
                conv_spec += static_cast<char>(conv);
                out += FromUtf8(FormatNumber(conv_spec, *a, static_cast<char>(conv)));
                break;
            }
            default:
                // Unknown conversions are copied as they stand.
                out += u'%';
                for (size_t k = 1; k < conv_spec.size(); ++k)
                    out += static_cast<char16_t>(conv_spec[k]);
                out += conv;
                break;
        }
    }
    return out;
}

Text FixedText(double v, int decimals, char16_t mark, char16_t group) {
    Text s = Fmt(u"%.*f", decimals, v);
    const size_t point = s.find(u'.');
    if (point != Text::npos) s[point] = mark;
    if (group) {
        const size_t first = s.find_first_of(u"0123456789");
        size_t end = point != Text::npos ? point : s.size();
        // Only digits are parted: "inf" and "nan" have none to part.
        if (first != Text::npos && first < end)
            for (; end > first + 3; end -= 3) s.insert(end - 3, 1, group);
    }
    return s;
}

Text ClockText(const SystemTime& t, const ClockStyle& style) {
    Text out;
    if (style.date)
        out = Fmt(style.padDay ? u"%02d." : u"%d.", int(t.wDay)) + Fmt(u"%02d.", int(t.wMonth)) +
              Fmt(style.padYear ? u"%04d" : u"%02d", int(t.wYear)) + style.afterDate;
    out += Fmt(style.padHour ? u"%02d:%02d" : u"%d:%02d", int(t.wHour), int(t.wMinute));
    if (style.seconds) out += Fmt(u":%02d", int(t.wSecond));
    return out;
}

Text TrimBlanks(TextView t) {
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
    size_t b = 0, e = t.size();
    while (b < e && blank(t[b])) ++b;
    while (e > b && blank(t[e - 1])) --e;
    return Text(t.substr(b, e - b));
}

}  // namespace movra
