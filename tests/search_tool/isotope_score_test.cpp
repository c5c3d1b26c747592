// Isotope clusters and scores: a hit's own pattern scores perfectly, chlorine shows, the RMS
// is the isotope chart's, and clusters are gathered as the measured peaks lie.
#include <gtest/gtest.h>

#include <cmath>

#include "isotope_score.h"

using namespace tvsearch;

namespace {

tvchem::Formula formula(const char* text) {
    tvchem::FormulaResult f = tvchem::parseFormula(text);
    EXPECT_TRUE(f.ok) << text << ": " << f.error;
    return f.formula;
}

Ion ion(const char* text) {
    IonParse p = parseIon(text);
    EXPECT_TRUE(p.ok) << text << ": " << p.error;
    return p.ion;
}

PeakRecord peak(double mz, double intensity, double rt = 1.0) {
    PeakRecord p;
    p.mz = mz;
    p.intensity = intensity;
    p.rt = rt;
    return p;
}

struct Candidate {
    const IonDistribution* dist;
    double theoMz;
};

Candidate candidate(DistributionCache& cache, const char* molecule, const Ion& i) {
    tvchem::Formula comp;
    EXPECT_EQ(IonFormula::Ok, ionComposition(formula(molecule), i, comp));
    const IonDistribution* d = cache.get(comp, i.charge);
    EXPECT_NE(nullptr, d) << molecule;
    return {d, i.mz(tvchem::monoisotopicMass(formula(molecule)))};
}

// The peaks of a distribution as a measured list (the ion's own cluster).
std::vector<PeakRecord> asPeakList(const IonDistribution& d) {
    std::vector<PeakRecord> list;
    for (const ClusterPeak& p : d.peaks)
        list.push_back(peak(p.mz, p.intensity));
    return list;
}

size_t indexOf(const std::vector<PeakRecord>& list, double mz) {
    for (size_t i = 0; i < list.size(); ++i)
        if (std::fabs(list[i].mz - mz) < 1e-6) return i;
    ADD_FAILURE() << "no peak at " << mz;
    return 0;
}

} // namespace

TEST(IsotopeScore, OwnDistributionScoresPerfectly) {
    DistributionCache cache;
    for (auto [molecule, ionText] : {std::pair<const char*, const char*>{"C6H12O6", "[M+Na]+"},
                                     {"C20H30N4O6S", "[M+2H]2+"},
                                     {"C8H6Cl2O3", "[M-H]-"},
                                     {"C10H16N5O13P3", "[2M-H]-"}}) {
        SCOPED_TRACE(std::string(molecule) + " " + ionText);
        const Ion i = ion(ionText);
        Candidate c = candidate(cache, molecule, i);
        ASSERT_NE(nullptr, c.dist);
        // The distribution's monoisotopic peak is the ion's m/z, electron mass included.
        EXPECT_NEAR(c.theoMz, c.dist->peaks.front().mz, 1e-9);
        const std::vector<PeakRecord> list = asPeakList(*c.dist);
        ClusterFinder finder(list, Tolerance{true, 3}, 0.1);
        MeasuredCluster m = finder.cluster(indexOf(list, c.theoMz), i.absCharge());
        ASSERT_FALSE(m.empty());
        EXPECT_EQ(c.dist->peaks.size(), m.peaks.size()); // every peak was gathered
        IsotopeScore s = scoreCluster(*c.dist, m, c.theoMz, i.absCharge());
        EXPECT_NEAR(1.0, s.cosine, 1e-12);
        EXPECT_NEAR(0.0, s.rms, 1e-9);
        // The same cluster given as "isotopes" pairs.
        PeakRecord given = list[indexOf(list, c.theoMz)];
        for (const PeakRecord& p : list)
            given.isotopes.push_back({p.mz, p.intensity});
        MeasuredCluster fromPairs = clusterFromPairs(given, i.absCharge());
        IsotopeScore s2 = scoreCluster(*c.dist, fromPairs, c.theoMz, i.absCharge());
        EXPECT_NEAR(1.0, s2.cosine, 1e-12);
        EXPECT_NEAR(0.0, s2.rms, 1e-9);
    }
}

TEST(IsotopeScore, DichlorinatedClusterPrefersTheChlorinatedCandidate) {
    DistributionCache cache;
    const Ion i = ion("[M-H]-");
    // 2,4-D, C8H6Cl2O3, against a chlorine-free formula of nearly the same mass.
    Candidate cl = candidate(cache, "C8H6Cl2O3", i);
    Candidate plain = candidate(cache, "C6H4O7S", i);
    ASSERT_TRUE(cl.dist && plain.dist);
    ASSERT_NEAR(cl.theoMz, plain.theoMz, 0.002); // 7 ppm apart
    // The measured cluster: the chlorinated pattern, rounded as a spectrum would be.
    std::vector<PeakRecord> list;
    for (const ClusterPeak& p : cl.dist->peaks)
        if (p.intensity > 0.5) list.push_back(peak(std::round(p.mz * 1e4) / 1e4, std::round(p.intensity)));
    ClusterFinder finder(list, Tolerance{true, 5}, 0.1);
    MeasuredCluster m = finder.cluster(0, 1);
    ASSERT_GE(m.byOffset.size(), 5u); // M, M+1, M+2 (37Cl), M+3, M+4
    IsotopeScore a = scoreCluster(*cl.dist, m, cl.theoMz, 1);
    IsotopeScore b = scoreCluster(*plain.dist, m, cl.theoMz, 1);
    EXPECT_GT(a.cosine, 0.999);
    EXPECT_LT(b.cosine, 0.9);
    EXPECT_GT(a.cosine, b.cosine);
    // The chart's RMS pairs each calculated peak with the nearest measured one in (m/z, %),
    // so the weak peaks of a wrong pattern still find partners: it tells less apart.
    EXPECT_LT(a.rms, 1.0);
    EXPECT_GT(b.rms, 3.0);
}

TEST(IsotopeScore, TheIsotopeChartsWorkedExamples) {
    // Calculated (100, 100), (101, 10) against measured 100 50, 101 5: scaled, identical.
    IonDistribution calc{{{100, 100}, {101, 10}}};
    MeasuredCluster m;
    m.byOffset = {50, 5};
    m.peaks = {{100, 50}, {101, 5}};
    IsotopeScore s = scoreCluster(calc, m, 100, 1);
    EXPECT_DOUBLE_EQ(0.0, s.rms);
    EXPECT_NEAR(1.0, s.cosine, 1e-12);
    // One calculated peak (100, 100) against 100.1 100 and 100 90: the stronger is nearer.
    IonDistribution one{{{100, 100}}};
    MeasuredCluster two;
    two.byOffset = {190};
    two.peaks = {{100, 90}, {100.1, 100}};
    EXPECT_NEAR(0.1, scoreCluster(one, two, 100, 1).rms, 1e-12);
    // Cosine per offset: orthogonal and proportional vectors, and nothing to compare.
    EXPECT_DOUBLE_EQ(0.0, cosineByOffset({1, 0}, {0, 1}));
    EXPECT_NEAR(1.0, cosineByOffset({2, 1}, {4, 2}), 1e-15);
    EXPECT_DOUBLE_EQ(0.0, cosineByOffset({}, {1}));
}

TEST(IsotopeScore, ClustersAreGatheredAsPeaksLie) {
    std::vector<PeakRecord> list = {
        peak(300.0, 100),
        peak(301.0034, 10),         // 13C
        peak(300.9972, 5),          // 15N: same nominal offset, summed
        peak(301.0034, 50, 3.0),    // another time: not this cluster
        peak(301.9971, 65),         // 37Cl: 0.0097 below 2 x 1.003355, still offset 2
        peak(305.0, 1),             // after two empty offsets: not taken
        peak(400.0, 100),           // alone
        peak(500.0, 100), peak(500.50168, 30), peak(501.00335, 8), // a 2+ cluster
    };
    ClusterFinder f(list, Tolerance{true, 5}, 0.1);
    MeasuredCluster c = f.cluster(0, 1);
    ASSERT_EQ(3u, c.byOffset.size());
    EXPECT_DOUBLE_EQ(15, c.byOffset[1]);
    EXPECT_DOUBLE_EQ(65, c.byOffset[2]);
    EXPECT_NEAR((301.0034 * 10 + 300.9972 * 5) / 15, c.peaks[1].mz, 1e-9);
    EXPECT_TRUE(f.cluster(6, 1).empty());
    EXPECT_EQ(3u, f.cluster(7, 2).byOffset.size());
    EXPECT_EQ(2u, f.cluster(7, 1).byOffset.size()); // as 1+, 501.00335 is its M+1 only
    // Without an intensity there is no cluster.
    std::vector<PeakRecord> bare = {peak(300, NAN), peak(301.00335, 10)};
    EXPECT_TRUE(ClusterFinder(bare, Tolerance{true, 5}, 0.1).cluster(0, 1).empty());
    // One missing offset inside is allowed: M, -, M+2.
    std::vector<PeakRecord> gap = {peak(200, 100), peak(201.997, 30)};
    MeasuredCluster g = ClusterFinder(gap, Tolerance{true, 5}, 0.1).cluster(0, 1);
    ASSERT_EQ(3u, g.byOffset.size());
    EXPECT_DOUBLE_EQ(0, g.byOffset[1]);
}

TEST(IsotopeScore, IonCompositions) {
    tvchem::Formula out;
    EXPECT_EQ(IonFormula::Ok, ionComposition(formula("C6H12O6"), ion("[2M+Na]+"), out));
    EXPECT_EQ("C12H24NaO12", out.hill());
    EXPECT_EQ(IonFormula::Ok, ionComposition(formula("C6H12O6"), ion("[M+H-H2O]+"), out));
    EXPECT_EQ("C6H11O5", out.hill());
    // Water cannot leave a molecule without oxygen, nor a proton one without hydrogen.
    EXPECT_EQ(IonFormula::Impossible, ionComposition(formula("CH4"), ion("[M+H-H2O]+"), out));
    EXPECT_EQ(IonFormula::Impossible, ionComposition(formula("CCl4"), ion("[M-H]-"), out));
    EXPECT_EQ(IonFormula::Impossible, ionComposition(formula("H2"), ion("[M-2H]2-"), out));
    EXPECT_EQ(IonFormula::Ok, ionComposition(formula("CCl4"), ion("[M+Cl]-"), out));
    EXPECT_EQ(5, out.counts.at("Cl"));
}
