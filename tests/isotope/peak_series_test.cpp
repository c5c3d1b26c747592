// Peak series without a window: layout, text reading and writing, records, sorting, the RMS
// comparison, the number texts and the memo's keystroke filter.
#include <gtest/gtest.h>

#include <QColor>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <random>
#include <string>
#include <vector>

#include "formatsettings.h"
#include "peak_series.h"
#include "tchart.h"

namespace {

struct Peak {
    double mass, prob;
};

std::vector<Peak> TopsOf(const TLineSeries& s) {
    std::vector<Peak> out;
    for (int i = 2; i < s.Count(); i += 3)
        out.push_back({s.XValue(i), s.YValue(i)});
    return out;
}

std::vector<Peak> ParseNarrow(std::string text, int* count = nullptr) {
    TLineSeries s;
    const int n = PeakTextParse(&s, text.data());
    if (count) *count = n;
    EXPECT_EQ(s.Count(), n == 0 ? 0 : 3 * n + 1);
    return TopsOf(s);
}

std::vector<Peak> ParseWide(std::u16string text, char sep) {
    TLineSeries s;
    const int n = PeakTextParse(&s, text.data(), sep);
    EXPECT_EQ(int(TopsOf(s).size()), n);
    return TopsOf(s);
}

void ExpectPeaks(const std::vector<Peak>& expected, const std::vector<Peak>& got) {
    ASSERT_EQ(expected.size(), got.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_DOUBLE_EQ(expected[i].mass, got[i].mass) << "peak " << i;
        EXPECT_DOUBLE_EQ(expected[i].prob, got[i].prob) << "peak " << i;
    }
}

struct SepGuard {
    char saved = FormatSettings.DecimalSeparator;
    ~SepGuard() { FormatSettings.DecimalSeparator = saved; }
};

TEST(PeakSeriesLayout, EachPeakIsFootTopClosingFootAfterOneLeadingPoint) {
    SepGuard guard;
    FormatSettings.DecimalSeparator = '.';
    TLineSeries s;
    s.SetSeriesColor(ColorFromTColor(0x0000FF));
    PeakSeriesAdd(&s, 100.0, 50.0);
    const double x[] = {99.0, 100.0, 100.0, 100.0};
    const double y[] = {0.0, 0.0, 50.0, 0.0};
    ASSERT_EQ(4, s.Count());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(x[i], s.XValue(i)) << i;
        EXPECT_EQ(y[i], s.YValue(i)) << i;
    }
    EXPECT_EQ("100", s.Label(2));
    EXPECT_TRUE(s.Label(0).isEmpty() && s.Label(1).isEmpty() && s.Label(3).isEmpty());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(QColor(Qt::black), s.ValueColor(i)) << i;
    EXPECT_EQ(QColor(Qt::red), s.ValueColor(3));

    // The second peak adds three points and no second leading point; it may lie below the
    // first, the baseline still starts 1.0 below the first peak added.
    FormatSettings.DecimalSeparator = ',';
    PeakSeriesAdd(&s, 50.25, 7.0);
    ASSERT_EQ(7, s.Count());
    EXPECT_EQ(99.0, s.XValue(0));
    EXPECT_EQ(50.25, s.XValue(4));
    EXPECT_EQ("50,25", s.Label(5));
    EXPECT_EQ(QColor(Qt::red), s.ValueColor(6));
    // The closing foot follows the series colour.
    s.SetSeriesColor(ColorFromTColor(0xFF0000));
    EXPECT_EQ(QColor(Qt::blue), s.ValueColor(6));
    EXPECT_EQ(QColor(Qt::black), s.ValueColor(5));
}

TEST(PeakTextParse, PairsValuesAndDropsAnUnpairedOne) {
    int n = -1;
    ExpectPeaks({{100, 50}, {101, 20}}, ParseNarrow("100 50\n 101 20", &n));
    EXPECT_EQ(2, n);
    ExpectPeaks({{100, 50}}, ParseNarrow("100 50 101", &n));
    EXPECT_EQ(1, n);
    // Carriage returns and tabs, a trailing line end, several separators at the end.
    ExpectPeaks({{180.063388, 100}, {181.0668, 6.86}},
                ParseNarrow("180.063388\t100\r\n181.0668\t6.86\r\n \t\n"));
    // A blank line of a "\r\n" text is no value: the pairs stay in step.
    ExpectPeaks({{100, 50}, {101, 20}}, ParseNarrow("100 50\r\n\r\n101 20\r\n"));
    ExpectPeaks({{100, 50}, {101, 20}}, ParseNarrow("\r\n100\r\n50\r\r101 20"));
    // Only tab, line feed, carriage return and space separate: "100;50" is one token (100).
    ExpectPeaks({{100, 7}}, ParseNarrow("100;50 7"));
    ExpectPeaks({{0, 12.5}}, ParseNarrow("abc 12.5kg"));
    ExpectPeaks({}, ParseNarrow("", &n));
    EXPECT_EQ(0, n);
    ExpectPeaks({}, ParseNarrow(" \t\r\n  \n", &n));
    EXPECT_EQ(0, n);

    char text[] = "1 2";
    EXPECT_EQ(0, PeakTextParse(nullptr, text));
    TLineSeries s;
    EXPECT_EQ(0, PeakTextParse(&s, static_cast<char*>(nullptr)));
    EXPECT_EQ(0, PeakTextParse(&s, static_cast<char16_t*>(nullptr), '.'));
    EXPECT_EQ(0, s.Count());
}

TEST(PeakTextParse, CutsTheTextInPlace) {
    char text[] = "1 2\n3\t4";
    TLineSeries s;
    EXPECT_EQ(2, PeakTextParse(&s, text));
    EXPECT_EQ(0, std::string(text, sizeof text)
                     .compare(std::string("1\0"
                                          "2\0"
                                          "3\0"
                                          "4\0",
                                          8)));
}

TEST(PeakTextParse, NarrowTextIsReadInTheCLocaleWhateverTheProcessLocale) {
    // The host writes points; a comma locale of the process must not change the reading.
    locale_t de = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    locale_t old = de ? uselocale(de) : static_cast<locale_t>(nullptr);
    ExpectPeaks({{180.063388, 100}}, ParseNarrow("180.063388 100.000000\n"));
    if (de) {
        uselocale(old);
        freelocale(de);
    }
}

TEST(PeakTextParse, WideTextReadsTheUsersSeparator) {
    ExpectPeaks({{100.5, 50}}, ParseWide(u"100,5 50", ','));
    ExpectPeaks({{100, 50}}, ParseWide(u"100,5 50", '.')); // a comma that is no separator
    ExpectPeaks({{100, 50}}, ParseWide(u"100.5 50", ',')); // a point that is no separator
    ExpectPeaks({{100.5, 2.25}}, ParseWide(u"100.5\t2.25\r\n", '.'));
    ExpectPeaks({{1e3, 7}}, ParseWide(u"1e3 7 \u00e9", ','));    // the last token is unpaired
    ExpectPeaks({{12, 0}}, ParseWide(u"12\u00b35 \u4e00", '.')); // non-ASCII ends a number
}

TEST(PeakTextParse, TokensReadAsTheCRuntimeReadsThem) {
    // Oracle: strtod under the C locale, on the same tokens.
    locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    ASSERT_NE(nullptr, c);
    const char* tokens[] = {"0",     "-1.5",  "+2.5e-3", "\r12.5",   "1e999", "-1e999", "0x1p4",
                            "1.5.7", "12abc", ".5",      "5.",       "e5",    "-",      "1e",
                            "inf",   "-INF",  "nan",     "Infinity", "00012", "1e-400"};
    for (const char* t : tokens) {
        const double expected = strtod_l(t, nullptr, c);
        const double narrow = PeakTokenValue(t);
        std::u16string wide;
        for (const char* p = t; *p; ++p)
            wide += char16_t(*p == '.' ? ',' : *p);
        const double viaComma = PeakTokenValue(wide.c_str(), ',');
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(narrow)) << t;
            EXPECT_TRUE(std::isnan(viaComma)) << t;
        } else {
            EXPECT_EQ(expected, narrow) << t;
            EXPECT_EQ(expected, viaComma) << t;
        }
    }
    freelocale(c);
}

TEST(PeakSeriesToArray, TakesTheTopPoints) {
    TLineSeries s;
    int count = -1;
    TPeak* none = PeakSeriesToArray(count, &s);
    ASSERT_NE(nullptr, none);
    EXPECT_EQ(0, count);
    delete[] none;

    PeakSeriesAdd(&s, 100.0, 50.0);
    TPeak* one = PeakSeriesToArray(count, &s);
    ASSERT_EQ(1, count);
    EXPECT_FALSE(one[0].Matched);
    EXPECT_EQ(100.0, one[0].Mass);
    EXPECT_EQ(50.0, one[0].Prob);
    delete[] one;

    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0, 1000);
    std::vector<Peak> added;
    TLineSeries many;
    for (int i = 0; i < 500; ++i) {
        added.push_back({u(rng), u(rng)});
        PeakSeriesAdd(&many, added.back().mass, added.back().prob);
    }
    TPeak* all = PeakSeriesToArray(count, &many);
    ASSERT_EQ(500, count);
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(added[size_t(i)].mass, all[i].Mass);
        EXPECT_EQ(added[size_t(i)].prob, all[i].Prob);
    }
    delete[] all;

    // A series not laid out by PeakSeriesAdd never makes the array overflow.
    TLineSeries odd;
    for (int i = 0; i < 3; ++i)
        odd.AddXY(i, i);
    TPeak* p = PeakSeriesToArray(count, &odd);
    EXPECT_EQ(0, count);
    delete[] p;
}

TEST(SortPeaks, DescendingProbability) {
    TPeak a{false, 1, 20}, b{false, 2, 100}, nan{false, 3, std::nan("")};
    EXPECT_EQ(1, SortPeakFnct(&a, &b));
    EXPECT_EQ(-1, SortPeakFnct(&b, &a));
    EXPECT_EQ(0, SortPeakFnct(&a, &a));
    EXPECT_EQ(0, SortPeakFnct(&a, &nan));
    EXPECT_EQ(0, SortPeakFnct(&nan, &b));

    TPeak three[] = {{false, 1, 20}, {false, 2, 100}, {false, 3, 50}};
    std::qsort(three, 3, sizeof(TPeak), SortPeakFnct);
    EXPECT_EQ(100, three[0].Prob);
    EXPECT_EQ(50, three[1].Prob);
    EXPECT_EQ(20, three[2].Prob);

    // With values that are not a number: those go last, the rest descending, equal ones in
    // their order.
    const double q = std::nan("");
    TPeak mixed[] = {{false, 1, 5}, {false, 2, q},  {false, 3, 9},       {false, 4, 5},
                     {false, 5, q}, {false, 6, -1}, {false, 7, INFINITY}};
    SortPeaks(mixed, 7);
    const double order[] = {7, 3, 1, 4, 6, 2, 5};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(order[i], mixed[i].Mass) << i;
}

TEST(PeakRms, WorkedExamples) {
    // Experimental 50 and 5 scale to 100 and 10: both distances 0.
    TPeak calc1[] = {{false, 100, 100}, {false, 101, 10}};
    TPeak exp1[] = {{false, 100, 50}, {false, 101, 5}};
    EXPECT_EQ(0.0, PeakRms(calc1, 2, exp1, 2));
    EXPECT_TRUE(exp1[0].Matched && exp1[1].Matched);
    EXPECT_EQ("0.00", FormatFixed(0.0, 2, '.'));

    // Sorted (100.1, 100) before (100, 90): distances 0.01 and 100, the first is chosen.
    TPeak calc2[] = {{false, 100, 100}};
    TPeak exp2[] = {{false, 100, 90}, {false, 100.1, 100}};
    const double rms = PeakRms(calc2, 1, exp2, 2);
    EXPECT_NEAR(0.1, rms, 1e-12);
    EXPECT_EQ("0.10", FormatFixed(rms, 2, '.'));
    EXPECT_EQ(100.1, exp2[0].Mass);
    EXPECT_TRUE(exp2[0].Matched);
    EXPECT_FALSE(exp2[1].Matched);

    // Three calculated peaks, one experimental: only the first calculated one counts.
    TPeak calc3[] = {{false, 200, 50}, {false, 100, 100}, {false, 300, 1}};
    TPeak exp3[] = {{false, 200.5, 10}};
    EXPECT_NEAR(std::sqrt(0.25 + 50.0 * 50.0), PeakRms(calc3, 3, exp3, 1), 1e-12);

    // No calculated peak: 0 / 0.
    TPeak exp4[] = {{false, 100, 50}};
    const double none = PeakRms(calc3, 0, exp4, 1);
    EXPECT_TRUE(std::isnan(none));
    EXPECT_EQ("NAN", FormatFixed(none, 2, '.'));
}

TEST(PeakRms, EqualDistancesGoToTheStrongerPeak) {
    TPeak calc[] = {{false, 100, 95}};
    TPeak exp[] = {{false, 100, 90}, {false, 100, 100}};
    EXPECT_NEAR(5.0, PeakRms(calc, 1, exp, 2), 1e-12);
    EXPECT_EQ(100.0, exp[0].Prob);
    EXPECT_TRUE(exp[0].Matched);
    EXPECT_FALSE(exp[1].Matched);
}

TEST(PeakRms, ShiftedAndScaledCopyGivesTheShift) {
    // Oracle: experimental peaks that are the calculated ones in another order, with their
    // probabilities scaled and every mass shifted by delta (peaks 1 Da apart, delta small)
    // pair with their own calculated peak, so the RMS is delta.
    std::mt19937 rng(11);
    for (int round = 0; round < 50; ++round) {
        const int n = 1 + int(rng() % 12);
        std::vector<TPeak> calc, exp;
        std::uniform_real_distribution<double> prob(1, 99);
        const double delta = std::uniform_real_distribution<double>(0, 0.05)(rng);
        const double scale = std::uniform_real_distribution<double>(0.01, 10)(rng);
        for (int i = 0; i < n; ++i)
            calc.push_back({false, 500.0 + i, i == 0 ? 100.0 : prob(rng)});
        for (const TPeak& p : calc)
            exp.push_back({false, p.Mass + delta, p.Prob * scale});
        std::shuffle(exp.begin(), exp.end(), rng);
        std::shuffle(calc.begin() + 1, calc.end(), rng);
        EXPECT_NEAR(delta, PeakRms(calc.data(), n, exp.data(), n), 1e-9) << "round " << round;
        for (const TPeak& p : exp)
            EXPECT_TRUE(p.Matched);
    }
}

TEST(PeakRms, ValuesThatAreNotNumbersNeitherCrashNorMatch) {
    // All experimental probabilities 0: the scale is infinite, every scaled value not a
    // number, nothing is chosen and the largest double is added per peak.
    TPeak calc[] = {{false, 100, 100}, {false, 101, 5}};
    TPeak zero[] = {{false, 100, 0}, {false, 101, 0}};
    const double r = PeakRms(calc, 2, zero, 2);
    EXPECT_FALSE(zero[0].Matched || zero[1].Matched);
    EXPECT_EQ(std::numeric_limits<double>::infinity(), r); // two largest doubles overflow
    EXPECT_EQ("INF", FormatFixed(r, 2, ','));

    const double q = std::nan("");
    TPeak mixed[] = {{false, q, 50}, {false, 100, q}, {false, 100, 25}, {false, INFINITY, 10}};
    const double r2 = PeakRms(calc, 2, mixed, 4);
    EXPECT_EQ(100.0, mixed[0].Prob); // the strongest number became 100
    EXPECT_TRUE(std::isfinite(r2));
}

TEST(PeakSeriesToText, WritesTheStickTopsWithTheUsersSeparator) {
    TLineSeries s;
    PeakSeriesAdd(&s, 100.5, 100);
    PeakSeriesAdd(&s, 101.5, 10.25);
    PeakSeriesAdd(&s, 102.5, 0.0); // a peak of probability 0 is left out
    std::string text;
    PeakSeriesToText(&s, text, '.');
    EXPECT_EQ("100.50000000 100.00000000\r\n101.50000000 10.25000000\r\n", text);
    std::string comma = "x.";
    PeakSeriesToText(&s, comma, ',');
    EXPECT_EQ("x.100,50000000 100,00000000\r\n101,50000000 10,25000000\r\n", comma);

    TLineSeries odd;
    PeakSeriesAdd(&odd, -3.125, std::nan(""));
    PeakSeriesAdd(&odd, 1e-9, -0.5);
    std::string t;
    PeakSeriesToText(&odd, t, '.');
    EXPECT_EQ("-3.12500000 nan\r\n0.00000000 -0.50000000\r\n", t);
    PeakSeriesToText(nullptr, t, '.');
    EXPECT_EQ("-3.12500000 nan\r\n0.00000000 -0.50000000\r\n", t);
}

TEST(NumberTexts, FixedAndGeneral) {
    EXPECT_EQ("100.500000", FormatFixed(100.5, 6, '.'));
    EXPECT_EQ("12.35", FormatFixed(12.346, 2, '.'));
    EXPECT_EQ("12,35", FormatFixed(12.346, 2, ','));
    EXPECT_EQ("0.00", FormatFixed(-0.001, 2, '.'));
    EXPECT_EQ("-0.01", FormatFixed(-0.006, 2, '.'));
    EXPECT_EQ("1234567.00", FormatFixed(1234567, 2, '.'));
    EXPECT_EQ("-INF", FormatFixed(-INFINITY, 2, '.'));
    EXPECT_EQ(304, FormatFixed(1e300, 2, '.').size()); // 301 digits, point, 2 decimals

    EXPECT_EQ("100", FormatGeneral(100.0, '.'));
    EXPECT_EQ("180.063388", FormatGeneral(180.063388, '.'));
    EXPECT_EQ("180,063388", FormatGeneral(180.063388, ','));
    EXPECT_EQ("0.1", FormatGeneral(0.1, '.'));
    EXPECT_EQ("0.0001", FormatGeneral(0.0001, '.'));
    EXPECT_EQ("1.5E-6", FormatGeneral(1.5e-6, '.'));
    EXPECT_EQ("1E20", FormatGeneral(1e20, '.'));
    EXPECT_EQ("123456789012345", FormatGeneral(123456789012345.0, '.'));
    EXPECT_EQ("1.23456789012346E17", FormatGeneral(123456789012345678.0, '.'));
    EXPECT_EQ("-2.5", FormatGeneral(-2.5, '.'));
    EXPECT_EQ("0", FormatGeneral(0.0, '.'));
    EXPECT_EQ("NAN", FormatGeneral(std::nan(""), '.'));
}

TEST(PeakMemoKey, LetsThroughWhatPeakTextIsTypedWith) {
    for (char sep : {'.', ','}) {
        for (char16_t c : {3, 8, 13, 22, 24, 32})
            EXPECT_EQ(c, PeakMemoKey(c, sep)) << int(c);
        for (char16_t c = u'0'; c <= u'9'; ++c)
            EXPECT_EQ(c, PeakMemoKey(c, sep));
        EXPECT_EQ(char16_t(sep), PeakMemoKey(char16_t(sep), sep));
        EXPECT_EQ(char16_t(sep), PeakMemoKey(u'.', sep));
        for (char16_t c : {1, 9, 10, 26, 27, 127})
            EXPECT_EQ(0, PeakMemoKey(c, sep)) << int(c);
        for (char16_t c : {u'-', u'+', u'e', u'E', u'a', u';', u'\u00e9', u'\u4e00'})
            EXPECT_EQ(0, PeakMemoKey(c, sep)) << int(c);
    }
    EXPECT_EQ(0, PeakMemoKey(u',', '.'));
}

} // namespace
