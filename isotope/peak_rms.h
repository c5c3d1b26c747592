#pragma once
// The comparison of a calculated and an experimental peak list: the records, their order and
// the root-mean-square deviation shown as the isotope chart's title. Plain C++ without Qt, so
// the host's tools compute the same figure as the dialog.

// One peak as the comparison uses it.
struct TPeak {
    bool Matched; // paired during a comparison
    double Mass;  // x of the top point
    double Prob;  // y of the top point
};

// qsort comparator over TPeak: 1 when b is more probable than a, -1 when a is more probable
// than b, 0 otherwise (equal, or either probability not a number).
int SortPeakFnct(const void* a, const void* b);

// Sorts by descending probability with SortPeakFnct's order; records whose probability is
// not a number go last. Stable: equal probabilities keep their order.
void SortPeaks(TPeak* peaks, int count);

// Root-mean-square deviation between calculated and experimental peaks. The experimental
// records are sorted (SortPeaks), scaled so that the strongest is 100, and marked as they
// are paired: each of the first m = min(nCalc, nExp) calculated peaks, in their order, takes
// the nearest unmatched experimental peak (squared mass difference plus squared probability
// difference; ties go to the stronger peak). m = 0 gives a value that is not a number.
double PeakRms(const TPeak* calc, int nCalc, TPeak* exp, int nExp);
