#pragma once
// Isotope-pattern scores of a hit: the measured cluster of a feature against the calculated
// distribution of the ion itself.
//
// Measured cluster. Either the list gives it (an "isotopes" column), or it is gathered from
// the list: for offsets k = 1, 2, ... the peaks at m/z + k·1.003355/|z|, within the
// tolerance widened by the spread of the isotope spacings of the common elements (from
// 15N−14N, 0.99703 u, to 2H−1H, 1.00628 u, per unit of nominal mass: 34S, 37Cl and 81Br sit
// about 0.01 u below 2·1.003355, so a strict window would miss them), at the same retention
// time. Peaks of one offset are summed (the calculated distribution is aggregated the same
// way). One missing offset is allowed inside; two in a row end the cluster. A cluster needs
// the feature's intensity and at least one isotope peak.
//
// Calculated distribution: the hit's formula n times, with the ion's parts added and
// removed, by the host's isotopic distribution, on the m/z axis (mass − z·mₑ) / |z|.
//
// Scores: the RMS of the isotope chart's comparison (both scaled so that the strongest peak
// is 100, pairing as the dialog does), and the cosine similarity of the intensities per
// nominal offset over the offsets the cluster spans.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "adduct.h"
#include "formula.h"
#include "peak_list.h"
#include "tolerance.h"

namespace tvsearch {

constexpr double kIsotopeSpacing = 1.003355; // 13C − 12C, u
constexpr double kSpacingBelow = 0.0066;     // 1.003355 − 0.99703 (15N), rounded up
constexpr double kSpacingAbove = 0.0030;     // 1.00628 (2H) − 1.003355, rounded up
constexpr int kMaxClusterOffset = 8;

struct MeasuredCluster {
    std::vector<double> byOffset; // intensity per nominal offset 0..K−1, 0 where none
    std::vector<ClusterPeak> peaks; // the offsets found, ascending m/z (for the RMS)
    bool empty() const { return peaks.size() < 2; }
};

// Gathers clusters from a peak list. Retention times are compared when both peaks have one.
class ClusterFinder {
  public:
    ClusterFinder(const std::vector<PeakRecord>& peaks, Tolerance tolerance, double rtTolerance);
    // The cluster of peak i for ions of charge ±absZ (0 is taken as 1).
    MeasuredCluster cluster(size_t i, int absZ) const;

  private:
    const std::vector<PeakRecord>& peaks_;
    Tolerance tol_;
    double rtTol_;
    std::vector<uint32_t> byMz_; // peak indices in ascending m/z
    std::vector<double> mz_;     // their m/z
};

// The cluster given by the list for a peak ("isotopes" pairs): offsets from the peak's m/z;
// the peak itself is offset 0 when the pairs lack it.
MeasuredCluster clusterFromPairs(const PeakRecord& peak, int absZ);

// Outcome of building the ion of a hit.
enum class IonFormula { Ok, Unreadable, Impossible };

// The ion's atoms: n times the formula, plus and minus the parts. Impossible when an atom
// count goes below zero or nothing is left.
IonFormula ionComposition(const tvchem::Formula& molecule, const Ion& ion, tvchem::Formula& out);
// The same test without building the composition.
bool ionCanForm(const tvchem::Formula& molecule, const Ion& ion);

struct IonDistribution {
    std::vector<ClusterPeak> peaks; // m/z ascending, strongest 100
};

// Distributions of ions, computed once per composition and charge.
class DistributionCache {
  public:
    DistributionCache();
    ~DistributionCache();
    // Null when the host's distribution fails for this composition.
    const IonDistribution* get(const tvchem::Formula& composition, int charge);
    size_t size() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

struct IsotopeScore {
    double rms;
    double cosine;
};

// Both scores of a calculated distribution against a measured cluster; theoreticalMz is
// the ion's monoisotopic m/z (offset 0).
IsotopeScore scoreCluster(const IonDistribution& calc, const MeasuredCluster& measured,
                          double theoreticalMz, int absZ);

// The cosine alone, per nominal offset (for tests and callers with their own vectors).
double cosineByOffset(const std::vector<double>& a, const std::vector<double>& b);

} // namespace tvsearch
