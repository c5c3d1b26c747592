// Fuzz target: the host's formula parser and "IsoDist".
//
// The input is a formula as a user or a database would write it. Properties:
//  - an accepted formula has positive counts of known elements, at most kMaxAtoms atoms, and
//    its Hill form reads back to the same counts and the same monoisotopic mass;
//  - a refused one says why;
//  - "IsoDist" answers a distribution exactly for the formulas the parser accepts: peaks in
//    ascending mass, the strongest 100, each between the lightest and the heaviest
//    isotopologue's mass; the command's text has one line per peak.
// Distributions are computed for formulas of up to kDistributionAtoms atoms: larger ones
// take seconds in the instrumented build (a fraction of a second in a release build, which
// the IsoDist benchmark measures) and would only slow the search down.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "elements.h"
#include "formula.h"
#include "fuzz_input.h"
#include "isodist.h"

namespace {

constexpr long kDistributionAtoms = 2000;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void checkDistribution(const tvchem::Formula& f, const tvchem::IsoDistResult& r) {
    FUZZ_CHECK(r.code == tvchem::kIsoDistOk, "code %d: %s", r.code, r.error.c_str());
    FUZZ_CHECK(!r.peaks.empty());
    double lightest = 0, heaviest = 0;
    for (const auto& [sym, n] : f.counts) {
        const tvchem::Element* e = tvchem::findElement(sym);
        FUZZ_CHECK(e != nullptr);
        lightest += double(n) * e->isotopes.front().mass;
        heaviest += double(n) * e->isotopes.back().mass;
    }
    const double slack = 1e-9 * heaviest + 1e-6;
    double strongest = 0;
    for (size_t i = 0; i < r.peaks.size(); ++i) {
        const tvchem::Peak& p = r.peaks[i];
        FUZZ_CHECK(std::isfinite(p.mass) && std::isfinite(p.intensity));
        FUZZ_CHECK(p.mass >= lightest - slack && p.mass <= heaviest + slack,
                   "peak %.6f outside [%.6f, %.6f]", p.mass, lightest, heaviest);
        FUZZ_CHECK(p.intensity >= tvchem::kDefaultMinIntensity && p.intensity <= 100 + 1e-9);
        if (i > 0) FUZZ_CHECK(p.mass > r.peaks[i - 1].mass, "peaks not in ascending mass");
        strongest = std::max(strongest, p.intensity);
    }
    FUZZ_CHECK(std::fabs(strongest - 100) < 1e-9, "strongest peak %.12f", strongest);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 512) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);

    const tvchem::FormulaResult fr = tvchem::parseFormula(text);
    if (fr.ok) {
        FUZZ_CHECK(fr.error.empty());
        FUZZ_CHECK(!fr.formula.counts.empty());
        for (const auto& [sym, n] : fr.formula.counts) {
            FUZZ_CHECK(n > 0, "count %ld for %s", n, sym.c_str());
            FUZZ_CHECK(tvchem::findElement(sym) != nullptr, "unknown element %s", sym.c_str());
        }
        FUZZ_CHECK(fr.formula.atomCount() <= tvchem::kMaxAtoms);
        const double mass = tvchem::monoisotopicMass(fr.formula);
        FUZZ_CHECK(std::isfinite(mass) && mass > 0);

        const std::string hill = fr.formula.hill();
        const tvchem::FormulaResult again = tvchem::parseFormula(hill);
        FUZZ_CHECK(again.ok, "Hill form \"%s\" refused: %s", hill.c_str(), again.error.c_str());
        FUZZ_CHECK(again.formula.counts == fr.formula.counts, "\"%s\" reads back otherwise",
                   hill.c_str());
        FUZZ_CHECK(tvchem::monoisotopicMass(again.formula) == mass);
        FUZZ_CHECK(again.formula.hill() == hill);
    } else {
        FUZZ_CHECK(!fr.error.empty(), "refused without a reason");
    }

    if (fr.ok && fr.formula.atomCount() > kDistributionAtoms) return 0;
    const tvchem::IsoDistResult dist = tvchem::isotopicDistribution(text);
    if (fr.ok) {
        checkDistribution(fr.formula, dist);
    } else {
        const bool blank = std::all_of(text.begin(), text.end(), isBlank);
        FUZZ_CHECK(dist.code == (blank         ? tvchem::kIsoDistNoFormula
                                 : fr.tooLarge ? tvchem::kIsoDistTooLarge
                                               : tvchem::kIsoDistParseError),
                   "code %d", dist.code);
        FUZZ_CHECK(!dist.error.empty() && dist.peaks.empty());
    }

    // The command: blanks and one pair of quotes around the formula are dropped.
    std::string_view a(text);
    while (!a.empty() && isBlank(a.front()))
        a.remove_prefix(1);
    while (!a.empty() && isBlank(a.back()))
        a.remove_suffix(1);
    if (a.size() >= 2 && a.front() == '"' && a.back() == '"') a = a.substr(1, a.size() - 2);
    if (a != text) {
        const tvchem::FormulaResult inner = tvchem::parseFormula(a);
        if (inner.ok && inner.formula.atomCount() > kDistributionAtoms) return 0;
    }
    const CommandResult cmd = tvchem::isoDistCommand(text);
    const tvchem::IsoDistResult inner = a == text ? dist : tvchem::isotopicDistribution(a);
    FUZZ_CHECK(cmd.code == (a.empty() ? int(tvchem::kIsoDistNoFormula) : inner.code),
               "command code %d, distribution code %d", cmd.code, inner.code);
    if (cmd.code == 0) {
        FUZZ_CHECK(cmd.text == tvchem::formatPeaks(inner.peaks));
        FUZZ_CHECK(size_t(std::count(cmd.text.begin(), cmd.text.end(), '\n')) ==
                   inner.peaks.size());
    } else {
        FUZZ_CHECK(!cmd.text.empty());
    }
    return 0;
}
