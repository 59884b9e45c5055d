#include "ui/chart_export.h"

#include <optional>

#include "core/clock.h"
#include "core/textfile.h"

namespace movra::chart {

namespace {

Text Number(double v, const DisplayUnit& unit) {
    return FixedText(v / unit.divisor, 1);
}

}  // namespace

Text TooltipText(const View& v, size_t index, const DisplayUnit& unit) {
    if (index >= v.points.size()) return {};
    const Point& p = v.points[index];
    const bool minute = v.step >= 60;
    Text t = ClockText(CivilTime(p.local), {.date = minute, .seconds = !minute});
    if (minute) t += u", среднее за минуту";
    if (p.gap) return t + u"\r\nНет данных";
    t += u"\r\nВход / выход, ";
    t += unit.unit;
    double sumIn = 0, sumOut = 0;
    for (size_t i = 0; i < v.series.size() && i < p.in.size() && i < p.out.size(); ++i) {
        t += u"\r\n" + v.series[i].name + u": " + Number(p.in[i], unit) + u" / " +
             Number(p.out[i], unit);
        sumIn += p.in[i];
        sumOut += p.out[i];
    }
    t += u"\r\nИтого: " + Number(sumIn, unit) + u" / " + Number(sumOut, unit);
    if (p.widthIn > 0 || p.widthOut > 0)
        t += u"\r\nШирина канала: " + Number(p.widthIn, unit) + u" / " + Number(p.widthOut, unit);
    if (p.measured) t += u"\r\nЗамер входа: " + Number(p.measuredIn, unit);
    return t;
}

namespace {

// A number with a decimal comma, whatever the C locale says.
std::string CsvNumber(double v, const DisplayUnit& unit) {
    return ToUtf8(FixedText(v / unit.divisor, 1, u','));
}

std::string CsvField(const Text& text) {
    std::string s = ToUtf8(text);
    if (s.find_first_of(";\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

}  // namespace

std::string CsvBytes(const View& v, const DisplayUnit& unit) {
    const Text u = Text(u", ") + unit.unit + u")";
    std::string out = "\xEF\xBB\xBF";
    out += ToUtf8(u"Время");
    for (const Series& s : v.series) {
        out += ';' + CsvField(s.name + u" (вход" + u);
        out += ';' + CsvField(s.name + u" (выход" + u);
    }
    out += ';' + ToUtf8(u"Ширина канала (вход" + u);
    out += ';' + ToUtf8(u"Ширина канала (выход" + u);
    out += ';' + ToUtf8(Text(u"Замер входа (") + unit.unit + u")");
    out += "\r\n";
    for (const Point& p : v.points) {
        // Gaps and held seconds have no row: a row is a measured sample.
        if (p.gap || p.held) continue;
        out += ToUtf8(ClockText(CivilTime(p.local)));
        for (size_t i = 0; i < v.series.size(); ++i) {
            out += ';' + CsvNumber(i < p.in.size() ? p.in[i] : 0, unit);
            out += ';' + CsvNumber(i < p.out.size() ? p.out[i] : 0, unit);
        }
        out += ';' + CsvNumber(p.widthIn, unit) + ';' + CsvNumber(p.widthOut, unit) + ';';
        if (p.measured) out += CsvNumber(p.measuredIn, unit);
        out += "\r\n";
    }
    return out;
}

bool SaveCsv(const std::string& bytes, const Text& path, FileSystem& fs, Text& error) {
    std::optional<Text> failure = WriteFileReplacing(path, bytes, fs);
    if (!failure) return true;
    error = *failure;
    return false;
}

}  // namespace movra::chart
