// Peak series storage, peak text reading and writing, the peak comparison and the number
// texts shown with the chart.
#include "peak_series.h"

#include <QColor>
#include <algorithm>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <new>
#include <vector>

#include "formatsettings.h"
#include "tchart.h"

namespace {

// Separators between the numbers of a peak text. The carriage return is one too, so that
// the blank lines of a text with "\r\n" line ends do not turn into values.
template <typename C> bool IsPeakSep(C c) {
    return c == 9 || c == 10 || c == 13 || c == 32;
}

locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

double ReadCNumber(const char* text) {
    const locale_t c = CLocale();
    return c ? strtod_l(text, nullptr, c) : std::strtod(text, nullptr);
}

template <typename C, typename Convert>
int ParsePeaks(TLineSeries* series, C* text, Convert convert) {
    if (!series || !text) return 0;
    int count = 0;
    bool pending = false;
    double mass = 0.0;
    C* p = text;
    for (;;) {
        while (IsPeakSep(*p))
            ++p;
        if (*p == 0) return count;
        C* end = p + 1;
        while (*end != 0 && !IsPeakSep(*end))
            ++end;
        const bool atEnd = *end == 0;
        if (!atEnd) *end = 0;
        const double value = convert(p);
        if (!pending) {
            mass = value;
            pending = true;
        } else {
            PeakSeriesAdd(series, mass, value);
            ++count;
            pending = false;
        }
        if (atEnd || end[1] == 0) return count;
        p = end + 1;
    }
}

QString NonFinite(double value) {
    if (std::isnan(value)) return QStringLiteral("NAN");
    return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
}

} // namespace

void PeakSeriesAdd(TLineSeries* series, double mass, double prob) {
    if (!series) return;
    const QColor black(0, 0, 0);
    if (series->Count() == 0) series->AddXY(mass - 1.0, 0.0, QString(), black);
    series->AddXY(mass, 0.0, QString(), black);
    series->AddXY(mass, prob, FormatGeneral(mass, FormatSettings.DecimalSeparator), black);
    // No colour of its own: the closing foot follows the series colour.
    series->AddXY(mass, 0.0, QString(), QColor());
}

double PeakTokenValue(const char* token) {
    return token ? ReadCNumber(token) : 0.0;
}

double PeakTokenValue(const char16_t* token, char decSep) {
    if (!token) return 0.0;
    // The token as C-locale text: the user's separator becomes the point; a point that is
    // not the separator, and anything outside ASCII, ends the number there.
    std::string ascii;
    for (const char16_t* p = token; *p != 0; ++p) {
        const char16_t c = *p;
        if (c == char16_t(static_cast<unsigned char>(decSep)))
            ascii += '.';
        else if (c == u'.' || c >= 128)
            ascii += '#';
        else
            ascii += static_cast<char>(c);
    }
    return ReadCNumber(ascii.c_str());
}

int PeakTextParse(TLineSeries* series, char* text) {
    return ParsePeaks(series, text, [](const char* t) { return PeakTokenValue(t); });
}

int PeakTextParse(TLineSeries* series, char16_t* text, char decSep) {
    return ParsePeaks(series, text,
                      [decSep](const char16_t* t) { return PeakTokenValue(t, decSep); });
}

TPeak* PeakSeriesToArray(int& count, const TLineSeries* series) {
    const int points = series ? series->Count() : 0;
    count = (points - 1) / 3;
    if (count < 0) count = 0;
    TPeak* peaks = new (std::nothrow) TPeak[size_t(count)];
    if (!peaks) return nullptr;
    for (int i = 2, k = 0; i < points && k < count; i += 3, ++k)
        peaks[k] = TPeak{false, series->XValue(i), series->YValue(i)};
    return peaks;
}

void PeakSeriesToText(const TLineSeries* series, std::string& out, char decSep) {
    if (!series) return;
    std::string text;
    char buf[2 * (DBL_MAX_10_EXP + 32)];
    for (int i = 0, n = series->Count(); i < n; ++i) {
        const double y = series->YValue(i);
        if (y == 0.0) continue;
        char* const end = buf + sizeof buf;
        auto r = std::to_chars(buf, end, series->XValue(i), std::chars_format::fixed, 8);
        *r.ptr++ = ' ';
        r = std::to_chars(r.ptr, end - 2, y, std::chars_format::fixed, 8);
        *r.ptr++ = '\r';
        *r.ptr++ = '\n';
        text.append(buf, r.ptr);
    }
    if (decSep != '.') std::replace(text.begin(), text.end(), '.', decSep);
    out += text;
}

QString FormatFixed(double value, int decimals, char decSep) {
    if (!std::isfinite(value)) return NonFinite(value);
    decimals = std::clamp(decimals, 0, 17);
    char buf[DBL_MAX_10_EXP + 32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    std::string s(buf, r.ptr);
    // A value that rounds to zero shows no sign.
    if (!s.empty() && s[0] == '-' && s.find_first_of("123456789") == std::string::npos)
        s.erase(0, 1);
    if (decSep != '.') std::replace(s.begin(), s.end(), '.', decSep);
    return QString::fromLatin1(s.data(), int(s.size()));
}

QString FormatGeneral(double value, char decSep) {
    if (!std::isfinite(value)) return NonFinite(value);
    if (value == 0.0) return QStringLiteral("0");
    // 15 significant digits: "d.dddddddddddddde+XX".
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
    const std::string sci(buf, r.ptr);
    const size_t ePos = sci.find('e');
    const bool negative = sci[0] == '-';
    std::string digits;
    for (size_t i = negative ? 1 : 0; i < ePos; ++i)
        if (sci[i] != '.') digits += sci[i];
    const int exponent = std::atoi(sci.c_str() + ePos + 1);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    std::string s = negative ? "-" : "";
    if (exponent >= 15 || exponent < -4) {
        s += digits[0];
        if (digits.size() > 1) s += '.' + digits.substr(1);
        s += 'E' + std::to_string(exponent);
    } else if (exponent < 0) {
        s += "0." + std::string(size_t(-exponent - 1), '0') + digits;
    } else {
        const size_t intDigits = size_t(exponent) + 1;
        if (digits.size() <= intDigits) {
            s += digits + std::string(intDigits - digits.size(), '0');
        } else {
            s += digits.substr(0, intDigits) + '.' + digits.substr(intDigits);
        }
    }
    if (decSep != '.') std::replace(s.begin(), s.end(), '.', decSep);
    return QString::fromLatin1(s.data(), int(s.size()));
}

char16_t PeakMemoKey(char16_t c, char decSep) {
    const char16_t sep = char16_t(static_cast<unsigned char>(decSep));
    switch (c) {
    case 3:  // copy
    case 8:  // backspace
    case 13: // return
    case 22: // paste
    case 24: // cut
    case 32:
        return c;
    default:
        break;
    }
    if (c == sep || (c >= u'0' && c <= u'9')) return c;
    if (c == u'.') return sep;
    return 0;
}
