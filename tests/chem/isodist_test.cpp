// Aggregated isotopic distributions against references computed here by other means:
// a brute-force enumeration of every isotopic composition of small molecules, and an
// atom-by-atom convolution for large ones. Neither uses IsoSpec.
#include "elements.h"
#include "formula.h"
#include "isodist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace tvchem;

namespace {

// Per nominal offset from the most abundant isotopes: probability and
// sum of prob x (mass - monoisotopic mass).
struct Bin {
    double p = 0.0, d = 0.0;
};
using Dist = std::map<long, Bin>;

size_t refIndex(const Element& e) {
    size_t r = 0;
    for (size_t i = 1; i < e.isotopes.size(); ++i)
        if (e.isotopes[i].abundance > e.isotopes[r].abundance) r = i;
    return r;
}

// All isotopic compositions of n atoms of e: (offset, delta mass, probability).
struct Comp {
    long off;
    double delta, p;
};
std::vector<Comp> compositions(const Element& e, int n) {
    const size_t k = e.isotopes.size(), r = refIndex(e);
    std::vector<Comp> out;
    std::vector<int> c(k, 0);
    std::function<void(size_t, int)> rec = [&](size_t i, int left) {
        if (i + 1 == k) {
            c[i] = left;
            double lp = std::lgamma(n + 1.0);
            long off = 0;
            double delta = 0;
            for (size_t j = 0; j < k; ++j) {
                const Isotope& iso = e.isotopes[j];
                lp += c[j] * std::log(iso.abundance) - std::lgamma(c[j] + 1.0);
                off += c[j] * (iso.massNumber - e.isotopes[r].massNumber);
                delta += c[j] * (iso.mass - e.isotopes[r].mass);
            }
            out.push_back({off, delta, std::exp(lp)});
            return;
        }
        for (int x = 0; x <= left; ++x) {
            c[i] = x;
            rec(i + 1, left - x);
        }
    };
    rec(0, n);
    return out;
}

// Every isotopologue of the whole molecule, one by one (small molecules only).
Dist bruteForce(const std::string& text) {
    FormulaResult f = parseFormula(text);
    EXPECT_TRUE(f.ok) << text;
    std::vector<std::vector<Comp>> per;
    for (const auto& [sym, n] : f.formula.counts)
        per.push_back(compositions(*findElement(sym), static_cast<int>(n)));
    Dist out;
    std::function<void(size_t, long, double, double)> rec = [&](size_t i, long off, double delta,
                                                                double p) {
        if (i == per.size()) {
            out[off].p += p;
            out[off].d += p * delta;
            return;
        }
        for (const Comp& c : per[i])
            rec(i + 1, off + c.off, delta + c.delta, p * c.p);
    };
    rec(0, 0, 0.0, 1.0);
    return out;
}

// Adds one atom at a time; bins below 1e-30 of the strongest are dropped.
Dist atomByAtom(const std::string& text) {
    FormulaResult f = parseFormula(text);
    EXPECT_TRUE(f.ok) << text;
    long lo = 0;
    std::vector<double> p{1.0}, d{0.0};
    for (const auto& [sym, n] : f.formula.counts) {
        const Element& e = *findElement(sym);
        const Isotope& ref = e.isotopes[refIndex(e)];
        for (long atom = 0; atom < n; ++atom) {
            long minOff = e.isotopes.front().massNumber - ref.massNumber;
            long maxOff = e.isotopes.back().massNumber - ref.massNumber;
            std::vector<double> np(p.size() + maxOff - minOff, 0.0), nd(np.size(), 0.0);
            for (size_t i = 0; i < p.size(); ++i) {
                for (const Isotope& iso : e.isotopes) {
                    size_t j = i + (iso.massNumber - ref.massNumber - minOff);
                    np[j] += p[i] * iso.abundance;
                    nd[j] += (d[i] + p[i] * (iso.mass - ref.mass)) * iso.abundance;
                }
            }
            lo += minOff;
            double top = *std::max_element(np.begin(), np.end());
            size_t b = 0, en = np.size();
            while (np[b] < top * 1e-30)
                ++b;
            while (np[en - 1] < top * 1e-30)
                --en;
            p.assign(np.begin() + b, np.begin() + en);
            d.assign(nd.begin() + b, nd.begin() + en);
            lo += static_cast<long>(b);
        }
    }
    Dist out;
    for (size_t i = 0; i < p.size(); ++i)
        out[lo + static_cast<long>(i)] = {p[i], d[i]};
    return out;
}

// The reported peaks must be the reference's peaks of at least 0.01 on the 100 scale,
// masses within 0.1 mDa and intensities within 0.01.
void expectMatches(const std::string& text, const Dist& ref) {
    SCOPED_TRACE(text);
    const double mono = monoisotopicMass(parseFormula(text).formula);
    IsoDistResult r = isotopicDistribution(text);
    ASSERT_EQ(r.code, 0) << r.error;
    ASSERT_FALSE(r.peaks.empty());
    double top = 0.0;
    for (const auto& kv : ref)
        top = std::max(top, kv.second.p);
    std::vector<Peak> want;
    for (const auto& [off, b] : ref)
        if (b.p > 0) want.push_back({mono + b.d / b.p, 100.0 * b.p / top});

    double best = 0.0;
    for (size_t i = 0; i < r.peaks.size(); ++i) {
        const Peak& g = r.peaks[i];
        if (i > 0) {
            EXPECT_GT(g.mass, r.peaks[i - 1].mass + 0.9);
        }
        EXPECT_GE(g.intensity, kDefaultMinIntensity);
        best = std::max(best, g.intensity);
        auto near = std::min_element(want.begin(), want.end(), [&](const Peak& a, const Peak& b) {
            return std::fabs(a.mass - g.mass) < std::fabs(b.mass - g.mass);
        });
        EXPECT_NEAR(g.mass, near->mass, 1e-4);
        EXPECT_NEAR(g.intensity, near->intensity, 0.01) << "at " << g.mass;
    }
    EXPECT_DOUBLE_EQ(best, 100.0);
    size_t expected = 0;
    for (const Peak& w : want) {
        if (w.intensity < kDefaultMinIntensity + 1e-6) continue;
        ++expected;
        bool found = std::any_of(r.peaks.begin(), r.peaks.end(),
                                 [&](const Peak& g) { return std::fabs(g.mass - w.mass) < 1e-4; });
        EXPECT_TRUE(found) << "missing peak " << w.mass << " " << w.intensity;
    }
    EXPECT_EQ(r.peaks.size(), expected);
}

std::vector<std::pair<double, double>> readPairs(const std::string& text) {
    std::vector<std::pair<double, double>> out;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        double m = 0, a = 0;
        auto r1 = std::from_chars(p, end, m);
        EXPECT_EQ(r1.ec, std::errc()) << text;
        EXPECT_EQ(*r1.ptr, ' ');
        auto r2 = std::from_chars(r1.ptr + 1, end, a);
        EXPECT_EQ(r2.ec, std::errc()) << text;
        EXPECT_EQ(*r2.ptr, '\n');
        if (r1.ec != std::errc() || r2.ec != std::errc()) break;
        out.emplace_back(m, a);
        p = r2.ptr + 1;
    }
    return out;
}

} // namespace

TEST(IsoDist, GlucoseAnswersTheKnownPattern) {
    IsoDistResult r = isotopicDistribution("C6H12O6");
    ASSERT_EQ(r.code, 0) << r.error;
    ASSERT_GE(r.peaks.size(), 3u);
    EXPECT_NEAR(r.peaks[0].mass, 180.063388, 5e-7);
    EXPECT_DOUBLE_EQ(r.peaks[0].intensity, 100.0);
    EXPECT_NEAR(r.peaks[1].mass, 181.0668, 1e-4);
    EXPECT_NEAR(r.peaks[1].intensity, 6.86, 0.005);
    EXPECT_NEAR(r.peaks[2].mass, 182.0680, 1e-4);
    EXPECT_NEAR(r.peaks[2].intensity, 1.43, 0.005);
}

TEST(IsoDist, SmallMoleculesMatchBruteForce) {
    for (const char* f : {"C6H12O6", "C8H10N4O2", "H2O", "CH2Cl2", "C2H5Br", "FeCl3", "SnCl2",
                          "Na3PO4", "Xe2", "C3H7NO2S", "K4[Fe(CN)6]", "U2O"})
        expectMatches(f, bruteForce(f));
}

TEST(IsoDist, ManyIsotopesManyAtomsMatchBruteForce) {
    // Tin's ten isotopes: enough atoms to make the engine split the element into chunks.
    expectMatches("Sn12", bruteForce("Sn12"));
    expectMatches("Mo3Sn4", bruteForce("Mo3Sn4"));
}

TEST(IsoDist, LargeMoleculesMatchAtomByAtomConvolution) {
    for (const char* f :
         {"C8H10N4O2", "C254H377N65O75S6", "C2934H4615N781O897S39", "Sn150Cl20", "C100Br40Hg20"})
        expectMatches(f, atomByAtom(f));
}

TEST(IsoDist, InsulinIsStrongestThreeAboveTheMonoisotopicPeak) {
    const char* f = "C254H377N65O75S6";
    const double mono = monoisotopicMass(parseFormula(f).formula);
    IsoDistResult r = isotopicDistribution(f);
    ASSERT_EQ(r.code, 0);
    EXPECT_NEAR(r.peaks.front().mass, mono, 1e-6);
    auto top = std::max_element(r.peaks.begin(), r.peaks.end(), [](const Peak& a, const Peak& b) {
        return a.intensity < b.intensity;
    });
    EXPECT_EQ(top - r.peaks.begin(), 3);
    EXPECT_NEAR(top->mass - mono, 3.0, 0.02);
}

TEST(IsoDist, ChargeIsIgnoredAndThresholdApplies) {
    IsoDistResult a = isotopicDistribution("C6H5O7-3");
    IsoDistResult b = isotopicDistribution("C6H5O7");
    ASSERT_EQ(a.code, 0);
    ASSERT_EQ(formatPeaks(a.peaks), formatPeaks(b.peaks));
    IsoDistResult all = isotopicDistribution("C6H12O6", 0.0);
    EXPECT_GT(all.peaks.size(), isotopicDistribution("C6H12O6").peaks.size());
    // A formula of single-isotope elements has one peak.
    IsoDistResult one = isotopicDistribution("NaF");
    ASSERT_EQ(one.peaks.size(), 1u);
    EXPECT_NEAR(one.peaks[0].mass, 22.9897692820 + 18.99840316273, 1e-9);
}

TEST(IsoDist, FailuresCarryCodeAndReason) {
    IsoDistResult r = isotopicDistribution("  ");
    EXPECT_EQ(r.code, kIsoDistNoFormula);
    r = isotopicDistribution("C6H12Xx");
    EXPECT_EQ(r.code, kIsoDistParseError);
    EXPECT_NE(r.error.find("unknown element symbol 'Xx'"), std::string::npos);
    EXPECT_TRUE(r.peaks.empty());
    r = isotopicDistribution("C100001");
    EXPECT_EQ(r.code, kIsoDistTooLarge);
    EXPECT_EQ(r.error, "refused: 100001 atoms, limit 100000");
    Formula bad;
    bad.counts["C"] = -2;
    EXPECT_EQ(isotopicDistribution(bad).code, kIsoDistParseError);
    bad.counts = {{"C", 60000}, {"H", 60000}};
    EXPECT_EQ(isotopicDistribution(bad).code, kIsoDistTooLarge);
}

TEST(IsoDistCommand, AnswersPeakLinesInTheCLocale) {
    // The host runs under the user's locale; the answer must keep the point.
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    ASSERT_TRUE(std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "de_DE.utf8") ||
                std::setlocale(LC_ALL, "it_IT.utf8"))
        << "a decimal-comma locale is needed";
    CommandResult c = isoDistCommand("  C6H12O6 \r\n");
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_EQ(c.code, 0) << c.text;
    EXPECT_EQ(c.text.rfind("180.063388 100.000000\n", 0), 0u) << c.text;
    EXPECT_EQ(c.text.find(','), std::string::npos);
    auto pairs = readPairs(c.text);
    ASSERT_EQ(pairs.size(), isotopicDistribution("C6H12O6").peaks.size());
    EXPECT_NEAR(pairs[1].first, 181.0668, 1e-4);
    EXPECT_NEAR(pairs[1].second, 6.86, 0.005);

    EXPECT_EQ(isoDistCommand("\"C6H12O6\"").text, c.text);
}

TEST(IsoDistCommand, Failures) {
    EXPECT_EQ(isoDistCommand("").code, 1);
    EXPECT_EQ(isoDistCommand(" \t ").code, 1);
    EXPECT_EQ(isoDistCommand("\"\"").code, 1);
    CommandResult c = isoDistCommand("Ca(OH2");
    EXPECT_EQ(c.code, 2);
    EXPECT_NE(c.text.find("unbalanced '('"), std::string::npos) << c.text;
    c = isoDistCommand("C50000H50001");
    EXPECT_EQ(c.code, 3);
    EXPECT_EQ(c.text, "refused: 100001 atoms, limit 100000");
    EXPECT_EQ(isoDistCommand(std::string(200000, '(')).code, 2);
    EXPECT_EQ(isoDistCommand(std::string("C6\0H12", 6)).code, 2);
}

TEST(IsoDistCalculator, SameAsOneByOneWithElementsReused) {
    // Isomers, homologues and repeated formulas, so that cached element distributions are
    // reused; the results must be those of isotopicDistribution exactly.
    IsoDistCalculator calc;
    const char* formulas[] = {"C6H12O6",  "C6H12O6",      "C7H14O6",  "C6H12O6Na", "C8H6Cl2O3",
                              "C8H5Cl2O3", "C254H377N65O75S6", "C6H11O5", "Sn10",     "C6H12O6"};
    for (int round = 0; round < 2; ++round)
        for (const char* f : formulas) {
            SCOPED_TRACE(f);
            FormulaResult parsed = parseFormula(f);
            ASSERT_TRUE(parsed.ok);
            IsoDistResult a = calc.compute(parsed.formula), b = isotopicDistribution(parsed.formula);
            ASSERT_EQ(b.code, a.code);
            ASSERT_EQ(b.peaks.size(), a.peaks.size());
            for (size_t i = 0; i < a.peaks.size(); ++i) {
                EXPECT_EQ(b.peaks[i].mass, a.peaks[i].mass);
                EXPECT_EQ(b.peaks[i].intensity, a.peaks[i].intensity);
            }
        }
    Formula bad;
    bad.counts["Xx"] = 2;
    EXPECT_EQ(kIsoDistParseError, calc.compute(bad).code);
}
