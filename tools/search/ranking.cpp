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

const HitRanker::Molecule& HitRanker::molecule(uint32_t formula) {
    if (molecules_.size() <= formula) molecules_.resize(store_.formulaCount());
    Molecule& m = molecules_[formula];
    if (m.state == 0) {
        tvchem::FormulaResult f = tvchem::parseFormula(store_.formulaText(formula));
        m.state = f.ok ? 1 : 2;
        if (f.ok) m.formula = std::move(f.formula);
    }
    return m;
}

const IonDistribution* HitRanker::distribution(uint32_t formula, uint32_t ion) {
    const uint64_t key = uint64_t(formula) * ions_.size() + ion;
    auto it = dists_.find(key);
    if (it != dists_.end()) return it->second;
    tvchem::Formula composition;
    const IonDistribution* d = nullptr;
    if (ionComposition(molecule(formula).formula, ions_[ion], composition) == IonFormula::Ok)
        d = cache_.get(composition, ions_[ion].charge);
    dists_.emplace(key, d);
    return d;
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
                     const uint32_t* last, size_t top, std::vector<RankedHit>& out,
                     std::vector<char>& ionHasHit) {
    out.clear();
    clusters_.clear();
    scores_.clear();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const PeakRecord& peak = list_.peaks[p];
    for (const uint32_t* k = first; k != last; ++k) {
        const Hit& h = hits[*k];
        const HitStore::Row& row = store_.row(h.row);
        const Molecule& mol = molecule(row.formula);
        const Ion& ion = ions_[h.ion];
        if (mol.state == 1 && !ionCanForm(mol.formula, ion)) {
            ++impossible; // e.g. [M+H-H2O]+ of a formula without oxygen
            continue;
        }
        RankedHit r{*k, deltaPpm(peak.mz, h.theoreticalMz), nan, nan, -1, 0};
        r.order = std::round(std::fabs(r.dppm) * 1e6);
        if (mol.state == 2) ++unreadable;
        if (mol.state == 1 && scoreIsotopes_) {
            const MeasuredCluster& m = cluster(p, ion.absCharge());
            if (!m.empty()) {
                // The score is the same for every isomer of the formula.
                const uint64_t key = uint64_t(row.formula) * ions_.size() + h.ion;
                auto it = scores_.find(key);
                if (it == scores_.end()) {
                    const IonDistribution* d = distribution(row.formula, h.ion);
                    const double nanScore = std::numeric_limits<double>::quiet_NaN();
                    it = scores_.emplace(key, d ? scoreCluster(*d, m, h.theoreticalMz, ion.absCharge())
                                                : IsotopeScore{nanScore, nanScore}).first;
                }
                if (std::isfinite(it->second.cosine)) {
                    r.rms = it->second.rms;
                    r.cosine = it->second.cosine;
                    r.rank = std::round(r.cosine * 1000);
                    ++scored;
                } else {
                    ++noDistribution;
                }
            }
        }
        ionHasHit[h.ion] = 1;
        out.push_back(r);
    }
    auto before = [&](const RankedHit& a, const RankedHit& b) {
        if (a.rank != b.rank) return a.rank > b.rank; // no score (-1) last
        // |Δppm| to 1e-6 ppm, so that rounding noise between equal ion formulas reached by
        // different ions ([M+H]+ of C6H12O6, [M+CH3OH+H]+ of C5H8O5) leaves the ion order.
        if (a.order != b.order) return a.order < b.order;
        const Hit &ha = hits[a.hit], &hb = hits[b.hit];
        if (ha.ion != hb.ion) return ha.ion < hb.ion;
        const HitStore::Row &ra = store_.row(ha.row), &rb = store_.row(hb.row);
        if (ra.idKey != rb.idKey) return ra.idKey < rb.idKey;
        return store_.id(ra) < store_.id(rb);
    };
    if (top > 0 && out.size() > top) {
        std::partial_sort(out.begin(), out.begin() + long(top), out.end(), before);
        out.resize(top);
    } else {
        std::sort(out.begin(), out.end(), before);
    }
}

} // namespace tvsearch
