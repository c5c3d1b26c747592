#pragma once
// Structures the preview tests and benchmark draw.
#include <string>

namespace preview_test {

extern const char* const Phenol;
extern const char* const Glucose;
extern const char* const Atorvastatin;
extern const char* const CyclosporinA;
// A linear peptide of n residues (8 amino acids in turn).
std::string Peptide(int residues);

} // namespace preview_test
