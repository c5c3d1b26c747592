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
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "adduct.h"
#include "isotope_score.h"
#include "mass_search.h"
#include "peak_list.h"

namespace tvsearch {

struct RankedHit {
    uint32_t hit;
    uint32_t ion;             // the hit's ion and the ID as a number (HitStore::Row::idKey),
    long long idKey;          // copied here for the ordering
    double dppm, rms, cosine; // rms and cosine NaN without a cluster
    double rank;              // the cosine in thousandths, rounded; -1 without a score
    double order;             // |Δppm| in units of 1e-6 ppm, rounded
};

struct RankedKey {
    uint64_t key; // score code, |Δppm| and ion packed (orderRankedHits)
    long long idKey;
    uint32_t at; // in the hits being ordered
};

// Orders ranked hits best first (the order above; hits that agree in all of it, a repeated
// ID, by their hit index) and keeps the best keep of them. idOf(hit) is the ID text of a hit.
// Where the values fit, the score code, |Δppm| and the ion are packed into one number,
// which sorts much faster; packed = false orders by the plain comparison (for tests).
template <typename IdOf>
void orderRankedHits(std::vector<RankedHit>& out, size_t keep, IdOf idOf,
                     std::vector<RankedKey>& keys, std::vector<RankedHit>& scratch,
                     bool packed = true) {
    keep = std::min(keep, out.size());
    keys.clear();
    packed = packed && out.size() < (size_t(1) << 32);
    for (size_t i = 0; i < out.size() && packed; ++i) {
        const RankedHit& r = out[i];
        packed = r.ion < 4096 && r.rank >= -1 && r.rank <= 1000 && r.rank == std::floor(r.rank) &&
                 r.order >= 0 && r.order < 4398046511104.0 && r.order == std::floor(r.order);
        if (packed)
            keys.push_back({(uint64_t(1000 - r.rank) << 54) | (uint64_t(r.order) << 12) | r.ion,
                            r.idKey, uint32_t(i)});
    }
    if (!packed) {
        auto before = [&](const RankedHit& a, const RankedHit& b) {
            if (a.rank != b.rank) return a.rank > b.rank; // no score (-1) last
            // |Δppm| to 1e-6 ppm, so that rounding noise between equal ion formulas reached
            // by different ions ([M+H]+ of C6H12O6, [M+CH3OH+H]+ of C5H8O5) leaves the ion
            // order.
            if (a.order != b.order) return a.order < b.order;
            if (a.ion != b.ion) return a.ion < b.ion;
            if (a.idKey != b.idKey) return a.idKey < b.idKey;
            const std::string_view ia = idOf(a.hit), ib = idOf(b.hit);
            if (ia != ib) return ia < ib;
            return a.hit < b.hit;
        };
        std::partial_sort(out.begin(), out.begin() + long(keep), out.end(), before);
        out.resize(keep);
        return;
    }
    auto before = [&](const RankedKey& a, const RankedKey& b) {
        if (a.key != b.key) return a.key < b.key;
        if (a.idKey != b.idKey) return a.idKey < b.idKey;
        const std::string_view ia = idOf(out[a.at].hit), ib = idOf(out[b.at].hit);
        if (ia != ib) return ia < ib;
        return out[a.at].hit < out[b.at].hit;
    };
    if (keep < keys.size())
        std::partial_sort(keys.begin(), keys.begin() + long(keep), keys.end(), before);
    else
        std::sort(keys.begin(), keys.end(), before);
    scratch.clear();
    for (size_t i = 0; i < keep; ++i)
        scratch.push_back(out[keys[i].at]);
    out.swap(scratch);
}

class HitRanker {
  public:
    HitRanker(const PeakList& list, const std::vector<Ion>& ions, const HitStore& store,
              const Tolerance& tol, double rtTolerance, bool scoreIsotopes);

    // Ranks the hits hits[*k] of peak p, k in [first, last); out is replaced by the best top
    // of them (0: all). ionHasHit[i] is set for every ion that kept a hit.
    void rank(uint32_t p, const HitList& hits, const uint32_t* first,
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
    // Whether the ion can form from the formula (which parses), kept per formula and ion.
    bool canForm(uint32_t formula, const Molecule& m, uint32_t ion);
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
    std::vector<int8_t> canForm_; // formula x ion: 0 not known yet, 1 can form, 2 cannot
    // The distribution of each ion of a formula: dists_[distSlots_[formula] + ion].
    std::vector<uint32_t> distSlots_;
    std::vector<const IonDistribution*> dists_;
    std::vector<std::pair<int, MeasuredCluster>> clusters_; // of the current peak, by |z|
    std::unordered_map<uint64_t, IsotopeScore> scores_;     // of the current peak
    std::vector<RankedKey> keys_;
    std::vector<RankedHit> sorted_;
};

} // namespace tvsearch
