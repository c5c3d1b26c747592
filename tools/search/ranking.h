#pragma once
// Ranking the hits of one peak: the ion of each hit is built from the hit's formula (a hit
// whose ion cannot form is left out), scored against the peak's isotope cluster, and the
// hits are ordered by the cosine as written, to 3 decimals (best first; hits without a
// score after those with one), then |Δppm| (to 1e-6 ppm), then the order of the ions, then
// the ID. The cosine of small molecules is near 1 for any plausible formula, and differences
// below 0.001 are measurement noise: they must not outrank the mass error.
//
// Isomers share a formula, so the ion of a formula is built once per run and its score once
// per peak.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "adduct.h"
#include "isotope_score.h"
#include "mass_search.h"
#include "peak_list.h"

namespace tvsearch {

struct RankedHit {
    uint32_t hit;
    double dppm, rms, cosine; // rms and cosine NaN without a cluster
    double rank;              // the cosine in thousandths, rounded; -1 without a score
    double order;             // |Δppm| in units of 1e-6 ppm, rounded
};

class HitRanker {
  public:
    HitRanker(const PeakList& list, const std::vector<Ion>& ions, const HitStore& store,
              const Tolerance& tol, double rtTolerance, bool scoreIsotopes);

    // Ranks the hits hits[*k] of peak p, k in [first, last); out is replaced by the best top
    // of them (0: all). ionHasHit[i] is set for every ion that kept a hit.
    void rank(uint32_t p, const std::vector<Hit>& hits, const uint32_t* first,
              const uint32_t* last, size_t top, std::vector<RankedHit>& out,
              std::vector<char>& ionHasHit);

    long impossible = 0;     // hits left out: the ion cannot form from the formula
    long unreadable = 0;     // hits whose formula does not parse (kept, no score)
    long noDistribution = 0; // hits whose ion has no distribution (kept, no score)
    long scored = 0;         // hits with both scores
    size_t distributions() const { return cache_.size(); }

  private:
    struct Molecule {
        int8_t state = 0; // 0 not read yet, 1 read, 2 does not parse
        tvchem::Formula formula;
    };
    const Molecule& molecule(uint32_t formula);
    // The distribution of the ion of a formula (null: the host's distribution failed).
    const IonDistribution* distribution(uint32_t formula, uint32_t ion);
    const MeasuredCluster& cluster(uint32_t p, int absZ);

    const PeakList& list_;
    const std::vector<Ion>& ions_;
    const HitStore& store_;
    bool scoreIsotopes_;
    ClusterFinder finder_;
    DistributionCache cache_;
    std::vector<Molecule> molecules_;                             // by formula index
    std::unordered_map<uint64_t, const IonDistribution*> dists_; // formula x ion
    std::vector<std::pair<int, MeasuredCluster>> clusters_; // of the current peak, by |z|
    std::unordered_map<uint64_t, IsotopeScore> scores_;     // of the current peak
};

} // namespace tvsearch
