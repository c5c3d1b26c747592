// Fuzz target: the ion texts of tarvish-search ("[M+H]+", "[2M+Na]+", "[M-H2O+H]+", lists
// of them as given with --ions).
//
// Input: the text, read as one ion and as a list. Properties:
//  - an ion that parses has 1 to 99 molecules and a charge of 1 to 99 either way (0 only
//    for the neutral "M"); its atoms are none of them zero, and the mass of its parts is
//    the sum over those atoms of the elements' masses (taken one element at a time);
//  - its m/z for a neutral mass reads back to that mass, and its text (blanks removed)
//    parses again to the same ion;
//  - one that does not parse says why, at a position within the text (or just past it);
//  - a list that parses holds each ion once, each parsing alone, and the ions written
//    back as a list parse to the same list; one that does not says why.
#include <cmath>
#include <string>
#include <vector>

#include "adduct.h"
#include "formula.h"
#include "fuzz_input.h"

namespace {

double elementMass(const std::string& symbol) {
    tvchem::Formula f;
    f.counts[symbol] = 1;
    return tvchem::monoisotopicMass(f);
}

bool sameIon(const tvsearch::Ion& a, const tvsearch::Ion& b) {
    return a.text == b.text && a.multimer == b.multimer && a.charge == b.charge &&
           a.atoms == b.atoms && a.partsMass == b.partsMass;
}

void checkIon(const tvsearch::Ion& ion) {
    FUZZ_CHECK(ion.multimer >= 1 && ion.multimer <= 99, "%d M", ion.multimer);
    if (ion.text == "M")
        FUZZ_CHECK(ion.charge == 0 && ion.atoms.empty() && ion.partsMass == 0);
    else
        FUZZ_CHECK(ion.absCharge() >= 1 && ion.absCharge() <= 99, "charge %d", ion.charge);

    // The parts' mass from the atoms they leave, against the sum the parser kept. Each part
    // adds a rounding of at most a few ulps of at most 999 x 100000 atoms x 300 u.
    double oracle = 0;
    for (const auto& [symbol, count] : ion.atoms) {
        FUZZ_CHECK(count != 0, "%s with a count of 0", symbol.c_str());
        const double m = elementMass(symbol);
        FUZZ_CHECK(std::isfinite(m), "no mass for %s", symbol.c_str());
        oracle += double(count) * m;
    }
    long parts = 0;
    for (char c : ion.text)
        parts += c == '+' || c == '-';
    FUZZ_CHECK(std::fabs(oracle - ion.partsMass) <= 1e-4 * (1 + parts) + 1e-12 * std::fabs(oracle),
               "%s: parts of %.9f u, atoms of %.9f u", ion.text.c_str(), ion.partsMass, oracle);

    for (const double M : {180.063388, 1.0, 5000.25}) {
        const double mz = ion.mz(M);
        if (!std::isfinite(mz) || std::fabs(mz) > 1e9) continue;
        const double back = ion.neutral(mz);
        FUZZ_CHECK(std::fabs(back - M) < 1e-6 * (1 + std::fabs(mz)),
                   "%s: M %.9f -> m/z %.9f -> M %.9f", ion.text.c_str(), M, mz, back);
    }

    const tvsearch::IonParse again = tvsearch::parseIon(ion.text);
    FUZZ_CHECK(again.ok && sameIon(again.ion, ion), "%s does not parse back", ion.text.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);

    const tvsearch::IonParse one = tvsearch::parseIon(text);
    if (one.ok) {
        checkIon(one.ion);
    } else {
        FUZZ_CHECK(!one.error.empty(), "refused without a reason");
        FUZZ_CHECK(one.position >= 1 && one.position <= text.size() + 1,
                   "position %zu in %zu characters", one.position, text.size());
    }

    std::vector<tvsearch::Ion> list;
    std::string error;
    if (tvsearch::parseIonList(text, list, error)) {
        FUZZ_CHECK(!list.empty());
        std::string joined;
        for (size_t i = 0; i < list.size(); ++i) {
            for (size_t j = 0; j < i; ++j)
                FUZZ_CHECK(list[j].text != list[i].text, "%s twice", list[i].text.c_str());
            const tvsearch::IonParse p = tvsearch::parseIon(list[i].text);
            FUZZ_CHECK(p.ok && sameIon(p.ion, list[i]), "%s alone", list[i].text.c_str());
            joined += (i ? ", " : "") + list[i].text;
        }
        std::vector<tvsearch::Ion> again;
        FUZZ_CHECK(tvsearch::parseIonList(joined, again, error), "%s: %s", joined.c_str(),
                   error.c_str());
        FUZZ_CHECK(again.size() == list.size(), "%s", joined.c_str());
        for (size_t i = 0; i < list.size(); ++i)
            FUZZ_CHECK(sameIon(again[i], list[i]), "%s", joined.c_str());
    } else {
        FUZZ_CHECK(!error.empty(), "a list refused without a reason");
    }
    return 0;
}
