// Aggregated isotopic distribution.
//
// Method: the elements of a formula are independent, so the distribution of the molecule
// is the convolution of the distributions of its elements, and summing isotopologues per
// nominal offset commutes with that convolution. Each element's distribution (n atoms)
// is enumerated by IsoSpec from this library's isotope table; every configuration's
// nominal offset is computed exactly from the isotope mass numbers of its signature, never
// by rounding masses, so accumulated mass defects of large molecules cannot put a
// configuration into the wrong peak. Per offset we carry the probability P and the
// first moment D = sum of prob x (mass - reference mass); the element aggregates are then
// convolved (P and D together) into the molecule's aggregate, whose peaks sit at
// monoisotopic mass + D/P. This costs a few hundred configurations per element instead
// of the millions of fine-structure isotopologues of a protein.
//
// An element with many isotopes and many atoms (Sn1000) would have too many
// configurations for one enumeration; its atoms are then taken in chunks of a size whose
// enumeration stays small, and the chunk aggregates are combined by convolution.
#include "isodist.h"

#include "elements.h"

#include <isoSpec++.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <new>
#include <stdexcept>

namespace tvchem {
namespace {

// IsoSpec keeps configurations down to this fraction of the element's most probable one.
constexpr double kConfThreshold = 1e-14;
// Bins weaker than this fraction of the strongest are cut from the tails after convolution.
constexpr double kTrim = 1e-16;
// Upper estimate of configurations allowed in one IsoSpec enumeration.
constexpr double kMaxConfs = 50000;

struct Aggregate {
    long lo = 0;           // nominal offset of bin 0, relative to the reference isotopes
    std::vector<double> p; // probability per offset
    std::vector<double> d; // sum of prob x (mass - reference mass) per offset
};

Aggregate unit() {
    return {0, {1.0}, {0.0}};
}

void trim(Aggregate& a) {
    double pmax = *std::max_element(a.p.begin(), a.p.end());
    double cut = pmax * kTrim;
    size_t b = 0, e = a.p.size();
    while (b + 1 < e && !(a.p[b] >= cut))
        ++b;
    while (e > b + 1 && !(a.p[e - 1] >= cut))
        --e;
    a.p.erase(a.p.begin() + e, a.p.end());
    a.d.erase(a.d.begin() + e, a.d.end());
    a.p.erase(a.p.begin(), a.p.begin() + b);
    a.d.erase(a.d.begin(), a.d.begin() + b);
    a.lo += static_cast<long>(b);
}

Aggregate convolve(const Aggregate& a, const Aggregate& b) {
    Aggregate r;
    r.lo = a.lo + b.lo;
    size_t n = a.p.size() + b.p.size() - 1;
    r.p.assign(n, 0.0);
    r.d.assign(n, 0.0);
    for (size_t i = 0; i < a.p.size(); ++i) {
        const double pa = a.p[i], da = a.d[i];
        for (size_t j = 0; j < b.p.size(); ++j) {
            r.p[i + j] += pa * b.p[j];
            r.d[i + j] += da * b.p[j] + pa * b.d[j];
        }
    }
    trim(r);
    return r;
}

Aggregate power(Aggregate base, long q) {
    Aggregate r = unit();
    while (q > 0) {
        if (q & 1) r = convolve(r, base);
        q >>= 1;
        if (q > 0) base = convolve(base, base);
    }
    return r;
}

size_t referenceIndex(const Element& e) {
    return static_cast<size_t>(&mostAbundantIsotope(e) - e.isotopes.data());
}

double logBinomPmf(long n, long x, double lp, double lq) {
    return std::lgamma(n + 1.0) - std::lgamma(x + 1.0) - std::lgamma(n - x + 1.0) + x * lp +
           (n - x) * lq;
}

// Number of counts x of one isotope whose binomial probability lies within lnRel of the
// marginal's maximum.
double binomialWidth(long n, double p, double lnRel) {
    const double lp = std::log(p), lq = std::log1p(-p);
    long mode = std::min(n, static_cast<long>(std::floor((n + 1) * p)));
    double top = logBinomPmf(n, mode, lp, lq);
    long hi = mode, lo = mode;
    while (hi < n && logBinomPmf(n, hi + 1, lp, lq) - top >= lnRel)
        ++hi;
    while (lo > 0 && logBinomPmf(n, lo - 1, lp, lq) - top >= lnRel)
        --lo;
    return static_cast<double>(hi - lo + 1);
}

// Generous estimate of the configurations IsoSpec enumerates for n atoms: the box spanned
// by the plausible counts of each minor isotope, at most the number of all compositions.
double estimateConfs(const Element& e, long n) {
    const size_t k = e.isotopes.size();
    double all = std::exp(std::lgamma(n + k) - std::lgamma(n + 1.0) - std::lgamma(double(k)));
    const double lnRel = std::log(kConfThreshold) - 2.0 * std::log(double(k));
    const size_t ref = referenceIndex(e);
    double box = 1.0;
    for (size_t i = 0; i < k && box <= all; ++i)
        if (i != ref) box *= binomialWidth(n, e.isotopes[i].abundance, lnRel);
    return std::min(box, all);
}

Aggregate enumerate(const Element& e, long n) {
    const int k = static_cast<int>(e.isotopes.size());
    const size_t ref = referenceIndex(e);
    std::vector<double> masses, probs, dm;
    std::vector<long> dnom;
    for (const Isotope& iso : e.isotopes) {
        masses.push_back(iso.mass);
        probs.push_back(iso.abundance);
        dm.push_back(iso.mass - e.isotopes[ref].mass);
        dnom.push_back(iso.massNumber - e.isotopes[ref].massNumber);
    }
    int dims = k;
    int count = static_cast<int>(n);
    IsoSpec::IsoThresholdGenerator gen{IsoSpec::Iso(1, &dims, &count, masses.data(), probs.data()),
                                       kConfThreshold, false};

    struct Conf {
        long off;
        double p, d;
    };
    std::vector<Conf> confs;
    std::vector<int> sig(k);
    long lo = 0, hi = 0;
    while (gen.advanceToNextConfiguration()) {
        gen.get_conf_signature(sig.data());
        long off = 0;
        double delta = 0.0;
        for (int i = 0; i < k; ++i) {
            off += sig[i] * dnom[i];
            delta += sig[i] * dm[i];
        }
        const double p = gen.prob();
        if (confs.empty()) lo = hi = off;
        lo = std::min(lo, off);
        hi = std::max(hi, off);
        confs.push_back({off, p, p * delta});
    }
    if (confs.empty()) throw std::runtime_error("no isotopologue enumerated");
    Aggregate a;
    a.lo = lo;
    a.p.assign(static_cast<size_t>(hi - lo + 1), 0.0);
    a.d.assign(a.p.size(), 0.0);
    for (const Conf& c : confs) {
        a.p[static_cast<size_t>(c.off - lo)] += c.p;
        a.d[static_cast<size_t>(c.off - lo)] += c.d;
    }
    trim(a);
    return a;
}

Aggregate elementAggregate(const Element& e, long n) {
    if (e.isotopes.size() == 1) return unit();
    // Largest chunk whose enumeration stays within the budget (the estimate grows with n).
    long chunk = n;
    if (estimateConfs(e, n) > kMaxConfs) {
        long good = 1, bad = n;
        while (bad - good > 1) {
            long mid = good + (bad - good) / 2;
            (estimateConfs(e, mid) <= kMaxConfs ? good : bad) = mid;
        }
        chunk = good;
    }
    if (chunk >= n) return enumerate(e, n);
    Aggregate r = power(enumerate(e, chunk), n / chunk);
    if (n % chunk) r = convolve(r, enumerate(e, n % chunk));
    return r;
}

IsoDistResult fail(int code, std::string why) {
    IsoDistResult r;
    r.code = code;
    r.error = std::move(why);
    return r;
}

// elementAggregate, or a cache of it.
using AggregateSource = const Aggregate& (*)(void* context, const Element& e, long n);

IsoDistResult compute(const Formula& formula, double minIntensity, AggregateSource source = nullptr,
                      void* context = nullptr) {
    if (formula.counts.empty()) return fail(kIsoDistNoFormula, "no formula");
    long total = 0;
    for (const auto& [sym, n] : formula.counts) {
        if (n <= 0) return fail(kIsoDistParseError, "invalid count for '" + sym + "'");
        if (!findElement(sym))
            return fail(kIsoDistParseError, "unknown element symbol '" + sym + "'");
        total += std::min(n, kMaxAtoms + 1);
    }
    if (total > kMaxAtoms)
        return fail(kIsoDistTooLarge, "refused: " + std::to_string(formula.atomCount()) +
                                          " atoms, limit " + std::to_string(kMaxAtoms));

    Aggregate acc = unit();
    for (const auto& [sym, n] : formula.counts) {
        const Element& e = *findElement(sym);
        acc = source ? convolve(acc, source(context, e, n)) : convolve(acc, elementAggregate(e, n));
    }
    const double mono = monoisotopicMass(formula);

    const double pmax = *std::max_element(acc.p.begin(), acc.p.end());
    if (!(pmax > 0.0) || !std::isfinite(pmax) || !std::isfinite(mono))
        return fail(kIsoDistFailed, "computation failed");
    IsoDistResult r;
    for (size_t i = 0; i < acc.p.size(); ++i) {
        if (!(acc.p[i] > 0.0)) continue;
        const double intensity = 100.0 * acc.p[i] / pmax;
        if (intensity < minIntensity) continue;
        r.peaks.push_back({mono + acc.d[i] / acc.p[i], intensity});
    }
    std::sort(r.peaks.begin(), r.peaks.end(),
              [](const Peak& a, const Peak& b) { return a.mass < b.mass; });
    return r;
}

template <typename F> IsoDistResult guarded(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return fail(kIsoDistFailed, "out of memory");
    } catch (const std::exception& e) {
        return fail(kIsoDistFailed, std::string("computation failed: ") + e.what());
    } catch (...) {
        return fail(kIsoDistFailed, "computation failed");
    }
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

struct IsoDistCalculator::Impl {
    std::map<std::pair<const Element*, long>, Aggregate> aggregates;

    static const Aggregate& get(void* self, const Element& e, long n) {
        auto& cache = static_cast<Impl*>(self)->aggregates;
        auto it = cache.find({&e, n});
        if (it != cache.end()) return it->second;
        if (cache.size() >= kMaxCachedAggregates) cache.clear();
        return cache.emplace(std::make_pair(&e, n), elementAggregate(e, n)).first->second;
    }
    static constexpr size_t kMaxCachedAggregates = 100000;
};

IsoDistCalculator::IsoDistCalculator() : impl_(std::make_unique<Impl>()) {}
IsoDistCalculator::~IsoDistCalculator() = default;

IsoDistResult IsoDistCalculator::compute(const Formula& formula, double minIntensity) {
    return guarded([&] { return tvchem::compute(formula, minIntensity, &Impl::get, impl_.get()); });
}

IsoDistResult isotopicDistribution(const Formula& formula, double minIntensity) {
    return guarded([&] { return compute(formula, minIntensity); });
}

IsoDistResult isotopicDistribution(std::string_view formulaText, double minIntensity) {
    return guarded([&] {
        FormulaResult f = parseFormula(formulaText);
        if (!f.ok) {
            bool blank = std::all_of(formulaText.begin(), formulaText.end(), isBlank);
            if (blank) return fail(kIsoDistNoFormula, "no formula");
            return fail(f.tooLarge ? kIsoDistTooLarge : kIsoDistParseError, f.error);
        }
        return compute(f.formula, minIntensity);
    });
}

std::string formatPeaks(const std::vector<Peak>& peaks) {
    std::string out;
    out.reserve(peaks.size() * 24);
    char buf[64];
    for (const Peak& p : peaks) {
        auto r = std::to_chars(buf, buf + sizeof buf, p.mass, std::chars_format::fixed, 6);
        *r.ptr++ = ' ';
        r = std::to_chars(r.ptr, buf + sizeof buf - 1, p.intensity, std::chars_format::fixed, 6);
        *r.ptr++ = '\n';
        out.append(buf, r.ptr);
    }
    return out;
}

CommandResult isoDistCommand(const std::string& args) {
    try {
        std::string_view a(args);
        while (!a.empty() && isBlank(a.front()))
            a.remove_prefix(1);
        while (!a.empty() && isBlank(a.back()))
            a.remove_suffix(1);
        // A formula sent in double quotes is taken without them.
        if (a.size() >= 2 && a.front() == '"' && a.back() == '"') a = a.substr(1, a.size() - 2);
        if (a.empty()) return CommandResult::fail(kIsoDistNoFormula, "no formula");
        IsoDistResult r = isotopicDistribution(a);
        if (r.code != kIsoDistOk) return CommandResult::fail(r.code, r.error);
        return CommandResult::ok(formatPeaks(r.peaks));
    } catch (...) {
        return CommandResult::fail(kIsoDistFailed, "computation failed");
    }
}

} // namespace tvchem
