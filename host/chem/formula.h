#pragma once
// Molecular formulas as chemists write them, and their monoisotopic mass.
//
// Accepted syntax:
//  - element symbols (case-sensitive, "Co" cobalt, "CO" carbon + oxygen) with optional
//    counts; a symbol may repeat and its counts are summed (CH3CH2OH = C2H6O);
//  - groups in (), [] or {} with an optional multiplier, nested ("[Co(NH3)6]Cl3");
//  - parts joined by ".", "*" or the middle dot "·", each with an optional leading
//    multiplier ("CuSO4*5NH3"); a leading multiplier also applies to a lone part ("2H2O");
//    a "." directly between two digits is a decimal point, and decimal counts are refused
//    ("C1.5H", "Fe0.95O"), except before the water of a hydrate ("CuSO4.5H2O");
//  - blanks between symbols, brackets and parts ("C6 H12 O6"); a blank ends a symbol or a
//    count ("C 6" and "C6 12" are refused) and may separate a trailing charge;
//  - one trailing charge, which is recorded and otherwise ignored: a sign ("Na+", "Cl-"),
//    a repeated sign ("Ca++"), a sign with digits after a count ("C6H5O7-3"), or digits
//    and a sign, or a sign and digits, separated from the formula by a blank or "^"
//    ("SO4 2-", "SO4^2-", "Fe +3"). Digits written directly before a final sign ("SO42-",
//    "Fe2+") are ambiguous (count or charge?) and refused; so is a sign with digits right
//    after a symbol or bracket without its count ("C-1", "Fe+2"), where the count belongs.
//    A sign anywhere else, a leading one included, is refused too.
// Refused: an empty formula, unknown symbols, elements without a natural isotopic
// composition (Tc, Pm, Po...Ac), unbalanced or empty brackets, zero counts, and formulas of
// more than kMaxAtoms atoms in total (tooLarge is set for those).
#include <map>
#include <string>
#include <string_view>

namespace tvchem {

constexpr long kMaxAtoms = 100000;

struct Formula {
    std::map<std::string, long> counts; // symbol -> number of atoms, all > 0

    // Hill order: C, then H, then the rest alphabetically; without carbon all
    // alphabetically. Counts of 1 are omitted ("C6H12O6", "ClNa").
    std::string hill() const;
    long atomCount() const;
};

struct FormulaResult {
    bool ok = false;
    Formula formula;
    std::string error;     // the reason when !ok
    bool tooLarge = false; // refused for its size (more than kMaxAtoms atoms)
    int charge = 0;        // the trailing charge, if any (not applied to anything)
};

FormulaResult parseFormula(std::string_view text);

// Sum over the elements of count x the mass of the element's most abundant isotope (the
// conventional monoisotopic mass of mass spectrometry; for H, C, N, O, S, P and the
// halogens this is also the lightest isotope). NaN if the formula holds an unknown symbol.
double monoisotopicMass(const Formula& f);

} // namespace tvchem
