// Fuzz target: peak text, narrow (as the host writes it) and wide (as the user types it
// into the memo), and the RMS comparison of two peak lists.
//
// The first byte chooses: bit 0 wide text, bit 1 the comma as decimal separator. The rest
// is the text (for wide text, UTF-16 code units, little-endian). Properties:
//  - the text reads as pairs of numbers between separators, as a plain reference reading
//    of the same tokens gives them; a wide ASCII text reads as its narrow form does (with
//    the user's separator as the point);
//  - a series of N peaks has 3N + 1 points, and turns back into the same N peaks;
//  - a list compared with itself, once sorted and scaled as the comparison does, has an RMS
//    of 0; any two lists compare without fault;
//  - the peaks written as text read back as the same values.
#include <QString>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <memory>
#include <string>
#include <vector>

#include "formatsettings.h"
#include "fuzz_input.h"
#include "peak_rms.h"
#include "peak_series.h"
#include "tchart.h"

namespace {

bool isSep(unsigned c) {
    return c == 9 || c == 10 || c == 13 || c == 32;
}

double cNumber(const std::string& token) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return strtod_l(token.c_str(), nullptr, c);
}

bool same(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

// The reference reading: tokens between separators, up to the first NUL; pairs of them.
std::vector<double> referenceValues(const std::string& narrow) {
    std::vector<double> values;
    std::string token;
    const size_t end = narrow.find('\0');
    const std::string text = narrow.substr(0, end);
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isSep(static_cast<unsigned char>(text[i]))) {
            if (!token.empty()) values.push_back(cNumber(token));
            token.clear();
        } else {
            token += text[i];
        }
    }
    if (values.size() % 2) values.pop_back();
    return values;
}

void checkSeries(const TLineSeries& s, int peaks, const std::vector<double>* expected) {
    FUZZ_CHECK(s.Count() == (peaks ? 3 * peaks + 1 : 0), "%d points for %d peaks", s.Count(),
               peaks);
    int count = -1;
    std::unique_ptr<TPeak[]> array(PeakSeriesToArray(count, &s));
    FUZZ_CHECK(array != nullptr && count == peaks);
    for (int k = 0; k < peaks; ++k) {
        FUZZ_CHECK(!array[k].Matched);
        if (expected) {
            FUZZ_CHECK(same(array[k].Mass, (*expected)[2 * k]) &&
                           same(array[k].Prob, (*expected)[2 * k + 1]),
                       "peak %d: %g %g, expected %g %g", k, array[k].Mass, array[k].Prob,
                       (*expected)[2 * k], (*expected)[2 * k + 1]);
        }
    }
}

// A list compared with itself: both sorted and scaled the way PeakRms scales the
// experimental one, so every peak finds its twin at distance 0.
void checkRms(const TPeak* peaks, int n) {
    if (n == 0) {
        FUZZ_CHECK(std::isnan(PeakRms(peaks, 0, nullptr, 0)));
        return;
    }
    std::vector<TPeak> calc(peaks, peaks + n), exp(peaks, peaks + n);
    SortPeaks(calc.data(), n);
    for (int i = 1; i < n; ++i)
        FUZZ_CHECK(SortPeakFnct(&calc[i - 1], &calc[i]) <= 0 || std::isnan(calc[i].Prob),
                   "not sorted by descending probability");
    const double scale = 100.0 / calc[0].Prob;
    bool finite = std::isfinite(scale);
    for (TPeak& p : calc) {
        p.Prob *= scale;
        finite = finite && std::fabs(p.Mass) < 1e150 && std::fabs(p.Prob) < 1e150;
    }
    const double rms = PeakRms(calc.data(), n, exp.data(), n);
    if (finite) {
        FUZZ_CHECK(rms == 0, "a list compared with itself: RMS %g", rms);
        for (const TPeak& p : exp)
            FUZZ_CHECK(p.Matched, "a peak left unmatched");
    }

    // Any two lists: the first half against the second.
    std::vector<TPeak> a(peaks, peaks + n / 2), b(peaks + n / 2, peaks + n);
    (void)PeakRms(a.data(), int(a.size()), b.data(), int(b.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) return 0;
    FuzzInput in(data, size);
    const uint8_t mode = in.byte();
    const bool wide = mode & 1;
    const char decSep = (mode & 2) ? ',' : '.';
    FormatSettings.DecimalSeparator = decSep;
    const std::string bytes = in.rest();

    TLineSeries series;
    int peaks = 0;
    std::vector<double> expected;
    bool haveExpected = false;
    if (!wide) {
        std::vector<char> text(bytes.begin(), bytes.end());
        text.push_back(0);
        peaks = PeakTextParse(&series, text.data());
        expected = referenceValues(bytes);
        haveExpected = true;
    } else {
        std::vector<char16_t> text;
        bool ascii = true;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const char16_t c = char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
            text.push_back(c);
            ascii = ascii && c < 128;
        }
        text.push_back(0);
        // The narrow text that must read the same: the separator becomes the point, a point
        // that is not the separator ends the number.
        std::string narrow;
        for (char16_t c : text) {
            if (c == 0) break;
            narrow += c == char16_t(decSep) ? '.' : c == u'.' ? '#' : char(c);
        }
        peaks = PeakTextParse(&series, text.data(), decSep);
        if (ascii) {
            expected = referenceValues(narrow);
            haveExpected = true;
        }
        for (char16_t c : text)
            (void)PeakMemoKey(c, decSep);
    }
    if (haveExpected)
        FUZZ_CHECK(size_t(peaks) * 2 == expected.size(), "%d peaks, reference %zu values", peaks,
                   expected.size());
    checkSeries(series, peaks, haveExpected ? &expected : nullptr);

    int count = 0;
    std::unique_ptr<TPeak[]> array(PeakSeriesToArray(count, &series));
    checkRms(array.get(), count);

    // Written as text and read again: every written point (y not 0) comes back.
    std::string written;
    PeakSeriesToText(&series, written, decSep);
    std::string pointText = written;
    if (decSep != '.')
        for (char& c : pointText)
            if (c == decSep) c = '.';
    const std::vector<double> back = referenceValues(pointText);
    size_t k = 0;
    for (int i = 0; i < series.Count(); ++i) {
        const double y = series.YValue(i);
        if (y == 0.0) continue;
        FUZZ_CHECK(k + 1 < back.size(), "point %d not written", i);
        const double x = series.XValue(i);
        // Eight decimals: equal to the value rounded there (non-finite values as such).
        auto near = [](double v, double w) {
            if (!std::isfinite(v)) return same(v, w) || (std::isnan(v) && std::isnan(w));
            return std::fabs(v - w) <= 5e-9 * (1 + std::fabs(v)) + std::fabs(v) * 1e-15;
        };
        FUZZ_CHECK(near(x, back[k]) && near(y, back[k + 1]), "point %d: %g %g written as %g %g", i,
                   x, y, back[k], back[k + 1]);
        k += 2;
    }
    for (int i = 0; i < series.Count() && i < 8; ++i) {
        (void)FormatGeneral(series.XValue(i), decSep);
        (void)FormatFixed(series.YValue(i), int(mode >> 2) - 8, decSep);
    }
    return 0;
}
