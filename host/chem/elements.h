#pragma once
// Isotope table of the naturally occurring elements: exact isotope masses (u) and
// representative isotopic abundances (amount fractions), one record per element.
#include <string_view>
#include <vector>

namespace tvchem {

struct Isotope {
    int massNumber;
    double mass;      // relative atomic mass of the nuclide, u
    double abundance; // amount fraction in the representative composition
};

struct Element {
    const char* symbol;
    int atomicNumber;
    std::vector<Isotope> isotopes; // ascending mass; abundances sum to 1
};

// Exact, case-sensitive lookup ("Co" is cobalt, "CO" is no symbol). Null when the
// symbol names no element with a natural isotopic composition.
const Element* findElement(std::string_view symbol);

// True for the symbols of elements that exist but have no natural isotopic
// composition (Tc, Pm, Po ... Ac), so callers can say why they are refused.
bool isElementWithoutComposition(std::string_view symbol);

// Every element of the table, in order of atomic number.
const std::vector<Element>& allElements();

// The most abundant isotope of the element (the one that makes the monoisotopic peak).
const Isotope& mostAbundantIsotope(const Element& e);

// Mass of the most abundant isotope.
double monoisotopicMassOf(const Element& e);

// Standard atomic weight computed from the composition (sum of mass x abundance).
double atomicWeightOf(const Element& e);

} // namespace tvchem
