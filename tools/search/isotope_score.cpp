// Measured clusters, ion compositions, their distributions and the two scores.
#include "isotope_score.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "isodist.h"
#include "peak_rms.h"

namespace tvsearch {
namespace {

bool sameTime(double a, double b, double tol) {
    return !std::isfinite(a) || !std::isfinite(b) || std::fabs(a - b) <= tol;
}

bool usable(double intensity) {
    return std::isfinite(intensity) && intensity > 0;
}

// Builds the cluster's two views from intensity and weighted m/z sums per offset.
MeasuredCluster fromOffsets(std::vector<double> sum, const std::vector<double>& mzSum) {
    MeasuredCluster c;
    while (!sum.empty() && !(sum.back() > 0))
        sum.pop_back();
    for (size_t k = 0; k < sum.size(); ++k)
        if (sum[k] > 0) c.peaks.push_back({mzSum[k] / sum[k], sum[k]});
    if (c.peaks.size() < 2) return {};
    c.byOffset = std::move(sum);
    return c;
}

} // namespace

ClusterFinder::ClusterFinder(const std::vector<PeakRecord>& peaks, Tolerance tolerance,
                             double rtTolerance)
    : peaks_(peaks), tol_(tolerance), rtTol_(rtTolerance) {
    byMz_.resize(peaks.size());
    for (size_t i = 0; i < peaks.size(); ++i)
        byMz_[i] = uint32_t(i);
    std::sort(byMz_.begin(), byMz_.end(),
              [&](uint32_t a, uint32_t b) { return peaks[a].mz < peaks[b].mz; });
    mz_.reserve(peaks.size());
    for (uint32_t i : byMz_)
        mz_.push_back(peaks[i].mz);
}

MeasuredCluster ClusterFinder::cluster(size_t i, int absZ) const {
    const PeakRecord& p = peaks_[i];
    if (!usable(p.intensity)) return {};
    const double z = absZ < 1 ? 1.0 : double(absZ);
    std::vector<double> sum{p.intensity}, mzSum{p.intensity * p.mz};
    int missing = 0;
    for (int k = 1; k <= kMaxClusterOffset; ++k) {
        const double expected = p.mz + k * kIsotopeSpacing / z;
        const double slack = tol_.halfWidth(expected);
        const double lo = p.mz + k * (kIsotopeSpacing - kSpacingBelow) / z - slack;
        const double hi = p.mz + k * (kIsotopeSpacing + kSpacingAbove) / z + slack;
        double s = 0, ms = 0;
        for (size_t j = size_t(std::lower_bound(mz_.begin(), mz_.end(), lo) - mz_.begin());
             j < mz_.size() && mz_[j] <= hi; ++j) {
            const PeakRecord& q = peaks_[byMz_[j]];
            if (byMz_[j] == i || !usable(q.intensity) || !sameTime(p.rt, q.rt, rtTol_)) continue;
            s += q.intensity;
            ms += q.intensity * q.mz;
        }
        sum.push_back(s);
        mzSum.push_back(ms);
        missing = s > 0 ? 0 : missing + 1;
        if (missing == 2) break;
    }
    return fromOffsets(std::move(sum), mzSum);
}

MeasuredCluster clusterFromPairs(const PeakRecord& peak, int absZ) {
    const double z = absZ < 1 ? 1.0 : double(absZ);
    std::vector<double> sum, mzSum;
    for (const ClusterPeak& c : peak.isotopes) {
        const long k = std::lround((c.mz - peak.mz) * z / kIsotopeSpacing);
        if (k < 0 || k > 2 * kMaxClusterOffset || !usable(c.intensity)) continue;
        if (sum.size() <= size_t(k)) {
            sum.resize(size_t(k) + 1, 0.0);
            mzSum.resize(size_t(k) + 1, 0.0);
        }
        sum[size_t(k)] += c.intensity;
        mzSum[size_t(k)] += c.intensity * c.mz;
    }
    if ((sum.empty() || !(sum[0] > 0)) && usable(peak.intensity)) {
        if (sum.empty()) sum.assign(1, 0.0), mzSum.assign(1, 0.0);
        sum[0] = peak.intensity;
        mzSum[0] = peak.intensity * peak.mz;
    }
    return fromOffsets(std::move(sum), mzSum);
}

IonFormula ionComposition(const tvchem::Formula& molecule, const Ion& ion, tvchem::Formula& out) {
    out.counts.clear();
    for (const auto& [sym, n] : molecule.counts)
        out.counts[sym] = n * ion.multimer;
    for (const auto& [sym, n] : ion.atoms) {
        long& c = out.counts[sym];
        c += n;
        if (c < 0) return IonFormula::Impossible;
        if (c == 0) out.counts.erase(sym);
    }
    return out.counts.empty() ? IonFormula::Impossible : IonFormula::Ok;
}

bool ionCanForm(const tvchem::Formula& molecule, const Ion& ion) {
    long total = 0;
    for (const auto& [sym, n] : molecule.counts)
        total += n * ion.multimer;
    for (const auto& [sym, n] : ion.atoms) {
        total += n;
        if (n >= 0) continue;
        auto it = molecule.counts.find(sym);
        if ((it == molecule.counts.end() ? 0 : it->second * ion.multimer) + n < 0) return false;
    }
    return total > 0;
}

struct DistributionCache::Impl {
    std::unordered_map<std::string, std::unique_ptr<IonDistribution>> cache;
    std::string key;
    tvchem::IsoDistCalculator calculator;
};

DistributionCache::DistributionCache() : impl_(std::make_unique<Impl>()) {}
DistributionCache::~DistributionCache() = default;

size_t DistributionCache::size() const {
    return impl_->cache.size();
}

const IonDistribution* DistributionCache::get(const tvchem::Formula& composition, int charge) {
    std::string& key = impl_->key;
    key.clear();
    for (const auto& [sym, n] : composition.counts) {
        key += sym;
        key += std::to_string(n);
    }
    key += '/';
    key += std::to_string(charge);
    auto it = impl_->cache.find(key);
    if (it != impl_->cache.end()) return it->second.get();

    std::unique_ptr<IonDistribution> d;
    tvchem::IsoDistResult r = impl_->calculator.compute(composition);
    if (r.code == tvchem::kIsoDistOk && !r.peaks.empty()) {
        d = std::make_unique<IonDistribution>();
        const double z = charge == 0 ? 1.0 : double(std::abs(charge));
        d->peaks.reserve(r.peaks.size());
        for (const tvchem::Peak& p : r.peaks)
            d->peaks.push_back({(p.mass - charge * kElectronMass) / z, p.intensity});
    }
    const IonDistribution* result = d.get();
    impl_->cache.emplace(key, std::move(d));
    return result;
}

double cosineByOffset(const std::vector<double>& a, const std::vector<double>& b) {
    double dot = 0, na = 0, nb = 0;
    for (size_t k = 0; k < std::max(a.size(), b.size()); ++k) {
        const double x = k < a.size() ? a[k] : 0.0, y = k < b.size() ? b[k] : 0.0;
        dot += x * y;
        na += x * x;
        nb += y * y;
    }
    if (!(na > 0) || !(nb > 0)) return 0.0;
    return dot / (std::sqrt(na) * std::sqrt(nb));
}

IsotopeScore scoreCluster(const IonDistribution& calc, const MeasuredCluster& measured,
                          double theoreticalMz, int absZ) {
    std::vector<TPeak> c, e;
    c.reserve(calc.peaks.size());
    for (const ClusterPeak& p : calc.peaks)
        c.push_back({false, p.mz, p.intensity});
    e.reserve(measured.peaks.size());
    for (const ClusterPeak& p : measured.peaks)
        e.push_back({false, p.mz, p.intensity});
    IsotopeScore s;
    s.rms = PeakRms(c.data(), int(c.size()), e.data(), int(e.size()));

    const double z = absZ < 1 ? 1.0 : double(absZ);
    std::vector<double> byOffset(measured.byOffset.size(), 0.0);
    for (const ClusterPeak& p : calc.peaks) {
        const long k = std::lround((p.mz - theoreticalMz) * z / kIsotopeSpacing);
        if (k >= 0 && size_t(k) < byOffset.size()) byOffset[size_t(k)] += p.intensity;
    }
    s.cosine = cosineByOffset(measured.byOffset, byOffset);
    return s;
}

} // namespace tvsearch
