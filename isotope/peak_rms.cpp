// Peak comparison: order of the records and the root-mean-square deviation.
#include "peak_rms.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

// Less-than of SortPeaks: SortPeakFnct's order, records that are not a number last.
bool PeakBefore(const TPeak& a, const TPeak& b) {
    const bool aNan = std::isnan(a.Prob), bNan = std::isnan(b.Prob);
    if (aNan || bNan) return !aNan && bNan;
    return SortPeakFnct(&a, &b) < 0;
}

} // namespace

int SortPeakFnct(const void* a, const void* b) {
    const double pa = static_cast<const TPeak*>(a)->Prob;
    const double pb = static_cast<const TPeak*>(b)->Prob;
    if (pb > pa) return 1;
    if (pa > pb) return -1;
    return 0;
}

void SortPeaks(TPeak* peaks, int count) {
    // Not qsort: with values that are not a number SortPeakFnct is no ordering, which qsort
    // does not allow.
    if (peaks && count > 1) std::stable_sort(peaks, peaks + count, PeakBefore);
}

double PeakRms(const TPeak* calc, int nCalc, TPeak* exp, int nExp) {
    if (!calc) nCalc = 0;
    if (!exp) nExp = 0;
    nCalc = std::max(nCalc, 0);
    nExp = std::max(nExp, 0);
    SortPeaks(exp, nExp);
    if (nExp > 0) {
        const double scale = 100.0 / exp[0].Prob;
        for (int j = 0; j < nExp; ++j)
            exp[j].Prob *= scale;
    }
    const int m = std::min(nCalc, nExp);
    double sum = 0.0;
    for (int i = 0; i < m; ++i) {
        double best = DBL_MAX;
        int chosen = -1;
        for (int j = 0; j < nExp; ++j) {
            if (exp[j].Matched) continue;
            const double dm = calc[i].Mass - exp[j].Mass;
            const double dp = calc[i].Prob - exp[j].Prob;
            const double d = dm * dm + dp * dp;
            if (d < best) {
                best = d;
                chosen = j;
            }
        }
        if (chosen >= 0) exp[chosen].Matched = true;
        sum += best;
    }
    return std::sqrt(sum / double(m));
}
