#pragma once
// Turns one input record into a database row: parses the structure with Indigo, takes its
// molecular formula and computes the monoisotopic mass from the formula, rounded to 1 µDa.
#include <string>

#include "readers.h"

namespace mkdb {

struct Row {
    double mass = 0;
    std::string formula; // Hill notation, no blanks ("C6H12O6")
    std::string name;    // UTF-8, entities decoded
    std::string smiles;  // the input SMILES, or Indigo's canonical SMILES for SDF/CML
};

struct Outcome {
    bool ok = false;
    Row row;
    std::string reason; // why the record was rejected
};

// Sets the Indigo options the builder relies on; call once before convert().
void initIndigo();

// Converts a record; never throws for a bad record (the reason is in the outcome).
Outcome convert(const Record& record);

// A monoisotopic mass as every database stores it: rounded to 6 decimals (1 µDa), as
// chemists quote it.
double RoundMass(double mass);

// Hill formula without blanks from Indigo's gross formula text ("C6 H12 O6"); false with a
// reason when the text is not a formula of known elements.
bool normaliseFormula(const std::string& gross, std::string& hill, double& mass,
                      std::string& reason);

} // namespace mkdb
