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

bool HitRanker::canForm(uint32_t formula, const Molecule& m, uint32_t ion) {
    const size_t k = size_t(formula) * ions_.size() + ion;
    if (canForm_.size() <= k) canForm_.resize(std::max(k + 1, store_.formulaCount() * ions_.size()));
    if (canForm_[k] == 0) canForm_[k] = ionCanForm(m.formula, ions_[ion]) ? 1 : 2;
    return canForm_[k] == 1;
}

const IonDistribution* HitRanker::distribution(uint32_t formula, uint32_t ion) {
    // The slots of a formula's ions are taken when the first of them is asked for.
    static const IonDistribution notYet;
    if (distSlots_.size() <= formula) distSlots_.resize(store_.formulaCount(), UINT32_MAX);
    uint32_t& first = distSlots_[formula];
    if (first == UINT32_MAX) {
        first = uint32_t(dists_.size());
        dists_.resize(dists_.size() + ions_.size(), &notYet);
    }
    const IonDistribution*& d = dists_[first + ion];
    if (d != &notYet) return d;
    tvchem::Formula composition;
    d = nullptr;
    if (ionComposition(molecule(formula).formula, ions_[ion], composition) == IonFormula::Ok)
        d = cache_.get(composition, ions_[ion].charge);
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

void HitRanker::rank(uint32_t p, const HitList& hits, const uint32_t* first,
                     const uint32_t* last, size_t top, std::vector<RankedHit>& out,
                     std::vector<char>& ionHasHit) {
    out.clear();
    clusters_.clear();
    scores_.clear();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const PeakRecord& peak = list_.peaks[p];
    // The hits of one window come in ascending mass, so the isomers of a formula follow each
    // other: the score of the last formula and ion is kept at hand.
    uint64_t lastKey = UINT64_MAX;
    IsotopeScore lastScore{nan, nan};
    for (const uint32_t* k = first; k != last; ++k) {
        const Hit& h = hits[*k];
        const HitStore::Row& row = store_.row(h.row);
        const Molecule& mol = molecule(row.formula);
        const Ion& ion = ions_[h.ion];
        if (mol.state == 1 && !canForm(row.formula, mol, h.ion)) {
            ++impossible; // e.g. [M+H-H2O]+ of a formula without oxygen
            continue;
        }
        const double theo = ion.mz(row.mass);
        RankedHit r{*k, h.ion, row.idKey, deltaPpm(peak.mz, theo), nan, nan, -1, 0};
        r.order = std::round(std::fabs(r.dppm) * 1e6);
        if (mol.state == 2) ++unreadable;
        if (mol.state == 1 && scoreIsotopes_) {
            const MeasuredCluster& m = cluster(p, ion.absCharge());
            if (!m.empty()) {
                // The score is the same for every isomer of the formula.
                const uint64_t key = uint64_t(row.formula) * ions_.size() + h.ion;
                if (key != lastKey) {
                    auto it = scores_.find(key);
                    if (it == scores_.end()) {
                        const IonDistribution* d = distribution(row.formula, h.ion);
                        it = scores_.emplace(key, d ? scoreCluster(*d, m, theo, ion.absCharge())
                                                    : IsotopeScore{nan, nan}).first;
                    }
                    lastKey = key;
                    lastScore = it->second;
                }
                if (std::isfinite(lastScore.cosine)) {
                    r.rms = lastScore.rms;
                    r.cosine = lastScore.cosine;
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
    const size_t keep = top > 0 && out.size() > top ? top : out.size();
    orderRankedHits(out, keep, [&](uint32_t hit) { return store_.id(store_.row(hits[hit].row)); },
                    keys_, sorted_);
}

} // namespace tvsearch
