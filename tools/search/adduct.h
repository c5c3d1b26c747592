#pragma once
// Ions as chemists write them: "[nM±part±part...]z±" ("[M+H]+", "[2M+Na]+", "[M-2H]2-",
// "[M+CH3CN+H]+", "[M]+") or "M" for the neutral molecule. A part is an optional count and
// a formula of the host's parser ("2H", "H2O", "CH3COO"), or one of a few solvent
// abbreviations (ACN, FA, HAc, ...). Masses come from the host's isotope table (most
// abundant isotope of each element) and the electron mass:
//     m/z = (n·M + Σ parts − z·mₑ) / |z|        (|z| taken as 1 for the neutral "M").
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tvsearch {

// CODATA 2018 electron mass, u.
constexpr double kElectronMass = 0.000548579909;

struct Ion {
    std::string text;                 // as written, blanks removed
    int multimer = 1;                 // n of nM
    int charge = 0;                   // signed z; 0 for "M"
    std::map<std::string, long> atoms; // atoms added (> 0) or removed (< 0) by the parts
    double partsMass = 0;             // Σ of the parts' monoisotopic masses, signed

    int absCharge() const { return charge < 0 ? -charge : charge; }
    // The ion's m/z for a neutral monoisotopic mass M.
    double mz(double neutralMass) const;
    // The neutral mass M whose ion has this m/z (the inverse of mz).
    double neutral(double mz) const;
};

struct IonParse {
    bool ok = false;
    Ion ion;
    std::string error; // the reason, when !ok
    size_t position = 0; // 1-based character of the text where the fault was found
};

IonParse parseIon(std::string_view text);

// A list of ions separated by commas or blanks. On failure, error names the ion, the
// reason and the position in that ion.
bool parseIonList(std::string_view text, std::vector<Ion>& out, std::string& error);

// The common electrospray ions of each polarity, in the order they are listed (and
// searched, and broken ties in the output).
const std::vector<std::string>& positiveIonSet();
const std::vector<std::string>& negativeIonSet();

// The solvent abbreviations a part may use, with their formulas.
const std::vector<std::pair<std::string, std::string>>& ionAbbreviations();

} // namespace tvsearch
