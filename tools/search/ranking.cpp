// Hit ranking of one peak.
#include "ranking.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tvsearch {

HitRanker::HitRanker(const PeakList& list, const std::vector<Ion>& ions, const HitStore& store,
                     const Tolerance& tol, double rtTolerance, bool scoreIsotopes)
    : list_(list), ions_(ions), store_(store), scoreIsotopes_(scoreIsotopes),
      finder_(list.peaks, tol, rtTolerance) {}

HitRanker::Pair& HitRanker::pair(uint32_t formula, uint32_t ion) {
    const uint64_t key = uint64_t(formula) * ions_.size() + ion;
    auto it = pairs_.find(key);
    if (it != pairs_.end()) return it->second;
    Pair p{0, false, nullptr, {}};
    tvchem::FormulaResult f = tvchem::parseFormula(store_.formulas()[formula]);
    if (!f.ok)
        p.state = 2;
    else if (ionComposition(f.formula, ions_[ion], p.composition) == IonFormula::Impossible)
        p.state = 1;
    return pairs_.emplace(key, std::move(p)).first->second;
}

const MeasuredCluster& HitRanker::cluster(uint32_t p, int absZ) {
    for (const auto& c : clusters_)
        if (c.first == absZ) return c.second;
    const PeakRecord& peak = list_.peaks[p];
    MeasuredCluster m;
    if (peak.hasIsotopes)
        m = clusterFromPairs(peak, absZ);
    else if (!list_.hasIsotopes) // a list with an isotopes column gives every cluster
        m = finder_.cluster(p, absZ);
    clusters_.emplace_back(absZ, std::move(m));
    return clusters_.back().second;
}

void HitRanker::rank(uint32_t p, const std::vector<Hit>& hits, const uint32_t* first,
                     const uint32_t* last, std::vector<RankedHit>& out,
                     std::vector<char>& ionHasHit) {
    out.clear();
    clusters_.clear();
    scores_.clear();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const PeakRecord& peak = list_.peaks[p];
    for (const uint32_t* k = first; k != last; ++k) {
        const Hit& h = hits[*k];
        const HitStore::Row& row = store_.row(h.row);
        Pair& pr = pair(row.formula, h.ion);
        if (pr.state == 1) {
            ++impossible; // e.g. [M+H-H2O]+ of a formula without oxygen
            continue;
        }
        RankedHit r{*k, deltaPpm(peak.mz, h.theoreticalMz), nan, nan, 0};
        r.order = std::round(std::fabs(r.dppm) * 1e6);
        if (pr.state == 2) ++unreadable;
        if (pr.state == 0 && scoreIsotopes_) {
            const Ion& ion = ions_[h.ion];
            const MeasuredCluster& m = cluster(p, ion.absCharge());
            if (!m.empty() && !pr.computed) {
                pr.dist = cache_.get(pr.composition, ion.charge);
                pr.computed = true;
            }
            if (!m.empty() && !pr.dist) ++noDistribution;
            if (!m.empty() && pr.dist) {
                // The theoretical m/z is the same for every isomer of the formula.
                const uint64_t key = uint64_t(row.formula) * ions_.size() + h.ion;
                auto it = scores_.find(key);
                if (it == scores_.end())
                    it = scores_.emplace(key, scoreCluster(*pr.dist, m, h.theoreticalMz,
                                                           ion.absCharge())).first;
                r.rms = it->second.rms;
                r.cosine = it->second.cosine;
                ++scored;
            }
        }
        ionHasHit[h.ion] = 1;
        out.push_back(r);
    }
    std::sort(out.begin(), out.end(), [&](const RankedHit& a, const RankedHit& b) {
        const bool sa = std::isfinite(a.cosine), sb = std::isfinite(b.cosine);
        if (sa != sb) return sa;
        if (sa && a.cosine != b.cosine) return a.cosine > b.cosine;
        // |Δppm| to 1e-6 ppm, so that rounding noise between equal ion formulas reached by
        // different ions ([M+H]+ of C6H12O6, [M+CH3OH+H]+ of C5H8O5) leaves the ion order.
        if (a.order != b.order) return a.order < b.order;
        const Hit &ha = hits[a.hit], &hb = hits[b.hit];
        if (ha.ion != hb.ion) return ha.ion < hb.ion;
        const HitStore::Row &ra = store_.row(ha.row), &rb = store_.row(hb.row);
        if (ra.idKey != rb.idKey) return ra.idKey < rb.idKey;
        return store_.id(ra) < store_.id(rb);
    });
}

} // namespace tvsearch
